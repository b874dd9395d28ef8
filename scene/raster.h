// raster.h - molecules drawn by the processors instead of OpenGL, for
// machines whose OpenGL is itself a software rasteriser: points with the
// very pixels Mesa's software rasterisers give them, sphere impostors shaded
// as the scene's sphere shader shades them. The picture goes to memory, split
// by rows across worker threads; scene.cpp hands it to OpenGL as one image.
//
// Nothing here calls OpenGL: the transform comes in as the matrices and
// viewport OpenGL holds, so the pictures can be checked without a context.
#ifndef TAVO_SCENE_RASTER_H
#define TAVO_SCENE_RASTER_H

#include <cstdint>
#include <memory>
#include <vector>

#include "scene/view.h"
#include "trajectory/trajectory.h"

namespace tavo::scene {

// The transform of a drawing as glGetFloatv and glGetIntegerv return it.
// The viewport is the whole picture (origin 0, 0).
struct RasterView {
  float modelView[16];   // column-major
  float projection[16];  // column-major
  int width = 0;         // viewport width and height in pixels
  int height = 0;
};

// A picture in memory, rows top row first: RGBA bytes per pixel (alpha 0
// where nothing is drawn) and, once spheres are drawn, the depth buffer's
// 24-bit value per pixel (0xFFFFFF far).
struct RasterImage {
  int width = 0, height = 0;
  std::vector<std::uint32_t> rgba;   // bytes R, G, B, A in memory order
  std::vector<std::uint32_t> depth;  // spheres only
};

// A colour as an 8-bit framebuffer stores it: each channel clamped to
// [0, 1], times 255, rounded to nearest even.
std::uint32_t packColour(Colour c);

class Rasteriser {
 public:
  // `threads` workers including the caller; 0 takes the processors there are.
  explicit Rasteriser(int threads = 0);
  ~Rasteriser();
  Rasteriser(const Rasteriser&) = delete;
  Rasteriser& operator=(const Rasteriser&) = delete;

  int threads() const;

  // Draws the live molecules of the species not hidden as square points
  // `pointSize` pixels wide (OpenGL's aliased points), species by species in
  // file order, later molecules over earlier ones, in colours[s]. With
  // `over` they go over the picture already in `image` (of the view's
  // size), else over a picture cleared to 0 (alpha 0 where nothing is).
  void points(const Frame& frame, const std::vector<Colour>& colours,
              const std::vector<bool>& hidden, float pointSize, const RasterView& view,
              RasterImage& image, bool over = false);

  // Draws the molecules as shaded spheres diameters[s] metres across with
  // hidden surfaces removed (nearest wins), over the picture in `image`
  // with `over` (its depth far) or else over a cleared one.
  void spheres(const Frame& frame, const std::vector<Colour>& colours,
               const std::vector<bool>& hidden, const std::vector<double>& diameters,
               const RasterView& view, RasterImage& image, bool over = false);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tavo::scene

#endif  // TAVO_SCENE_RASTER_H
