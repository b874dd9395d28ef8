// regionDump REGIONS POINTS OUT: loads REGIONS into the library's region
// table and writes, for each point of POINTS (native float64 x y z, one
// point after another), one byte per region: inRegion's answer. The Python
// tests compare the module's membership and volumes with these.
#include <cstdio>
#include <vector>

#include "geometry/geometry.h"
#include "geometry/regionTable.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: regionDump REGIONS POINTS OUT\n");
    return 2;
  }
  initGeometry_fromFile(argv[1]);  // ends the process on a bad file
  int regions = 0;
  for (int type = 0; tavo::detail::regionRow(regions, &type) != nullptr;) ++regions;
  std::FILE* in = std::fopen(argv[2], "rb");
  std::FILE* out = std::fopen(argv[3], "wb");
  if (in == nullptr || out == nullptr) {
    std::fprintf(stderr, "regionDump: cannot open %s or %s\n", argv[2], argv[3]);
    return 1;
  }
  double p[3];
  std::vector<unsigned char> row(static_cast<std::size_t>(regions));
  while (std::fread(p, sizeof(double), 3, in) == 3) {
    for (int r = 0; r < regions; ++r)
      row[static_cast<std::size_t>(r)] = inRegion(p[0], p[1], p[2], r);
    std::fwrite(row.data(), 1, row.size(), out);
  }
  return std::fclose(in) == 0 && std::fclose(out) == 0 ? 0 : 1;
}
