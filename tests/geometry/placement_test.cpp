// Placement of random points in regions of the table.
#include <gtest/gtest.h>

#include <vector>

#include "geometry/geometry.h"
#include "geometry/regionTable.h"
#include "sampling/drawSource.h"
#include "sampling/randomNumber.h"
#include "testSupport.h"

namespace {

// Seeds the generator without its progress text.
void seed(unsigned value) {
  tavo::test::capturedStdout([&] { initRand_fromSeed(value); });
}

using tavo::test::fatalMessage;

class Placement : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    tavo::detail::resetRegionTable();
    tavo::test::writeFile("placement.txt",
                          "N_regions 7\n"
                          "0 box ( 1 -2 3 ) ( 2 3 4 )\n"
                          "1 boxshell ( 0 1 0 ) ( 2 2 2 1 1 1 )\n"
                          "2 sphere ( 0.5 0 -1 ) ( 1.5 )\n"
                          "3 sphereshell ( 0 0 0 ) ( 2 1 )\n"
                          "4 cylinder ( 1 2 3 ) ( 1 4 )\n"
                          "5 cylindershell ( 0 2 5 ) ( 2 1 3 )\n"
                          "6 sphere ( 1.25 -3 7 ) ( 0 )\n");
    tavo::test::capturedStdout([] { initGeometry_fromFile("placement.txt"); });
  }
};

TEST_F(Placement, RadiusZeroSphereGivesItsCentre) {
  seed(3);
  for (int i = 0; i < 100; ++i) {
    double x, y, z;
    createToRegion(6, &x, &y, &z);
    ASSERT_EQ(x, 1.25);
    ASSERT_EQ(y, -3.0);
    ASSERT_EQ(z, 7.0);
  }
}

// The region's numbers reach the sampler in their stored order: the same
// draws give the same points as the direct calls, so placement inherits the
// samplers' tested properties (uniform, within the closed shape, a box
// shell's points never strictly inside its second box).
TEST_F(Placement, DispatchesToTheSamplerOfEachType) {
  auto same = [](int id, auto&& direct) {
    std::vector<double> placed, drawn;
    seed(99);
    for (int i = 0; i < 200; ++i) {
      double x, y, z;
      createToRegion(id, &x, &y, &z);
      placed.insert(placed.end(), {x, y, z});
    }
    seed(99);
    for (int i = 0; i < 200; ++i) {
      double x, y, z;
      direct(&x, &y, &z);
      drawn.insert(drawn.end(), {x, y, z});
    }
    EXPECT_EQ(placed, drawn) << id;
  };
  same(0, [](double* x, double* y, double* z) { randBox_CW(1, -2, 3, 2, 3, 4, x, y, z); });
  same(1, [](double* x, double* y, double* z) {
    randBoxShell_CWW(0, 1, 0, 2, 2, 2, 1, 1, 1, x, y, z);
  });
  same(2, [](double* x, double* y, double* z) { randSphere(0.5, 0, -1, 1.5, x, y, z); });
  same(3, [](double* x, double* y, double* z) { randSphereShell(0, 0, 0, 2, 1, x, y, z); });
  same(4, [](double* x, double* y, double* z) { randCylinder(1, 2, 3, 1, 4, x, y, z); });
  same(5, [](double* x, double* y, double* z) { randCylinderShell(0, 2, 5, 2, 1, 3, x, y, z); });
}

TEST_F(Placement, RegionIDOutsideTheTableIsRefused) {
  double x, y, z;
  EXPECT_EQ(fatalMessage([&] { createToRegion(7, &x, &y, &z); }),
            "(createToRegion) regionID 7 out of range, the table holds 7 regions!");
  EXPECT_EQ(fatalMessage([&] { createToRegion(-3, &x, &y, &z); }),
            "(createToRegion) regionID -3 out of range, the table holds 7 regions!");
}

TEST(PlacementUnloaded, IsRefused) {
  tavo::detail::resetRegionTable();
  double x, y, z;
  EXPECT_EQ(fatalMessage([&] { createToRegion(0, &x, &y, &z); }),
            "(createToRegion) Geometry not initialized yet!");
}

// A negative radius is accepted by the loader (membership squares it) but
// placement refuses it rather than draw NaN coordinates.
TEST(PlacementNegativeRadius, IsRefusedByTheSampler) {
  tavo::detail::resetRegionTable();
  tavo::test::writeFile("negative.txt", "N_regions 1\n0 sphere ( 0 0 0 ) ( -1 )\n");
  tavo::test::capturedStdout([] { initGeometry_fromFile("negative.txt"); });
  double x, y, z;
  EXPECT_EQ(fatalMessage([&] { createToRegion(0, &x, &y, &z); }),
            "(randSphere) radius -1 is negative or not a number!");
}

}  // namespace
