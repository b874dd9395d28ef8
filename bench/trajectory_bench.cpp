// trajectory_bench.cpp - the movie index and frame reader against their
// baselines, on a movie of 100 frames x 10^5 live molecules (four species of
// 25000) written by the library's writer into a temporary file (about
// 400 MB, in the page cache once written):
//   indexing: Movie's scan of the whole file, and plain read() calls over
//             the same bytes into one buffer of the scan's size;
//   frames:   Movie::read of frame 0, and of a random frame.
// Compare the times of the rows of each group.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "bench/benchSupport.h"
#include "datastore/dataFetcher.h"
#include "formats/movie.h"
#include "trajectory/trajectory.h"

namespace {

constexpr int kFrames = 100;
constexpr int kSpecies = 4;
constexpr int kEach = 25000;  // live molecules per species

struct Fixture {
  bool ready = false;
  std::string setupPath;
  std::string moviePath;
  std::int64_t movieBytes = 0;
} g_fixture;

std::string scratchPath(const char* name) {
  return "/tmp/tavo_trajectory_bench_" + std::to_string(getpid()) + "_" + name;
}

// Writes the movie: every molecule moves by a random step in each frame.
void prepare() {
  if (g_fixture.ready) return;
  g_fixture.setupPath = scratchPath("setup.Tavosetup");
  g_fixture.moviePath = scratchPath("movie.Tavomovie");
  tavo::bench::loadAllAlive(g_fixture.setupPath, kSpecies, kEach);
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> start(-1e-6, 1e-6), move(-1e-8, 1e-8);
  std::vector<double> xyz(3 * kSpecies * kEach);
  for (double& v : xyz) v = start(rng);
  std::remove(g_fixture.moviePath.c_str());
  for (int t = 0; t < kFrames; ++t) {
    std::size_t j = 0;
    for (int s = 0; s < kSpecies; ++s)
      for (int i = 0; i < kEach; ++i, j += 3) {
        xyz[j] += move(rng);
        xyz[j + 1] += move(rng);
        xyz[j + 2] += move(rng);
        setPosition(s, i, xyz[j], xyz[j + 1], xyz[j + 2]);
      }
    createMovie_toFile(g_fixture.moviePath.c_str(), t);
  }
  g_fixture.movieBytes = tavo::bench::fileBytes(g_fixture.moviePath);
  g_fixture.ready = true;
}

void cleanUp() {
  std::remove(g_fixture.setupPath.c_str());
  std::remove(g_fixture.moviePath.c_str());
}

tavo::Setup benchSetup() {
  tavo::Setup setup;
  for (int s = 0; s < kSpecies; ++s) {
    tavo::Species sp;
    sp.id = s;
    sp.slots = kEach;
    setup.species.push_back(sp);
  }
  return setup;
}

// ---- indexing ---------------------------------------------------------------

void BM_Index_Movie(benchmark::State& state) {
  prepare();
  for (auto _ : state) {
    tavo::Movie movie(benchSetup(), g_fixture.moviePath);
    if (movie.size() != kFrames) state.SkipWithError("wrong frame count");
    benchmark::DoNotOptimize(movie.indexedBytes());
  }
  state.SetBytesProcessed(state.iterations() * g_fixture.movieBytes);
}

// The baseline: the same bytes read into one buffer of the scan's size.
void BM_Index_PlainRead(benchmark::State& state) {
  prepare();
  std::vector<char> buf(tavo::detail::movieReadBytes());
  for (auto _ : state) {
    int fd = ::open(g_fixture.moviePath.c_str(), O_RDONLY);
    std::int64_t total = 0;
    for (ssize_t got; (got = ::read(fd, buf.data(), buf.size())) > 0;) total += got;
    ::close(fd);
    if (total != g_fixture.movieBytes) state.SkipWithError("short read");
    benchmark::DoNotOptimize(buf.data());
  }
  state.SetBytesProcessed(state.iterations() * g_fixture.movieBytes);
}

// ---- frames -----------------------------------------------------------------

void readFrames(benchmark::State& state, bool random) {
  prepare();
  tavo::Movie movie(benchSetup(), g_fixture.moviePath);
  tavo::Frame frame;
  movie.read(0, frame);
  movie.read(1, frame);  // both scratch buffers warmed up
  std::mt19937 rng(11);
  for (auto _ : state) {
    std::size_t k = random ? rng() % kFrames : 0;
    movie.read(k, frame);
    benchmark::DoNotOptimize(frame.positions.data());
  }
  state.SetItemsProcessed(state.iterations() * kSpecies * kEach);
}

void BM_Frame_First(benchmark::State& state) { readFrames(state, false); }
void BM_Frame_Random(benchmark::State& state) { readFrames(state, true); }

BENCHMARK(BM_Index_PlainRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Index_Movie)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Frame_First)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Frame_Random)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return tavo::bench::runBenchmarks(argc, argv, cleanUp); }
