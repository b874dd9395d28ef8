// numbers.cpp - shortest round-trip text of numbers.
//
// std::to_chars finds the shortest digits of any double, but a movie's
// coordinates were printed with seven significant digits, and for those a
// direct path is several times faster: scale by a power of ten, round to
// seven digits, and keep them if they convert back to the same double. The
// check is exact (the digits and the power of ten are both exact doubles, so
// one multiplication or division rounds correctly, as strtod does), and
// seven-digit decimals lie so far apart compared with a double's rounding
// interval that at most one of them reads back as the value: the digits kept
// are then the shortest ones, the same to_chars would find. Everything else
// goes to to_chars.
#include "formats/numbers.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace tavo::formats {

namespace {

// 10^0 .. 10^22, every one exact in a double.
constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr int kMaxPower = 22;

// Seven significant digits of a (finite, > 0) that read back as a exactly:
// a == digits x 10^(exponent - 6) with digits in [10^6, 10^7).
bool sevenDigits(double a, std::int64_t& digits, int& exponent) {
  // floor(log2 a) from the exponent bits (a is normal here), then an
  // estimate of floor(log10 a), corrected below when it is one off.
  std::uint64_t bits = 0;
  std::memcpy(&bits, &a, sizeof a);
  int binary = static_cast<int>(bits >> 52) - 1023;
  int x = static_cast<int>(std::floor(binary * 0.30102999566398120));
  for (int tries = 0; tries < 3; ++tries) {
    int k = 6 - x;  // a x 10^k has seven digits before the point
    if (k < -kMaxPower || k > kMaxPower) return false;
    double scaled = k >= 0 ? a * kPowersOfTen[k] : a / kPowersOfTen[-k];
    // Rounded to an integer by the addition itself (scaled < 2^52 here).
    double rounded = scaled < 1e8 ? (scaled + 0x1p52) - 0x1p52 : 1e8;
    if (rounded >= 1e7) {
      ++x;
    } else if (rounded < 1e6) {
      --x;
    } else {
      double back = k >= 0 ? rounded / kPowersOfTen[k] : rounded * kPowersOfTen[-k];
      if (back != a) return false;
      digits = static_cast<std::int64_t>(rounded);
      exponent = x;
      return true;
    }
  }
  return false;
}

// Writes d1.d2...dn x 10^exponent (n digits, no trailing zero) as to_chars
// does: fixed notation unless scientific is shorter.
char* putDigits(char* out, const char* d, int n, int exponent) {
  int absExponent = exponent < 0 ? -exponent : exponent;
  int scientific = n + (n > 1 ? 1 : 0) + 2 + (absExponent >= 100 ? 3 : 2);
  int fixed = exponent >= 0 ? (n <= exponent + 1 ? exponent + 1 : n + 1) : n + 1 - exponent;
  if (fixed <= scientific) {
    if (exponent < 0) {
      *out++ = '0';
      *out++ = '.';
      for (int i = 1; i < -exponent; ++i) *out++ = '0';
      for (int i = 0; i < n; ++i) *out++ = d[i];
    } else {
      for (int i = 0; i <= exponent || i < n; ++i) {
        if (i == exponent + 1) *out++ = '.';
        *out++ = i < n ? d[i] : '0';
      }
    }
    return out;
  }
  *out++ = d[0];
  if (n > 1) {
    *out++ = '.';
    for (int i = 1; i < n; ++i) *out++ = d[i];
  }
  *out++ = 'e';
  *out++ = exponent < 0 ? '-' : '+';
  if (absExponent >= 100) *out++ = static_cast<char>('0' + absExponent / 100);
  *out++ = static_cast<char>('0' + absExponent / 10 % 10);
  *out++ = static_cast<char>('0' + absExponent % 10);
  return out;
}

}  // namespace

char* putShortest(char* out, double value) {
  std::int64_t digits = 0;
  int exponent = 0;
  double a = std::fabs(value);
  if (std::isnormal(value) && sevenDigits(a, digits, exponent)) {
    char d[7];
    for (int i = 6; i >= 0; --i, digits /= 10) d[i] = static_cast<char>('0' + digits % 10);
    int n = 7;
    while (d[n - 1] == '0') --n;
    if (value < 0) *out++ = '-';
    return putDigits(out, d, n, exponent);
  }
  return std::to_chars(out, out + kMaxNumberChars, value).ptr;
}

char* putInteger(char* out, std::int64_t value) {
  return std::to_chars(out, out + kMaxNumberChars, value).ptr;
}

std::string shortest(double value) {
  char buf[kMaxNumberChars];
  return std::string(buf, putShortest(buf, value));
}

}  // namespace tavo::formats
