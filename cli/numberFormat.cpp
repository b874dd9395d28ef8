// numberFormat.cpp - shortest round-trip text of numbers.
#include "cli/numberFormat.h"

#include <charconv>

namespace tavo::cli {

char* putShortest(char* out, double value) {
  return std::to_chars(out, out + kMaxNumberChars, value).ptr;
}

char* putInteger(char* out, std::int64_t value) {
  return std::to_chars(out, out + kMaxNumberChars, value).ptr;
}

std::string shortest(double value) {
  char buf[kMaxNumberChars];
  return std::string(buf, putShortest(buf, value));
}

}  // namespace tavo::cli
