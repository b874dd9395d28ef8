// xyz.h - frames as extended XYZ, in the form ASE, MDAnalysis and VMD read.
//
// Per frame: the count line, the comment line
//   Properties=species:S:1:pos:R:3:name:S:1:radius:R:1 step=<step> time=<seconds> unit=<unit>
// and one line per molecule: its element symbol, x, y and z, its species
// name and radius. The first column must hold element symbols for ASE (any
// other word is refused there), and MDAnalysis and VMD take the first four
// columns only, so the species name comes after the position. Every length
// is in metres multiplied by `scale`, written in the shortest text that
// reads back as the same double; `unit` names the result ("m", "nm", or a
// factor and metres, quoted).
//
// Padded frames (for the readers that need the same count in every frame)
// list every slot of every species in setup order, live molecules first,
// with a last column alive:I:1 (1 live, 0 empty) and "nan" positions in the
// empty slots.
#ifndef TAVO_FORMATS_XYZ_H
#define TAVO_FORMATS_XYZ_H

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "formats/movie.h"
#include "formats/output.h"
#include "formats/setup.h"

namespace tavo::formats {

// What every frame of one export shares.
struct XyzLayout {
  std::vector<std::string> lead;  // per species ID: its element symbol and a blank
  std::vector<std::string> tail;  // per species ID: a blank, its name, a blank, its radius
  std::vector<int> slotSpecies;   // padded frames: the species of every slot
  double scale = 1.0;
  std::string unit;  // the comment's unit=... value, quoted where it must be
  bool padded = false;
};

// The layout of `setup`'s frames. A species called by an element symbol
// keeps it, any other is "X" unless `elements` maps its name (NAME, SYMBOL
// pairs); throws Error for a NAME that is no species or a SYMBOL that is no
// element. `slotSpecies` is used for padded frames.
XyzLayout xyzLayout(const Setup& setup, double scale,
                    const std::vector<std::pair<std::string, std::string>>& elements, bool padded,
                    std::vector<int> slotSpecies = {});

// Whether `word` is the symbol of an element ("Fe"; case matters), or "X",
// the placeholder ASE and VMD take for an unknown one.
bool isElementSymbol(std::string_view word);

// A frame's live molecules.
void writeXyzFrame(const Frame& frame, const XyzLayout& layout, Output& out);

// A padded frame: `positions` holds x y z of every slot (layout.slotSpecies),
// `alive` 1 or 0 per slot; `frame` gives the step and time.
void writeXyzPaddedFrame(const Frame& frame, const double* positions, const std::uint8_t* alive,
                         const XyzLayout& layout, Output& out);

}  // namespace tavo::formats

#endif  // TAVO_FORMATS_XYZ_H
