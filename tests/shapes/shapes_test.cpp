// The six shape tests: open shapes (boundaries outside), shells as the
// points inside exactly one of their two shapes, NaN never inside.
#include <gtest/gtest.h>

#include <limits>

#include "geometry/geometry.h"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

}  // namespace

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
