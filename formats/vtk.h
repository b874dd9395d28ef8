// vtk.h - a frame as a VTK XML PolyData file (.vtp): Float64 points, one
// vertex cell per point, point data "species" (Int32, the species ID) and
// "radius" (Float64, half the species' size, which is a diameter), raw
// binary data appended; every length multiplied by `scale`. Field data: the
// frame's "step", its "TimeValue" in seconds, and "species_names" (one
// string per species ID, so that ParaView can label the species by name).
// Frames are gathered by a ParaView collection (.pvd).
#ifndef TAVO_FORMATS_VTK_H
#define TAVO_FORMATS_VTK_H

#include <string>
#include <string_view>
#include <vector>

#include "formats/movie.h"
#include "formats/output.h"
#include "formats/setup.h"

namespace tavo::formats {

void writeVtpFrame(const Frame& frame, const Setup& setup, double scale, Output& out);

// One frame file of a collection: its time as text (see decimalProduct) and
// its path relative to the collection.
struct PvdEntry {
  std::string time;
  std::string file;
};
// The text of a collection of frame files.
std::string pvdCollection(const std::vector<PvdEntry>& entries);

// Attribute text with XML's special characters escaped.
std::string xmlAttribute(std::string_view text);

}  // namespace tavo::formats

#endif  // TAVO_FORMATS_VTK_H
