// xyz.cpp - frames as extended XYZ.
#include "formats/xyz.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "formats/numbers.h"

namespace tavo::formats {

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

}  // namespace tavo::formats
