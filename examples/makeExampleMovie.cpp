// makeExampleMovie.cpp - writes the example movie shipped in examples/: a toy
// reaction-diffusion run of A + B -> AB -> P -> A + B in a sphere, with A
// starting in the left half and B in the right half so that a reaction front
// forms where they meet. Deterministic: the same program writes the same file
// on every machine.
//
// Usage: makeExampleMovie example.Tavosetup example.Tavomovie
// The output is replaced, not appended to. The shipped copy is compressed:
//   gzip -9 -n -c example.Tavomovie > examples/example.Tavomovie.gz
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "datastore/dataFetcher.h"

namespace {

constexpr int kA = 0, kB = 1, kAB = 2, kP = 3;
constexpr double kSphereRadius = 2.0e-6;  // metres; 2 scene units in the viewer
constexpr double kReactionDistance = 0.08e-6;
constexpr double kBindProbability = 0.8;      // per close A-B pair and step
constexpr double kConvertProbability = 0.02;  // AB -> P per step
constexpr double kSplitProbability = 0.01;    // P -> A + B per step
constexpr double kGrid =
    1.0e-8;  // positions rounded to 10 nm (0.4 pixel at the start view): compresses well
const double kStepSigma[4] = {0.04e-6, 0.04e-6, 0.025e-6, 0.03e-6};  // per axis and step

// Uniform and Gaussian draws built on the raw 64-bit Mersenne Twister output,
// which the C++ standard fixes bit for bit (the standard distributions are
// not), so the movie is the same with every standard library.
struct Draws {
  std::mt19937_64 engine{20240601};
  double uniform() { return static_cast<double>(engine() >> 11) * 0x1.0p-53; }
  double gaussian() {
    const double u = 1.0 - uniform();
    return std::sqrt(-2.0 * std::log(u)) * std::cos(6.283185307179586 * uniform());
  }
};

double snap(double v) { return std::nearbyint(v / kGrid) * kGrid; }

void place(int s, int i, double x, double y, double z) {
  // Reflect at the sphere wall so molecules stay inside.
  const double r = std::sqrt(x * x + y * y + z * z);
  if (r > kSphereRadius) {
    const double k = (2.0 * kSphereRadius - r) / r;
    x *= k;
    y *= k;
    z *= k;
  }
  setPosition(s, i, snap(x), snap(y), snap(z));
}

void pointInSphere(Draws& d, double& x, double& y, double& z) {
  do {
    x = (2.0 * d.uniform() - 1.0) * kSphereRadius;
    y = (2.0 * d.uniform() - 1.0) * kSphereRadius;
    z = (2.0 * d.uniform() - 1.0) * kSphereRadius;
  } while (x * x + y * y + z * z > kSphereRadius * kSphereRadius);
}

void addMolecule(int s, double x, double y, double z) {
  const int i = findFirstDeadIndex(s);
  setAlive(s, i, true);
  place(s, i, x, y, z);
}

void diffuse(Draws& d) {
  for (int s = 0; s < numSpecies(); ++s)
    for (int i = 0; i < speciePopulation(s); ++i) {
      if (!alive(s, i)) continue;
      double x, y, z;
      position(s, i, &x, &y, &z);
      place(s, i, x + kStepSigma[s] * d.gaussian(), y + kStepSigma[s] * d.gaussian(),
            z + kStepSigma[s] * d.gaussian());
    }
}

void react(Draws& d) {
  // P -> A + B and AB -> P first, so that new molecules wait a step.
  for (int i = 0; i < speciePopulation(kP); ++i) {
    if (!alive(kP, i) || d.uniform() >= kSplitProbability) continue;
    double x, y, z;
    position(kP, i, &x, &y, &z);
    setAlive(kP, i, false);
    const double dx = 0.04e-6 * d.gaussian(), dy = 0.04e-6 * d.gaussian();
    addMolecule(kA, x + dx, y + dy, z);
    addMolecule(kB, x - dx, y - dy, z);
  }
  for (int i = 0; i < speciePopulation(kAB); ++i) {
    if (!alive(kAB, i) || d.uniform() >= kConvertProbability) continue;
    double x, y, z;
    position(kAB, i, &x, &y, &z);
    setAlive(kAB, i, false);
    addMolecule(kP, x, y, z);
  }
  // A + B -> AB at the midpoint of a close pair.
  std::vector<int> freeB;
  for (int j = 0; j < speciePopulation(kB); ++j)
    if (alive(kB, j)) freeB.push_back(j);
  for (int i = 0; i < speciePopulation(kA); ++i) {
    if (!alive(kA, i)) continue;
    for (int& j : freeB) {
      if (j < 0 || !withinDist(kA, i, kB, j, kReactionDistance)) continue;
      if (d.uniform() >= kBindProbability) break;
      double ax, ay, az, bx, by, bz;
      position(kA, i, &ax, &ay, &az);
      position(kB, j, &bx, &by, &bz);
      setAlive(kA, i, false);
      setAlive(kB, j, false);
      j = -1;
      addMolecule(kAB, (ax + bx) / 2, (ay + by) / 2, (az + bz) / 2);
      break;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: makeExampleMovie example.Tavosetup example.Tavomovie\n", stderr);
    return 2;
  }
  initDataStructure_fromFile(argv[1]);
  std::remove(argv[2]);  // the writer appends

  Draws d;
  // A in the left half of the sphere, B in the right half.
  for (int s : {kA, kB})
    for (int i = 0; i < alivePopulation(s); ++i) {
      double x, y, z;
      do pointInSphere(d, x, y, z);
      while ((s == kA) != (x < 0.0));
      place(s, i, x, y, z);
    }
  for (int step = 0; step < totalStep(); ++step) {
    if (step > 0) {
      diffuse(d);
      react(d);
    }
    createMovie_toFile(argv[2], step);
  }
  std::printf("wrote %d steps to %s; alive at the end: A %d, B %d, AB %d, P %d\n", totalStep(),
              argv[2], alivePopulation(kA), alivePopulation(kB), alivePopulation(kAB),
              alivePopulation(kP));
  deleteDataStructure();
  return 0;
}
