// regions.h - the region file: the region types, and a region file read into
// a value.
//
// readRegionFile is the one parser of region files: initGeometry_fromFile
// loads its rows into the region table, and code beyond the core (the
// renderer, the explorer, the Python module) keeps them as a value without
// touching the table. The
// parser prints nothing, writes nothing to errors.txt and never ends the
// process: every fault of the file throws tavo::Error with the message that
// the table's load reports through errorOut.
#ifndef TAVO_FORMATS_REGIONS_H
#define TAVO_FORMATS_REGIONS_H

#include <array>
#include <string>
#include <vector>

#include "formats/error.h"

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

// The keyword of a type code in region files ("box", "sphereshell", ...), or
// null for a code that is none.
const char* regionTypeName(int type);

std::vector<RegionRow> readRegionFile(const char* path, RegionFileProgress* progress = nullptr);

}  // namespace tavo::detail

namespace tavo::formats {

// readRegionFile for the tools: a fault throws Error with one line naming
// the file.
std::vector<detail::RegionRow> readRegions(const std::string& path);

}  // namespace tavo::formats

#endif  // TAVO_FORMATS_REGIONS_H
