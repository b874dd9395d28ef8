// png.h - writing a picture as a PNG file with libpng.
#ifndef TAVO_FORMATS_PNG_H
#define TAVO_FORMATS_PNG_H

#include <cstdint>
#include <string>
#include <vector>

namespace tavo::formats {

// Writes 8-bit RGB rows (RGBA with `alpha`), top row first, to `path` (a
// temporary of formats/output.h, normally). Throws Error naming the file as
// `shownAs` (`path` when empty) when it cannot be created or written in full
// (a full disk included), or when the rows do not make the size; the caller
// removes what was left.
void writePng(const std::string& path, int width, int height, const std::vector<std::uint8_t>& rgb,
              const std::string& shownAs = "", bool alpha = false);

// Reads an 8-bit RGB or RGBA PNG back as RGB rows (tests and checks).
std::vector<std::uint8_t> readPng(const std::string& path, int& width, int& height);

}  // namespace tavo::formats

#endif  // TAVO_FORMATS_PNG_H
