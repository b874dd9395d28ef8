// exportCommand.cpp - tavo export: frames as extended XYZ or VTK files.
#include <cmath>
#include <memory>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/movieExport.h"
#include "cli/movieInput.h"

namespace tavo::cli {

void addExportCommand(CLI::App& app) {
  struct Options {
    MovieArguments files;
    std::string format;
    std::string output;
    FrameSlice frames = parseFrameSlice(":");
    double scale = 1.0;
  };
  auto options = std::make_shared<Options>();
  CLI::App* command =
      app.add_subcommand("export", "Write frames as extended XYZ or VTK files for other programs");
  addMovieArguments(*command, options->files);
  command->add_option("-f,--format", options->format, wrap("xyz or vtk (see below)"))
      ->required()
      ->type_name("xyz|vtk")
      ->check(CLI::IsMember({"xyz", "vtk"}).description(""));
  command
      ->add_option("-o,--output", options->output,
                   wrap("file to write; nothing appears there unless the export "
                        "succeeds, and it is never one of the inputs"))
      ->required()
      ->type_name("PATH");
  addFramesOption(*command, options->frames);
  command
      ->add_option("--scale", options->scale,
                   wrap("multiply every length (positions, and radii in vtk) by S; "
                        "default 1"))
      ->type_name("S")
      ->check(CLI::Validator(
          [](std::string& text) {
            double value = 0;
            return CLI::detail::lexical_cast(text, value) && std::isfinite(value)
                       ? std::string()
                       : "--scale: " + text + " is not a finite number";
          },
          ""));
  addQuietFlag(*command);
  command->footer(wrap(
      "Formats:\n"
      "  xyz  one extended XYZ file, frames in order; per frame the molecule count, the line "
      "\"Properties=species:S:1:pos:R:3 step=STEP time=SECONDS\", and per live molecule its "
      "species name and x y z.\n"
      "  vtk  PATH must end in .pvd: writes that ParaView collection (timestep: the time in "
      "seconds) and, in the folder PATH without .pvd, one VTK XML PolyData file per frame, "
      "named by frame index, with Float64 points, vertex cells, and the point data species "
      "(Int32, the species ID) and radius (Float64, half the species' size). Inputs inside that "
      "folder are refused.\n\n"
      "Numbers are written in their shortest form that reads back as the same doubles. Only "
      "complete frames are exported.\n\n"
      "Examples:\n"
      "  tavo export run.Tavosetup run.Tavomovie --format xyz --output run.xyz\n"
      "  tavo export run.Tavosetup run.Tavomovie --format xyz --output last.xyz --frames -1\n"
      "  tavo export run.Tavosetup run.Tavomovie --format vtk --output run.pvd --frames ::10 "
      "--scale 1e9",
      kTextWidth));
  command->callback([options] {
    if (options->format == "vtk" &&
        (options->output.size() <= 4 || !options->output.ends_with(".pvd")))
      throw CLI::ValidationError("--output: a vtk export is written to NAME.pvd, not " +
                                 options->output);
    Movie movie = openMovieForSlice(options->files.setup, options->files.movie, options->frames);
    std::vector<std::size_t> frames = selectFrames(options->frames, movie.size(), movie.path());
    if (options->format == "xyz")
      exportXyz(movie, frames, options->scale, options->output);
    else
      exportVtk(movie, frames, options->scale, options->output);
  });
}

}  // namespace tavo::cli
