// cli_bench.cpp - the tavo command's work on a large movie against its
// baselines, in one run: 100 frames of 10^5 live molecules (four species of
// 25000), about 400 MB, in the page cache.
//   population: index the movie and write its table (what `tavo population`
//               does), against indexing the movie alone;
//   export xyz: index the movie, read every frame and write extended XYZ
//               (what `tavo export --format xyz` does), against
//               createMovie_toFile writing the same 100 frames.
// Also shown: the export of an already indexed movie, the VTK export, the
// padded XYZ export and the H5MD export (both of the indexed movie).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "bench/benchSupport.h"
#include "cli/movieExport.h"
#include "cli/movieInput.h"
#include "cli/movieTables.h"
#include "cli/progress.h"
#include "datastore/dataFetcher.h"

namespace {

constexpr int kFrames = 100;
constexpr int kSpecies = 4;
constexpr int kEach = 25000;  // live molecules per species

struct Fixture {
  bool ready = false;
  std::string folder;
  std::string setupPath, moviePath, outPath;
  std::int64_t movieBytes = 0;
} g_fixture;

// Positions of frame `frame`: random within a micrometre, drawn afresh for
// every frame from a seed of its own, so any writer can repeat them.
void placeFrame(int frame) {
  std::mt19937_64 rng(static_cast<std::uint64_t>(frame) + 1);
  std::uniform_real_distribution<double> u(-1e-6, 1e-6);
  for (int s = 0; s < kSpecies; ++s)
    for (int i = 0; i < kEach; ++i) setPosition(s, i, u(rng), u(rng), u(rng));
}

void prepare() {
  if (g_fixture.ready) return;
  g_fixture.folder = "/tmp/tavo_cli_bench_" + std::to_string(getpid());
  std::filesystem::create_directory(g_fixture.folder);
  g_fixture.setupPath = g_fixture.folder + "/bench.Tavosetup";
  g_fixture.moviePath = g_fixture.folder + "/bench.Tavomovie";
  g_fixture.outPath = g_fixture.folder + "/out";
  tavo::bench::loadAllAlive(g_fixture.setupPath, kSpecies, kEach);
  for (int k = 0; k < kFrames; ++k) {
    placeFrame(k);
    createMovie_toFile(g_fixture.moviePath.c_str(), k);
  }
  g_fixture.movieBytes = static_cast<std::int64_t>(std::filesystem::file_size(g_fixture.moviePath));
  tavo::cli::silenceProgress();
  // Read once, so that every row finds the movie in the page cache.
  tavo::Movie warm(g_fixture.setupPath, g_fixture.moviePath);
  for (std::size_t k = 0; k < warm.size(); ++k) benchmark::DoNotOptimize(warm.read(k));
  g_fixture.ready = true;
}

void perMovie(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * g_fixture.movieBytes);
}

std::vector<std::size_t> allFrames(const tavo::Movie& movie) {
  std::vector<std::size_t> frames(movie.size());
  for (std::size_t k = 0; k < frames.size(); ++k) frames[k] = k;
  return frames;
}

// ---- population ---------------------------------------------------------

void BM_Index(benchmark::State& state) {
  prepare();
  for (auto _ : state) {
    tavo::Movie movie(g_fixture.setupPath, g_fixture.moviePath);
    benchmark::DoNotOptimize(movie.size());
  }
  perMovie(state);
}

void BM_Population(benchmark::State& state) {
  prepare();
  for (auto _ : state) {
    tavo::Movie movie = tavo::cli::openMovie(g_fixture.setupPath, g_fixture.moviePath);
    tavo::formats::OutputFile out(g_fixture.outPath);
    tavo::cli::writePopulation(movie, out);
    out.commit();
  }
  perMovie(state);
}

// ---- export ---------------------------------------------------------------

void BM_WriteMovie(benchmark::State& state) {
  prepare();
  for (auto _ : state) {
    state.PauseTiming();
    std::remove(g_fixture.outPath.c_str());
    state.ResumeTiming();
    for (int k = 0; k < kFrames; ++k) {
      state.PauseTiming();
      placeFrame(k);
      state.ResumeTiming();
      createMovie_toFile(g_fixture.outPath.c_str(), k);
    }
  }
  perMovie(state);
}

void BM_ExportXyz(benchmark::State& state) {
  prepare();
  for (auto _ : state) {
    tavo::Movie movie = tavo::cli::openMovie(g_fixture.setupPath, g_fixture.moviePath);
    tavo::cli::exportXyz(movie, allFrames(movie), {}, g_fixture.outPath);
  }
  perMovie(state);
}

void BM_ExportXyzIndexed(benchmark::State& state) {
  prepare();
  tavo::Movie movie = tavo::cli::openMovie(g_fixture.setupPath, g_fixture.moviePath);
  for (auto _ : state) tavo::cli::exportXyz(movie, allFrames(movie), {}, g_fixture.outPath);
  perMovie(state);
}

void BM_ExportVtk(benchmark::State& state) {
  prepare();
  for (auto _ : state) {
    tavo::Movie movie = tavo::cli::openMovie(g_fixture.setupPath, g_fixture.moviePath);
    tavo::cli::exportVtk(movie, allFrames(movie), {}, g_fixture.folder + "/vtk.pvd");
  }
  perMovie(state);
}

void BM_ExportXyzPadded(benchmark::State& state) {
  prepare();
  tavo::Movie movie = tavo::cli::openMovie(g_fixture.setupPath, g_fixture.moviePath);
  tavo::cli::ExportOptions options;
  options.pad = true;
  for (auto _ : state) tavo::cli::exportXyz(movie, allFrames(movie), options, g_fixture.outPath);
  perMovie(state);
}

void BM_ExportH5md(benchmark::State& state) {
  prepare();
  tavo::Movie movie = tavo::cli::openMovie(g_fixture.setupPath, g_fixture.moviePath);
  for (auto _ : state)
    tavo::cli::exportH5md(movie, allFrames(movie), {}, g_fixture.folder + "/out.h5md");
  perMovie(state);
}

BENCHMARK(BM_Index)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Population)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WriteMovie)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ExportXyz)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ExportXyzIndexed)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ExportVtk)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ExportXyzPadded)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ExportH5md)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  return tavo::bench::runBenchmarks(argc, argv, [] {
    if (!g_fixture.folder.empty()) std::filesystem::remove_all(g_fixture.folder);
  });
}
