# Installs the built tree, moves it elsewhere (tests/buildAgainstInstall.cmake),
# checks the installed layout and that the library names no folder of the
# machine that built it, then builds the consumer against the moved copy and
# runs it in an empty folder, where it draws Gaussian radii.
include(${CMAKE_CURRENT_LIST_DIR}/../buildAgainstInstall.cmake)
foreach(f lib/libtavocore.a include/tavo/datastore/dataFetcher.h
          include/tavo/sampling/randomNumber.h include/tavo/geometry/geometry.h
          lib/cmake/tavocore/tavocoreConfig.cmake share/tavo/inverse3DGaussian.function)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "installed package lacks ${f}")
  endif()
endforeach()

# A path of the build machine compiled into the library works there and
# nowhere else. Debug information names the sources legitimately, so it is
# stripped from a copy first; sanitizer builds record source paths in their
# reports and are not checked.
if(NOT SANITIZE)
  if(NOT STRIP)
    set(STRIP strip)
  endif()
  set(library ${WORK_DIR}/libtavocore-nodebug.a)
  run(${STRIP} --strip-debug -o ${library} ${prefix}/lib/libtavocore.a)
  file(STRINGS ${library} texts)
  foreach(path ${PROJECT_SOURCE} ${BUILD_DIR} ${CONFIGURED_DATADIR})
    string(FIND "${texts}" "${path}" at)
    if(NOT at EQUAL -1)
      message(FATAL_ERROR "the installed library names ${path}, a folder of the build machine")
    endif()
  endforeach()
endif()

set(empty ${WORK_DIR}/empty)
file(MAKE_DIRECTORY ${empty})
execute_process(COMMAND ${WORK_DIR}/build/consumer WORKING_DIRECTORY ${empty} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the consumer failed (${rc}) in an empty folder")
endif()
