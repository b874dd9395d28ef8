// movieExport.cpp - extended XYZ, VTK XML and H5MD exports.
#include "cli/movieExport.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>

#include "cli/progress.h"
#include "formats/error.h"
#include "formats/numbers.h"
#include "formats/output.h"
#include "formats/vtk.h"
#include "formats/xyz.h"

namespace fs = std::filesystem;

namespace tavo::cli {

using formats::isInside;
using formats::OutputFile;
using formats::requireNotInput;

namespace {

constexpr std::string_view kPvd = ".pvd";

std::vector<std::string> inputsOf(const Movie& movie) { return {movie.setup().path, movie.path()}; }

}  // namespace

std::optional<ExportFormat> exportFormatOf(const std::string& path) {
  const std::string extension = fs::path(path).extension().string();
  if (extension == ".xyz") return ExportFormat::xyz;
  if (extension == ".pvd") return ExportFormat::vtk;
  if (extension == ".h5" || extension == ".h5md") return ExportFormat::h5md;
  return std::nullopt;
}

std::string vtkFolder(const std::string& pvdPath) {
  return pvdPath.substr(0, pvdPath.size() - kPvd.size());
}

// ---------------------------------------------------------------------------
// Extended XYZ
// ---------------------------------------------------------------------------

void exportXyz(const Movie& movie, const std::vector<std::size_t>& frames,
               const ExportOptions& options, const std::string& path) {
  const formats::XyzLayout layout =
      formats::xyzLayout(movie.setup(), options.scale, options.elements, options.pad,
                         options.pad ? movie.slotSpecies() : std::vector<int>{});
  OutputFile out(path, {.inputs = inputsOf(movie)});
  Progress progress("exporting " + path, static_cast<std::int64_t>(frames.size()));
  Frame frame;
  std::vector<double> positions(options.pad ? 3 * movie.slotCount() : 0);
  std::vector<std::uint8_t> alive(options.pad ? movie.slotCount() : 0);
  for (std::size_t i = 0; i < frames.size(); ++i) {
    if (options.pad) {
      movie.readPadded(frames[i], frame, positions.data(), alive.data());
      formats::writeXyzPaddedFrame(frame, positions.data(), alive.data(), layout, out);
    } else {
      movie.read(frames[i], frame);
      formats::writeXyzFrame(frame, layout, out);
    }
    progress.update(static_cast<std::int64_t>(i + 1));
  }
  out.commit();
}

// ---------------------------------------------------------------------------
// VTK XML
// ---------------------------------------------------------------------------

void exportVtk(const Movie& movie, const std::vector<std::size_t>& frames,
               const ExportOptions& options, const std::string& pvdPath) {
  if (pvdPath.size() <= kPvd.size() || !pvdPath.ends_with(kPvd) ||
      pvdPath[pvdPath.size() - kPvd.size() - 1] == '/')
    throw Error(pvdPath + ": a VTK export is written to a NAME.pvd file");
  const std::string folder = vtkFolder(pvdPath);
  const std::vector<std::string> inputs = inputsOf(movie);
  requireNotInput(pvdPath, inputs);
  requireNotInput(folder, inputs);
  for (const std::string& input : inputs)
    if (isInside(input, folder))
      throw Error(folder + ": holds an input of this command (" + input +
                  "); not writing frames into it");
  if (isInside(pvdPath, folder))
    throw Error(pvdPath + ": lies inside its own frame folder " + folder);

  // The collection first: it names its folder when that does not exist.
  OutputFile pvd(pvdPath, {.inputs = inputs});
  // The frame folder, made here unless it exists; removed again if the
  // export fails or is interrupted while it is empty.
  formats::MadeFolders made;
  made.make(folder);

  // Frame files are named by frame index, zero-padded so that they sort.
  std::size_t width = std::to_string(movie.size() > 0 ? movie.size() - 1 : 0).size();
  if (width < 6) width = 6;
  const std::string leaf = fs::path(folder).filename().string();
  std::vector<std::unique_ptr<OutputFile>> files;
  std::vector<formats::PvdEntry> entries;
  Progress progress("exporting " + pvdPath, static_cast<std::int64_t>(frames.size()));
  Frame frame;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    movie.read(frames[i], frame);
    std::string index = std::to_string(frames[i]);
    std::string name =
        "frame_" + std::string(width - std::min(width, index.size()), '0') + index + ".vtp";
    // A name of ours: a link sitting there is replaced, never written through.
    auto file = std::make_unique<OutputFile>(
        folder + "/" + name, formats::OutputRules{.inputs = inputs, .madeName = true});
    formats::writeVtpFrame(frame, movie.setup(), options.scale, *file);
    file->close();
    files.push_back(std::move(file));
    entries.push_back(
        {formats::decimalProduct(frame.step, movie.setup().timeStep), leaf + "/" + name});
    progress.update(static_cast<std::int64_t>(i + 1));
  }
  pvd.text(formats::pvdCollection(entries));
  pvd.close();
  // Everything is written: make it visible, the collection last.
  for (const std::unique_ptr<OutputFile>& file : files) file->commit();
  pvd.commit();
  made.keep();
}

// ---------------------------------------------------------------------------
// H5MD
// ---------------------------------------------------------------------------

void exportH5md(const Movie& movie, const std::vector<std::size_t>& frames,
                const ExportOptions& options, const std::string& path) {
  OutputFile out(path, {.inputs = inputsOf(movie), .byName = true});
  formats::H5mdWriter writer(out.fileName(), movie.setup(), frames.size(), options.scale,
                             options.creator);
  Progress progress("exporting " + path, static_cast<std::int64_t>(frames.size()));
  Frame frame;
  std::vector<double> positions(3 * movie.slotCount());
  std::vector<std::uint8_t> alive(movie.slotCount());
  std::vector<int> counts(movie.setup().species.size());
  for (std::size_t i = 0; i < frames.size(); ++i) {
    movie.readPadded(frames[i], frame, positions.data(), alive.data());
    for (std::size_t s = 0; s < counts.size(); ++s) counts[s] = frame.count(static_cast<int>(s));
    writer.write(i, frame.step, frame.time, positions.data(), alive.data(), counts);
    progress.update(static_cast<std::int64_t>(i + 1));
  }
  writer.close();
  out.commit();
}

}  // namespace tavo::cli
