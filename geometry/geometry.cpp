// geometry.cpp - the region table: loading from a region file, the text dump,
// region membership and placement of random points.
//
// The loader builds the table aside and publishes it, count and rows at
// once, only when the whole file has been read; a failed load caught by an
// error handler (tests, fuzzers) leaves the module as it was, not loaded.
#include "geometry/geometry.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "datastore/dataFetcher.h"
#include "datastore/errorLog.h"
#include "formats/regions.h"
#include "formats/textReader.h"
#include "geometry/regionTable.h"
#include "sampling/randomNumber.h"
#include "shapes/shapes.h"

namespace {

using tavo::detail::RegionRow;

using RegionParams = std::array<double, maxNparam>;

// The region table and its load flag.
struct RegionTable {
  bool geo_init_success = false;
  int N_regions = 0;
  std::vector<int> regionType;            // type code per regionID
  std::vector<RegionParams> regionParam;  // centre, then the type's numbers
};
RegionTable g_geo;

// Labels of the dump, by type code.
constexpr const char* kTypeLabel[6] = {"box  ",    "box_sh  ", "sph  ",
                                       "sph_sh  ", "cyl  ",    "cyl_sh  "};

// What the table's load prints once the file is open.
class LoadProgress final : public tavo::detail::RegionFileProgress {
 public:
  void opened() override {
    std::printf("DONE\n");
    std::printf("\tParsing geometry region parameter table................");
  }
};

// Entry checks of the operations that read a row of the table.
void requireRegion(const char* operation, int regionID) {
  if (!g_geo.geo_init_success)
    tavo::detail::fatalf("(%s) Geometry not initialized yet!", operation);
  if (regionID < 0 || regionID >= g_geo.N_regions)
    tavo::detail::fatalf("(%s) regionID %d out of range, the table holds %d regions!", operation,
                         regionID, g_geo.N_regions);
}

}  // namespace

// ---------------------------------------------------------------------------
// Region table
// ---------------------------------------------------------------------------

void initGeometry_fromFile(const char* path) {
  if (g_geo.geo_init_success)
    errorOut("(initExperiment_fromFile) Geometry already initialized! werid...");
  std::printf("\nInitializing geometry of regions:");
  std::printf("\n\tOpening setup file : %s...", path != nullptr ? path : "");
  std::vector<RegionRow> rows;
  std::string failure;
  try {
    LoadProgress progress;
    rows = tavo::detail::readRegionFile(path, &progress);
  } catch (const tavo::Error& e) {
    failure = e.what();
  }
  if (!failure.empty()) errorOut(failure.c_str());

  RegionTable table;
  table.regionType.reserve(rows.size());
  table.regionParam.reserve(rows.size());
  for (const RegionRow& row : rows) {
    table.regionType.push_back(row.type);
    table.regionParam.push_back(row.params);
  }
  table.N_regions = static_cast<int>(rows.size());
  std::printf("DONE\n");
  table.geo_init_success = true;
  g_geo = std::move(table);
}

bool geo_initialization_success() { return g_geo.geo_init_success; }

void snapshotGeometry_toFile(const char* name) {
  (void)name;  // the dump goes to standard output
  if (!g_geo.geo_init_success) errorOut("(snapshotGeometry_toFile) Geometry not initialized yet!");
  std::printf("regionID  type  center  other parameters\n");
  for (int i = 0; i < g_geo.N_regions; ++i) {
    int t = g_geo.regionType[i];
    const RegionParams& p = g_geo.regionParam[i];
    std::printf("%d  %s", i, kTypeLabel[t]);
    std::printf("(%4.1e %4.1e %4.1e) (", p[0], p[1], p[2]);
    for (int j = 3; j < NparamType[t]; ++j) std::printf("%4.1e ", p[j]);
    std::printf("\b)\n");
  }
}

void tavo::detail::resetRegionTable() { g_geo = RegionTable{}; }

const double* tavo::detail::regionRow(int id, int* type) {
  if (!g_geo.geo_init_success || id < 0 || id >= g_geo.N_regions) return nullptr;
  *type = g_geo.regionType[static_cast<std::size_t>(id)];
  return g_geo.regionParam[static_cast<std::size_t>(id)].data();
}

// ---------------------------------------------------------------------------
// Membership (the shape tests live in shapes/)
// ---------------------------------------------------------------------------

bool inRegion(double x, double y, double z, int regionID) {
  requireRegion("inRegion", regionID);
  const double* p = g_geo.regionParam[regionID].data();
  switch (static_cast<unsigned>(g_geo.regionType[regionID])) {
    case REGION_BOX:
      return inBox(p[0], p[1], p[2], p[3], p[4], p[5], x, y, z);
    case REGION_BOXSHELL:
      return inBoxShell(p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7], p[8], x, y, z);
    case REGION_SPHERE:
      return inSphere(p[0], p[1], p[2], p[3], x, y, z);
    case REGION_SPHERESHELL:
      return inSphereShell(p[0], p[1], p[2], p[3], p[4], x, y, z);
    case REGION_CYLINDER:
      return inCylinder(p[0], p[1], p[2], p[3], p[4], x, y, z);
    case REGION_CYLINDERSHELL:
      return inCylinderShell(p[0], p[1], p[2], p[3], p[4], p[5], x, y, z);
    default:
      errorOut("(inRegion) shit happens, regionType out of range from 0-5!");
  }
}

// ---------------------------------------------------------------------------
// Placement
// ---------------------------------------------------------------------------

void createToRegion(int regionID, double* px, double* py, double* pz) {
  requireRegion("createToRegion", regionID);
  const double* p = g_geo.regionParam[regionID].data();
  switch (static_cast<unsigned>(g_geo.regionType[regionID])) {
    case REGION_BOX:
      randBox_CW(p[0], p[1], p[2], p[3], p[4], p[5], px, py, pz);
      break;
    case REGION_BOXSHELL:
      randBoxShell_CWW(p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7], p[8], px, py, pz);
      break;
    case REGION_SPHERE:
      randSphere(p[0], p[1], p[2], p[3], px, py, pz);
      break;
    case REGION_SPHERESHELL:
      randSphereShell(p[0], p[1], p[2], p[3], p[4], px, py, pz);
      break;
    case REGION_CYLINDER:
      randCylinder(p[0], p[1], p[2], p[3], p[4], px, py, pz);
      break;
    case REGION_CYLINDERSHELL:
      randCylinderShell(p[0], p[1], p[2], p[3], p[4], p[5], px, py, pz);
      break;
    default:
      errorOut("(createToRegion) shit happens, regionType out of range from 0-5!");
  }
}
