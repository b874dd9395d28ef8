# Run as a script (cmake -DINPUT=... -DOUTPUT=... -P embedGaussianTable.cmake):
# turns the Gaussian table's data file into the initialiser list of a C++
# array, one number per line, so that the library carries the table itself.
# Each number is copied as written; the compiler rounds a decimal literal
# exactly as the loader's strtod does, so the compiled-in entries are
# bit-identical to those read from the file. Like the loader, it takes the
# first 10001 numbers and ignores what follows; a short or damaged file stops
# the build.
set(entries 10001)
file(READ "${INPUT}" text)
string(REGEX MATCHALL "[^ \t\r\n]+" tokens "${text}")
list(LENGTH tokens found)
if(found LESS entries)
  message(FATAL_ERROR "${INPUT}: ${entries} numbers expected, ${found} found")
endif()

set(body "// Generated at build time from data/inverse3DGaussian.function; do not edit.\n")
set(count 0)
foreach(token IN LISTS tokens)
  if(count EQUAL entries)
    break()
  endif()
  math(EXPR count "${count} + 1")
  if(NOT token MATCHES "^[-+]?([0-9]+[.]?[0-9]*|[.][0-9]+)([eE][-+]?[0-9]+)?$")
    message(FATAL_ERROR "${INPUT}: number ${count} of ${entries} expected, found '${token}'")
  endif()
  string(APPEND body "${token},\n")
endforeach()

file(WRITE "${OUTPUT}" "${body}")
