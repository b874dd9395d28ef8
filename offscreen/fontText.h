// fontText.h - overlay text offscreen: glyphs rendered by FreeType from a
// scalable font, drawn antialiased in the current colour.
#ifndef TAVO_OFFSCREEN_FONTTEXT_H
#define TAVO_OFFSCREEN_FONTTEXT_H

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "scene/scene.h"

namespace tavo::offscreen {

// The font file looked for when none is named: DejaVu Sans of the Debian
// package fonts-dejavu-core.
std::string defaultFontPath();

class FontText final : public scene::TextPainter {
 public:
  // Label text `labelPixels` high (the font's em size), banner text 1.6
  // times that. Throws Error when the font cannot be loaded.
  FontText(const std::string& fontPath, int labelPixels);
  ~FontText() override;
  FontText(const FontText&) = delete;
  FontText& operator=(const FontText&) = delete;

  void text(float x, float y, scene::Font font, const char* text) override;
  void textAt(const float p[3], scene::Font font, const char* text) override;

  // Advance width of `text` in pixels, and the line height of a font.
  int width(scene::Font font, const char* text);
  int lineHeight(scene::Font font);

 private:
  struct Glyph {
    int left = 0, top = 0, width = 0, rows = 0, advance = 0;
    std::vector<unsigned char> coverage;
  };
  const Glyph& glyph(scene::Font font, char32_t code);
  void drawAtWindow(float x, float y, scene::Font font, const char* text);

  struct Library;
  std::unique_ptr<Library> ft_;
  int labelPixels_ = 0;
  std::map<std::pair<int, char32_t>, Glyph> glyphs_;
  std::vector<unsigned char> image_;
};

}  // namespace tavo::offscreen

#endif  // TAVO_OFFSCREEN_FONTTEXT_H
