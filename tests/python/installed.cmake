# Installs the build tree BUILD_DIR into a scratch prefix below WORK_DIR, then
# imports tavo with the interpreter PYTHON from an empty folder, PYTHONPATH
# naming only the prefix's PYTHON_DIR, and reads the demo in DEMO_DIR.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
file(MAKE_DIRECTORY ${WORK_DIR}/empty)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
  RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install into ${prefix} failed (${rc})")
endif()

set(check [=[
import gzip, os, sys, tempfile
import tavo
prefix = os.path.realpath(sys.argv[1])
assert os.path.realpath(tavo.__file__).startswith(prefix + os.sep), tavo.__file__
with tempfile.TemporaryDirectory() as tmp:
    movie = os.path.join(tmp, "demo.Tavomovie")
    with gzip.open(os.path.join(sys.argv[2], "demo.Tavomovie.gz"), "rb") as src, open(movie, "wb") as dst:
        dst.write(src.read())
    m = tavo.Movie(os.path.join(sys.argv[2], "demo.Tavosetup"), movie)
    assert len(m) > 0 and m[-1].positions(0).shape == (m.counts[-1, 0], 3)
assert os.listdir(".") == [], os.listdir(".")
print("imported", tavo.__file__)
]=])
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env --unset=PYTHONHOME PYTHONPATH=${prefix}/${PYTHON_DIR} PYTHONDONTWRITEBYTECODE=1
    ${PYTHON} -s -c "${check}" ${prefix} ${DEMO_DIR}
  WORKING_DIRECTORY ${WORK_DIR}/empty
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "importing tavo from ${prefix}/${PYTHON_DIR} failed (${rc})")
endif()
