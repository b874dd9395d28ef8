# Included by the package checks (cmake -P scripts): installs the build tree
# BUILD_DIR into a scratch prefix below WORK_DIR, moves the installed tree to
# another folder (a package must not depend on where it was installed), then
# configures and builds the outside project SOURCE_DIR against the moved copy
# through find_package(tavocore CONFIG) alone, with the same compiler CXX and,
# when SANITIZE is set, the same sanitizers. Leaves the moved prefix in
# `prefix` and the build in ${WORK_DIR}/build.
file(REMOVE_RECURSE ${WORK_DIR})
set(installed ${WORK_DIR}/installed)
set(prefix ${WORK_DIR}/moved/prefix)

# Runs a command and stops the check when it fails.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "command failed (${rc}): ${ARGN}")
  endif()
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${installed})
file(MAKE_DIRECTORY ${WORK_DIR}/moved)
file(RENAME ${installed} ${prefix})
set(flags "")
if(SANITIZE)
  set(flags "-fsanitize=${SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all")
endif()
if(NOT BUILD_TYPE)
  set(BUILD_TYPE Release)
endif()
run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/build -DCMAKE_PREFIX_PATH=${prefix}
    -DCMAKE_BUILD_TYPE=${BUILD_TYPE} -DCMAKE_CXX_COMPILER=${CXX}
    -DCMAKE_CXX_FLAGS=${flags} -DCMAKE_EXE_LINKER_FLAGS=${flags})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
