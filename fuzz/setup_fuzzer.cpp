// Fuzzes the setup-file loader: any bytes must load or end in a reported
// format error, never crash, leak, hang or read out of bounds.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "datastore/dataFetcher.h"
#include "textio/inputReader.h"

namespace {

struct Rejected {};

void rejectInput(const char*) { throw Rejected{}; }

std::string g_path;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_path = "/tmp/tavo_setup_fuzz_" + std::to_string(getpid()) + ".Tavosetup";
  // Progress text and error entries would only slow the run down.
  if (!std::freopen("/dev/null", "w", stdout)) return 1;
  setErrorHandler(rejectInput);
  tavo::detail::setTableMemoryBudget(64.0 * 1024 * 1024);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::FILE* f = std::fopen(g_path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  try {
    initDataStructure_fromFile(g_path.c_str());
    // A loaded store must answer its own queries within range.
    int total = totalAlivePopulation();
    for (int s = 0; s < numSpecies(); ++s) {
      if (alivePopulation(s) > speciePopulation(s)) __builtin_trap();
      for (int t = 0; t < numSpecies(); ++t)
        for (int pick = 1; pick <= numRxn_F(s, t); ++pick) kf(rxnID_F(s, t, pick));
      for (int pick = 1; pick <= numRxn_R(s); ++pick) kr(rxnID_R(s, pick));
    }
    (void)total;
    deleteDataStructure();
  } catch (const Rejected&) {
  }
  return 0;
}
