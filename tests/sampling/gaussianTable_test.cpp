// Tests of the inverse 3-D Gaussian table: loading, lookups, Gaussian radii
// and the shipped data file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "datastore/dataFetcher.h"
#include "sampling/drawSource.h"
#include "sampling/randomNumber.h"
#include "scriptedDraws.h"
#include "testSupport.h"

namespace {

using tavo::test::capturedStdout;
using tavo::test::fatalMessage;
using tavo::test::ScriptedDraws;
using tavo::test::writeFile;

const char* kTableFile = "inverse3DGaussian.function";
const std::string kShippedTable = std::string(TAVO_SOURCE_DIR) + "/data/inverse3DGaussian.function";

// 10001 numbers: entry i holds i, separated as `separator(i)` says.
std::string countingTable(const std::string& evenSep, const std::string& oddSep) {
  std::string text;
  for (int i = 0; i <= 10000; ++i) text += std::to_string(i) + (i % 2 == 0 ? evenSep : oddSep);
  return text;
}

void load(const std::string& text) {
  writeFile(kTableFile, text);
  capturedStdout([] { EXPECT_TRUE(init_inverse_3DGaussian()); });
}

std::vector<double> shippedValues() {
  std::ifstream in(kShippedTable);
  std::vector<double> values;
  double v;
  while (in >> v) values.push_back(v);
  return values;
}

bool errorLogExists() { return std::filesystem::exists("errors.txt"); }

// The distribution function of the scaled Gaussian radius,
// F(u) = erf(u) - (2/sqrt(pi)) u exp(-u^2), by its series for small u where
// the two terms nearly cancel.
long double radiusCdf(long double u) {
  const long double c = 2.0L / std::sqrt(3.14159265358979323846264338327950288L);
  if (u >= 0.5L) return std::erf(u) - c * u * std::exp(-u * u);
  long double sum = 0.0L, power = u * u * u;
  for (int k = 0; k < 40; ++k) {
    sum += (k % 2 == 0 ? 1 : -1) * power / (2 * k + 3);
    power *= u * u / (k + 1);
  }
  return 2.0L * c * sum;
}

TEST(GaussianTableTest, LookupTruncatesToItsEntry) {
  std::string out;
  writeFile(kTableFile, countingTable("\n", " "));
  out = capturedStdout([] { init_inverse_3DGaussian(); });
  EXPECT_EQ(out,
            "\nInitializing numerical function:\n\tLoading inverse3DGaussian.function...DONE\n");
  EXPECT_EQ(inverse_3DGaussian(0), 0.0);
  EXPECT_EQ(inverse_3DGaussian(0.00005), 0.0);
  EXPECT_EQ(inverse_3DGaussian(0.5), 5000.0);
  EXPECT_EQ(inverse_3DGaussian(0.99999), 9999.0);
  EXPECT_EQ(inverse_3DGaussian(1), 10000.0);
}

TEST(GaussianTableTest, OutOfRangeProbabilityEndsWithoutLogging) {
  load(countingTable(" ", " "));
  std::remove("errors.txt");
  EXPECT_EQ(fatalMessage([] { inverse_3DGaussian(1.0000001); }),
            "\nERROR: passing variable 1.000000 >= 1 or < 0 to inverse_3DGaussian function\n");
  EXPECT_EQ(fatalMessage([] { inverse_3DGaussian(-0.0000001); }),
            "\nERROR: passing variable -0.000000 >= 1 or < 0 to inverse_3DGaussian function\n");
  EXPECT_NE(fatalMessage([] { inverse_3DGaussian(std::nan("")); }).find("passing variable"),
            std::string::npos);
  EXPECT_FALSE(errorLogExists());
}

TEST(GaussianTableDeathTest, LookupBeforeLoadingExitsWithStatusOne) {
  // A fresh process, in which nothing has loaded the table; its standard
  // output goes to standard error, where the death test looks.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  std::remove("errors.txt");
  EXPECT_EXIT(
      {
        dup2(2, 1);
        inverse_3DGaussian(0.5);
      },
      ::testing::ExitedWithCode(1), "ERROR: inverse_3DGaussian not initialized!");
  EXPECT_FALSE(errorLogExists());
}

TEST(GaussianTableTest, MissingFileEndsWithItsMessage) {
  std::remove(kTableFile);
  std::remove("errors.txt");
  tavo::detail::setGaussianTableFallbacks(false);
  std::string message = fatalMessage([] { init_inverse_3DGaussian(); });
  tavo::detail::setGaussianTableFallbacks(true);
  EXPECT_EQ(message, "\nERROR: inverse3DGaussian.function not found... program exit\n");
  EXPECT_FALSE(errorLogExists());
}

TEST(GaussianTableTest, ShortOrMalformedFileIsRefusedAndTheTableKept) {
  load(countingTable("\n", "\n"));
  std::remove("errors.txt");
  const std::string head = "\nERROR: inverse3DGaussian.function file format incorrect: ";
  struct Case {
    std::string text, message;
  } cases[] = {
      {"", head + "number 1 of 10001 expected, found the end of the file... program exit\n"},
      {"0 1 2 3 4\n",
       head + "number 6 of 10001 expected, found the end of the file... program exit\n"},
      {"0 1 abc 3", head + "number 3 of 10001 expected, found 'abc'... program exit\n"},
      {"0 1 2.5x 3", head + "number 3 of 10001 expected, found '2.5x'... program exit\n"},
      {"0 nan 2", head + "number 2 of 10001 expected, found 'nan'... program exit\n"},
      {"0 0x10 2", head + "number 2 of 10001 expected, found '0x10'... program exit\n"},
      {"0 1e999 2",
       head + "number 2 of 10001 expected, found '1e999', which is out of range... program exit\n"},
  };
  for (const Case& c : cases) {
    writeFile(kTableFile, c.text);
    EXPECT_EQ(fatalMessage([] { init_inverse_3DGaussian(); }), c.message) << c.text;
  }
  // Nothing of the refused files reached the table.
  EXPECT_EQ(inverse_3DGaussian(0.0001), 1.0);
  EXPECT_EQ(inverse_3DGaussian(0.0002), 2.0);
  EXPECT_EQ(inverse_3DGaussian(1), 10000.0);
  EXPECT_FALSE(errorLogExists());
}

TEST(GaussianTableTest, LineBreaksDoNotMatterAndTrailingTextIsIgnored) {
  std::vector<std::string> layouts{countingTable(" ", " "), countingTable("\n", "\t \r\n  "),
                                   countingTable("\n\n", " ") + "end of table\n"};
  std::vector<double> first;
  for (const std::string& text : layouts) {
    load(text);
    std::vector<double> entries;
    for (int i = 0; i < 10000; ++i) entries.push_back(inverse_3DGaussian((i + 0.5) / 10000.0));
    entries.push_back(inverse_3DGaussian(1));
    if (first.empty()) first = entries;
    EXPECT_EQ(entries, first);
    EXPECT_EQ(entries[1234], 1234.0);
  }
}

TEST(GaussianTableTest, WithoutAWorkingCopyTheBuiltInTableEqualsTheShippedFile) {
  // The library carries the table: an empty folder and no path to data/
  // still load every entry of the shipped file, bit for bit.
  load(countingTable(" ", " "));
  std::filesystem::create_directories("empty");
  auto home = std::filesystem::current_path();
  std::filesystem::current_path("empty");
  std::string out = capturedStdout([] { EXPECT_TRUE(init_inverse_3DGaussian()); });
  std::filesystem::current_path(home);
  EXPECT_EQ(out,
            "\nInitializing numerical function:\n\tLoading inverse3DGaussian.function...DONE\n");
  std::vector<double> entries;
  for (int i = 0; i < 10000; ++i) entries.push_back(inverse_3DGaussian((i + 0.5) / 10000.0));
  entries.push_back(inverse_3DGaussian(1));
  EXPECT_EQ(entries, shippedValues());
}

TEST(GaussianRadiusTest, ScalesTheEntryOfOneDraw) {
  load(countingTable(" ", "\n"));
  ScriptedDraws draws({0, 32767, 16383, 32767});
  EXPECT_EQ(random_radius_3Dgaussian(1.0, 1.0), 0.0);
  EXPECT_EQ(random_radius_3Dgaussian(1.0, 1.0), 20000.0);  // entry 10000 * sqrt(4)
  EXPECT_EQ(random_radius_3Dgaussian(1.0, 1.0), 9998.0);   // 16383/32767 -> entry 4999
  EXPECT_EQ(random_radius_3Dgaussian(0.0, 5.0), 0.0);
  EXPECT_EQ(draws.used(), 4u);
}

TEST(GaussianRadiusTest, NegativeScaleEndsWithAMessage) {
  load(countingTable(" ", " "));
  {
    ScriptedDraws none({});  // refused before drawing
    EXPECT_EQ(fatalMessage([] { random_radius_3Dgaussian(-1.0, 2.0); }),
              "(random_radius_3Dgaussian) 4*a*b = -8 is negative or not a number, no Gaussian "
              "radius can be drawn!");
    EXPECT_NE(
        fatalMessage([] { random_radius_3Dgaussian(std::nan(""), 2.0); }).find("not a number"),
        std::string::npos);
  }
  ScriptedDraws top({32767});
  EXPECT_EQ(random_radius_3Dgaussian(-1.0, -1.0), 20000.0);  // the product is what counts
}

TEST(ShippedGaussianTableTest, EntriesInvertTheRadiusDistribution) {
  auto v = shippedValues();
  ASSERT_EQ(v.size(), 10001u);
  EXPECT_EQ(v[0], 0.0);
  EXPECT_TRUE(std::is_sorted(v.begin(), v.end()));
  EXPECT_TRUE(std::adjacent_find(v.begin(), v.end()) == v.end());
  for (int i : {1, 2, 10, 137, 1000, 2500, 5000, 7777, 9000, 9990, 9999}) {
    long double u = v[static_cast<std::size_t>(i)];
    long double density =
        4.0L / std::sqrt(3.14159265358979323846264338327950288L) * u * u * std::exp(-u * u);
    // An error of 1e-12 relative in u moves F by density * u * 1e-12.
    EXPECT_LT(std::fabs(radiusCdf(u) - i / 10000.0L), density * u * 1e-12L) << "entry " << i;
  }
  // The cap: the value at probability 1 - 2^-16.
  long double cap = v[10000];
  EXPECT_NEAR(static_cast<double>(1.0L - radiusCdf(cap)), 1.0 / 65536, 1e-15);
}

TEST(ShippedGaussianTableTest, RadiiFollowTheGaussianDistribution) {
  std::filesystem::copy_file(kShippedTable, kTableFile,
                             std::filesystem::copy_options::overwrite_existing);
  capturedStdout([] {
    init_inverse_3DGaussian();
    initRand_fromSeed(20240611u);
  });
  // D = 1e-10, dt = 1e-6: radii in units of sqrt(4 D dt) = 2e-8.
  const int n = 20000;
  const double scale = std::sqrt(4.0 * 1e-10 * 1e-6);
  std::vector<double> u(n);
  for (double& x : u) x = random_radius_3Dgaussian(1e-10, 1e-6) / scale;
  std::sort(u.begin(), u.end());
  double d = 0.0;
  for (int i = 0; i < n; ++i) {
    double f = static_cast<double>(radiusCdf(u[static_cast<std::size_t>(i)]));
    d = std::max({d, f - static_cast<double>(i) / n, static_cast<double>(i + 1) / n - f});
  }
  // Kolmogorov-Smirnov at the 0.1% level, plus the table's step of 1e-4.
  EXPECT_LT(d, 1.95 / std::sqrt(static_cast<double>(n)) + 2e-4);
}

}  // namespace
