// Membership tests of the six shapes and of regions of the table.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "geometry/geometry.h"
#include "geometry/regionTable.h"
#include "sampling/randomNumber.h"
#include "testSupport.h"

namespace {

// Seeds the generator without its progress text.
void seed(unsigned value) {
  tavo::test::capturedStdout([&] { initRand_fromSeed(value); });
}

using tavo::test::fatalMessage;

const double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(Membership, BoxIsOpen) {
  EXPECT_TRUE(inBox(0, 0, 0, 2, 2, 2, 0.5, 0.5, 0.5));
  EXPECT_FALSE(inBox(0, 0, 0, 2, 2, 2, 1, 0, 0));
  EXPECT_FALSE(inBox(0, 0, 0, 2, 2, 2, -1, 0, 0));
  EXPECT_FALSE(inBox(0, 0, 0, 2, 2, 2, 0, 1, 0));
  EXPECT_FALSE(inBox(0, 0, 0, 2, 2, 2, 0, 0, -1));
  EXPECT_TRUE(inBox(1, 2, 3, 2, 4, 6, 1.99, 3.99, 5.99));
  EXPECT_FALSE(inBox(0, 0, 0, 0, 2, 2, 0, 0, 0));  // zero width holds nothing
}

TEST(Membership, SphereSurfaceIsOutside) {
  EXPECT_TRUE(inSphere(0, 0, 0, 1, 0.5, 0.5, 0.5));
  EXPECT_FALSE(inSphere(0, 0, 0, 1, 1, 0, 0));
  EXPECT_FALSE(inSphere(0, 0, 0, 1, 0, 0, -1));
  EXPECT_FALSE(inSphere(0, 0, 0, 1, 0.6, 0.6, 0.6));  // each axis inside, the sum not
  EXPECT_FALSE(inSphere(1, 1, 1, 0, 1, 1, 1));        // radius 0 holds not even its centre
}

TEST(Membership, SphereShellInEitherOrder) {
  for (auto [r1, r2] : {std::pair{1.0, 2.0}, std::pair{2.0, 1.0}}) {
    EXPECT_TRUE(inSphereShell(0, 0, 0, r1, r2, 1, 0, 0));  // inner surface belongs to the shell
    EXPECT_TRUE(inSphereShell(0, 0, 0, r1, r2, 0, 1.5, 0));
    EXPECT_FALSE(inSphereShell(0, 0, 0, r1, r2, 0, 0, 2));
    EXPECT_FALSE(inSphereShell(0, 0, 0, r1, r2, 0.5, 0, 0));
  }
}

TEST(Membership, CylinderMantleAndEndPlanesAreOutside) {
  EXPECT_TRUE(inCylinder(0, 0, 0, 1, 4, 1.9, 0.5, 0.5));
  EXPECT_FALSE(inCylinder(0, 0, 0, 1, 4, 2, 0, 0));
  EXPECT_FALSE(inCylinder(0, 0, 0, 1, 4, -2, 0, 0));
  EXPECT_FALSE(inCylinder(0, 0, 0, 1, 4, 0, 1, 0));
  EXPECT_FALSE(inCylinder(0, 0, 0, 1, 4, 0, 0, 1.5));
  EXPECT_FALSE(inCylinder(0, 0, 0, 1, 0, 0, 0, 0));  // zero length
  EXPECT_FALSE(inCylinder(0, 0, 0, 0, 4, 0, 0, 0));  // zero radius
}

TEST(Membership, CylinderShellInEitherOrder) {
  for (auto [r1, r2] : {std::pair{1.0, 2.0}, std::pair{2.0, 1.0}}) {
    EXPECT_TRUE(inCylinderShell(0, 2, 5, r1, r2, 4, 0, 3, 5));  // on the inner mantle
    EXPECT_TRUE(inCylinderShell(0, 2, 5, r1, r2, 4, 1.9, 2, 6.5));
    EXPECT_FALSE(inCylinderShell(0, 2, 5, r1, r2, 4, 0, 2, 5.5));
    EXPECT_FALSE(inCylinderShell(0, 2, 5, r1, r2, 4, 2, 2, 6.5));  // end plane
  }
}

TEST(Membership, BoxShellIsTheSymmetricDifference) {
  // Nested: the inner faces belong to the shell, the outer ones do not.
  EXPECT_TRUE(inBoxShell(0, 0, 0, 2, 2, 2, 1, 1, 1, 0.75, 0, 0));
  EXPECT_TRUE(inBoxShell(0, 0, 0, 2, 2, 2, 1, 1, 1, 0.5, 0, 0));
  EXPECT_FALSE(inBoxShell(0, 0, 0, 2, 2, 2, 1, 1, 1, 0.25, 0, 0));
  EXPECT_FALSE(inBoxShell(0, 0, 0, 2, 2, 2, 1, 1, 1, 1, 0, 0));
  EXPECT_TRUE(inBoxShell(0, 0, 0, 1, 1, 1, 2, 2, 2, 0.75, 0, 0));  // either order
  // Equal boxes hold nothing; crossing boxes hold either box outside the other.
  EXPECT_FALSE(inBoxShell(0, 0, 0, 2, 2, 2, 2, 2, 2, 0, 0, 0));
  EXPECT_TRUE(inBoxShell(0, 0, 0, 2, 1, 1, 1, 2, 2, 0.75, 0, 0));
  EXPECT_TRUE(inBoxShell(0, 0, 0, 2, 1, 1, 1, 2, 2, 0, 0.75, 0));
  EXPECT_FALSE(inBoxShell(0, 0, 0, 2, 1, 1, 1, 2, 2, 0, 0, 0));
  EXPECT_FALSE(inBoxShell(0, 0, 0, 2, 1, 1, 1, 2, 2, 0.75, 0.75, 0));
}

TEST(Membership, NaNIsNeverInside) {
  EXPECT_FALSE(inBox(0, 0, 0, 2, 2, 2, kNaN, 0, 0));
  EXPECT_FALSE(inBox(0, 0, 0, 2, kNaN, 2, 0, 0, 0));
  EXPECT_FALSE(inSphere(0, 0, 0, 1, 0, 0, kNaN));
  EXPECT_FALSE(inSphere(0, 0, 0, kNaN, 0, 0, 0));
  EXPECT_FALSE(inCylinder(0, 0, 0, 1, 4, kNaN, 0, 0));
  EXPECT_FALSE(inCylinder(0, 0, 0, 1, 4, 0, kNaN, 0));
  EXPECT_FALSE(inBoxShell(0, 0, 0, 2, 2, 2, 1, 1, 1, kNaN, 0.75, 0));
  EXPECT_FALSE(inSphereShell(0, 0, 0, 1, 2, kNaN, 0, 0));
  EXPECT_FALSE(inCylinderShell(0, 0, 0, 1, 2, 4, 0, kNaN, 0));
}

class RegionTable : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    tavo::detail::resetRegionTable();
    tavo::test::writeFile("membership.txt",
                          "N_regions 6\n"
                          "0 box ( 1 -2 3 ) ( 2 3 4 )\n"
                          "1 boxshell ( 0 1 0 ) ( 3 2 2 1 1 3 )\n"
                          "2 sphere ( 0.5 0 -1 ) ( 1.5 )\n"
                          "3 sphereshell ( 0 0 0 ) ( 2 1 )\n"
                          "4 cylinder ( 1 2 3 ) ( 1 4 )\n"
                          "5 cylindershell ( 0 2 5 ) ( 2 1 3 )\n");
    tavo::test::capturedStdout([] { initGeometry_fromFile("membership.txt"); });
  }
};

