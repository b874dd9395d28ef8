// geometry.h - the region table of a simulation: boxes, spheres, cylinders
// and their shells, loaded from a region file; membership tests; placement of
// random points in regions.
//
// Calling order: initGeometry_fromFile once; then inRegion, createToRegion
// and snapshotGeometry_toFile. The shape tests need no table.
#ifndef TAVO_GEOMETRY_GEOMETRY_H
#define TAVO_GEOMETRY_GEOMETRY_H

// Region type codes, as stored in the table.
enum RegionType {
  REGION_BOX = 0,
  REGION_BOXSHELL = 1,
  REGION_SPHERE = 2,
  REGION_SPHERESHELL = 3,
  REGION_CYLINDER = 4,
  REGION_CYLINDERSHELL = 5,
};

// Numbers a region of each type stores, its centre included.
constexpr int NparamType[6] = {6, 9, 4, 5, 5, 6};
constexpr int maxNparam = 9;  // the largest entry of NparamType

// ---------------------------------------------------------------------------
// Region table
// ---------------------------------------------------------------------------

// Loads the region file (once per process). Every format error, a box shell
// whose first box exceeds its second on no axis, and a second load end the
// process through errorOut; a failed load leaves the table unloaded.
void initGeometry_fromFile(const char* path);
bool geo_initialization_success();               // true once a region file is loaded
void snapshotGeometry_toFile(const char* name);  // dump the table to standard output

// ---------------------------------------------------------------------------
// Membership: open shapes (boundaries are outside); a shell is the set of
// points inside exactly one of its two shapes. NaN gives false.
// ---------------------------------------------------------------------------

bool inBox(double cx, double cy, double cz, double wx, double wy, double wz, double x, double y,
           double z);
bool inBoxShell(double cx, double cy, double cz, double wx, double wy, double wz, double vx,
                double vy, double vz, double x, double y, double z);
bool inSphere(double cx, double cy, double cz, double R, double x, double y, double z);
bool inSphereShell(double cx, double cy, double cz, double r1, double r2, double x, double y,
                   double z);
bool inCylinder(double cx, double cy, double cz, double R, double L, double x, double y,
                double z);  // axis parallel to x, full length L
bool inCylinderShell(double cx, double cy, double cz, double r1, double r2, double L, double x,
                     double y, double z);
// Is the point in region regionID. Before a load, or with a regionID outside
// [0, number of regions), ends the process through errorOut.
bool inRegion(double x, double y, double z, int regionID);

// ---------------------------------------------------------------------------
// Placement
// ---------------------------------------------------------------------------

// Writes a uniformly random point of region regionID through px, py, pz,
// drawn by the sampler of the region's type. Before a load, or with a
// regionID outside the table, ends the process through errorOut.
void createToRegion(int regionID, double* px, double* py, double* pz);

#endif  // TAVO_GEOMETRY_GEOMETRY_H
