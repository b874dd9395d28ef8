// Placement of random points in regions of the table.
#include <gtest/gtest.h>

#include <cmath>

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

// Squared distance from the centre (or from the x-parallel axis), allowing
// for the rounding of the samplers' last bits.
constexpr double kSlack = 1e-12;

TEST_F(Placement, PointsLieInTheirClosedShapes) {
  seed(11);
  for (int i = 0; i < 5000; ++i) {
    double x, y, z;
    createToRegion(0, &x, &y, &z);
    ASSERT_TRUE(x >= 0 && x <= 2 && y >= -3.5 && y <= -0.5 && z >= 1 && z <= 5);
    createToRegion(1, &x, &y, &z);
    ASSERT_TRUE(std::fabs(x) <= 1 && std::fabs(y - 1) <= 1 && std::fabs(z) <= 1);
    ASSERT_FALSE(std::fabs(x) < 0.5 && std::fabs(y - 1) < 0.5 && std::fabs(z) < 0.5);
    createToRegion(2, &x, &y, &z);
    ASSERT_LE((x - 0.5) * (x - 0.5) + y * y + (z + 1) * (z + 1), 2.25 + kSlack);
    createToRegion(3, &x, &y, &z);
    double d2 = x * x + y * y + z * z;
    ASSERT_TRUE(d2 >= 1 - kSlack && d2 <= 4 + kSlack);
    createToRegion(4, &x, &y, &z);
    ASSERT_TRUE(x >= -1 && x <= 3);
    ASSERT_LE((y - 2) * (y - 2) + (z - 3) * (z - 3), 1 + kSlack);
    createToRegion(5, &x, &y, &z);
    d2 = (y - 2) * (y - 2) + (z - 5) * (z - 5);
    ASSERT_TRUE(x >= -1.5 && x <= 1.5 && d2 >= 1 - kSlack && d2 <= 4 + kSlack);
  }
}

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
// draws give the same point as the direct call.
TEST_F(Placement, DispatchesToTheSamplerOfEachType) {
  auto same = [](int id, auto&& direct) {
    double a[3], b[3];
    seed(99);
    createToRegion(id, &a[0], &a[1], &a[2]);
    seed(99);
    direct(&b[0], &b[1], &b[2]);
    EXPECT_EQ(a[0], b[0]) << id;
    EXPECT_EQ(a[1], b[1]) << id;
    EXPECT_EQ(a[2], b[2]) << id;
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
