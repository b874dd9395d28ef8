// orders_bench.cpp - building the molecule order over 10^6 live molecules,
// against std::shuffle of 10^6 ints as the baseline and the plain probe scan
// for contrast; Gaussian radii per second.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "bench/benchSupport.h"
#include "datastore/dataFetcher.h"
#include "sampling/randomNumber.h"

namespace {

constexpr int kSpecies = 4;
constexpr int kPerSpecies = 250000;  // 10^6 live molecules in all

// Loads four species of 250000 slots, all alive, once per process.
void loadMillionMolecules() {
  static bool loaded = false;
  if (loaded) return;
  std::string path = "/tmp/tavo_orders_bench_" + std::to_string(getpid()) + ".Tavosetup";
  tavo::bench::loadAllAlive(path, kSpecies, kPerSpecies);
  tavo::bench::quietly([] { initRand_fromSeed(1); });
  std::remove(path.c_str());
  loaded = true;
}

void BM_StdShuffle_1M(benchmark::State& state) {
  std::vector<int> v(kSpecies * kPerSpecies);
  std::iota(v.begin(), v.end(), 0);
  std::mt19937 rng(1);
  for (auto _ : state) {
    std::shuffle(v.begin(), v.end(), rng);
    benchmark::DoNotOptimize(v.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<long long>(v.size()));
}
BENCHMARK(BM_StdShuffle_1M)->Unit(benchmark::kMillisecond);

void BM_RandomizeMO_1M(benchmark::State& state) {
  loadMillionMolecules();
  for (auto _ : state) {
    randomize_MO();
    benchmark::DoNotOptimize(length_MO());
  }
  state.SetItemsProcessed(state.iterations() * length_MO());
  delete_MO();
}
BENCHMARK(BM_RandomizeMO_1M)->Unit(benchmark::kMillisecond);

// The shuffle with a plain probe scan over a slot list whose taken entries
// are marked -1: the same order, Theta(n^1.5) probes.
void BM_PlainProbeScan_1M(benchmark::State& state) {
  loadMillionMolecules();
  for (auto _ : state) {
    std::vector<int> species, ids;
    for (int j = 0; j < numSpecies(); ++j)
      for (int k = 0; k < speciePopulation(j); ++k)
        if (alive(j, k)) {
          species.push_back(j);
          ids.push_back(k);
        }
    const long long n = static_cast<long long>(ids.size());
    std::vector<int> outSpecies(ids.size()), outIds(ids.size());
    long long p = 0;
    for (long long t = 0; t < n; ++t) {
      p = (p + random_integer(0, static_cast<int>(n - 1))) % n;
      while (ids[static_cast<std::size_t>(p % n)] == -1) ++p;
      auto at = static_cast<std::size_t>(p % n);
      outSpecies[static_cast<std::size_t>(t)] = species[at];
      outIds[static_cast<std::size_t>(t)] = ids[at];
      ids[at] = -1;
    }
    benchmark::DoNotOptimize(outIds.data());
  }
  state.SetItemsProcessed(state.iterations() * kSpecies * kPerSpecies);
}
BENCHMARK(BM_PlainProbeScan_1M)->Unit(benchmark::kMillisecond);

void BM_RandomRadius3Dgaussian(benchmark::State& state) {
  tavo::bench::quietly(
      [] { init_inverse_3DGaussian(); });  // the shipped table, wherever it is found
  double sum = 0.0;
  for (auto _ : state) {
    sum += random_radius_3Dgaussian(1e-10, 1e-6);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RandomRadius3Dgaussian);

}  // namespace

BENCHMARK_MAIN();
