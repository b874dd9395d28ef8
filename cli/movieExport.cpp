// movieExport.cpp - extended XYZ and VTK XML exports.
#include "cli/movieExport.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>

#include "cli/progress.h"
#include "formats/error.h"
#include "formats/numbers.h"
#include "formats/vtk.h"
#include "formats/xyz.h"

namespace fs = std::filesystem;

namespace tavo::cli {

using formats::isInside;
using formats::OutputFile;
using formats::requireNotInput;
using formats::shortest;
using formats::writeVtpFrame;
using formats::writeXyzFrame;
using formats::xmlAttribute;

namespace {

constexpr std::string_view kPvd = ".pvd";

std::vector<std::string> inputsOf(const Movie& movie) { return {movie.setup().path, movie.path()}; }

}  // namespace

std::string vtkFolder(const std::string& pvdPath) {
  return pvdPath.substr(0, pvdPath.size() - kPvd.size());
}

// ---------------------------------------------------------------------------
// Extended XYZ
// ---------------------------------------------------------------------------

void exportXyz(const Movie& movie, const std::vector<std::size_t>& frames, double scale,
               const std::string& path) {
  requireNotInput(path, inputsOf(movie));
  OutputFile out(path);
  Progress progress("exporting " + path, static_cast<std::int64_t>(frames.size()));
  Frame frame;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    movie.read(frames[i], frame);
    writeXyzFrame(frame, movie.setup(), scale, out);
    progress.update(static_cast<std::int64_t>(i + 1));
  }
  out.commit();
}

// ---------------------------------------------------------------------------
// VTK XML
// ---------------------------------------------------------------------------

void exportVtk(const Movie& movie, const std::vector<std::size_t>& frames, double scale,
               const std::string& pvdPath) {
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

  // The folder, made here unless it exists; removed again if the export
  // fails (rmdir leaves a folder that holds anything else).
  struct Folder {
    std::string path;
    bool made = false;
    bool keep = false;
    ~Folder() {
      if (made && !keep) rmdir(path.c_str());
    }
  } dir{folder};
  if (mkdir(folder.c_str(), 0777) == 0) {
    dir.made = true;
  } else {
    struct stat st {};
    if (errno != EEXIST) throw Error(folder + ": cannot make the folder: " + std::strerror(errno));
    if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
      throw Error(folder + ": exists and is not a folder");
  }

  // Frame files are named by frame index, zero-padded so that they sort.
  std::size_t width = std::to_string(movie.size() > 0 ? movie.size() - 1 : 0).size();
  if (width < 6) width = 6;
  const std::string leaf = fs::path(folder).filename().string();
  std::vector<std::unique_ptr<OutputFile>> files;
  std::string collection =
      "<?xml version=\"1.0\"?>\n<VTKFile type=\"Collection\" version=\"0.1\" byte_order=\"" +
      std::string(std::endian::native == std::endian::little ? "LittleEndian" : "BigEndian") +
      "\">\n  <Collection>\n";
  Progress progress("exporting " + pvdPath, static_cast<std::int64_t>(frames.size()));
  Frame frame;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    movie.read(frames[i], frame);
    std::string index = std::to_string(frames[i]);
    std::string name =
        "frame_" + std::string(width - std::min(width, index.size()), '0') + index + ".vtp";
    auto file = std::make_unique<OutputFile>(folder + "/" + name);
    writeVtpFrame(frame, movie.setup(), scale, *file);
    file->close();
    files.push_back(std::move(file));
    collection += "    <DataSet timestep=\"" + shortest(frame.time) +
                  "\" group=\"\" part=\"0\" file=\"" + xmlAttribute(leaf + "/" + name) + "\"/>\n";
    progress.update(static_cast<std::int64_t>(i + 1));
  }
  collection += "  </Collection>\n</VTKFile>\n";
  OutputFile pvd(pvdPath);
  pvd.text(collection);
  pvd.close();
  // Everything is written: make it visible, the collection last.
  for (const std::unique_ptr<OutputFile>& file : files) file->commit();
  pvd.commit();
  dir.keep = true;
}

}  // namespace tavo::cli