// For each type, inRegion answers as the shape test called with the stored
// numbers, on random points and on the grid of quarter steps (faces included).
TEST_F(RegionTable, InRegionAgreesWithTheShapeTests) {
  auto direct = [](int id, double x, double y, double z) {
    switch (id) {
      case 0:
        return inBox(1, -2, 3, 2, 3, 4, x, y, z);
      case 1:
        return inBoxShell(0, 1, 0, 3, 2, 2, 1, 1, 3, x, y, z);
      case 2:
        return inSphere(0.5, 0, -1, 1.5, x, y, z);
      case 3:
        return inSphereShell(0, 0, 0, 2, 1, x, y, z);
      case 4:
        return inCylinder(1, 2, 3, 1, 4, x, y, z);
      default:
        return inCylinderShell(0, 2, 5, 2, 1, 3, x, y, z);
    }
  };
  seed(7);
  int inside[6] = {};
  for (int id = 0; id < 6; ++id) {
    for (int i = 0; i < 4000; ++i) {
      double x = random_number(-4, 4), y = random_number(-4, 4), z = random_number(-2, 8);
      ASSERT_EQ(inRegion(x, y, z, id), direct(id, x, y, z)) << id << " " << x << " " << y;
      inside[id] += inRegion(x, y, z, id);
    }
    for (double x = -4; x <= 4; x += 0.25)
      for (double y = -4; y <= 4; y += 0.25)
        for (double z = -2; z <= 8; z += 0.25)
          ASSERT_EQ(inRegion(x, y, z, id), direct(id, x, y, z)) << id;
    EXPECT_GT(inside[id], 0) << id;
  }
}

TEST_F(RegionTable, RegionIDOutsideTheTableIsRefused) {
  EXPECT_EQ(fatalMessage([] { inRegion(0, 0, 0, 6); }),
            "(inRegion) regionID 6 out of range, the table holds 6 regions!");
  EXPECT_EQ(fatalMessage([] { inRegion(0, 0, 0, -1); }),
            "(inRegion) regionID -1 out of range, the table holds 6 regions!");
}

}  // namespace
