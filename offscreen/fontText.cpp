// fontText.cpp - FreeType glyphs drawn as blended pixel rectangles.
#define GL_GLEXT_PROTOTYPES 1
#include "offscreen/fontText.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include <GL/gl.h>
#include <GL/glext.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "formats/error.h"

namespace tavo::offscreen {

namespace {

// Banner text stands this much larger than label text.
constexpr double kBannerScale = 1.6;

// The next code point of UTF-8 text; a byte that starts no valid sequence is
// taken as itself (Latin-1), so no name is dropped whole.
char32_t nextCode(const unsigned char*& p) {
  const unsigned char c = *p++;
  int extra = c >= 0xF0 && c < 0xF8 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
  if (c < 0x80 || extra == 0 || c >= 0xF8) return c;
  char32_t code = c & (0x3F >> extra);
  const unsigned char* q = p;
  for (int k = 0; k < extra; ++k, ++q) {
    if ((*q & 0xC0) != 0x80) return c;
    code = (code << 6) | (*q & 0x3F);
  }
  p = q;
  return code;
}

}  // namespace

std::string defaultFontPath() {
  static const char* const kCandidates[] = {
#ifdef TAVO_FONT_FILE
      TAVO_FONT_FILE,
#endif
      "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
      "/usr/local/share/fonts/DejaVuSans.ttf",
  };
  for (const char* path : kCandidates)
    if (access(path, R_OK) == 0) return path;
  return "";
}

struct FontText::Library {
  FT_Library library = nullptr;
  FT_Face face = nullptr;
  ~Library() {
    if (face != nullptr) FT_Done_Face(face);
    if (library != nullptr) FT_Done_FreeType(library);
  }
};

FontText::FontText(const std::string& fontPath, int labelPixels)
    : ft_(std::make_unique<Library>()), labelPixels_(std::max(labelPixels, 6)) {
  if (fontPath.empty())
    throw Error(
        "no font for the overlay text: install the Debian package fonts-dejavu-core, or use "
        "--no-overlay");
  if (FT_Init_FreeType(&ft_->library) != 0) throw Error("cannot start the FreeType library");
  if (FT_New_Face(ft_->library, fontPath.c_str(), 0, &ft_->face) != 0)
    throw Error(fontPath + ": cannot load the font for the overlay text");
}

FontText::~FontText() = default;

const FontText::Glyph& FontText::glyph(scene::Font font, char32_t code) {
  const int pixels = font == scene::Font::banner
                         ? static_cast<int>(std::lround(labelPixels_ * kBannerScale))
                         : labelPixels_;
  const auto key = std::make_pair(pixels, code);
  auto found = glyphs_.find(key);
  if (found != glyphs_.end()) return found->second;
  Glyph g;
  FT_Face face = ft_->face;
  if (FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(pixels)) == 0 &&
      FT_Load_Char(face, code, FT_LOAD_RENDER) == 0) {
    const FT_GlyphSlot slot = face->glyph;
    g.left = slot->bitmap_left;
    g.top = slot->bitmap_top;
    g.width = static_cast<int>(slot->bitmap.width);
    g.rows = static_cast<int>(slot->bitmap.rows);
    g.advance = static_cast<int>(slot->advance.x >> 6);
    g.coverage.resize(static_cast<std::size_t>(g.width) * g.rows);
    for (int r = 0; r < g.rows; ++r)
      std::copy_n(slot->bitmap.buffer + static_cast<std::ptrdiff_t>(r) * slot->bitmap.pitch,
                  g.width, g.coverage.begin() + static_cast<std::ptrdiff_t>(r) * g.width);
  }
  return glyphs_.emplace(key, std::move(g)).first->second;
}

int FontText::lineHeight(scene::Font font) {
  const int pixels = font == scene::Font::banner
                         ? static_cast<int>(std::lround(labelPixels_ * kBannerScale))
                         : labelPixels_;
  return static_cast<int>(std::lround(pixels * 1.2));
}

int FontText::width(scene::Font font, const char* text) {
  int w = 0;
  for (auto p = reinterpret_cast<const unsigned char*>(text); *p != 0;)
    w += glyph(font, nextCode(p)).advance;
  return w;
}

void FontText::text(float x, float y, scene::Font font, const char* text) {
  drawAtWindow(x, y, font, text);
}

void FontText::textAt(const float p[3], scene::Font font, const char* text) {
  glRasterPos3f(p[0], p[1], p[2]);
  GLboolean valid = GL_FALSE;
  glGetBooleanv(GL_CURRENT_RASTER_POSITION_VALID, &valid);
  if (!valid) return;
  GLfloat window[4];
  glGetFloatv(GL_CURRENT_RASTER_POSITION, window);
  drawAtWindow(window[0], window[1], font, text);
}

void FontText::drawAtWindow(float x, float y, scene::Font font, const char* text) {
  // One picture of the whole line, in the current colour with the glyphs'
  // coverage as alpha, blended over the frame.
  int above = 0, below = 0, pen = 0, right = 0;
  for (auto p = reinterpret_cast<const unsigned char*>(text); *p != 0;) {
    const Glyph& g = glyph(font, nextCode(p));
    above = std::max(above, g.top);
    below = std::max(below, g.rows - g.top);
    right = std::max(right, pen + g.left + g.width);
    pen += g.advance;
  }
  const int w = std::max(right, pen);
  const int h = above + below;
  if (w <= 0 || h <= 0) return;
  GLfloat colour[4];
  glGetFloatv(GL_CURRENT_COLOR, colour);
  const unsigned char rgb[3] = {
      static_cast<unsigned char>(std::lround(std::clamp(colour[0], 0.0f, 1.0f) * 255)),
      static_cast<unsigned char>(std::lround(std::clamp(colour[1], 0.0f, 1.0f) * 255)),
      static_cast<unsigned char>(std::lround(std::clamp(colour[2], 0.0f, 1.0f) * 255))};
  image_.assign(static_cast<std::size_t>(w) * h * 4, 0);
  for (std::size_t i = 0; i < image_.size(); i += 4) std::copy_n(rgb, 3, &image_[i]);
  pen = 0;
  for (auto p = reinterpret_cast<const unsigned char*>(text); *p != 0;) {
    const Glyph& g = glyph(font, nextCode(p));
    for (int r = 0; r < g.rows; ++r) {
      const int iy = below + g.top - 1 - r;  // image rows run bottom-up
      if (iy < 0 || iy >= h) continue;
      for (int c = 0; c < g.width; ++c) {
        const int ix = pen + g.left + c;
        if (ix < 0 || ix >= w) continue;
        unsigned char& a = image_[(static_cast<std::size_t>(iy) * w + ix) * 4 + 3];
        a = std::max(a, g.coverage[static_cast<std::size_t>(r) * g.width + c]);
      }
    }
    pen += g.advance;
  }
  glWindowPos2f(std::floor(x), std::floor(y) - static_cast<float>(below));
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glDrawPixels(w, h, GL_RGBA, GL_UNSIGNED_BYTE, image_.data());
  glDisable(GL_BLEND);
}

}  // namespace tavo::offscreen
