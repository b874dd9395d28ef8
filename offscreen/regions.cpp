// regions.cpp - region files read by the geometry module's parser.
#include "offscreen/regions.h"

#include "geometry/regionFile.h"
#include "textio/error.h"

namespace tavo::offscreen {

std::vector<scene::RegionShape> readRegions(const std::string& path) {
  std::vector<tavo::detail::RegionRow> rows;
  try {
    rows = tavo::detail::readRegionFile(path.c_str());
  } catch (const Error& e) {
    std::string message = e.what();
    while (!message.empty() && message.front() == ' ') message.erase(message.begin());
    throw Error(path + ": " + message);
  }
  std::vector<scene::RegionShape> shapes;
  for (const tavo::detail::RegionRow& row : rows)
    shapes.push_back(scene::RegionShape{row.type, row.params});
  return shapes;
}

}  // namespace tavo::offscreen
