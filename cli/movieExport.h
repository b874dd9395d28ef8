// movieExport.h - a movie's frames in formats other programs read.
//
// xyz: extended XYZ, one file, frames in the order picked (formats/xyz.h):
//   per molecule its element symbol, x y z, species name and radius; with
//   `pad`, every slot of every species in every frame and an alive column.
// vtk: a ParaView collection (PATH.pvd) over one VTK XML PolyData file per
//   frame, written into the folder PATH without ".pvd" (formats/vtk.h); the
//   collection's timestep is the frame's step times the time step, computed
//   in decimal ("0.0003").
// h5md: one H5MD file in the padded slot layout (formats/h5md.h).
//
// Numbers are written so that they read back as the same doubles. Every
// length (positions, radii, sizes) is multiplied by `scale`. An export
// writes its files aside and renames them into place only when all are
// complete, so a failure or an interrupt leaves nothing new behind; it
// refuses outputs that are its own inputs, and inputs inside the folder it
// writes.
#ifndef TAVO_CLI_MOVIEEXPORT_H
#define TAVO_CLI_MOVIEEXPORT_H

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "formats/h5md.h"
#include "trajectory/trajectory.h"

namespace tavo::cli {

enum class ExportFormat { xyz, vtk, h5md };

// The format an output's name asks for: .xyz, .pvd, .h5 or .h5md; none for
// any other name.
std::optional<ExportFormat> exportFormatOf(const std::string& path);

struct ExportOptions {
  double scale = 1.0;
  bool pad = false;                                           // xyz: every slot in every frame
  std::vector<std::pair<std::string, std::string>> elements;  // xyz: species NAME, element SYMBOL
  formats::H5mdCreator creator;                               // h5md
};

void exportXyz(const Movie& movie, const std::vector<std::size_t>& frames,
               const ExportOptions& options, const std::string& path);
void exportVtk(const Movie& movie, const std::vector<std::size_t>& frames,
               const ExportOptions& options, const std::string& pvdPath);
void exportH5md(const Movie& movie, const std::vector<std::size_t>& frames,
                const ExportOptions& options, const std::string& path);

// The folder a .pvd's frame files go to: the path without ".pvd".
std::string vtkFolder(const std::string& pvdPath);

}  // namespace tavo::cli

#endif  // TAVO_CLI_MOVIEEXPORT_H
