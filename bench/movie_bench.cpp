// movie_bench.cpp - the movie reader and writer against their baselines, on
// one frame of 10^6 live molecules (one species, or five of 200000 each):
//   reading: ours, a plain fscanf reader, and a raw fread byte scan of the
//            same bytes (the practical limit);
//   writing: ours and plain fprintf("%E %E %E ").
// Compare the times of the rows with the same argument (species count).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench/benchSupport.h"
#include "datastore/dataFetcher.h"

namespace {

constexpr int kMolecules = 1000000;

struct Fixture {
  int species = 0;  // configuration loaded, 0 for none
  std::string setupPath;
  std::string moviePath;
  std::string outPath;
  std::size_t frameBytes = 0;
} g_fixture;

std::string scratchPath(const char* name) {
  return "/tmp/tavo_movie_bench_" + std::to_string(getpid()) + "_" + name;
}

// Loads a store of `species` species sharing 10^6 live molecules at random
// positions within a micrometre, and writes its frame as the movie file.
void prepare(int species) {
  if (g_fixture.species == species) return;
  g_fixture.setupPath = scratchPath("setup.Tavosetup");
  g_fixture.moviePath = scratchPath("in.Tavomovie");
  g_fixture.outPath = scratchPath("out.Tavomovie");
  int each = kMolecules / species;
  tavo::bench::loadAllAlive(g_fixture.setupPath, species, each);
  std::mt19937_64 rng(42);
  std::uniform_real_distribution<double> u(-1e-6, 1e-6);
  for (int s = 0; s < species; ++s)
    for (int i = 0; i < each; ++i) setPosition(s, i, u(rng), u(rng), u(rng));
  std::remove(g_fixture.moviePath.c_str());
  createMovie_toFile(g_fixture.moviePath.c_str(), 0);
  g_fixture.frameBytes = static_cast<std::size_t>(tavo::bench::fileBytes(g_fixture.moviePath));
  g_fixture.species = species;
}

void cleanUp() {
  std::remove(g_fixture.setupPath.c_str());
  std::remove(g_fixture.moviePath.c_str());
  std::remove(g_fixture.outPath.c_str());
}

void perFrame(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(g_fixture.frameBytes));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kMolecules);
}

// ---- reading ----------------------------------------------------------------

void BM_ReadFrame_Tavo(benchmark::State& state) {
  prepare(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    long long position = 0;
    readMovie_fromFile(g_fixture.moviePath.c_str(), &position);
    benchmark::DoNotOptimize(position);
  }
  perFrame(state);
}

// The straightforward reader: fscanf "%s %d" for the keywords, "%lf" for
// every coordinate, into a table of its own.
void BM_ReadFrame_Fscanf(benchmark::State& state) {
  prepare(static_cast<int>(state.range(0)));
  int species = g_fixture.species;
  std::vector<std::vector<std::array<double, 3>>> pos(static_cast<std::size_t>(species));
  for (auto& row : pos) row.resize(static_cast<std::size_t>(kMolecules / species));
  for (auto _ : state) {
    std::FILE* f = std::fopen(g_fixture.moviePath.c_str(), "r");
    fseeko(f, 0, SEEK_SET);
    char word[100];
    int step = 0, id = 0, n = 0;
    if (std::fscanf(f, "%99s %d", word, &step) != 2) state.SkipWithError("bad frame");
    for (int s = 0; s < species; ++s) {
      if (std::fscanf(f, "%99s %d", word, &id) != 2) state.SkipWithError("bad frame");
      if (std::fscanf(f, "%99s %d", word, &n) != 2) state.SkipWithError("bad frame");
      auto& row = pos[static_cast<std::size_t>(s)];
      for (int k = 0; k < n; ++k) {
        auto& p = row[static_cast<std::size_t>(k)];
        if (std::fscanf(f, "%lf", &p[0]) != 1 || std::fscanf(f, "%lf", &p[1]) != 1 ||
            std::fscanf(f, "%lf", &p[2]) != 1)
          state.SkipWithError("bad frame");
      }
    }
    benchmark::DoNotOptimize(ftello(f));
    std::fclose(f);
    benchmark::DoNotOptimize(pos.data());
  }
  perFrame(state);
}

// The practical limit: read the same bytes in 1 MiB pieces and count the
// blanks, nothing more.
void BM_ReadFrame_RawScan(benchmark::State& state) {
  prepare(static_cast<int>(state.range(0)));
  std::vector<char> buf(1 << 20);
  for (auto _ : state) {
    std::FILE* f = std::fopen(g_fixture.moviePath.c_str(), "r");
    std::size_t got = 0, blanks = 0;
    while ((got = std::fread(buf.data(), 1, buf.size(), f)) > 0)
      for (std::size_t i = 0; i < got; ++i) blanks += buf[i] == ' ';
    std::fclose(f);
    benchmark::DoNotOptimize(blanks);
  }
  perFrame(state);
}

// ---- writing ----------------------------------------------------------------

void BM_WriteFrame_Tavo(benchmark::State& state) {
  prepare(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    state.PauseTiming();
    std::remove(g_fixture.outPath.c_str());
    state.ResumeTiming();
    createMovie_toFile(g_fixture.outPath.c_str(), 0);
  }
  perFrame(state);
}

// The straightforward writer: fprintf for every line and every triple.
void BM_WriteFrame_Fprintf(benchmark::State& state) {
  prepare(static_cast<int>(state.range(0)));
  int species = g_fixture.species;
  for (auto _ : state) {
    state.PauseTiming();
    std::remove(g_fixture.outPath.c_str());
    state.ResumeTiming();
    std::FILE* f = std::fopen(g_fixture.outPath.c_str(), "a");
    std::fprintf(f, "step %d\n", 0);
    for (int s = 0; s < species; ++s) {
      std::fprintf(f, "specie %d\n", s);
      std::fprintf(f, "alive %d\n", alivePopulation(s));
      int slots = speciePopulation(s);
      for (int i = 0; i < slots; ++i) {
        if (!alive(s, i)) continue;
        double x, y, z;
        position(s, i, &x, &y, &z);
        std::fprintf(f, "%E %E %E ", x, y, z);
      }
      std::fprintf(f, "\n");
    }
    std::fclose(f);
  }
  perFrame(state);
}

// All rows of one configuration first, so the fixture is built twice only.
BENCHMARK(BM_ReadFrame_Tavo)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadFrame_Fscanf)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadFrame_RawScan)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteFrame_Tavo)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteFrame_Fprintf)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadFrame_Tavo)->Arg(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadFrame_Fscanf)->Arg(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadFrame_RawScan)->Arg(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteFrame_Tavo)->Arg(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteFrame_Fprintf)->Arg(5)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return tavo::bench::runBenchmarks(argc, argv, cleanUp); }
