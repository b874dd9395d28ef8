// frame_read_bench.cpp - reading one frame with tavo::Movie, the baseline of
// the Python module's frame figures (bench/python_frames.py runs this program
// on its own movie and compares):
//   ReadFrame      movie.read(k): a new Frame each time, as a Python m[k] gets
//   ReadFrameInto  movie.read(k, frame) into one reused Frame
// Options after the benchmark flags: --setup=PATH --movie=PATH --frame=K.
// Without them it reads a small movie of its own (the smoke test).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>

#include "bench/benchSupport.h"
#include "trajectory/trajectory.h"

namespace {

struct Options {
  std::string setup;
  std::string movie;
  std::size_t frame = 0;
  bool ownFiles = false;  // the files were written here and are removed at the end
} options;

// A setup of two species and a movie of two frames of 5000 molecules each.
void writeSmallMovie() {
  const std::string base = "/tmp/tavo_frame_read_bench_" + std::to_string(getpid());
  options = {base + ".Tavosetup", base + ".Tavomovie", 1, true};
  tavo::bench::loadAllAlive(options.setup, 2, 5000);
  std::remove(options.movie.c_str());  // the writer appends
  std::mt19937_64 rng(1);
  std::uniform_real_distribution<double> u(-1e-6, 1e-6);
  for (int step = 0; step < 2; ++step) {
    for (int s = 0; s < 2; ++s)
      for (int i = 0; i < 5000; ++i) setPosition(s, i, u(rng), u(rng), u(rng));
    createMovie_toFile(options.movie.c_str(), step);
  }
}

void ReadFrame(benchmark::State& state) {
  const tavo::Movie movie(options.setup, options.movie);
  std::size_t molecules = 0;
  for (auto _ : state) {
    tavo::Frame frame = movie.read(options.frame);
    benchmark::DoNotOptimize(frame.positions.data());
    molecules = 0;
    for (const auto& xyz : frame.positions) molecules += xyz.size() / 3;
  }
  state.counters["molecules"] = static_cast<double>(molecules);
}
BENCHMARK(ReadFrame)->Unit(benchmark::kMillisecond);

void ReadFrameInto(benchmark::State& state) {
  const tavo::Movie movie(options.setup, options.movie);
  tavo::Frame frame;
  for (auto _ : state) {
    movie.read(options.frame, frame);
    benchmark::DoNotOptimize(frame.positions.data());
  }
}
BENCHMARK(ReadFrameInto)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--setup=", 0) == 0) {
      options.setup = arg.substr(8);
    } else if (arg.rfind("--movie=", 0) == 0) {
      options.movie = arg.substr(8);
    } else if (arg.rfind("--frame=", 0) == 0) {
      options.frame = std::stoul(arg.substr(8));
    } else {
      std::fprintf(stderr, "frame_read_bench: unknown option %s\n", argv[i]);
      return 2;
    }
  }
  if (options.setup.empty() != options.movie.empty()) {
    std::fprintf(stderr, "frame_read_bench: give both --setup and --movie, or neither\n");
    return 2;
  }
  if (options.setup.empty()) writeSmallMovie();
  int status = 0;
  try {
    benchmark::RunSpecifiedBenchmarks();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "frame_read_bench: %s\n", e.what());
    status = 1;
  }
  benchmark::Shutdown();
  if (options.ownFiles) {
    std::remove(options.setup.c_str());
    std::remove(options.movie.c_str());
  }
  return status;
}
