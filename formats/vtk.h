// vtk.h - a frame as a VTK XML PolyData file (.vtp): Float64 points, one
// vertex cell per point, point data "species" (Int32, the species ID) and
// "radius" (Float64, half the species' size, which is a diameter), raw
// binary data appended; every length multiplied by `scale`.
#ifndef TAVO_FORMATS_VTK_H
#define TAVO_FORMATS_VTK_H

#include <string>
#include <string_view>

#include "formats/movie.h"
#include "formats/output.h"
#include "formats/setup.h"

namespace tavo::formats {

void writeVtpFrame(const Frame& frame, const Setup& setup, double scale, Output& out);

// Attribute text with XML's special characters escaped.
std::string xmlAttribute(std::string_view text);

}  // namespace tavo::formats

#endif  // TAVO_FORMATS_VTK_H
