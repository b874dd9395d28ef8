// regions.cpp - region files read through the geometry module's loader.
#include "offscreen/regions.h"

#include <cstdio>

#include "datastore/dataFetcher.h"
#include "geometry/geometry.h"
#include "geometry/regionTable.h"
#include "textio/error.h"

namespace tavo::offscreen {

namespace {

[[noreturn]] void throwMessage(const char* message) { throw Error(message); }

// Restores the error handler of the process on the way out.
struct HandlerScope {
  ErrorHandler previous = setErrorHandler(throwMessage);
  ~HandlerScope() { setErrorHandler(previous); }
};

}  // namespace

std::vector<scene::RegionShape> readRegions(const std::string& path) {
  // The loader fills the process-wide table; the table is emptied first so
  // that a program may read several files, and the loader's fatal errors
  // come back here as exceptions.
  tavo::detail::resetRegionTable();
  std::vector<scene::RegionShape> shapes;
  try {
    HandlerScope scope;
    initGeometry_fromFile(path.c_str());
  } catch (const Error& e) {
    tavo::detail::resetRegionTable();
    std::string message = e.what();
    while (!message.empty() && message.front() == ' ') message.erase(message.begin());
    throw Error(path + ": " + message);
  }
  std::fflush(stdout);
  for (const tavo::detail::RegionRow& row : tavo::detail::regionRows())
    shapes.push_back(scene::RegionShape{row.type, row.params});
  tavo::detail::resetRegionTable();
  return shapes;
}

}  // namespace tavo::offscreen
