// shapes.cpp - membership tests of the six shapes. Pure functions of their
// arguments, shared by the region table and the samplers; this folder
// depends on nothing else in the library.
#include "shapes/shapes.h"

// ---------------------------------------------------------------------------
// Membership. Every comparison is strict, so boundaries are outside, and a
// NaN makes it false; distances are compared squared.
// ---------------------------------------------------------------------------

bool inBox(double cx, double cy, double cz, double wx, double wy, double wz, double x, double y,
           double z) {
  double hx = wx / 2.0, hy = wy / 2.0, hz = wz / 2.0;
  if (!(x > cx - hx)) return false;
  if (!(x < cx + hx)) return false;
  if (!(y > cy - hy)) return false;
  if (!(y < cy + hy)) return false;
  if (!(z > cz - hz)) return false;
  return z < cz + hz;
}

bool inBoxShell(double cx, double cy, double cz, double wx, double wy, double wz, double vx,
                double vy, double vz, double x, double y, double z) {
  bool a = inBox(cx, cy, cz, wx, wy, wz, x, y, z);
  bool b = inBox(cx, cy, cz, vx, vy, vz, x, y, z);
  return a != b;
}

bool inSphere(double cx, double cy, double cz, double R, double x, double y, double z) {
  double r2 = R * R;
  double dx = x - cx, dy = y - cy, dz = z - cz;
  double d2 = dx * dx;
  if (!(r2 > d2)) return false;
  d2 += dy * dy;
  if (!(r2 > d2)) return false;
  d2 += dz * dz;
  return r2 > d2;
}

bool inSphereShell(double cx, double cy, double cz, double r1, double r2, double x, double y,
                   double z) {
  bool a = inSphere(cx, cy, cz, r1, x, y, z);
  bool b = inSphere(cx, cy, cz, r2, x, y, z);
  return a != b;
}

bool inCylinder(double cx, double cy, double cz, double R, double L, double x, double y, double z) {
  if (!(x > cx - L / 2.0)) return false;
  if (!(x < cx + L / 2.0)) return false;
  double r2 = R * R;
  double dy = y - cy, dz = z - cz;
  double d2 = dy * dy;
  if (!(r2 > d2)) return false;
  d2 += dz * dz;
  return r2 > d2;
}

bool inCylinderShell(double cx, double cy, double cz, double r1, double r2, double L, double x,
                     double y, double z) {
  bool a = inCylinder(cx, cy, cz, r1, L, x, y, z);
  bool b = inCylinder(cx, cy, cz, r2, L, x, y, z);
  return a != b;
}
