// Random primitives and shape samplers: exact draws through a script,
// uniformity by chi-square over equal-volume cells with a fixed seed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>
#include <set>
#include <string>
#include <vector>

#include "geometry/geometry.h"
#include "sampling/drawSource.h"
#include "sampling/randomNumber.h"
#include "scriptedDraws.h"
#include "testSupport.h"

namespace {

// Seeds the generator without its progress text.
void seed(unsigned value) {
  tavo::test::capturedStdout([&] { initRand_fromSeed(value); });
}

using tavo::detail::drawCount;
using tavo::test::fatalMessage;
using tavo::test::ScriptedDraws;

constexpr int kTop = 32767;

// ---------------------------------------------------------------------------
// Primitives
// ---------------------------------------------------------------------------

TEST(Primitives, RealDrawReachesBothEnds) {
  {
    ScriptedDraws s({0, kTop}, ScriptedDraws::cycling);
    EXPECT_EQ(random_number(0, 1), 0.0);
    EXPECT_EQ(random_number(0, 1), 1.0);
  }
  ScriptedDraws s({kTop, 0, 12345}, ScriptedDraws::cycling);
  EXPECT_EQ(random_number(3, -1), -1.0);  // reversed ends: between b and a
  EXPECT_EQ(random_number(3, -1), 3.0);
  unsigned long long before = drawCount();
  EXPECT_EQ(random_number(5, 5), 5.0);
  EXPECT_EQ(drawCount() - before, 1u);
}

TEST(Primitives, IntegerRanges) {
  ScriptedDraws s({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, kTop}, ScriptedDraws::cycling);
  EXPECT_EQ(random_integer(0, 0), 0);
  std::set<int> seen;
  for (int i = 0; i < 11; ++i) seen.insert(random_integer(3, 7));
  EXPECT_EQ(seen, (std::set<int>{3, 4, 5, 6, 7}));
  for (int i = 0; i < 11; ++i) {
    int v = random_integer(0, 99999);
    EXPECT_GE(v, 0);
    EXPECT_LE(v, kTop);
  }
  EXPECT_EQ(fatalMessage([] { random_integer(4, 3); }),
            "(random_integer) upper bound below lower bound, cannot draw from an empty range!");
}

TEST(Primitives, AnglesReachTheirEnds) {
  ScriptedDraws s({0, kTop}, ScriptedDraws::cycling);
  EXPECT_EQ(random_angle_phi(), 0.0);
  EXPECT_EQ(random_angle_phi(), std::numbers::pi);
  EXPECT_EQ(random_angle_theta(), 0.0);
  EXPECT_DOUBLE_EQ(random_angle_theta(), 2 * std::numbers::pi);
}

// Swapping the radii mirrors the draw, so both orders give the same radii.
TEST(Primitives, SwappedRadiiGiveTheSameDistribution) {
  for (int k : {0, 1, 777, 16383, 30000, kTop}) {
    double a, b, c, d;
    {
      ScriptedDraws s({k}, ScriptedDraws::cycling);
      a = random_radius_3Dhomogeneous(1, 2);
      c = random_radius_2Dhomogeneous(1, 2);
    }
    {
      ScriptedDraws s({kTop - k}, ScriptedDraws::cycling);
      b = random_radius_3Dhomogeneous(2, 1);
      d = random_radius_2Dhomogeneous(2, 1);
    }
    EXPECT_NEAR(a, b, 1e-13) << k;
    EXPECT_NEAR(c, d, 1e-13) << k;
  }
}

TEST(Primitives, NegativeRadiusIsRefusedBeforeDrawing) {
  unsigned long long before = drawCount();
  double x, y, z;
  EXPECT_EQ(fatalMessage([] { random_radius_3Dhomogeneous(-1, 2); }),
            "(random_radius_3Dhomogeneous) radius -1 is negative or not a number!");
  EXPECT_EQ(fatalMessage([] { random_radius_2Dhomogeneous(1, -0.5); }),
            "(random_radius_2Dhomogeneous) radius -0.5 is negative or not a number!");
  EXPECT_EQ(fatalMessage([&] { randSphere(0, 0, 0, -2, &x, &y, &z); }),
            "(randSphere) radius -2 is negative or not a number!");
  EXPECT_EQ(fatalMessage([&] { randSphereShell(0, 0, 0, 1, -2, &x, &y, &z); }),
            "(randSphereShell) radius -2 is negative or not a number!");
  EXPECT_EQ(fatalMessage([&] { randCylinder(0, 0, 0, -1, 4, &x, &y, &z); }),
            "(randCylinder) radius -1 is negative or not a number!");
  EXPECT_EQ(fatalMessage([&] { randCylinderShell(0, 0, 0, -1, 2, 4, &x, &y, &z); }),
            "(randCylinderShell) radius -1 is negative or not a number!");
  EXPECT_EQ(fatalMessage([&] { randSphere(0, 0, 0, std::nan(""), &x, &y, &z); }),
            "(randSphere) radius nan is negative or not a number!");
  EXPECT_EQ(drawCount(), before);
}

// ---------------------------------------------------------------------------
// Samplers with exact draws: conventions and draw order
// ---------------------------------------------------------------------------

TEST(Samplers, BoxesTakeOneDrawPerAxisInOrder) {
  ScriptedDraws s({0, kTop, 0}, ScriptedDraws::cycling);
  double x, y, z;
  randBox_BBB(1, 5, -1, -1, 2, 3, &x, &y, &z);  // corners need not be ordered
  EXPECT_EQ(x, 1.0);
  EXPECT_EQ(y, 2.0);
  EXPECT_EQ(z, -1.0);
  randBox_CW(1, 2, 3, 2, 4, 6, &x, &y, &z);
  EXPECT_EQ(x, 0.0);
  EXPECT_EQ(y, 4.0);
  EXPECT_EQ(z, 0.0);
}

// Draw 1 sets the radius, draw 2 the azimuth in the x-y plane from +x, draw
// 3 the polar angle from +z.
TEST(Samplers, SphereDrawsRadiusThenAzimuthThenPolarAngle) {
  const int d1 = 20000, d2 = 9000, d3 = 23000;
  ScriptedDraws s({d1, d2, d3}, ScriptedDraws::cycling);
  double x, y, z;
  unsigned long long before = drawCount();
  randSphere(1, 2, 3, 2, &x, &y, &z);
  EXPECT_EQ(drawCount() - before, 3u);
  double dx = x - 1, dy = y - 2, dz = z - 3, r = std::sqrt(dx * dx + dy * dy + dz * dz);
  EXPECT_NEAR(r, 2 * std::cbrt(double(d1) / kTop), 1e-12);
  EXPECT_NEAR(std::atan2(dy, dx), 2 * std::numbers::pi * d2 / kTop, 1e-12);
  EXPECT_NEAR(std::acos(dz / r), std::acos(1 - 2.0 * d3 / kTop), 1e-12);
}

// Draw 1 sets the radius, draw 2 the azimuth in the y-z plane from +y,
// draw 3 the position along the x axis.
TEST(Samplers, CylinderDrawsRadiusThenAzimuthThenLength) {
  const int d1 = 20000, d2 = 9000, d3 = 23000;
  ScriptedDraws s({d1, d2, d3}, ScriptedDraws::cycling);
  double x, y, z;
  unsigned long long before = drawCount();
  randCylinderShell(1, 2, 3, 2, 1, 4, &x, &y, &z);
  EXPECT_EQ(drawCount() - before, 3u);
  double dy = y - 2, dz = z - 3;
  EXPECT_NEAR(std::sqrt(dy * dy + dz * dz), std::sqrt(4 - 3.0 * d1 / kTop), 1e-12);
  EXPECT_NEAR(std::atan2(dz, dy), 2 * std::numbers::pi * d2 / kTop, 1e-12);
  EXPECT_NEAR(x, -1 + 4.0 * d3 / kTop, 1e-12);
}

TEST(Samplers, RadiusZeroSphereGivesTheCentreForThreeDraws) {
  seed(5);
  for (int i = 0; i < 50; ++i) {
    double x, y, z;
    unsigned long long before = drawCount();
    randSphere(-1.5, 2.25, 1e-7, 0, &x, &y, &z);
    ASSERT_EQ(drawCount() - before, 3u);
    ASSERT_EQ(x, -1.5);
    ASSERT_EQ(y, 2.25);
    ASSERT_EQ(z, 1e-7);
  }
}

// ---------------------------------------------------------------------------
// Uniformity: points binned into 64 cells of equal volume (4 x 4 x 4 in
// coordinates where the volume element is constant), chi-square against the
// expected count; every point is checked against the closed shape.
// ---------------------------------------------------------------------------

constexpr int kPoints = 64 * 600;

int bin4(double u) { return std::clamp(static_cast<int>(u * 4), 0, 3); }

// Chi-square of the non-empty-expected cells; df = cells - 1. The bound is
// df + 6 sqrt(2 df): generous, and the seed is fixed.
void expectUniform(const std::vector<int>& counts, const std::vector<bool>& expectEmpty,
                   const std::string& what) {
  int cells = 0, total = 0;
  for (size_t i = 0; i < counts.size(); ++i)
    if (!expectEmpty[i]) {
      ++cells;
      total += counts[i];
    } else {
      EXPECT_EQ(counts[i], 0) << what << " cell " << i;
    }
  double expected = double(total) / cells, chi2 = 0;
  for (size_t i = 0; i < counts.size(); ++i)
    if (!expectEmpty[i]) chi2 += (counts[i] - expected) * (counts[i] - expected) / expected;
  double df = cells - 1;
  EXPECT_LT(chi2, df + 6 * std::sqrt(2 * df)) << what;
}

// Draws kPoints with `sample` and bins them with `cell`, which returns -1 for
// a point outside the closed shape.
void checkSampler(const std::string& what,
                  const std::function<void(double*, double*, double*)>& sample,
                  const std::function<int(double, double, double)>& cell,
                  std::vector<bool> expectEmpty = std::vector<bool>(64, false)) {
  seed(20240501);
  std::vector<int> counts(64, 0);
  for (int i = 0; i < kPoints; ++i) {
    double x, y, z;
    sample(&x, &y, &z);
    int c = cell(x, y, z);
    ASSERT_GE(c, 0) << what << ": point (" << x << ", " << y << ", " << z << ") outside";
    ++counts[c];
  }
  expectUniform(counts, expectEmpty, what);
}

constexpr double kSlack = 1e-12;

// Cell of a point in the box [lo, hi] per axis, or -1 outside it.
int boxCell(const double lo[3], const double hi[3], double x, double y, double z) {
  double p[3] = {x, y, z};
  int c = 0;
  for (int k = 0; k < 3; ++k) {
    if (p[k] < lo[k] || p[k] > hi[k]) return -1;
    c = c * 4 + bin4((p[k] - lo[k]) / (hi[k] - lo[k]));
  }
  return c;
}

// Cell of a point in the spherical shell between radii a <= b about c: r^3,
// cos(polar angle) and azimuth are uniform.
int sphereCell(double cx, double cy, double cz, double a, double b, double x, double y, double z) {
  double dx = x - cx, dy = y - cy, dz = z - cz, r2 = dx * dx + dy * dy + dz * dz;
  if (r2 < a * a * (1 - kSlack) || r2 > b * b * (1 + kSlack)) return -1;
  double r = std::sqrt(r2);
  double u = (r * r * r - a * a * a) / (b * b * b - a * a * a);
  double cosPhi = r > 0 ? dz / r : 1;
  double theta = std::atan2(dy, dx);
  return (bin4(u) * 4 + bin4((cosPhi + 1) / 2)) * 4 +
         bin4((theta + std::numbers::pi) / (2 * std::numbers::pi));
}

// Cell of a point in the cylindrical shell between radii a <= b, length L,
// axis along x: r^2, azimuth and x are uniform.
int cylinderCell(double cx, double cy, double cz, double a, double b, double L, double x, double y,
                 double z) {
  double dy = y - cy, dz = z - cz, r2 = dy * dy + dz * dz;
  if (r2 < a * a * (1 - kSlack) || r2 > b * b * (1 + kSlack)) return -1;
  if (x < cx - L / 2 || x > cx + L / 2) return -1;
  double u = (r2 - a * a) / (b * b - a * a);
  double theta = std::atan2(dz, dy);
  return (bin4(u) * 4 + bin4((theta + std::numbers::pi) / (2 * std::numbers::pi))) * 4 +
         bin4((x - cx + L / 2) / L);
}

TEST(Uniformity, Boxes) {
  const double lo[3] = {-1, 2, -3}, hi[3] = {1, 5, 1};
  auto cell = [&](double x, double y, double z) { return boxCell(lo, hi, x, y, z); };
  checkSampler(
      "randBox_BBB",
      [](double* x, double* y, double* z) { randBox_BBB(1, 2, 1, -1, 5, -3, x, y, z); }, cell);
  checkSampler(
      "randBox_CW",
      [](double* x, double* y, double* z) { randBox_CW(0, 3.5, -1, 2, 3, 4, x, y, z); }, cell);
}

// Outer box (2, 2, 2), inner (1, 1, 1) about (1, 0, -1): the inner box is
// exactly the 8 central cells, which must stay empty.
TEST(Uniformity, BoxShellFillsTheOuterBoxMinusTheInner) {
  const double lo[3] = {0, -1, -2}, hi[3] = {2, 1, 0};
  std::vector<bool> inner(64, false);
  for (int i = 1; i <= 2; ++i)
    for (int j = 1; j <= 2; ++j)
      for (int k = 1; k <= 2; ++k) inner[(i * 4 + j) * 4 + k] = true;
  checkSampler(
      "randBoxShell_CWW",
      [](double* x, double* y, double* z) {
        randBoxShell_CWW(1, 0, -1, 2, 2, 2, 1, 1, 1, x, y, z);
        // Never strictly inside the inner box.
        EXPECT_FALSE(std::fabs(*x - 1) < 0.5 && std::fabs(*y) < 0.5 && std::fabs(*z + 1) < 0.5);
      },
      [&](double x, double y, double z) { return boxCell(lo, hi, x, y, z); }, inner);
}

TEST(Uniformity, SpheresAndSphereShellsInEitherOrder) {
  checkSampler(
      "randSphere", [](double* x, double* y, double* z) { randSphere(1, -2, 3, 1.5, x, y, z); },
      [](double x, double y, double z) { return sphereCell(1, -2, 3, 0, 1.5, x, y, z); });
  auto shell = [](double x, double y, double z) { return sphereCell(0, 0, 5, 1, 2, x, y, z); };
  checkSampler(
      "randSphereShell(1, 2)",
      [](double* x, double* y, double* z) { randSphereShell(0, 0, 5, 1, 2, x, y, z); }, shell);
  checkSampler(
      "randSphereShell(2, 1)",
      [](double* x, double* y, double* z) { randSphereShell(0, 0, 5, 2, 1, x, y, z); }, shell);
}

TEST(Uniformity, CylindersAndCylinderShellsInEitherOrder) {
  checkSampler(
      "randCylinder",
      [](double* x, double* y, double* z) { randCylinder(1, 2, 3, 0.5, 4, x, y, z); },
      [](double x, double y, double z) { return cylinderCell(1, 2, 3, 0, 0.5, 4, x, y, z); });
  auto shell = [](double x, double y, double z) { return cylinderCell(0, 2, 5, 1, 2, 3, x, y, z); };
  checkSampler(
      "randCylinderShell(1, 2)",
      [](double* x, double* y, double* z) { randCylinderShell(0, 2, 5, 1, 2, 3, x, y, z); }, shell);
  checkSampler(
      "randCylinderShell(2, 1)",
      [](double* x, double* y, double* z) { randCylinderShell(0, 2, 5, 2, 1, 3, x, y, z); }, shell);
}

// ---------------------------------------------------------------------------
// Box shell: rejection, and shells that no draw can satisfy
// ---------------------------------------------------------------------------

TEST(BoxShell, RejectsCandidatesThreeDrawsAtATime) {
  ScriptedDraws s({16383, 16383, 16383, 100, 16383, 16383},
                  ScriptedDraws::cycling);  // inner box, then the shell
  double x, y, z;
  unsigned long long before = drawCount();
  randBoxShell_CWW(0, 0, 0, 2, 2, 2, 1, 1, 1, &x, &y, &z);
  EXPECT_EQ(drawCount() - before, 6u);
  EXPECT_DOUBLE_EQ(x, -1 + 200.0 / kTop);
}

TEST(BoxShell, ShellWithoutAReachablePointIsRefused) {
  double x, y, z;
  const std::string head = "(randBoxShell_CWW) no point that can be drawn in the first box ";
  const std::string tail = " lies inside exactly one of it and the second box ";
  // Equal boxes, boxes flat along x, and a shell thinner than the step
  // between two draws: none of them has a point the draws can reach.
  EXPECT_EQ(fatalMessage([&] { randBoxShell_CWW(0, 0, 0, 2, 2, 2, 2, 2, 2, &x, &y, &z); }),
            head + "(2 2 2)" + tail + "(2 2 2): the shell is empty or thinner than a draw step!");
  EXPECT_EQ(fatalMessage([&] {
              randBoxShell_CWW(0, 0, 0, 0, 2, 2, 0, 1, 1, &x, &y, &z);
            }).substr(0, head.size()),
            head);
  EXPECT_EQ(fatalMessage([&] {
              randBoxShell_CWW(5, 5, 5, 1 + 1e-9, 1, 1, 1, 1, 1, &x, &y, &z);
            }).substr(0, head.size()),
            head);
}

// A shell only two draw steps thick on each side is thin, not empty: the
// sampler finds its points. Half the inner width is 1 - 3 steps of 2/32767,
// so on each axis only the draws 1 and 32766 fall between the boxes.
TEST(BoxShell, ThinShellIsSampledNotRefused) {
  const double v = 2 * (1 - 3.0 / kTop);
  seed(17);
  for (int i = 0; i < 20; ++i) {
    double x, y, z;
    randBoxShell_CWW(0, 0, 0, 2, 2, 2, v, v, v, &x, &y, &z);
    double m = std::max({std::fabs(x), std::fabs(y), std::fabs(z)});
    ASSERT_GE(m, v / 2);
    ASSERT_LT(m, 1.0);
  }
}

// A first box inside the second leaves only its own faces, which the draws
// reach and the test accepts: the sampler returns points on them.
TEST(BoxShell, FirstBoxInsideTheSecondGivesItsFaces) {
  seed(23);
  for (int i = 0; i < 10; ++i) {
    double x, y, z;
    randBoxShell_CWW(0, 0, 0, 1, 1, 1, 3, 3, 3, &x, &y, &z);
    ASSERT_EQ(std::max({std::fabs(x), std::fabs(y), std::fabs(z)}), 0.5);
  }
}

// A scripted source that never yields a passing point ends with a message
// instead of looping forever.
TEST(BoxShell, DrawsThatNeverPassAreReported) {
  ScriptedDraws s({16383}, ScriptedDraws::cycling);
  double x, y, z;
  std::string message =
      fatalMessage([&] { randBoxShell_CWW(0, 0, 0, 2, 2, 2, 1, 1, 1, &x, &y, &z); });
  EXPECT_NE(message.find("(randBoxShell_CWW) no point passed in "), std::string::npos) << message;
}

TEST(BoxShellDeathTest, EmptyShellEndsTheProcessWithStatusOne) {
  double x, y, z;
  EXPECT_EXIT(randBoxShell_CWW(0, 0, 0, 2, 2, 2, 2, 2, 2, &x, &y, &z), testing::ExitedWithCode(1),
              "");
}

}  // namespace
