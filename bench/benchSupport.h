// benchSupport.h - helpers shared by the benchmark programs.
#ifndef TAVO_BENCH_BENCHSUPPORT_H
#define TAVO_BENCH_BENCHSUPPORT_H

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "datastore/dataFetcher.h"

namespace tavo::bench {

// Runs `fn` with standard output sent to /dev/null (the loaders' progress).
template <typename Fn>
void quietly(Fn fn) {
  std::fflush(stdout);
  int saved = dup(1);
  int null = open("/dev/null", O_WRONLY);
  dup2(null, 1);
  close(null);
  fn();
  std::fflush(stdout);
  dup2(saved, 1);
  close(saved);
}

// Writes to `path` a setup of `species` species of `slots` slots each, all
// alive, without reactions, and loads it into the store in place of any
// data set loaded before.
inline void loadSpeciesSetup(const std::string& path, int species, int slots) {
  std::string text = "N_species " + std::to_string(species) + "\n";
  for (int s = 0; s < species; ++s)
    text += "specie S" + std::to_string(s) + " " + std::to_string(s) + " 1.0 1.0e-9 1.0e-10 " +
            std::to_string(slots) + " " + std::to_string(slots) + " 0\n";
  text +=
      "N_fwd 0 ;\nN_rev 0 ;\nrev_max_mol 1 ;\n"
      "temperature(K) 300.0\nviscosity 3.0\npH 7.0\ntotal_step 10\ntime_step(s) 1.0e-6\n";
  if (std::FILE* f = std::fopen(path.c_str(), "w")) {
    std::fputs(text.c_str(), f);
    std::fclose(f);
  }
  quietly([&] {
    if (data_initialization_success()) deleteDataStructure();
    initDataStructure_fromFile(path.c_str());
  });
}

}  // namespace tavo::bench

#endif  // TAVO_BENCH_BENCHSUPPORT_H
