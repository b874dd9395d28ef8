// geometry_bench.cpp - throughput of the region membership tests, of
// placement in regions and of the shape samplers. Baselines in the same run:
// the shape test called directly (for inRegion) and three bare draws (for
// the samplers, which take three draws per point).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "geometry/geometry.h"
#include "sampling/randomNumber.h"

namespace {

const char* const kTypeName[6] = {"box",         "boxshell", "sphere",
                                  "sphereshell", "cylinder", "cylindershell"};

// One region of each type, about the origin, all within [-1, 1]^3; the box
// shell's inner box takes 1/8 of the outer one.
const char kRegions[] =
    "N_regions 6\n"
    "0 box ( 0 0 0 ) ( 2 2 2 )\n"
    "1 boxshell ( 0 0 0 ) ( 2 2 2 1 1 1 )\n"
    "2 sphere ( 0 0 0 ) ( 1 )\n"
    "3 sphereshell ( 0 0 0 ) ( 0.5 1 )\n"
    "4 cylinder ( 0 0 0 ) ( 1 2 )\n"
    "5 cylindershell ( 0 0 0 ) ( 0.5 1 2 )\n";

// Loads the table once, with the loader's progress text kept off the report.
void loadRegionsOnce() {
  static bool loaded = false;
  if (loaded) return;
  std::string path = "/tmp/geometry_bench_" + std::to_string(getpid()) + ".txt";
  if (std::FILE* f = std::fopen(path.c_str(), "w")) {
    std::fputs(kRegions, f);
    std::fclose(f);
  }
  std::fflush(stdout);
  int saved = dup(1);
  if (std::FILE* sink = std::fopen("/dev/null", "w")) {
    dup2(fileno(sink), 1);
    std::fclose(sink);
  }
  initGeometry_fromFile(path.c_str());
  initRand_fromSeed(1);
  std::fflush(stdout);
  dup2(saved, 1);
  close(saved);
  std::remove(path.c_str());
  loaded = true;
}

// Points spread over [-1.2, 1.2]^3, so that each test sees both answers.
const std::vector<double>& probePoints() {
  static std::vector<double> points = [] {
    std::vector<double> p;
    unsigned s = 12345;
    for (int i = 0; i < 3 * 4096; ++i) {
      s = s * 1103515245u + 12345u;
      p.push_back(-1.2 + 2.4 * ((s >> 8) & 0xffff) / 65535.0);
    }
    return p;
  }();
  return points;
}

bool directTest(int type, double x, double y, double z) {
  switch (type) {
    case 0:
      return inBox(0, 0, 0, 2, 2, 2, x, y, z);
    case 1:
      return inBoxShell(0, 0, 0, 2, 2, 2, 1, 1, 1, x, y, z);
    case 2:
      return inSphere(0, 0, 0, 1, x, y, z);
    case 3:
      return inSphereShell(0, 0, 0, 0.5, 1, x, y, z);
    case 4:
      return inCylinder(0, 0, 0, 1, 2, x, y, z);
    default:
      return inCylinderShell(0, 0, 0, 0.5, 1, 2, x, y, z);
  }
}

void BM_inRegion(benchmark::State& state) {
  loadRegionsOnce();
  int id = static_cast<int>(state.range(0));
  const std::vector<double>& p = probePoints();
  std::size_t n = p.size() / 3;
  for (auto _ : state) {
    int inside = 0;
    for (std::size_t i = 0; i < n; ++i)
      inside += inRegion(p[3 * i], p[3 * i + 1], p[3 * i + 2], id);
    benchmark::DoNotOptimize(inside);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * n));
  state.SetLabel(kTypeName[id]);
}
BENCHMARK(BM_inRegion)->DenseRange(0, 5);

void BM_shapeTestDirect(benchmark::State& state) {
  int type = static_cast<int>(state.range(0));
  const std::vector<double>& p = probePoints();
  std::size_t n = p.size() / 3;
  for (auto _ : state) {
    int inside = 0;
    for (std::size_t i = 0; i < n; ++i)
      inside += directTest(type, p[3 * i], p[3 * i + 1], p[3 * i + 2]);
    benchmark::DoNotOptimize(inside);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * n));
  state.SetLabel(kTypeName[type]);
}
BENCHMARK(BM_shapeTestDirect)->DenseRange(0, 5);

void BM_createToRegion(benchmark::State& state) {
  loadRegionsOnce();
  int id = static_cast<int>(state.range(0));
  double x, y, z;
  for (auto _ : state) {
    createToRegion(id, &x, &y, &z);
    benchmark::DoNotOptimize(x);
    benchmark::DoNotOptimize(y);
    benchmark::DoNotOptimize(z);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetLabel(kTypeName[id]);
}
BENCHMARK(BM_createToRegion)->DenseRange(0, 5);

// Baseline: the three draws every sampler takes per point.
void BM_threeDraws(benchmark::State& state) {
  for (auto _ : state) {
    double a = random_number(0, 1), b = random_number(0, 1), c = random_number(0, 1);
    benchmark::DoNotOptimize(a);
    benchmark::DoNotOptimize(b);
    benchmark::DoNotOptimize(c);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_threeDraws);

template <typename Sampler>
void runSampler(benchmark::State& state, Sampler sample) {
  double x, y, z;
  for (auto _ : state) {
    sample(&x, &y, &z);
    benchmark::DoNotOptimize(x);
    benchmark::DoNotOptimize(y);
    benchmark::DoNotOptimize(z);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_randBox_BBB(benchmark::State& s) {
  runSampler(s, [](double* x, double* y, double* z) { randBox_BBB(-1, -1, -1, 1, 1, 1, x, y, z); });
}
void BM_randBox_CW(benchmark::State& s) {
  runSampler(s, [](double* x, double* y, double* z) { randBox_CW(0, 0, 0, 2, 2, 2, x, y, z); });
}
void BM_randBoxShell_CWW(benchmark::State& s) {
  runSampler(s, [](double* x, double* y, double* z) {
    randBoxShell_CWW(0, 0, 0, 2, 2, 2, 1, 1, 1, x, y, z);
  });
}
// Inner box 0.9 of the outer per axis: 27% of the outer volume is shell.
void BM_randBoxShell_CWW_thin(benchmark::State& s) {
  runSampler(s, [](double* x, double* y, double* z) {
    randBoxShell_CWW(0, 0, 0, 2, 2, 2, 1.8, 1.8, 1.8, x, y, z);
  });
}
void BM_randSphere(benchmark::State& s) {
  runSampler(s, [](double* x, double* y, double* z) { randSphere(0, 0, 0, 1, x, y, z); });
}
void BM_randSphereShell(benchmark::State& s) {
  runSampler(s, [](double* x, double* y, double* z) { randSphereShell(0, 0, 0, 0.5, 1, x, y, z); });
}
void BM_randCylinder(benchmark::State& s) {
  runSampler(s, [](double* x, double* y, double* z) { randCylinder(0, 0, 0, 1, 2, x, y, z); });
}
void BM_randCylinderShell(benchmark::State& s) {
  runSampler(
      s, [](double* x, double* y, double* z) { randCylinderShell(0, 0, 0, 0.5, 1, 2, x, y, z); });
}
BENCHMARK(BM_randBox_BBB);
BENCHMARK(BM_randBox_CW);
BENCHMARK(BM_randBoxShell_CWW);
BENCHMARK(BM_randBoxShell_CWW_thin);
BENCHMARK(BM_randSphere);
BENCHMARK(BM_randSphereShell);
BENCHMARK(BM_randCylinder);
BENCHMARK(BM_randCylinderShell);

}  // namespace

BENCHMARK_MAIN();
