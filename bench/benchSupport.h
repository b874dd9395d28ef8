// benchSupport.h - helpers shared by the benchmark programs.
#ifndef TAVO_BENCH_BENCHSUPPORT_H
#define TAVO_BENCH_BENCHSUPPORT_H

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include <benchmark/benchmark.h>

#include "datastore/dataFetcher.h"

namespace tavo::bench {

// A path for a scratch file `name` in a folder of this process's own below
// the system's temporary folder; runBenchmarks removes the folder.
inline std::string scratchPath(const std::string& name) {
  static const std::filesystem::path folder = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "tavo-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::perror("mkdtemp");
    return std::filesystem::path(pattern);
  }();
  return (folder / name).string();
}

inline void removeScratch() {
  std::error_code ignored;
  std::filesystem::remove_all(std::filesystem::path(scratchPath("x")).parent_path(), ignored);
}

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

// Writes a setup of `species` species of `each` slots, all alive, without
// reactions, to `path`, and loads it into the store (releasing any earlier
// data set).
inline void loadAllAlive(const std::string& path, int species, int each) {
  std::string setup = "N_species " + std::to_string(species) + "\n";
  for (int s = 0; s < species; ++s)
    setup += "specie S" + std::to_string(s) + " " + std::to_string(s) + " 1.0 1.0e-9 1.0e-10 " +
             std::to_string(each) + " " + std::to_string(each) + " 0\n";
  setup +=
      "N_fwd 0 ;\nN_rev 0 ;\nrev_max_mol 0 ;\ntemperature(K) 300.0\nviscosity 3.0\npH 7.0\n"
      "total_step 10\ntime_step(s) 1.0e-6\n";
  std::FILE* f = std::fopen(path.c_str(), "w");
  std::fputs(setup.c_str(), f);
  std::fclose(f);
  quietly([&] {
    if (data_initialization_success()) deleteDataStructure();
    initDataStructure_fromFile(path.c_str());
  });
}

// The main of a benchmark program whose fixtures leave scratch files:
// runs the benchmarks the command line selects, then `cleanUp`.
template <typename CleanUp>
int runBenchmarks(int argc, char** argv, CleanUp cleanUp) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  cleanUp();
  removeScratch();
  return 0;
}

// The size of the file at `path`.
inline long long fileBytes(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "r");
  fseeko(f, 0, SEEK_END);
  long long size = ftello(f);
  std::fclose(f);
  return size;
}

}  // namespace tavo::bench

#endif  // TAVO_BENCH_BENCHSUPPORT_H
