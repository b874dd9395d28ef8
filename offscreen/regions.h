// regions.h - the regions of a region file, as shapes to draw.
#ifndef TAVO_OFFSCREEN_REGIONS_H
#define TAVO_OFFSCREEN_REGIONS_H

#include <string>
#include <vector>

#include "scene/scene.h"

namespace tavo::offscreen {

// Reads a region file with the geometry module's reader; throws Error
// naming the file and the reader's message on any fault.
std::vector<scene::RegionShape> readRegions(const std::string& path);

}  // namespace tavo::offscreen

#endif  // TAVO_OFFSCREEN_REGIONS_H
