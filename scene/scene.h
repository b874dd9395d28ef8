// scene.h - OpenGL drawing of one frame: the axis cross, the molecules as
// points or shaded spheres, region outlines, the axis letters and a text
// overlay, from a frame, a camera and a viewport.
//
// Everything here makes OpenGL calls on the context current on the calling
// thread and nothing else: no window, no event loop, no font. Text goes
// through a TextPainter that the program supplies (bitmap fonts of the
// window toolkit in the viewer, a font library offscreen).
//
// OpenGL state a frame relies on: the clear colour is black unless a
// picture sets another, point smoothing is never enabled (points are
// squares), and outside the calls here the current matrix is the model-view
// matrix.
//
// Where the OpenGL renderer is itself software (Mesa's llvmpipe, softpipe or
// swrast), molecules are drawn by the processors instead (scene/raster.h)
// and handed to OpenGL as one image: points with the very same pixels,
// spheres with the same shading. TAVO_DRAWING=software or =opengl in the
// environment forces either way.
#ifndef TAVO_SCENE_SCENE_H
#define TAVO_SCENE_SCENE_H

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "formats/regions.h"
#include "scene/view.h"
#include "trajectory/trajectory.h"

namespace tavo::scene {

// ---------------------------------------------------------------------------
// Projections
// ---------------------------------------------------------------------------

// Viewport and perspective projection for a width x height picture (a height
// of 0 is taken as 1), with the viewer's near and far planes unless others
// are given; leaves the model-view matrix current.
void setProjection(int width, int height, double nearPlane = kNearPlane,
                   double farPlane = kFarPlane);
// Replaces the model-view matrix with the view transform.
void loadView(const LookAt& view);
// Projection in picture pixels, origin bottom-left (pushes the projection
// matrix); popPixelProjection restores the one saved.
void pushPixelProjection(int width, int height);
void popPixelProjection();

// ---------------------------------------------------------------------------
// Text
// ---------------------------------------------------------------------------

enum class Font {
  label,   // axis letters, legend, counters
  banner,  // the program's name
};

class TextPainter {
 public:
  virtual ~TextPainter() = default;
  // Draws `text` in the current colour with its origin at (x, y) in the
  // current coordinates (pixels inside pushPixelProjection).
  virtual void text(float x, float y, Font font, const char* text) = 0;
  // Draws `text` in the current colour with its origin where the scene point
  // p appears; nothing when p is outside the picture's volume.
  virtual void textAt(const float p[3], Font font, const char* text) = 0;
};

// ---------------------------------------------------------------------------
// Overlay
// ---------------------------------------------------------------------------

// One thing drawn over the picture, in pixel coordinates from the
// bottom-left corner: a line of text, a square swatch `size` pixels wide
// centred on (x, y), or a filled box `width` x `height` pixels with its
// bottom-left corner at (x, y).
struct OverlayItem {
  enum class Kind { text, swatch, box };
  Kind kind = Kind::text;
  float x = 0.0f, y = 0.0f;
  Colour colour{1.0f, 1.0f, 1.0f};
  Font font = Font::label;
  float size = 0.0f;
  std::string text;
  float width = 0.0f, height = 0.0f;
  // Text drawn over a one-pixel outline of this colour, readable on any
  // background.
  bool outlined = false;
  Colour outline{0.0f, 0.0f, 0.0f};
};
using Overlay = std::vector<OverlayItem>;

// Draws the items in order, each colour set before its text's position.
// Nothing for a picture without area.
void drawOverlay(const Overlay& overlay, int width, int height, TextPainter& painter);

// ---------------------------------------------------------------------------
// Scene pieces
// ---------------------------------------------------------------------------

// Clears the colour buffer and draws the dark-grey axis cross, 1.5 scene
// units along each axis.
void clearAndDrawAxes();
// Clears the colour buffer to `background` with opacity `alpha`.
void clear(Colour background, float alpha);
void drawAxes();
// "x", "y", "z" at the positive ends of the axis cross, white unless
// another colour is given.
void drawAxisLetters(TextPainter& painter, Colour colour = Colour{1.0f, 1.0f, 1.0f});

// A region of a region file: type code and numbers as the geometry module
// stores them (centre first), in the simulator's length unit.
using RegionShape = detail::RegionRow;
// Wireframe outlines of the regions in scene units: boxes by their twelve
// edges, spheres by three great circles, cylinders by their end circles and
// four lines along the axis; a shell by both of its shapes.
void drawRegions(const std::vector<RegionShape>& regions, Colour colour);

enum class Style {
  points,   // one square point per molecule, the viewer's picture
  spheres,  // a shaded sphere of the species' size per molecule
};

// Everything a frame is drawn with besides the frame itself.
struct Picture {
  Camera camera;
  int width = 500;
  int height = 500;
  Style style = Style::points;
  std::vector<double> diameters;  // per species, metres (spheres)
  bool sphereSprites = true;      // false: always instanced quads (for measuring)
  std::vector<RegionShape> regions;
  Colour regionColour{0.45f, 0.45f, 0.55f};
  std::vector<Colour> colours;  // per species; empty: speciesColour
  std::vector<bool> hidden;     // per species: not drawn
  Colour background{0.0f, 0.0f, 0.0f};
  bool transparent = false;  // background of opacity 0
  bool axes = true;          // the axis cross and its letters
  bool letters = true;       // the axis letters, where there is a painter
};

// Who draws the molecules.
enum class Drawing {
  automatic,  // the processors where OpenGL is a software renderer
  opengl,
  software,
};

// The drawing resources of one OpenGL context: scratch arrays that keep
// their capacity from frame to frame, the sphere program, and the
// processors' rasteriser with its threads. Use one Scene per context, on the
// thread that has it current.
class Scene {
 public:
  explicit Scene(Drawing drawing = Drawing::automatic);
  ~Scene();
  Scene(const Scene&) = delete;
  Scene& operator=(const Scene&) = delete;

  // Whether the processors draw the molecules (known once something is
  // drawn, or after decide()).
  bool software() const;
  // Settles who draws, on the context current now.
  void decide();
  // The renderbuffers the frame is drawn into, where the program owns them
  // (offscreen): the processors' picture is then copied in whole.
  void setFramebuffer(unsigned colourRenderbuffer, unsigned depthRenderbuffer);

  // Live molecules as points of the current point size, species by species
  // in file order, no depth test; in the species colours, or colours[s],
  // hidden[s] left out.
  void drawPoints(const Frame& frame);
  void drawPoints(const Frame& frame, const std::vector<Colour>& colours,
                  const std::vector<bool>& hidden);
  // Live molecules as shaded spheres, diameters[s] metres across, hidden
  // surfaces removed with the depth buffer.
  void drawSpheres(const Frame& frame, const std::vector<double>& diameters, bool sprites = true);
  void drawSpheres(const Frame& frame, const std::vector<double>& diameters,
                   const std::vector<Colour>& colours, const std::vector<bool>& hidden,
                   bool sprites = true);

  // A whole frame: projection and view of the picture's camera, background,
  // axis cross, molecules in the picture's style, regions, then (with a
  // painter) the axis letters and the overlay.
  void draw(const Frame& frame, const Picture& picture, TextPainter* painter,
            const Overlay& overlay);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Whether the current OpenGL context offers the extension `name`.
bool hasExtension(const char* name);

}  // namespace tavo::scene

#endif  // TAVO_SCENE_SCENE_H
