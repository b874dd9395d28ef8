// geometry.h - the region table of a simulation: boxes, spheres, cylinders
// and their shells, loaded from a region file; membership tests; placement of
// random points in regions.
//
// Calling order: initGeometry_fromFile once; then inRegion, createToRegion
// and snapshotGeometry_toFile. The shape tests need no table.
#ifndef TAVO_GEOMETRY_GEOMETRY_H
#define TAVO_GEOMETRY_GEOMETRY_H

#include "formats/regions.h"  // RegionType, NparamType, maxNparam
#include "shapes/shapes.h"    // inBox ... inCylinderShell, the shape tests

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
// Membership (the six shape tests are declared in shapes/shapes.h)
// ---------------------------------------------------------------------------

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
