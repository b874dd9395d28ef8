// shapeSampling.cpp - radii and angles of uniformly distributed points, and
// uniform points in boxes, box shells, spheres, cylinders and their shells.
//
// Every sampler costs a fixed number of draws in a fixed order (three per
// point; three per try for the box shell), so a seed gives the same points on
// every run. The constants are the doubles nearest to their closed forms, and
// the formulas multiply by the stored reciprocals rather than divide.
//
// A box shell is sampled by rejection from its first box. Rejection only ends
// if some point the draws can produce passes the shell test; since each axis
// takes one of 32768 grid values, a shell thinner than a grid step may have
// volume and still no reachable point. After a run of failed tries the
// sampler therefore counts the passing grid points exactly (the test splits
// into per-axis conditions, so this costs 3 x 32768 evaluations, no draws) and
// ends through errorOut when there are none. Shells with passing points, however
// thin, are never refused; their cost is the inverse of the passing fraction.
#include <array>
#include <cmath>
#include <cstring>
#include <numbers>

#include "datastore/dataFetcher.h"
#include "datastore/errorLog.h"
#include "formats/textReader.h"
#include "sampling/drawSource.h"
#include "sampling/randomNumber.h"
#include "shapes/shapes.h"

namespace {

constexpr double kFourThirdsPi = 4.1887902047863905;
constexpr double kThreeOverFourPi = 0.238732414637843;
constexpr double kOneThird = 0.3333333333333333;
constexpr double kOneOverPi = 0.3183098861837907;
constexpr double kTwoPi = 6.283185307179586;

constexpr int kGridSize = tavo::detail::kDrawMax + 1;  // values one draw can take

// Failed box-shell tries before the grid is counted. A shell worth sampling
// passes far more often than once in 1024 tries; the count costs about as
// much as 30000 tries and its result is remembered.
constexpr long long kTriesBeforeGridCount = 1024;

// A box shell whose passing grid points have been counted.
struct CountedShell {
  std::array<double, 9> params{};  // cx cy cz wx wy wz vx vy vz, compared bit for bit
  double passingFraction = 0.0;    // passing grid points / 32768^3
};

// The last few counted shells: placement in a handful of regions calls the
// sampler with the same numbers over and over.
struct ShellCountCache {
  std::array<CountedShell, 8> entries{};
  int used = 0;
  int next = 0;
};
ShellCountCache g_shellCounts;

// The value random_number(a, b) takes for the draw r: the same operations in
// the same order, so that the grid count sees exactly the points drawn.
double gridValue(int r, double a, double b) {
  double rr = r;
  double d = b - a;
  double t = rr * d;
  t = t / 32767.0;
  return t + a;
}

// Exact fraction of draw triples whose point passes inBoxShell. A point is
// inside a box when it is inside on every axis, so with per-axis counts nA
// (inside the first box), nB (inside the second) and nAB (inside both), the
// triples inside exactly one box number prod(nA) + prod(nB) - 2 prod(nAB).
double passingGridFraction(const std::array<double, 9>& p) {
  double prodA = 1.0, prodB = 1.0, prodAB = 1.0;
  for (int axis = 0; axis < 3; ++axis) {
    double c = p[axis], w = p[3 + axis], v = p[6 + axis];
    // The draw range of randBox_CW and the bounds of inBox on this axis.
    double aLo = c - w / 2.0, aHi = c + w / 2.0;
    double bLo = c - v / 2.0, bHi = c + v / 2.0;
    long long nA = 0, nB = 0, nAB = 0;
    for (int r = 0; r < kGridSize; ++r) {
      double x = gridValue(r, aLo, aHi);
      bool a = x > aLo && x < aHi;
      bool b = x > bLo && x < bHi;
      nA += a;
      nB += b;
      nAB += a && b;
    }
    prodA *= static_cast<double>(nA);
    prodB *= static_cast<double>(nB);
    prodAB *= static_cast<double>(nAB);
  }
  // Products of three counts up to 2^15 are exact in a double.
  double passing = prodA + prodB - 2.0 * prodAB;
  return passing / (static_cast<double>(kGridSize) * kGridSize * kGridSize);
}

// The passing fraction of a shell, counted once and then remembered.
double shellPassingFraction(const std::array<double, 9>& p) {
  ShellCountCache& cache = g_shellCounts;
  for (int i = 0; i < cache.used; ++i)
    if (std::memcmp(cache.entries[i].params.data(), p.data(), sizeof(double) * 9) == 0)
      return cache.entries[i].passingFraction;
  CountedShell counted{p, passingGridFraction(p)};
  cache.entries[cache.next] = counted;
  cache.next = (cache.next + 1) % static_cast<int>(cache.entries.size());
  if (cache.used < static_cast<int>(cache.entries.size())) ++cache.used;
  return counted.passingFraction;
}

// Radii must be non-negative numbers: the cube root of a negative volume is
// not defined, and a NaN radius would only spread NaN coordinates.
void requireRadius(const char* operation, double r) {
  if (!(r >= 0.0))
    tavo::detail::fatalf("(%s) radius %g is negative or not a number!", operation, r);
}

}  // namespace

// ---------------------------------------------------------------------------
// Radii and angles
// ---------------------------------------------------------------------------

