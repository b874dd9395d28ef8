// Membership tests of the regions of the table, against the shape tests.
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
