// xyz.cpp - frames as extended XYZ.
#include "formats/xyz.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "formats/numbers.h"

namespace tavo::formats {

namespace {

// The elements' symbols, by atomic number from 1.
constexpr std::string_view kElements[] = {
    "H",  "He", "Li", "Be", "B",  "C",  "N",  "O",  "F",  "Ne", "Na", "Mg", "Al", "Si", "P",
    "S",  "Cl", "Ar", "K",  "Ca", "Sc", "Ti", "V",  "Cr", "Mn", "Fe", "Co", "Ni", "Cu", "Zn",
    "Ga", "Ge", "As", "Se", "Br", "Kr", "Rb", "Sr", "Y",  "Zr", "Nb", "Mo", "Tc", "Ru", "Rh",
    "Pd", "Ag", "Cd", "In", "Sn", "Sb", "Te", "I",  "Xe", "Cs", "Ba", "La", "Ce", "Pr", "Nd",
    "Pm", "Sm", "Eu", "Gd", "Tb", "Dy", "Ho", "Er", "Tm", "Yb", "Lu", "Hf", "Ta", "W",  "Re",
    "Os", "Ir", "Pt", "Au", "Hg", "Tl", "Pb", "Bi", "Po", "At", "Rn", "Fr", "Ra", "Ac", "Th",
    "Pa", "U",  "Np", "Pu", "Am", "Cm", "Bk", "Cf", "Es", "Fm", "Md", "No", "Lr", "Rf", "Db",
    "Sg", "Bh", "Hs", "Mt", "Ds", "Rg", "Cn", "Nh", "Fl", "Mc", "Lv", "Ts", "Og"};

// A comment value, quoted when it holds a blank.
std::string commentValue(const std::string& text) {
  return text.find(' ') == std::string::npos ? text : "\"" + text + "\"";
}

// The count and comment lines.
void putHead(std::size_t count, const Frame& frame, const XyzLayout& layout, Output& out) {
  char* p = out.room(2 * kMaxNumberChars + 16);
  p = putInteger(p, static_cast<std::int64_t>(count));
  *p++ = '\n';
  out.advance(p);
  out.text(layout.padded ? "Properties=species:S:1:pos:R:3:name:S:1:radius:R:1:alive:I:1 step="
                         : "Properties=species:S:1:pos:R:3:name:S:1:radius:R:1 step=");
  p = out.room(2 * kMaxNumberChars + 16);
  p = putInteger(p, frame.step);
  p = std::copy_n(" time=", 6, p);
  p = putShortest(p, frame.time);
  p = std::copy_n(" unit=", 6, p);
  out.advance(p);
  out.text(layout.unit);
  out.text("\n");
}

char* putPosition(char* p, const double* xyz, double scale) {
  p = putShortest(p, xyz[0] * scale);
  *p++ = ' ';
  p = putShortest(p, xyz[1] * scale);
  *p++ = ' ';
  return putShortest(p, xyz[2] * scale);
}

}  // namespace

bool isElementSymbol(std::string_view word) {
  return word == "X" ||
         std::find(std::begin(kElements), std::end(kElements), word) != std::end(kElements);
}

XyzLayout xyzLayout(const Setup& setup, double scale,
                    const std::vector<std::pair<std::string, std::string>>& elements, bool padded,
                    std::vector<int> slotSpecies) {
  std::vector<std::string> symbols;
  for (const Species& species : setup.species)
    symbols.push_back(isElementSymbol(species.name) ? species.name : "X");
  for (const auto& [name, symbol] : elements) {
    const int id = setup.speciesId(name);
    if (id < 0) throw Error(name + "=" + symbol + ": the setup has no species " + name);
    if (!isElementSymbol(symbol))
      throw Error(name + "=" + symbol + ": " + symbol + " is not an element symbol");
    symbols[static_cast<std::size_t>(id)] = symbol;
  }
  XyzLayout layout;
  for (std::size_t s = 0; s < setup.species.size(); ++s) {
    const Species& species = setup.species[s];
    layout.lead.push_back(symbols[s] + " ");
    // A species' size is its diameter.
    layout.tail.push_back(" " + species.name + " " + shortest(species.size / 2 * scale));
  }
  layout.scale = scale;
  layout.unit = commentValue(lengthUnit(scale));
  layout.padded = padded;
  layout.slotSpecies = std::move(slotSpecies);
  return layout;
}

void writeXyzFrame(const Frame& frame, const XyzLayout& layout, Output& out) {
  std::size_t total = 0;
  for (const std::vector<double>& xyz : frame.positions) total += xyz.size() / 3;
  putHead(total, frame, layout, out);
  for (std::size_t s = 0; s < frame.positions.size(); ++s) {
    const std::vector<double>& xyz = frame.positions[s];
    for (std::size_t i = 0; i + 2 < xyz.size(); i += 3) {
      out.text(layout.lead[s]);
      char* p = out.room(3 * (kMaxNumberChars + 1));
      out.advance(putPosition(p, xyz.data() + i, layout.scale));
      out.text(layout.tail[s]);
      out.text("\n");
    }
  }
}

void writeXyzPaddedFrame(const Frame& frame, const double* positions, const std::uint8_t* alive,
                         const XyzLayout& layout, Output& out) {
  putHead(layout.slotSpecies.size(), frame, layout, out);
  for (std::size_t k = 0; k < layout.slotSpecies.size(); ++k) {
    const auto s = static_cast<std::size_t>(layout.slotSpecies[k]);
    out.text(layout.lead[s]);
    if (alive[k] != 0) {
      char* p = out.room(3 * (kMaxNumberChars + 1));
      out.advance(putPosition(p, positions + 3 * k, layout.scale));
    } else {
      out.text("nan nan nan");
    }
    out.text(layout.tail[s]);
    out.text(alive[k] != 0 ? " 1\n" : " 0\n");
  }
}

}  // namespace tavo::formats
