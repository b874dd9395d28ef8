// exportCommand.cpp - tavo export: frames as extended XYZ, VTK or H5MD files.
#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/movieExport.h"
#include "cli/movieInput.h"
#include "cli/progress.h"
#include "formats/xyz.h"

namespace tavo::cli {

namespace {

// The login name of whoever runs the export: H5MD's author.
std::string loginName() {
  for (const char* variable : {"USER", "LOGNAME"})
    if (const char* name = std::getenv(variable); name != nullptr && *name != '\0') return name;
  if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_name != nullptr)
    return entry->pw_name;
  return "unknown";
}

}  // namespace

void addExportCommand(CLI::App& app) {
  struct Options {
    MovieArguments files;
    std::string format;
    std::string output;
    FrameSlice frames = parseFrameSlice(":");
    double scale = 1.0;
    bool pad = false;
    std::vector<std::pair<std::string, std::string>> elements;
  };
  auto options = std::make_shared<Options>();
  CLI::App* command = app.add_subcommand(
      "export", "Write frames as extended XYZ, VTK or H5MD files for other programs");
  addMovieArguments(*command, options->files);
  command
      ->add_option("-f,--format", options->format,
                   wrap("xyz, vtk or h5md (see below); by default the output's extension "
                        "tells: .xyz, .pvd, .h5 or .h5md"))
      ->type_name("xyz|vtk|h5md")
      ->check(CLI::IsMember({"xyz", "vtk", "h5md"}).description(""));
  command
      ->add_option("-o,--output", options->output,
                   wrap("file to write; nothing appears there unless the export "
                        "succeeds, and it is never one of the inputs"))
      ->required()
      ->type_name("PATH");
  addFramesOption(*command, options->frames);
  command
      ->add_option("--scale", options->scale,
                   wrap("multiply every length (positions, radii, sizes) by S: 1e9 gives "
                        "nanometres, 1e10 angstroms; default 1, metres"))
      ->type_name("S")
      ->check(lengthFactor());
  command->add_flag("--pad", options->pad,
                    wrap("xyz: list every slot of every species in every frame, with an "
                         "alive column (1 or 0) and nan positions in empty slots, for readers "
                         "that need the same count in every frame"));
  command
      ->add_option_function<std::vector<std::string>>(
          "--element",
          [options](const std::vector<std::string>& pairs) {
            for (const std::string& pair : pairs) {
              const std::size_t equals = pair.find('=');
              if (equals == std::string::npos || equals == 0 || equals + 1 == pair.size())
                throw CLI::ValidationError("--element", pair + " is not NAME=SYMBOL, such as E=Fe");
              const std::string symbol = pair.substr(equals + 1);
              if (!formats::isElementSymbol(symbol))
                throw CLI::ValidationError(
                    "--element", pair + ": " + symbol + " is not an element symbol (or X)");
              options->elements.emplace_back(pair.substr(0, equals), symbol);
            }
          },
          wrap("xyz: write species NAME as element SYMBOL (repeatable); a species named by "
               "an element symbol keeps it, any other is X"))
      ->type_name("NAME=SYMBOL")
      ->allow_extra_args(false);
  addQuietFlag(*command);
  command->footer(wrap(
      "Formats:\n"
      "  xyz   one extended XYZ file, frames in order; per frame the molecule count, the "
      "comment line \"Properties=species:S:1:pos:R:3:name:S:1:radius:R:1 step=STEP "
      "time=SECONDS unit=UNIT\", and per molecule its element symbol (species), x y z, species "
      "name and radius. ASE reads it whole; MDAnalysis and VMD need --pad.\n"
      "  vtk   PATH must end in .pvd: writes that ParaView collection (timestep: the step "
      "times the time step, in decimal) and, in the folder PATH without .pvd, one VTK XML "
      "PolyData file per frame, named by frame index, with Float64 points, vertex cells, the "
      "point data species (Int32, the species ID) and radius (Float64, half the species' "
      "size), and the field data species_names. Inputs inside that folder are refused.\n"
      "  h5md  one H5MD (HDF5) file for h5py and MDAnalysis: every slot of every "
      "species in every frame, NaN positions in empty slots, /particles/all/alive, the "
      "counts per species in /observables/counts, the setup in /parameters. MDAnalysis "
      "knows no metres: use --scale 1e9 (nm) or 1e10 (Angstrom).\n\n"
      "Numbers are written in their shortest form that reads back as the same doubles. Only "
      "complete frames are exported. With --pad and h5md a slot is a place in the frame, not "
      "one molecule: molecules are compacted in a movie, so slot i holds the species' i-th "
      "live molecule of each frame.\n\n"
      "Examples:\n"
      "  tavo export run.Tavosetup run.Tavomovie --output run.xyz\n"
      "  tavo export run.Tavosetup run.Tavomovie --output last.xyz --frames -1\n"
      "  tavo export run.Tavosetup run.Tavomovie --output run.pvd --frames ::10 --scale 1e9\n"
      "  tavo export run.Tavosetup run.Tavomovie --output run.h5 --scale 1e9",
      kTextWidth));
  command->callback([options] {
    const auto start = std::chrono::steady_clock::now();
    ExportFormat format = ExportFormat::xyz;
    if (options->format == "xyz") {
      format = ExportFormat::xyz;
    } else if (options->format == "vtk") {
      format = ExportFormat::vtk;
    } else if (options->format == "h5md") {
      format = ExportFormat::h5md;
    } else if (std::optional<ExportFormat> named = exportFormatOf(options->output)) {
      format = *named;
    } else {
      throw CLI::ValidationError("--format", "the output " + options->output +
                                                 " ends in none of .xyz, .pvd, .h5, .h5md: "
                                                 "name the format: xyz, vtk or h5md");
    }
    if (format == ExportFormat::vtk &&
        (options->output.size() <= 4 || !options->output.ends_with(".pvd")))
      throw CLI::ValidationError("--output: a vtk export is written to NAME.pvd, not " +
                                 options->output);
    if (format != ExportFormat::xyz && options->pad)
      throw CLI::ValidationError("--pad", "pads xyz exports only (h5md is always padded)");
    if (format != ExportFormat::xyz && !options->elements.empty())
      throw CLI::ValidationError("--element", "applies to xyz exports only");
    if (format == ExportFormat::h5md && !formats::H5mdWriter::available())
      throw Error(options->output +
                  ": this tavo writes no H5MD files: it was built without libhdf5 (Debian "
                  "package libhdf5-dev)");

    Movie movie = openMovieForSlice(options->files.setup, options->files.movie, options->frames);
    for (const auto& [name, symbol] : options->elements)
      if (movie.setup().speciesId(name) < 0)
        throw CLI::ValidationError("--element",
                                   name + "=" + symbol + ": the setup has no species " + name);
    std::vector<std::size_t> frames = selectFrames(options->frames, movie.size(), movie.path());
    ExportOptions exportOptions{
        options->scale, options->pad, options->elements, {loginName(), "tavo", TAVO_VERSION}};
    if (format == ExportFormat::xyz)
      exportXyz(movie, frames, exportOptions, options->output);
    else if (format == ExportFormat::vtk)
      exportVtk(movie, frames, exportOptions, options->output);
    else
      exportH5md(movie, frames, exportOptions, options->output);
    reportWritten(options->output, frames.size(), start);
  });
}

}  // namespace tavo::cli
