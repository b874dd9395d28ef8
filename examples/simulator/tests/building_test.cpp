// The simulator's building blocks: reaction radius, fine uniform draws and
// the cell list.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "sampling/randomNumber.h"
#include "simulator.h"

namespace tavosim {
namespace {

constexpr double kPi = 3.141592653589793;

TEST(ReactionRadiusTest, MatchesBothLimitsAndInvertsTheRate) {
  const double kf = 1e-18, timeStep = 1e-6;
  // Steps far larger than the radius: (4/3) pi sigma^3 = kf dt.
  EXPECT_NEAR(reactionRadius(kf, 1e-3, timeStep) / std::cbrt(3 * kf * timeStep / (4 * kPi)), 1.0,
              1e-4);
  // Steps far smaller: 4 pi D sigma = kf.
  EXPECT_NEAR(reactionRadius(kf, 1e-12, 1e-12) / (kf / (4 * kPi * 1e-12)), 1.0, 1e-4);
  for (double dSum : {0.0, 1e-14, 1e-12, 1e-10, 1e-8}) {
    for (double k : {1e-22, 1e-20, 1e-18, 1e-16}) {
      const double r = reactionRadius(k, dSum, timeStep);
      ASSERT_GT(r, 0);
      EXPECT_NEAR(rateForRadius(r, dSum, timeStep) / k, 1.0, 1e-9) << dSum << " " << k;
    }
  }
  EXPECT_EQ(reactionRadius(0, 1e-12, timeStep), 0);
  EXPECT_EQ(reactionRadius(-1, 1e-12, timeStep), 0);
}

TEST(UniformFineTest, ResolvesProbabilitiesFarBelowOneIn32767) {
  initRand_fromSeed(1234);
  const int n = 1000000;
  int below = 0;
  double sum = 0;
  for (int k = 0; k < n; ++k) {
    const double u = uniformFine();
    ASSERT_GT(u, 0.0);
    ASSERT_LT(u, 1.0);
    below += u < 1e-4 ? 1 : 0;
    sum += u;
  }
  EXPECT_NEAR(sum / n, 0.5, 0.002);
  // Expected 100 with a spread of 10; a 15-bit draw would give 4 / 32768 per
  // draw, 122 on average.
  EXPECT_GT(below, 65);
  EXPECT_LT(below, 135);
}

std::vector<Molecule> randomMolecules(int n, int species, double extent, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> coord(-extent, extent);
  std::vector<Molecule> out;
  for (int i = 0; i < n; ++i) out.push_back({i % species, i, coord(gen), coord(gen), coord(gen)});
  return out;
}

std::set<int> nearBySearch(const CellList& cells, double x, double y, double z, int species,
                           double d) {
  std::set<int> found;
  cells.forEachNear(x, y, z, species, [&](const Molecule& m) {
    EXPECT_EQ(m.species, species);
    const double d2 = (m.x - x) * (m.x - x) + (m.y - y) * (m.y - y) + (m.z - z) * (m.z - z);
    if (d2 < d * d) found.insert(m.slot);
  });
  return found;
}

TEST(CellListTest, FindsExactlyWhatAllPairsFind) {
  const int species = 3;
  const auto molecules = randomMolecules(3000, species, 1e-6, 7);
  for (double d : {1e-8, 5e-8, 2e-7, 3e-6}) {
    CellList cells;
    cells.build(molecules, d, species);
    EXPECT_GE(cells.cellSize(), d);
    EXPECT_LE(cells.cellCount() * species, 16 * 3000 + 8);
    for (int q = 0; q < 300; q += 7) {
      const Molecule& probe = molecules[q];
      for (int s = 0; s < species; ++s) {
        std::set<int> expected;
        for (const Molecule& m : molecules) {
          const double d2 = (m.x - probe.x) * (m.x - probe.x) + (m.y - probe.y) * (m.y - probe.y) +
                            (m.z - probe.z) * (m.z - probe.z);
          if (m.species == s && d2 < d * d) expected.insert(m.slot);
        }
        EXPECT_EQ(nearBySearch(cells, probe.x, probe.y, probe.z, s, d), expected);
      }
    }
  }
}

TEST(CellListTest, HandlesEmptyAndCoincidentMolecules) {
  CellList cells;
  cells.build({}, 1e-8, 2);
  EXPECT_TRUE(nearBySearch(cells, 0, 0, 0, 0, 1e-8).empty());

  std::vector<Molecule> same;
  for (int i = 0; i < 50; ++i) same.push_back({i % 2, i, 1e-7, 1e-7, 1e-7});
  cells.build(same, 1e-8, 2);
  EXPECT_EQ(nearBySearch(cells, 1e-7, 1e-7, 1e-7, 1, 1e-9).size(), 25u);
  // A point far outside the molecules' box is clamped to the border cells.
  EXPECT_TRUE(nearBySearch(cells, 5.0, 5.0, 5.0, 1, 1e-8).empty());
}

TEST(CellListTest, FindsNeighboursWhenMoleculesSpanMoreThanADouble) {
  // Species 0 near the lowest doubles, species 1 near the highest; within
  // each cluster the molecules are 1e301 apart.
  std::vector<Molecule> molecules;
  for (int k = 0; k < 10; ++k) {
    molecules.push_back({0, k, -1.7e308 + k * 1e301, 0, 0});
    molecules.push_back({1, k, 1.7e308 - k * 1e301, 0, 0});
  }
  CellList cells;
  cells.build(molecules, 1e302, 2);
  EXPECT_GE(cells.cellSize(), 1e302);
  auto found = [&](double x, int species) {
    std::set<int> slots;
    cells.forEachNear(x, 0, 0, species, [&](const Molecule& m) { slots.insert(m.slot); });
    return slots;
  };
  const std::set<int> all{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  EXPECT_EQ(found(-1.7e308, 0), all);
  EXPECT_EQ(found(1.7e308, 1), all);
  EXPECT_TRUE(found(-1.7e308, 1).empty());
}

}  // namespace
}  // namespace tavosim
