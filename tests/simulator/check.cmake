# Installs the built tree into a scratch prefix, builds examples/simulator
# against it through find_package(tavocore CONFIG) alone and runs the
# simulator's own test suite.
include(${CMAKE_CURRENT_LIST_DIR}/../buildAgainstInstall.cmake)
run(${CMAKE_CTEST_COMMAND} --test-dir ${WORK_DIR}/build --output-on-failure --timeout 600)
