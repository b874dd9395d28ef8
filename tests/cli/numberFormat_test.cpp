// Tests of the number text of exports: every double reads back as itself.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "cli/numberFormat.h"
#include "testSupport.h"

namespace {

using tavo::cli::shortest;

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
    EXPECT_LE(text.size(), tavo::cli::kMaxNumberChars);
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

}  // namespace
