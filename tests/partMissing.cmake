# Run as a script (cmake -DROOT=<source tree> -DWORK=<scratch> -P partMissing.cmake):
# a part forced ON whose dependency is absent must fail configure, naming the
# Debian package to install. Absence is simulated by disabling the package's
# find_package().
cmake_minimum_required(VERSION 3.20)
# part|package hidden|Debian package the message must name
set(rows
  "CLI|CLI11|libcli11-dev"
  "VIEWER|GLUT|freeglut3-dev"
  "RENDER|Freetype|libfreetype-dev"
  "PYTHON|pybind11|pybind11-dev")
foreach(row ${rows})
  string(REPLACE "|" ";" fields "${row}")
  list(GET fields 0 part)
  list(GET fields 1 package)
  list(GET fields 2 debian)
  set(dir ${WORK}/${part})
  file(REMOVE_RECURSE ${dir})
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${ROOT} -B ${dir} -DTAVO_BUILD_TESTS=OFF -DTAVO_BUILD_BENCH=OFF
            -DTAVO_BUILD_${part}=ON -DCMAKE_DISABLE_FIND_PACKAGE_${package}=ON
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  file(REMOVE_RECURSE ${dir})
  string(REGEX REPLACE "[ \n]+" " " text "${err}")
  if(status EQUAL 0)
    message(FATAL_ERROR "TAVO_BUILD_${part}=ON without ${package}: configure succeeded")
  endif()
  if(NOT text MATCHES "TAVO_BUILD_${part}=ON.*${debian}")
    message(FATAL_ERROR "TAVO_BUILD_${part}=ON without ${package}: no mention of ${debian}:\n${err}")
  endif()
endforeach()
message(STATUS "each part forced ON without its package names the package")
