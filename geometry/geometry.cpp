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
#include "geometry/regionFile.h"
#include "geometry/regionTable.h"
#include "sampling/randomNumber.h"
#include "shapes/shapes.h"
#include "textio/inputReader.h"

namespace {

using tavo::detail::formatText;
using tavo::detail::RegionRow;
using tavo::detail::TextScanner;
using Status = TextScanner::Status;

using RegionParams = std::array<double, maxNparam>;

// The region table and its load flag.
struct RegionTable {
  bool geo_init_success = false;
  int N_regions = 0;
  std::vector<int> regionType;            // type code per regionID
  std::vector<RegionParams> regionParam;  // centre, then the type's numbers
};
RegionTable g_geo;

// Keywords of the region file and labels of the dump, by type code.
constexpr const char* kTypeKeyword[6] = {"box",         "boxshell", "sphere",
                                         "sphereshell", "cylinder", "cylindershell"};
constexpr const char* kTypeLabel[6] = {"box  ",    "box_sh  ", "sph  ",
                                       "sph_sh  ", "cyl  ",    "cyl_sh  "};

// Words longer than every keyword are read whole but match nothing.
constexpr std::size_t kWordCapacity = 32;

constexpr char kMsgIdOrder[] =
    "(initGeometry_fromFile) regionID is not in order, must be continuous increasing from 0!";
constexpr char kMsgType[] = "(initGeometry_fromFile) region type definition incorrect!";
constexpr char kMsgOpenCentre[] = "(initGeometry_fromFile) need '(' before center points!";
constexpr char kMsgCloseCentre[] = "(initGeometry_fromFile) need ')' after center points!";
constexpr char kMsgOpenParams[] = "(initGeometry_fromFile) need '(' before additional params!";
constexpr char kMsgCloseParams[] = "(initGeometry_fromFile) need ')' after additional params!";

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// The parser's faults: the message that the table's load reports.
[[noreturn]] void fail(const std::string& message) { throw tavo::Error(message); }

// Token reading with the loader's messages.
class RegionReader {
 public:
  explicit RegionReader(std::FILE* f) : scan_(f) {}

  // True when the next word is exactly `keyword`.
  bool word(const char* keyword) {
    char w[kWordCapacity];
    return scan_.readWord(w, sizeof w) == Status::ok && std::strcmp(w, keyword) == 0;
  }

  void expect(const char* keyword, const char* message) {
    if (!word(keyword)) fail(message);
  }

  // The type code of the next word, or -1.
  int typeCode() {
    char w[kWordCapacity];
    if (scan_.readWord(w, sizeof w) != Status::ok) return -1;
    for (int t = 0; t < 6; ++t)
      if (std::strcmp(w, kTypeKeyword[t]) == 0) return t;
    return -1;
  }

  Status readInt(int& v) { return scan_.readInt(v); }

  // Reads `count` reals of region `id` into `out`. A list that ends early (at
  // its ")" or at the end of the file) fails with the list's closing message;
  // text that is not a finite number fails naming it.
  void numbers(int id, double* out, int count, const char* list, const char* closeMessage) {
    for (int j = 0; j < count; ++j) {
      Status s = scan_.readDouble(out[j]);
      if (s == Status::ok) continue;
      if (s == Status::end || scan_.peekToken().rfind(')', 0) == 0) fail(closeMessage);
      fail(formatText("(initGeometry_fromFile) region %d: a number expected among %s, %s", id, list,
                      tavo::detail::describeFound(scan_, s).c_str()));
    }
  }

  TextScanner& scanner() { return scan_; }

 private:
  TextScanner scan_;
};

// Reads the region count that follows "N_regions".
int readRegionCount(RegionReader& in) {
  int n = 0;
  Status s = in.readInt(n);
  if (s == Status::ok && n >= 0) return n;
  std::string found =
      s == Status::ok ? formatText("found '%d'", n) : tavo::detail::describeFound(in.scanner(), s);
  fail(formatText(
      "Syntax error: 'N_regions 5': the number of regions must be a whole number, 0 or more; %s",
      found.c_str()));
}

// A box shell is drawn from its first box; unless that box exceeds the second
// on some axis, no point of it lies in the shell's volume and placement would
// never end.
void checkBoxShell(int id, const RegionParams& p) {
  bool exceeds = p[3] > p[6] || p[4] > p[7] || p[5] > p[8];
  if (!exceeds)
    fail(formatText(
        "(initGeometry_fromFile) region %d: the first box of a boxshell must be larger than the "
        "second along some axis, else no point can be placed in it!",
        id));
}

std::vector<RegionRow> readRegions(RegionReader& in, int count) {
  std::vector<RegionRow> rows;
  rows.reserve(static_cast<std::size_t>(count < 4096 ? count : 4096));
  for (int i = 0; i < count; ++i) {
    int id = -1;
    if (in.readInt(id) != Status::ok || id != i) fail(kMsgIdOrder);
    int type = in.typeCode();
    if (type < 0) fail(kMsgType);
    RegionParams p{};
    in.expect("(", kMsgOpenCentre);
    in.numbers(i, &p[0], 3, "center points", kMsgCloseCentre);
    in.expect(")", kMsgCloseCentre);
    in.expect("(", kMsgOpenParams);
    in.numbers(i, &p[3], NparamType[type] - 3, "additional params", kMsgCloseParams);
    in.expect(")", kMsgCloseParams);
    if (type == REGION_BOXSHELL) checkBoxShell(i, p);
    rows.push_back(RegionRow{type, p});
  }
  return rows;
}

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

std::vector<RegionRow> tavo::detail::readRegionFile(const char* path,
                                                    RegionFileProgress* progress) {
  std::unique_ptr<std::FILE, FileCloser> file(path != nullptr ? std::fopen(path, "r") : nullptr);
  if (!file) fail(" Cannot open experiment file to read!");
  if (progress != nullptr) progress->opened();
  RegionReader in(file.get());
  in.expect("N_regions", "Syntax error: 'N_regions 5'");
  int count = readRegionCount(in);
  double bytes = static_cast<double>(count) * (sizeof(int) + sizeof(RegionParams));
  if (!tavo::detail::tableBytesFit(bytes))
    fail(formatText(
        "(initGeometry_fromFile) cannot allocate the region table: %d regions need %.3g bytes",
        count, bytes));
  return readRegions(in, count);
}

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
