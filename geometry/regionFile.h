// regionFile.h - a region file read into a value. Not installed.
//
// readRegionFile is the one parser of region files: initGeometry_fromFile
// loads its rows into the region table, and code beyond the core (the
// offscreen renderer) keeps them as a value without touching the table. The
// parser prints nothing, writes nothing to errors.txt and never ends the
// process: every fault of the file throws tavo::Error with the message that
// the table's load reports through errorOut.
#ifndef TAVO_GEOMETRY_REGIONFILE_H
#define TAVO_GEOMETRY_REGIONFILE_H

#include <array>
#include <vector>

#include "geometry/geometry.h"
#include "textio/error.h"

namespace tavo::detail {

// One region: type code and numbers, the centre first, then the type's
// numbers in file order; entries past NparamType[type] are 0.
struct RegionRow {
  int type = 0;
  std::array<double, maxNparam> params{};
};

// Told when the file is open, before its first token is read.
class RegionFileProgress {
 public:
  virtual ~RegionFileProgress() = default;
  virtual void opened() = 0;
};

std::vector<RegionRow> readRegionFile(const char* path, RegionFileProgress* progress = nullptr);

}  // namespace tavo::detail

#endif  // TAVO_GEOMETRY_REGIONFILE_H
