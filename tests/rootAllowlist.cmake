# Run as a script (cmake -DROOT=<source tree> -P rootAllowlist.cmake): the
# repository root holds the project's folders and a few files, nothing else.
# Scratch left by a test, a benchmark or a person shows up here first. Files
# that git ignores (build folders) do not count.
cmake_minimum_required(VERSION 3.20)
set(allowed .ci .clang-format .git .gitignore CMakeLists.txt README.md
  bench cli cmake data datastore docs examples explorer formats fuzz geometry offscreen python
  sampling scene scripts shapes tests tools trajectory viewer)

find_program(GIT git)
if(GIT AND EXISTS ${ROOT}/.git)
  # Tracked files and untracked ones that are not ignored.
  execute_process(COMMAND ${GIT} -C ${ROOT} ls-files --cached --others --exclude-standard
                  OUTPUT_VARIABLE listing RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "git ls-files failed in ${ROOT}")
  endif()
  string(REPLACE "\n" ";" paths "${listing}")
else()
  file(GLOB paths LIST_DIRECTORIES true RELATIVE ${ROOT} ${ROOT}/* ${ROOT}/.*)
  list(FILTER paths EXCLUDE REGEX "^build")
endif()
set(strays "")
foreach(path ${paths})
  string(REGEX REPLACE "/.*" "" entry "${path}")
  if(entry AND NOT entry IN_LIST allowed AND NOT entry IN_LIST strays)
    list(APPEND strays ${entry})
  endif()
endforeach()
if(strays)
  string(REPLACE ";" "\n  " strays "${strays}")
  message(FATAL_ERROR "the repository root holds entries outside its list:\n  ${strays}\n"
                      "(scratch belongs under the build folder or a temporary folder)")
endif()
message(STATUS "the repository root holds only its own entries")
