// shapes.h - membership tests of the six region shapes: the region table,
// the samplers and the tools test points with them. Users reach them through
// geometry/geometry.h, which includes this header.
//
// Open shapes: boundaries are outside. A shell is the set of points inside
// exactly one of its two shapes. Widths and the cylinder length L are full
// sizes; the cylinder's axis is parallel to x. NaN gives false.
#ifndef TAVO_SHAPES_SHAPES_H
#define TAVO_SHAPES_SHAPES_H

bool inBox(double cx, double cy, double cz, double wx, double wy, double wz, double x, double y,
           double z);
bool inBoxShell(double cx, double cy, double cz, double wx, double wy, double wz, double vx,
                double vy, double vz, double x, double y, double z);
bool inSphere(double cx, double cy, double cz, double R, double x, double y, double z);
bool inSphereShell(double cx, double cy, double cz, double r1, double r2, double x, double y,
                   double z);
bool inCylinder(double cx, double cy, double cz, double R, double L, double x, double y, double z);
bool inCylinderShell(double cx, double cy, double cz, double r1, double r2, double L, double x,
                     double y, double z);

#endif  // TAVO_SHAPES_SHAPES_H
