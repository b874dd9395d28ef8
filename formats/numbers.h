// numbers.h - numbers as text that reads back exactly.
//
// Every double is printed in its shortest form that strtod turns back into
// the same bits (std::to_chars without a precision), so exported positions
// and times lose nothing and carry no noise digits.
#ifndef TAVO_FORMATS_NUMBERS_H
#define TAVO_FORMATS_NUMBERS_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace tavo::formats {

// Room that putShortest and putInteger may fill ("-2.2250738585072014e-308"
// is 24 characters, an int64 at most 20).
inline constexpr std::size_t kMaxNumberChars = 32;

// Writes `value` at `out` (at most kMaxNumberChars characters, no NUL) and
// returns the end. Infinities and NaN come out as "inf", "-inf" and "nan".
char* putShortest(char* out, double value);
char* putInteger(char* out, std::int64_t value);

std::string shortest(double value);

}  // namespace tavo::formats

#endif  // TAVO_FORMATS_NUMBERS_H
