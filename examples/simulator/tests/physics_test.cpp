// Physical behaviour of the step: diffusion, conservation, equilibrium and
// confinement to regions.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "datastore/dataFetcher.h"
#include "geometry/geometry.h"
#include "simTestSupport.h"

namespace tavosim::test {
namespace {

TEST(SimulatorPhysicsTest, FreeDiffusionGivesMeanSquareDisplacementSixDt) {
  const double d = 1e-12, timeStep = 1e-6;
  const int n = 4000;
  Simulation sim;
  loadWorld(setupText({{"A", d, n, n, kHugeBox}}, {}, {}, 100, timeStep), 11, sim);
  std::vector<double> x0(n), y0(n), z0(n);
  for (int i = 0; i < n; ++i) position(0, i, &x0[i], &y0[i], &z0[i]);

  // |displacement|^2 / (2 D t) follows chi-square with 3 degrees of freedom:
  // the mean over n molecules has a relative spread of sqrt(6)/3/sqrt(n),
  // 1.3 % here; allow five times that.
  const double tolerance = 5.0 * std::sqrt(6.0) / 3.0 / std::sqrt(static_cast<double>(n));
  for (int steps = 1; steps <= 20; ++steps) {
    step(sim);
    if (steps != 1 && steps != 5 && steps != 20) continue;
    double sum = 0;
    for (int i = 0; i < n; ++i) {
      ASSERT_TRUE(alive(0, i));
      double x, y, z;
      position(0, i, &x, &y, &z);
      sum += dist3D2(x, y, z, x0[i], y0[i], z0[i]);
    }
    const double expected = 6.0 * d * steps * timeStep;
    EXPECT_NEAR(sum / n / expected, 1.0, tolerance) << "after " << steps << " steps";
  }
  EXPECT_EQ(sim.total.rejectedMoves, 0);
  EXPECT_EQ(sim.total.moves, 20 * n);
}

// A + B <-> C in the small box; species IDs 0, 1, 2.
std::string bindingSetup(int a, int b, double diffusion, double kf, double kr) {
  char fwd[100], rev[100];
  std::snprintf(fwd, sizeof fwd, "f 0 + 1 = 2 ; kf %.17g ;", kf);
  std::snprintf(rev, sizeof rev, "r 2 = 0 + 1 ; kr %.17g ;", kr);
  return setupText({{"A", diffusion, a, a, kSmallBox},
                    {"B", diffusion, b, b, kSmallBox},
                    {"C", diffusion, std::min(a, b), 0, kSmallBox}},
                   {fwd}, {rev}, 1000, 1e-6);
}

int countFlags(int s) {
  int count = 0;
  for (int i = 0; i < speciePopulation(s); ++i) count += alive(s, i) ? 1 : 0;
  return count;
}

TEST(SimulatorPhysicsTest, ReversibleBindingKeepsAPlusCAndBPlusCAtEveryStep) {
  Simulation sim;
  loadWorld(bindingSetup(120, 80, 2.5e-9, 1e-15, 2e4), 5, sim);
  for (int k = 0; k < 300; ++k) {
    step(sim);
    const int a = alivePopulation(0), b = alivePopulation(1), c = alivePopulation(2);
    ASSERT_EQ(a + c, 120) << "step " << k;
    ASSERT_EQ(b + c, 80) << "step " << k;
    ASSERT_EQ(countFlags(0), a);
    ASSERT_EQ(countFlags(2), c);
  }
  EXPECT_GT(sim.total.bimolecular, 50);
  EXPECT_GT(sim.total.unimolecular, 50);
}

TEST(SimulatorPhysicsTest, ReversibleBindingSettlesAtItsEquilibrium) {
  // In molecule counts, nC / (nA nB) = kf / (kr V) = 0.01 at equilibrium; with
  // 200 A, 200 B and no C at the start that gives nC = 100. The rms relative
  // step is about 3.5 reaction radii, the regime the radius is exact in up
  // to a few per cent.
  const double volume = 1e-18, kr = 1e4, kf = 0.01 * kr * volume;
  Simulation sim;
  loadWorld(bindingSetup(200, 200, 2.5e-9, kf, kr), 3, sim);
  double sum = 0;
  int samples = 0;
  for (int k = 0; k < 3000; ++k) {
    step(sim);
    if (k >= 500) {
      sum += alivePopulation(2);
      ++samples;
    }
  }
  EXPECT_NEAR(sum / samples, 100.0, 6.0);
}

TEST(SimulatorPhysicsTest, ReverseReactionWithSeventyProductsFires) {
  std::string products = "1";
  for (int k = 1; k < 70; ++k) products += " + 1";
  std::string setup = setupText({{"A", 0, 1, 1, kSmallBox}, {"B", 0, 80, 0, kSmallBox}}, {},
                                {"r 0 = " + products + " ; kr 1e12 ;"}, 10, 1e-6);
  setup.replace(setup.find("rev_max_mol 2"), 13, "rev_max_mol 70");
  Simulation sim;
  loadWorld(setup, 1, sim);
  step(sim);  // kr dt = 1e6: fires with certainty
  EXPECT_EQ(sim.total.unimolecular, 1);
  EXPECT_EQ(alivePopulation(0), 0);
  EXPECT_EQ(alivePopulation(1), 70);
}

TEST(SimulatorPhysicsTest, NoMoleculeIsEverOutsideItsRegion) {
  // Fast diffusion in thin shells makes many moves cross a boundary; the
  // products of P + Q -> R stand where R may not be, and R + S -> S puts S
  // back in its box.
  const std::string setup = setupText({{"P", 1e-8, 300, 150, kBoxShell},
                                       {"Q", 1e-8, 300, 150, kCylinderShell},
                                       {"R", 5e-9, 300, 100, kSphere},
                                       {"S", 1e-8, 300, 60, kSphereShell},
                                       {"T", 1e-8, 300, 60, kCylinder}},
                                      {"f 0 + 1 = 2 ; kf 1e-15 ;", "f 2 + 3 = 4 ; kf 1e-15 ;"},
                                      {"r 2 = 0 + 1 ; kr 1e4 ;", "r 4 = 3 ; kr 1e4 ;"}, 100, 1e-6);
  Simulation sim;
  loadWorld(setup, 9, sim);
  for (int k = 0; k < 60; ++k) {
    step(sim);
    for (int s = 0; s < numSpecies(); ++s) {
      for (int i = 0; i < speciePopulation(s); ++i) {
        if (!alive(s, i)) continue;
        double x, y, z;
        position(s, i, &x, &y, &z);
        ASSERT_TRUE(inRegion(x, y, z, specieRegion(s)))
            << "step " << k << " species " << s << " slot " << i;
      }
    }
  }
  EXPECT_GT(sim.total.rejectedMoves, 0);
  EXPECT_GT(sim.total.bimolecular + sim.total.unimolecular, 0);
}

}  // namespace
}  // namespace tavosim::test
