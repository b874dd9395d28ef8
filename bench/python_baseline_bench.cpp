// python_baseline_bench.cpp - the C++ side of the Python module's analysis
// figures (bench/python_analysis.py runs this program on its own files and
// compares):
//   ReadFrames      movie.read(k, frame) for frames 0 .. F-1 into one reused
//                   Frame: the reads that Movie.padded(slice(0, F)) makes
//   InRegionLoop/r  inRegion(x, y, z, r) for every point, answers stored:
//                   what Regions.contains(points, r) computes
// Options after the benchmark flags: --setup=PATH --movie=PATH --frames=F
// --regions=PATH --points=PATH (native float64 x y z). Without them it uses
// small files of its own (the smoke test).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "bench/benchSupport.h"
#include "geometry/geometry.h"
#include "geometry/regionTable.h"
#include "trajectory/trajectory.h"

namespace {

struct Options {
  std::string setup, movie, regions, points;
  std::size_t frames = 0;
} options;

std::vector<double> points;
int regionCount = 0;

void writeSmallFiles() {
  options = {tavo::bench::scratchPath("small.Tavosetup"),
             tavo::bench::scratchPath("small.Tavomovie"), tavo::bench::scratchPath("small.regions"),
             "", 3};
  tavo::bench::loadAllAlive(options.setup, 2, 1000);
  std::mt19937_64 rng(1);
  std::uniform_real_distribution<double> u(-2e-6, 2e-6);
  for (int step = 0; step < 3; ++step) {
    for (int s = 0; s < 2; ++s)
      for (int i = 0; i < 1000; ++i) setPosition(s, i, u(rng), u(rng), u(rng));
    createMovie_toFile(options.movie.c_str(), step);
  }
  std::FILE* f = std::fopen(options.regions.c_str(), "w");
  std::fputs(
      "N_regions 2\n0 sphere ( 0 0 0 ) ( 1.5e-6 )\n1 boxshell ( 0 0 0 ) ( 3e-6 3e-6 3e-6 1e-6 1e-6 "
      "1e-6 )\n",
      f);
  std::fclose(f);
  points.resize(3 * 10000);
  for (double& v : points) v = u(rng);
}

void readPoints(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) throw tavo::Error(path + ": cannot open");
  double xyz[3];
  while (std::fread(xyz, sizeof(double), 3, f) == 3) points.insert(points.end(), xyz, xyz + 3);
  std::fclose(f);
}

void ReadFrames(benchmark::State& state) {
  const tavo::Movie movie(options.setup, options.movie);
  tavo::Frame frame;
  for (auto _ : state)
    for (std::size_t k = 0; k < options.frames; ++k) {
      movie.read(k, frame);
      benchmark::DoNotOptimize(frame.positions.data());
    }
}
BENCHMARK(ReadFrames)->Unit(benchmark::kMillisecond);

void InRegionLoop(benchmark::State& state) {
  const int region = static_cast<int>(state.range(0));
  if (region >= regionCount) {
    state.SkipWithError("no such region");
    return;
  }
  const std::size_t n = points.size() / 3;
  std::vector<unsigned char> inside(n);
  for (auto _ : state) {
    for (std::size_t i = 0; i < n; ++i)
      inside[i] = inRegion(points[3 * i], points[3 * i + 1], points[3 * i + 2], region);
    benchmark::DoNotOptimize(inside.data());
  }
}
BENCHMARK(InRegionLoop)->DenseRange(0, 5)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const char* key) {
      const std::string prefix = std::string("--") + key + "=";
      return arg.rfind(prefix, 0) == 0 ? arg.substr(prefix.size()) : std::string();
    };
    if (!value("setup").empty()) {
      options.setup = value("setup");
    } else if (!value("movie").empty()) {
      options.movie = value("movie");
    } else if (!value("frames").empty()) {
      options.frames = std::stoul(value("frames"));
    } else if (!value("regions").empty()) {
      options.regions = value("regions");
    } else if (!value("points").empty()) {
      options.points = value("points");
    } else {
      std::fprintf(stderr, "python_baseline_bench: unknown option %s\n", argv[i]);
      return 2;
    }
  }
  int status = 0;
  try {
    if (options.setup.empty())
      writeSmallFiles();
    else
      readPoints(options.points);
    tavo::bench::quietly([] { initGeometry_fromFile(options.regions.c_str()); });
    for (int type = 0; tavo::detail::regionRow(regionCount, &type) != nullptr;) ++regionCount;
    benchmark::RunSpecifiedBenchmarks();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "python_baseline_bench: %s\n", e.what());
    status = 1;
  }
  benchmark::Shutdown();
  tavo::bench::removeScratch();
  return status;
}
