// movieExport.h - a movie's frames in formats other programs read.
//
// xyz: extended XYZ, one file, frames in the order picked. Per frame a
//   count line, the comment line
//     Properties=species:S:1:pos:R:3 step=<step> time=<seconds>
//   and one line per live molecule: species name, x, y and z.
// vtk: a ParaView collection (PATH.pvd) over one VTK XML PolyData file per
//   frame, written into the folder PATH without ".pvd": Float64 points, one
//   vertex cell per point, point data "species" (Int32, the species ID) and
//   "radius" (Float64, half the species' size, which is a diameter), raw binary data appended; the
//   collection's timestep is the frame's time in seconds.
//
// Numbers are written so that they read back as the same doubles. Every
// length (positions, radii) is multiplied by `scale`. An export writes its
// files aside and renames them into place only when all are complete, so a
// failure leaves nothing new behind; it refuses outputs that are its own
// inputs, and inputs inside the folder it writes.
#ifndef TAVO_CLI_MOVIEEXPORT_H
#define TAVO_CLI_MOVIEEXPORT_H

#include <cstddef>
#include <string>
#include <vector>

#include "trajectory/trajectory.h"

namespace tavo::cli {

void exportXyz(const Movie& movie, const std::vector<std::size_t>& frames, double scale,
               const std::string& path);
void exportVtk(const Movie& movie, const std::vector<std::size_t>& frames, double scale,
               const std::string& pvdPath);

// The folder a .pvd's frame files go to: the path without ".pvd".
std::string vtkFolder(const std::string& pvdPath);

}  // namespace tavo::cli

#endif  // TAVO_CLI_MOVIEEXPORT_H
