// Tests of the number text of exports: every double reads back as itself.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "formats/numbers.h"
#include "testSupport.h"

namespace {

using tavo::formats::shortest;

TEST(NumberFormatTest, ReadsBackAsTheSameBits) {
  // Plain, periodic, movie-like, integral beyond 2^53, the extremes.
  const double values[] = {0.0,
                           -0.0,
                           0.1,
                           1.0 / 3.0,
                           1e-4,
                           299 * 1e-4,
                           3.961451e-07,
                           -1.560253e-08,
                           M_PI,
                           1e23,
                           9007199254740993.0,
                           -1.2345678901234567e-100};
  const double extremes[] = {std::numeric_limits<double>::denorm_min(),
                             std::numeric_limits<double>::min(),
                             -std::numeric_limits<double>::max()};
  std::vector<double> all(std::begin(values), std::end(values));
  all.insert(all.end(), std::begin(extremes), std::end(extremes));
  for (double v : all) {
    std::string text = shortest(v);
    double back = std::strtod(text.c_str(), nullptr);
    EXPECT_EQ(std::memcmp(&back, &v, sizeof v), 0) << text;
    EXPECT_LE(text.size(), tavo::formats::kMaxNumberChars);
  }
}

TEST(NumberFormatTest, MovieValuesKeepTheirDigits) {
  // What a movie holds ("%E", seven digits) comes back without noise digits.
  const std::pair<const char*, const char*> rows[] = {{"3.961451E-07", "3.961451e-07"},
                                                      {"-1.000000E+00", "-1"},
                                                      {"1.500000E-06", "1.5e-06"},
                                                      {"0.000000E+00", "0"},
                                                      {"1.234567E+100", "1.234567e+100"}};
  for (const auto& [movie, expected] : rows)
    EXPECT_EQ(shortest(std::strtod(movie, nullptr)), expected) << movie;
}

TEST(NumberFormatTest, SameTextAsToCharsForMovieValuesAndAnyBits) {
  // Movie coordinates ("%E" text read back) over a wide range of exponents,
  // their multiples, and arbitrary bit patterns.
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> mantissa(1.0, 10.0);
  std::uniform_int_distribution<int> exponent(-40, 40);
  for (int i = 0; i < 300000; ++i) {
    char movie[32];
    std::snprintf(movie, sizeof movie, "%E", (i % 2 ? -1 : 1) * mantissa(rng));
    std::string text =
        std::string(movie, std::strchr(movie, 'E') + 1) + std::to_string(exponent(rng));
    double read = std::strtod(text.c_str(), nullptr), any = 0;
    std::uint64_t bits = rng();
    std::memcpy(&any, &bits, sizeof any);
    for (double v : {read, read * 1e9, any}) {
      char expected[64];
      char* end = std::to_chars(expected, expected + sizeof expected, v).ptr;
      ASSERT_EQ(shortest(v), std::string(expected, end)) << text;
    }
  }
}

TEST(NumberFormatTest, StepTimesAreDecimalProducts) {
  // Step x time step as written by hand, where the doubles' product is not.
  const struct {
    std::int64_t step;
    double timeStep;
    const char* expected;
  } rows[] = {{3, 1e-4, "0.0003"},
              {0, 1e-4, "0"},
              {-3, 1e-4, "-0.0003"},
              {299, 1e-4, "0.0299"},
              {7, 0.1, "0.7"},
              {10, 1e-8, "0.0000001"},
              {1, 1e-8, "1e-8"},
              {3, -2e30, "-6e30"},
              {123456789, 2.5e-9, "0.3086419725"},
              {7, 1e20, "700000000000000000000"},
              {1000000, 1e15, "1e21"}};
  for (const auto& row : rows)
    EXPECT_EQ(tavo::formats::decimalProduct(row.step, row.timeStep), row.expected) << row.step;
}

TEST(NumberFormatTest, LengthUnitsReadersKnow) {
  const std::pair<double, const char*> rows[] = {{1.0, "m"},  {1e9, "nm"},    {1e10, "Angstrom"},
                                                 {1e6, "um"}, {2.5, "0.4 m"}, {-1.0, "-1 m"}};
  for (const auto& [scale, unit] : rows) EXPECT_EQ(tavo::formats::lengthUnit(scale), unit) << scale;
}

}  // namespace