double random_radius_3Dhomogeneous(double r1, double r2) {
  requireRadius("random_radius_3Dhomogeneous", r1);
  requireRadius("random_radius_3Dhomogeneous", r2);
  double v1 = ((kFourThirdsPi * r1) * r1) * r1;
  double v2 = ((kFourThirdsPi * r2) * r2) * r2;
  double v = random_number(v1, v2);
  return std::pow(v * kThreeOverFourPi, kOneThird);
}

double random_radius_2Dhomogeneous(double r1, double r2) {
  requireRadius("random_radius_2Dhomogeneous", r1);
  requireRadius("random_radius_2Dhomogeneous", r2);
  double a1 = (std::numbers::pi * r1) * r1;
  double a2 = (std::numbers::pi * r2) * r2;
  double v = random_number(a1, a2);
  return std::sqrt(v * kOneOverPi);
}

double random_angle_phi() { return std::acos(1.0 - random_number(0.0, 2.0)); }

double random_angle_theta() { return random_number(0.0, kTwoPi); }

// ---------------------------------------------------------------------------
// Shape samplers
// ---------------------------------------------------------------------------

void randBox_BBB(double x1, double y1, double z1, double x2, double y2, double z2, double* x,
                 double* y, double* z) {
  *x = random_number(x1, x2);
  *y = random_number(y1, y2);
  *z = random_number(z1, z2);
}

void randBox_CW(double cx, double cy, double cz, double wx, double wy, double wz, double* x,
                double* y, double* z) {
  *x = random_number(cx - wx / 2.0, cx + wx / 2.0);
  *y = random_number(cy - wy / 2.0, cy + wy / 2.0);
  *z = random_number(cz - wz / 2.0, cz + wz / 2.0);
}

void randBoxShell_CWW(double cx, double cy, double cz, double wx, double wy, double wz, double vx,
                      double vy, double vz, double* x, double* y, double* z) {
  double px = 0.0, py = 0.0, pz = 0.0;
  long long tries = 0;
  long long limit = -1;  // set once the grid has been counted
  for (;;) {
    randBox_CW(cx, cy, cz, wx, wy, wz, &px, &py, &pz);
    if (inBoxShell(cx, cy, cz, wx, wy, wz, vx, vy, vz, px, py, pz)) break;
    ++tries;
    if (tries == kTriesBeforeGridCount) {
      double fraction = shellPassingFraction({cx, cy, cz, wx, wy, wz, vx, vy, vz});
      if (fraction <= 0.0)
        tavo::detail::fatalf(
            "(randBoxShell_CWW) no point that can be drawn in the first box (%g %g %g) lies "
            "inside exactly one of it and the second box (%g %g %g): the shell is empty or "
            "thinner than a draw step!",
            wx, wy, wz, vx, vy, vz);
      // Failing 500 times the expected number of tries has probability
      // e^-500: it means the draws are not uniform (a scripted source), and
      // the loop would never end.
      double expected = 1.0 / fraction;
      limit =
          expected < 1e15 ? static_cast<long long>(500.0 * expected) + kTriesBeforeGridCount : -1;
    }
    if (limit >= 0 && tries >= limit)
      tavo::detail::fatalf(
          "(randBoxShell_CWW) no point passed in %lld tries: the draws are not uniform!", tries);
  }
  *x = px;
  *y = py;
  *z = pz;
}

void randSphere(double cx, double cy, double cz, double R, double* x, double* y, double* z) {
  requireRadius("randSphere", R);
  double r = random_radius_3Dhomogeneous(0.0, R);
  double theta = random_angle_theta();
  double phi = random_angle_phi();
  *x = std::sin(phi) * (std::cos(theta) * r) + cx;
  *y = std::sin(phi) * (std::sin(theta) * r) + cy;
  *z = std::cos(phi) * r + cz;
}

void randSphereShell(double cx, double cy, double cz, double r1, double r2, double* x, double* y,
                     double* z) {
  requireRadius("randSphereShell", r1);
  requireRadius("randSphereShell", r2);
  double r = random_radius_3Dhomogeneous(r1, r2);
  double theta = random_angle_theta();
  double phi = random_angle_phi();
  *x = std::sin(phi) * (std::cos(theta) * r) + cx;
  *y = std::sin(phi) * (std::sin(theta) * r) + cy;
  *z = std::cos(phi) * r + cz;
}

void randCylinder(double cx, double cy, double cz, double R, double L, double* x, double* y,
                  double* z) {
  requireRadius("randCylinder", R);
  double r = random_radius_2Dhomogeneous(0.0, R);
  double theta = random_angle_theta();
  *x = random_number(cx - L / 2.0, cx + L / 2.0);
  *y = std::cos(theta) * r + cy;
  *z = std::sin(theta) * r + cz;
}

void randCylinderShell(double cx, double cy, double cz, double r1, double r2, double L, double* x,
                       double* y, double* z) {
  requireRadius("randCylinderShell", r1);
  requireRadius("randCylinderShell", r2);
  double r = random_radius_2Dhomogeneous(r1, r2);
  double theta = random_angle_theta();
  *x = random_number(cx - L / 2.0, cx + L / 2.0);
  *y = std::cos(theta) * r + cy;
  *z = std::sin(theta) * r + cz;
}
