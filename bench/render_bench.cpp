// render_bench.cpp - the offscreen renderer's frame time: reading a frame
// alone, drawing it alone (the picture read back included), and both with
// the reader thread, for 10^4 to 10^6 molecules, points and spheres, at
// 500x500 and 1920x1080. Spheres are measured as point sprites (spheres:1)
// and as instanced quads (spheres:2). The reader thread pays off when the
// pipelined time per frame stays near the larger of the two alone. Each
// drawing is measured with OpenGL drawing the molecules (cpu:0) and with the
// processors drawing them (cpu:1); on a software OpenGL the ratio of the two
// is the processors' gain. BM_Sequence renders whole PNG sequences, as tavo
// render does.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>

#include "bench/benchSupport.h"
#include "datastore/dataFetcher.h"
#include "offscreen/render.h"

namespace {

constexpr int kFrames = 3;

// A movie of `molecules` molecules (3 species of size 40 nm, spread over
// +-2 scene units), written once per size with the library's writer.
const tavo::Movie& movieOf(int molecules) {
  static std::map<int, std::unique_ptr<tavo::Movie>> movies;
  auto found = movies.find(molecules);
  if (found != movies.end()) return *found->second;
  const int perSpecies = (molecules + 2) / 3;
  const std::string setup =
      tavo::bench::scratchPath("render_bench_" + std::to_string(molecules) + ".Tavosetup");
  const std::string movie =
      tavo::bench::scratchPath("render_bench_" + std::to_string(molecules) + ".Tavomovie");
  std::FILE* f = std::fopen(setup.c_str(), "w");
  std::fprintf(f, "N_species 3\n");
  for (int s = 0; s < 3; ++s)
    std::fprintf(f, "specie S%d %d 1.0 4.0e-8 1.0e-12 %d %d 0\n", s, s, perSpecies, perSpecies);
  std::fprintf(f,
               "N_fwd 0 ;\nN_rev 0 ;\nrev_max_mol 0 ;\ntemperature(K) 300.0\nviscosity 1.0\n"
               "pH 7.0\ntotal_step %d\ntime_step(s) 1.0e-6\n",
               kFrames);
  std::fclose(f);
  tavo::bench::quietly([&] {
    if (data_initialization_success()) deleteDataStructure();
    initDataStructure_fromFile(setup.c_str());
    std::remove(movie.c_str());
    std::mt19937 engine(7);
    std::uniform_real_distribution<double> u(-2e-6, 2e-6);
    for (int step = 0; step < kFrames; ++step) {
      for (int s = 0; s < numSpecies(); ++s)
        for (int i = 0; i < speciePopulation(s); ++i)
          setPosition(s, i, u(engine), u(engine), u(engine));
      createMovie_toFile(movie.c_str(), step);
    }
    deleteDataStructure();
  });
  auto opened = std::make_unique<tavo::Movie>(setup, movie);
  return *movies.emplace(molecules, std::move(opened)).first->second;
}

tavo::offscreen::Settings settingsOf(const benchmark::State& state) {
  tavo::offscreen::Settings s;
  s.width = static_cast<int>(state.range(1));
  s.height = static_cast<int>(state.range(2));
  s.style = state.range(3) != 0 ? tavo::scene::Style::spheres : tavo::scene::Style::points;
  s.sphereSprites = state.range(3) != 2;  // 2: spheres as instanced quads
  s.drawing = state.range(4) != 0 ? tavo::scene::Drawing::software : tavo::scene::Drawing::opengl;
  return s;
}

void BM_Read(benchmark::State& state) {
  const tavo::Movie& movie = movieOf(static_cast<int>(state.range(0)));
  tavo::Frame frame;
  std::size_t k = 0;
  for (auto _ : state) tavo::bench::quietly([&] { movie.read(k++ % kFrames, frame); });
  state.SetItemsProcessed(state.iterations());
}

void BM_Draw(benchmark::State& state) {
  const tavo::Movie& movie = movieOf(static_cast<int>(state.range(0)));
  tavo::offscreen::Renderer renderer(movie.setup(), settingsOf(state));
  std::vector<tavo::Frame> frames(kFrames);
  tavo::bench::quietly([&] {
    for (int k = 0; k < kFrames; ++k) movie.read(static_cast<std::size_t>(k), frames[k]);
  });
  renderer.draw(frames[0]);  // the rasteriser compiles its code on first use
  std::size_t k = 0;
  for (auto _ : state) benchmark::DoNotOptimize(renderer.draw(frames[k++ % kFrames]).data());
  state.SetItemsProcessed(state.iterations());
}

// Per iteration: the selected frames read alone, drawn alone, and both with
// the reader thread, one after the other, so that the ratio compares times
// taken under the same load. The benchmark's own time is the pipelined one.
void BM_ReadAndDraw(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  const tavo::Movie& movie = movieOf(static_cast<int>(state.range(0)));
  tavo::offscreen::Renderer renderer(movie.setup(), settingsOf(state));
  std::vector<std::size_t> picks(12);
  for (std::size_t i = 0; i < picks.size(); ++i) picks[i] = i % kFrames;
  std::vector<tavo::Frame> frames(kFrames);
  tavo::bench::quietly([&] {
    for (int k = 0; k < kFrames; ++k) movie.read(static_cast<std::size_t>(k), frames[k]);
    renderer.draw(frames[0]);
  });
  double read = 0, draw = 0, both = 0;
  for (auto _ : state) {
    tavo::bench::quietly([&] {
      auto t = Clock::now();
      for (std::size_t k : picks) movie.read(k, frames[k]);
      const auto t1 = Clock::now();
      for (std::size_t k : picks) benchmark::DoNotOptimize(renderer.draw(frames[k]).data());
      const auto t2 = Clock::now();
      tavo::offscreen::drawFrames(movie, picks, renderer,
                                  [](const std::vector<std::uint8_t>& rgb, std::size_t) {
                                    benchmark::DoNotOptimize(rgb.data());
                                  });
      const auto t3 = Clock::now();
      read += std::chrono::duration<double>(t1 - t).count();
      draw += std::chrono::duration<double>(t2 - t1).count();
      both += std::chrono::duration<double>(t3 - t2).count();
      state.SetIterationTime(std::chrono::duration<double>(t3 - t2).count());
    });
  }
  const double frameCount = static_cast<double>(state.iterations() * picks.size());
  state.counters["read_ms"] = read / frameCount * 1e3;
  state.counters["draw_ms"] = draw / frameCount * 1e3;
  state.counters["both_ms"] = both / frameCount * 1e3;
  state.counters["ratio"] = both / std::max(read, draw);
}

// Frames per second of whole PNG sequences: each iteration renders the
// movie's frames (read, drawn, encoded and written) into the scratch folder.
void BM_Sequence(benchmark::State& state) {
  const int molecules = static_cast<int>(state.range(0));
  const tavo::Movie& movie = movieOf(molecules);
  tavo::offscreen::Settings settings = settingsOf(state);
  std::vector<std::size_t> picks(12);
  for (std::size_t i = 0; i < picks.size(); ++i) picks[i] = i % kFrames;
  const std::string output = tavo::bench::scratchPath("f%03d.png");
  std::size_t frames = 0;
  for (auto _ : state) {
    tavo::bench::quietly(
        [&] { tavo::offscreen::render(movie, picks, output, settings, 25, nullptr); });
    frames += picks.size();
  }
  state.counters["fps"] =
      benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}

void sizes(benchmark::internal::Benchmark* b) {
  for (int molecules : {10000, 100000, 1000000})
    for (auto [w, h] : {std::pair{500, 500}, {1920, 1080}})
      for (int spheres : {0, 1, 2})
        for (int cpu : {0, 1})
          if (cpu == 0 || spheres != 2) b->Args({molecules, w, h, spheres, cpu});
  b->ArgNames({"molecules", "w", "h", "spheres", "cpu"})->Unit(benchmark::kMillisecond);
}

void sequences(benchmark::internal::Benchmark* b) {
  for (int molecules : {10000, 1000000})
    for (int cpu : {0, 1}) b->Args({molecules, 1920, 1080, 0, cpu});
  b->ArgNames({"molecules", "w", "h", "spheres", "cpu"})->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_Read)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Draw)->Apply(sizes);
BENCHMARK(BM_ReadAndDraw)->Apply(sizes)->UseManualTime();
BENCHMARK(BM_Sequence)->Apply(sequences)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  return tavo::bench::runBenchmarks(argc, argv, [] {});
}
