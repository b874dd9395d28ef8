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

#include "cli/numberFormat.h"
#include "cli/progress.h"
#include "textio/error.h"

namespace fs = std::filesystem;

namespace tavo::cli {

namespace {

constexpr std::string_view kPvd = ".pvd";

std::vector<std::string> inputsOf(const Movie& movie) { return {movie.setup().path, movie.path()}; }

// Attribute text with XML's special characters escaped.
std::string xmlAttribute(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// Appends `count` values made by `value(i)` as raw bytes.
template <typename T, typename Fn>
void putArray(Output& out, std::size_t count, Fn value) {
  constexpr std::size_t kChunk = Output::kBuffer / sizeof(T);
  for (std::size_t i = 0; i < count;) {
    std::size_t n = count - i < kChunk ? count - i : kChunk;
    char* p = out.room(n * sizeof(T));
    for (std::size_t k = 0; k < n; ++k, ++i) {
      T v = value(i);
      std::memcpy(p + k * sizeof(T), &v, sizeof(T));
    }
    out.advance(p + n * sizeof(T));
  }
}

void putBlockHeader(Output& out, std::uint64_t bytes) {
  char* p = out.room(sizeof bytes);
  std::memcpy(p, &bytes, sizeof bytes);
  out.advance(p + sizeof bytes);
}

}  // namespace

std::string vtkFolder(const std::string& pvdPath) {
  return pvdPath.substr(0, pvdPath.size() - kPvd.size());
}

// ---------------------------------------------------------------------------
// Extended XYZ
// ---------------------------------------------------------------------------

void writeXyzFrame(const Frame& frame, const Setup& setup, double scale, Output& out) {
  std::size_t total = 0;
  for (const std::vector<double>& xyz : frame.positions) total += xyz.size() / 3;
  char* p = out.room(2 * kMaxNumberChars + 64);
  p = putInteger(p, static_cast<std::int64_t>(total));
  constexpr std::string_view kProperties = "\nProperties=species:S:1:pos:R:3 step=";
  p = std::copy(kProperties.begin(), kProperties.end(), p);
  p = putInteger(p, frame.step);
  p = std::copy_n(" time=", 6, p);
  p = putShortest(p, frame.time);
  *p++ = '\n';
  out.advance(p);
  for (std::size_t s = 0; s < frame.positions.size(); ++s) {
    const std::string& name = setup.species[s].name;
    const std::vector<double>& xyz = frame.positions[s];
    for (std::size_t i = 0; i + 2 < xyz.size(); i += 3) {
      out.text(name);
      p = out.room(3 * (kMaxNumberChars + 1) + 1);
      *p++ = ' ';
      p = putShortest(p, xyz[i] * scale);
      *p++ = ' ';
      p = putShortest(p, xyz[i + 1] * scale);
      *p++ = ' ';
      p = putShortest(p, xyz[i + 2] * scale);
      *p++ = '\n';
      out.advance(p);
    }
  }
}

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

void writeVtpFrame(const Frame& frame, const Setup& setup, double scale, Output& out) {
  std::size_t n = 0;
  for (const std::vector<double>& xyz : frame.positions) n += xyz.size() / 3;
  // Appended blocks in file order, each a UInt64 byte count and the bytes.
  const std::uint64_t speciesBytes = 4 * n, radiusBytes = 8 * n, pointBytes = 24 * n,
                      cellBytes = 8 * n;
  std::uint64_t offsets[5] = {0};
  offsets[1] = offsets[0] + 8 + speciesBytes;
  offsets[2] = offsets[1] + 8 + radiusBytes;
  offsets[3] = offsets[2] + 8 + pointBytes;
  offsets[4] = offsets[3] + 8 + cellBytes;
  const char* order = std::endian::native == std::endian::little ? "LittleEndian" : "BigEndian";
  const std::string count = std::to_string(n);
  std::string head;
  head += "<?xml version=\"1.0\"?>\n";
  head += "<VTKFile type=\"PolyData\" version=\"1.0\" byte_order=\"" + std::string(order) +
          "\" header_type=\"UInt64\">\n";
  head += "  <PolyData>\n";
  head += "    <FieldData>\n";
  head += "      <DataArray type=\"Int32\" Name=\"step\" NumberOfTuples=\"1\" format=\"ascii\">" +
          std::to_string(frame.step) + "</DataArray>\n";
  head +=
      "      <DataArray type=\"Float64\" Name=\"TimeValue\" NumberOfTuples=\"1\" "
      "format=\"ascii\">" +
      shortest(frame.time) + "</DataArray>\n";
  head += "    </FieldData>\n";
  head += "    <Piece NumberOfPoints=\"" + count + "\" NumberOfVerts=\"" + count +
          "\" NumberOfLines=\"0\" NumberOfStrips=\"0\" NumberOfPolys=\"0\">\n";
  head += "      <PointData Scalars=\"species\">\n";
  head += "        <DataArray type=\"Int32\" Name=\"species\" format=\"appended\" offset=\"" +
          std::to_string(offsets[0]) + "\"/>\n";
  head += "        <DataArray type=\"Float64\" Name=\"radius\" format=\"appended\" offset=\"" +
          std::to_string(offsets[1]) + "\"/>\n";
  head += "      </PointData>\n";
  head += "      <Points>\n";
  head +=
      "        <DataArray type=\"Float64\" Name=\"Points\" NumberOfComponents=\"3\" "
      "format=\"appended\" offset=\"" +
      std::to_string(offsets[2]) + "\"/>\n";
  head += "      </Points>\n";
  head += "      <Verts>\n";
  head += "        <DataArray type=\"Int64\" Name=\"connectivity\" format=\"appended\" offset=\"" +
          std::to_string(offsets[3]) + "\"/>\n";
  head += "        <DataArray type=\"Int64\" Name=\"offsets\" format=\"appended\" offset=\"" +
          std::to_string(offsets[4]) + "\"/>\n";
  head += "      </Verts>\n";
  head += "    </Piece>\n";
  head += "  </PolyData>\n";
  head += "  <AppendedData encoding=\"raw\">\n   _";
  out.text(head);

  putBlockHeader(out, speciesBytes);
  for (std::size_t s = 0; s < frame.positions.size(); ++s) {
    auto id = static_cast<std::int32_t>(s);
    putArray<std::int32_t>(out, frame.positions[s].size() / 3, [id](std::size_t) { return id; });
  }
  putBlockHeader(out, radiusBytes);
  for (std::size_t s = 0; s < frame.positions.size(); ++s) {
    // A species' size is its diameter (two sizes meet at their mean).
    double radius = setup.species[s].size / 2 * scale;
    putArray<double>(out, frame.positions[s].size() / 3, [radius](std::size_t) { return radius; });
  }
  putBlockHeader(out, pointBytes);
  for (const std::vector<double>& xyz : frame.positions) {
    const double* v = xyz.data();
    putArray<double>(out, xyz.size() / 3 * 3, [v, scale](std::size_t i) { return v[i] * scale; });
  }
  putBlockHeader(out, cellBytes);
  putArray<std::int64_t>(out, n, [](std::size_t i) { return static_cast<std::int64_t>(i); });
  putBlockHeader(out, cellBytes);
  putArray<std::int64_t>(out, n, [](std::size_t i) { return static_cast<std::int64_t>(i + 1); });
  out.text("\n  </AppendedData>\n</VTKFile>\n");
}

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
