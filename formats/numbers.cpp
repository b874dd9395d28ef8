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

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <vector>

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

std::string decimalProduct(std::int64_t factor, double value) {
  if (!std::isfinite(value)) return shortest(static_cast<double>(factor) * value);
  // The text as a decimal integer and a power of ten: value = +-digits x 10^exponent.
  const std::string text = shortest(value);
  bool negative = factor < 0;
  std::vector<int> digits;  // most significant first
  int exponent = 0;
  std::size_t i = 0;
  if (text[i] == '-') {
    negative = !negative;
    ++i;
  }
  bool afterPoint = false;
  for (; i < text.size() && text[i] != 'e'; ++i) {
    if (text[i] == '.') {
      afterPoint = true;
      continue;
    }
    digits.push_back(text[i] - '0');
    if (afterPoint) --exponent;
  }
  if (i < text.size()) {
    int power = 0;
    const char* p = text.data() + i + 1;
    if (*p == '+') ++p;
    std::from_chars(p, text.data() + text.size(), power);
    exponent += power;
  }
  // Long multiplication by the factor's digits.
  std::vector<int> by;  // least significant first
  for (std::uint64_t f = factor < 0 ? 0 - static_cast<std::uint64_t>(factor)
                                    : static_cast<std::uint64_t>(factor);
       f > 0; f /= 10)
    by.push_back(static_cast<int>(f % 10));
  std::vector<int> product(digits.size() + by.size() + 1, 0);  // least significant first
  for (std::size_t a = 0; a < digits.size(); ++a)
    for (std::size_t b = 0; b < by.size(); ++b)
      product[a + b] += digits[digits.size() - 1 - a] * by[b];
  for (std::size_t k = 0; k + 1 < product.size(); ++k) {
    product[k + 1] += product[k] / 10;
    product[k] %= 10;
  }
  while (!product.empty() && product.back() == 0) product.pop_back();
  if (product.empty()) return "0";
  std::size_t zeros = 0;
  while (product[zeros] == 0) ++zeros;
  product.erase(product.begin(), product.begin() + static_cast<std::ptrdiff_t>(zeros));
  exponent += static_cast<int>(zeros);
  std::reverse(product.begin(), product.end());  // most significant first now

  const int n = static_cast<int>(product.size());
  const int lead = exponent + n - 1;  // the power of ten of the first digit
  std::string out = negative ? "-" : "";
  if (lead >= -7 && lead < 21) {
    if (lead < 0) out += "0." + std::string(static_cast<std::size_t>(-lead - 1), '0');
    for (int k = 0; k < n; ++k) {
      if (lead >= 0 && k == lead + 1) out += '.';
      out += static_cast<char>('0' + product[static_cast<std::size_t>(k)]);
    }
    if (lead >= n) out += std::string(static_cast<std::size_t>(lead - n + 1), '0');
    return out;
  }
  out += static_cast<char>('0' + product[0]);
  if (n > 1) out += '.';
  for (int k = 1; k < n; ++k) out += static_cast<char>('0' + product[static_cast<std::size_t>(k)]);
  return out + "e" + std::to_string(lead);
}

std::string lengthUnit(double scale) {
  static constexpr struct {
    double scale;
    const char* unit;
  } kNamed[] = {{1.0, "m"},  {1e2, "cm"},        {1e3, "mm"},  {1e6, "um"},
                {1e9, "nm"}, {1e10, "Angstrom"}, {1e12, "pm"}, {1e15, "fm"}};
  for (const auto& named : kNamed)
    if (scale == named.scale) return named.unit;
  return shortest(1.0 / scale) + " m";
}

}  // namespace tavo::formats
