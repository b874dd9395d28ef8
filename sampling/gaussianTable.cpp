// gaussianTable.cpp - Gaussian radii by inverse-transform sampling from a
// table: entry i of the table is the radius, in units of sqrt(4ab), below
// which a 3-D isotropic Gaussian displacement falls with probability i/10000.
//
// The table's 10001 values are those of the data file
// "inverse3DGaussian.function" (whitespace-separated reals, written by
// tools/makeGaussianTable). A copy of the file in the working directory is
// loaded when there is one, so a user can try another table; otherwise the
// library's own copy is used: the build compiles data/inverse3DGaussian.function
// into the library (cmake/embedGaussianTable.cmake), entry for entry the same
// as loading the file. The library therefore needs no path to any data
// folder, and a program built on an installed package works wherever the
// package has been moved.
//
// This module reports its failures on standard output only: they never
// reach errors.txt, and they end the process with status 1.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <memory>
#include <string>

#include "datastore/dataFetcher.h"
#include "datastore/errorLog.h"
#include "formats/textReader.h"
#include "sampling/drawSource.h"
#include "sampling/randomNumber.h"

namespace {

constexpr int kEntries = 10001;  // probabilities 0, 1/10000, ..., 1
constexpr const char* kFileName = "inverse3DGaussian.function";

// The compiled-in copy of data/inverse3DGaussian.function.
constexpr double kBuiltinTable[] = {
#include "inverse3DGaussian.inc"
};
static_assert(std::size(kBuiltinTable) == kEntries, "the built-in table needs 10001 entries");

struct GaussianTable {
  std::array<double, kEntries> inverse_3DGaussian_table{};  // entry i: value at probability i/10000
  bool inverse_3DGaussian_table_initialized = false;        // true once a whole table is loaded
  bool builtin = true;  // use the compiled-in copy when the working directory has none
};
GaussianTable g_table;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

void tavo::detail::setGaussianTableFallbacks(bool enabled) { g_table.builtin = enabled; }

bool init_inverse_3DGaussian() {
  const std::string path = kFileName;  // the working directory's copy
  File file(std::fopen(path.c_str(), "r"));
  if (!file && !g_table.builtin)
    errorOut_noLog("\nERROR: inverse3DGaussian.function not found... program exit\n");
  std::printf("\nInitializing numerical function:\n\tLoading inverse3DGaussian.function...");
  if (!file) {
    std::copy(std::begin(kBuiltinTable), std::end(kBuiltinTable),
              g_table.inverse_3DGaussian_table.begin());
    g_table.inverse_3DGaussian_table_initialized = true;
    std::printf("DONE\n");
    return true;
  }

  // Read into a scratch table and publish it only when all 10001 numbers
  // are there: a short or damaged file must not leave stale or zero entries
  // that would draw wrong radii. Text after the last number is not read.
  std::array<double, kEntries> values{};
  tavo::detail::TextScanner scanner(file.get());
  for (int i = 0; i < kEntries; ++i) {
    auto status = scanner.readDouble(values[static_cast<std::size_t>(i)]);
    if (status != tavo::detail::TextScanner::Status::ok) {
      std::string found = tavo::detail::describeFound(scanner, status);
      file.reset();
      errorOut_noLog(tavo::detail::formatText(
                         "\nERROR: %s file format incorrect: number %d of %d expected, %s... "
                         "program exit\n",
                         path.c_str(), i + 1, kEntries, found.c_str())
                         .c_str());
    }
  }
  file.reset();

  g_table.inverse_3DGaussian_table = values;
  g_table.inverse_3DGaussian_table_initialized = true;
  std::printf("DONE\n");
  return true;
}

double inverse_3DGaussian(double x) {
  if (!g_table.inverse_3DGaussian_table_initialized)
    errorOut_noLog("\nERROR: inverse_3DGaussian not initialized!\n");
  // No interpolation: the probability is truncated to its table entry, and
  // 1 itself takes entry 10000. NaN fails both tests.
  if (x <= 1 && x >= 0)
    return g_table.inverse_3DGaussian_table[static_cast<std::size_t>(x * 10000.0)];
  errorOut_noLog(
      tavo::detail::formatText(
          "\nERROR: passing variable %lf >= 1 or < 0 to inverse_3DGaussian function\n", x)
          .c_str());
}

double random_radius_3Dgaussian(double a, double b) {
  double scale2 = (a * 4.0) * b;
  // The scale is sqrt(4ab); a negative or undefined product has no root and
  // would return NaN radii.
  if (!(scale2 >= 0.0))
    tavo::detail::fatalf(
        "(random_radius_3Dgaussian) 4*a*b = %g is negative or not a number, no Gaussian radius "
        "can be drawn!",
        scale2);
  double s = std::sqrt(scale2);
  double u = random_number(0, 1);
  return inverse_3DGaussian(u) * s;
}
