# Installs the built tree into a scratch prefix, checks the installed layout,
# then builds and runs the consumer project against it.
include(${CMAKE_CURRENT_LIST_DIR}/../buildAgainstInstall.cmake)
foreach(f lib/libtavocore.a include/tavo/datastore/dataFetcher.h
          include/tavo/sampling/randomNumber.h include/tavo/geometry/geometry.h
          lib/cmake/tavocore/tavocoreConfig.cmake share/tavo/inverse3DGaussian.function)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "installed package lacks ${f}")
  endif()
endforeach()
run(${WORK_DIR}/build/consumer)
