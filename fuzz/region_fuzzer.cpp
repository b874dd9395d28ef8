// region_fuzzer.cpp - libFuzzer target for the region-file loader. Each input
// is written to a scratch file and loaded; a table that loads must hold what
// a plain whole-token reading of the file finds, and is dumped, queried with
// inRegion and used for placement in every region.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "datastore/dataFetcher.h"
#include "formats/textReader.h"
#include "fuzz/referenceTokens.h"
#include "geometry/geometry.h"
#include "geometry/regionTable.h"
#include "sampling/drawSource.h"

namespace {

struct Rejected {};        // a fatal error of the library
struct DrawsExhausted {};  // placement took more draws than one input may use

// Placement in a very thin box shell may take millions of tries; an input
// gets a fixed number of draws so that the fuzzer keeps its pace.
constexpr unsigned kDrawBudget = 600000;

struct FuzzState {
  std::string path;
  std::uint32_t rng = 1;
  unsigned drawsLeft = 0;
};
FuzzState g_fuzz;

void raise(const char*) { throw Rejected{}; }

int budgetedDraw() {
  if (g_fuzz.drawsLeft == 0) throw DrawsExhausted{};
  --g_fuzz.drawsLeft;
  g_fuzz.rng = g_fuzz.rng * 1103515245u + 12345u;
  return static_cast<int>(g_fuzz.rng >> 17);
}

// Whether the loaded table holds exactly what a plain whole-token reading
// of `text` finds.
bool tableMatches(const std::string& text) {
  static const char* const kKeyword[] = {"box",         "boxshell", "sphere",
                                         "sphereshell", "cylinder", "cylindershell"};
  tavo::fuzz::ReferenceTokens t(text);
  long count = 0;
  if (!t.word("N_regions") || !t.integer(count)) return false;
  for (long id = 0; id < count; ++id) {
    long fileId = -1;
    std::string keyword;
    int type = -1;
    const double* row = tavo::detail::regionRow(static_cast<int>(id), &type);
    if (row == nullptr || !t.integer(fileId) || fileId != id || !t.any(keyword) ||
        keyword != kKeyword[type] || !t.word("("))
      return false;
    for (int j = 0; j < NparamType[type]; ++j) {
      double v = 0;
      if (j == 3 && !(t.word(")") && t.word("("))) return false;
      if (!t.real(v) || v != row[j]) return false;
    }
    if (!t.word(")")) return false;
  }
  int type = -1;
  return tavo::detail::regionRow(static_cast<int>(count), &type) == nullptr;
}

void exerciseTable() {
  snapshotGeometry_toFile("fuzz");
  const double probes[][3] = {{0, 0, 0}, {1e-6, -1e-6, 5e-7}, {1, 2, 3}, {-0.5, 0.25, 1e3}};
  for (int id = 0; id < 64; ++id) {
    try {
      for (const auto& p : probes) inRegion(p[0], p[1], p[2], id);
    } catch (const Rejected&) {
      return;  // past the last region
    }
    try {
      for (int i = 0; i < 8; ++i) {
        double x = 0, y = 0, z = 0;
        createToRegion(id, &x, &y, &z);
        inRegion(x, y, z, id);
      }
    } catch (const Rejected&) {
      // a negative radius or a box shell without reachable points
    } catch (const DrawsExhausted&) {
      return;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (std::freopen("/dev/null", "w", stdout) == nullptr) return 0;
  setErrorHandler(&raise);
  tavo::detail::setTableMemoryBudget(64 << 20);
  tavo::detail::setDrawSource(&budgetedDraw);
  g_fuzz.path = "/tmp/region_fuzz_" + std::to_string(getpid()) + ".txt";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::FILE* f = std::fopen(g_fuzz.path.c_str(), "wb");
  if (f == nullptr) return 0;
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);

  tavo::detail::resetRegionTable();
  g_fuzz.rng = 1;
  g_fuzz.drawsLeft = kDrawBudget;
  try {
    initGeometry_fromFile(g_fuzz.path.c_str());
  } catch (const Rejected&) {
    if (geo_initialization_success()) __builtin_trap();  // a failed load must not count
    return 0;
  }
  if (!tableMatches(text)) __builtin_trap();
  exerciseTable();
  return 0;
}
