// vtk.cpp - frames as VTK XML PolyData with raw appended data.
#include "formats/vtk.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>

#include "formats/numbers.h"

namespace tavo::formats {

namespace {

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
  head += "      <Array type=\"String\" Name=\"species_names\" NumberOfTuples=\"" +
          std::to_string(setup.species.size()) + "\" format=\"ascii\">";
  // Strings in ASCII form: the code of every byte, each string ended by a 0.
  for (const Species& species : setup.species) {
    for (char c : species.name) head += std::to_string(static_cast<unsigned char>(c)) + " ";
    head += "0 ";
  }
  head += "</Array>\n";
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

std::string pvdCollection(const std::vector<PvdEntry>& entries) {
  std::string text =
      "<?xml version=\"1.0\"?>\n<VTKFile type=\"Collection\" version=\"0.1\" byte_order=\"" +
      std::string(std::endian::native == std::endian::little ? "LittleEndian" : "BigEndian") +
      "\">\n  <Collection>\n";
  for (const PvdEntry& entry : entries)
    text += "    <DataSet timestep=\"" + entry.time + "\" group=\"\" part=\"0\" file=\"" +
            xmlAttribute(entry.file) + "\"/>\n";
  return text + "  </Collection>\n</VTKFile>\n";
}

}  // namespace tavo::formats
