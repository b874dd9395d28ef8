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

// The exact decimal product of `factor` and the shortest text of `value`
// ("0.0003" for 3 and 1e-4, where the product of the doubles prints as
// 0.00030000000000000003): a step's time as people write it. Fixed notation
// from 1e-7 to 1e21, scientific beyond; a value that is not finite gives the
// product of the doubles.
std::string decimalProduct(std::int64_t factor, double value);

// The unit of lengths in metres multiplied by `scale`: "m" for 1, "nm" for
// 1e9, "Angstrom" for 1e10 (the names MDAnalysis and H5MD know), otherwise
// a factor and metres ("0.4 m" for 2.5).
std::string lengthUnit(double scale);

}  // namespace tavo::formats

#endif  // TAVO_FORMATS_NUMBERS_H
