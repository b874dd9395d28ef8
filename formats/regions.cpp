// regions.cpp - the region file's parser: the one reader of region files,
// behind the region table's load and every tool that draws or tests regions.
#include "formats/regions.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "formats/textReader.h"

namespace {

using tavo::detail::formatText;
using tavo::detail::RegionRow;
using tavo::detail::TextScanner;
using Status = TextScanner::Status;
using RegionParams = std::array<double, maxNparam>;

// Keywords of the region file, by type code.
constexpr const char* kTypeKeyword[6] = {"box",         "boxshell", "sphere",
                                         "sphereshell", "cylinder", "cylindershell"};

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

}  // namespace

const char* tavo::detail::regionTypeName(int type) {
  return type >= 0 && type < 6 ? kTypeKeyword[type] : nullptr;
}

std::vector<RegionRow> tavo::detail::readRegionFile(const char* path,
                                                    RegionFileProgress* progress) {
  std::unique_ptr<std::FILE, FileCloser> file(path != nullptr ? std::fopen(path, "r") : nullptr);
  if (!file)
    throw tavo::Error(" Cannot open experiment file to read!", path != nullptr ? errno : 0);
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

std::vector<tavo::detail::RegionRow> tavo::formats::readRegions(const std::string& path) {
  // A folder opens for reading but holds no text: refused as the system
  // refuses to read it, rather than reported as a malformed file.
  std::error_code unknown;
  if (std::filesystem::is_directory(path, unknown))
    throw Error(path + ": cannot open the region file (Is a directory)", EISDIR);
  std::vector<tavo::detail::RegionRow> rows;
  try {
    rows = tavo::detail::readRegionFile(path.c_str());
  } catch (const Error& e) {
    std::string message = e.what();
    while (!message.empty() && message.front() == ' ') message.erase(message.begin());
    throw Error(path + ": " + message, e.errorNumber());
  }
  return rows;
}
