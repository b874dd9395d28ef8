// figure.h - what makes a picture fit for a paper or a talk, without
// OpenGL: colours by name, palettes, a camera that frames the molecules, the
// sphere scale that keeps the smallest molecules visible, the scale bar, and
// the legend's place, shared by the viewer, the explorer and the renderer.
#ifndef TAVO_SCENE_FIGURE_H
#define TAVO_SCENE_FIGURE_H

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/regions.h"
#include "scene/view.h"
#include "trajectory/trajectory.h"

namespace tavo::scene {

// ---------------------------------------------------------------------------
// Colours
// ---------------------------------------------------------------------------

// A colour name (black, white, grey, red, orange, ...; case ignored) or
// #rrggbb; nothing for anything else.
std::optional<Colour> parseColour(std::string_view text);
// The names parseColour takes, for messages.
std::string colourNames();

// Whether text should be dark to be read on `background`.
bool isLight(Colour background);

enum class Palette {
  viewer,    // the viewer's colours (speciesColour)
  okabeIto,  // the eight colours of Okabe and Ito, safe for colour-blind readers
  viridis,   // viridis sampled evenly from the first species to the last
};
std::optional<Palette> parsePalette(std::string_view text);

// Colours of `species` species in a palette. Okabe and Ito's black is the
// eighth colour, and white on a dark background; past eight they repeat.
std::vector<Colour> paletteColours(Palette palette, int species, Colour background);

// ---------------------------------------------------------------------------
// Framing
// ---------------------------------------------------------------------------

// Points in scene units, x, y, z one after the other: the live molecules
// of the species not hidden, and points along the outlines of regions.
std::vector<double> moleculePoints(const Frame& frame, const std::vector<bool>& hidden);
std::vector<double> outlinePoints(const std::vector<detail::RegionRow>& regions);

// The camera that looks at the centre of the points' bounding box from the
// viewer's start direction (theta 1, phi 1), at the distance where the
// points' projection spans 90 % of a width x height picture along its
// tighter direction. Where perspective makes the picture lopsided, the point
// looked at moves across the line of sight until it is centred (5 % to
// spare on either side). Its scale is radius / 15, so that points look as
// they do at the viewer's start. No points give the start camera.
Camera fitCamera(const std::vector<double>& points, int width, int height);

// The factor that makes the smallest sphere among `diameters` (metres; the
// hidden and those of no size left out) at least 3 pixels across when seen
// at the camera's distance in a picture `height` pixels high; 1 when they
// are already.
double autoSphereScale(const std::vector<double>& diameters, const std::vector<bool>& hidden,
                       const Camera& camera, int height);

// ---------------------------------------------------------------------------
// Scale bar
// ---------------------------------------------------------------------------

struct ScaleBar {
  double metres = 0;  // 1, 2 or 5 x 10^k
  int pixels = 0;     // its length at the distance of the point looked at
  std::string label;  // "500 nm"
};
// The longest bar of 1, 2 or 5 x 10^k metres no longer than `longest`
// pixels at the camera's distance, in a picture `height` pixels high.
ScaleBar scaleBar(const Camera& camera, int height, double longest);
// A length in metres with an SI prefix: "500 nm", "2 µm", "1 mm".
std::string lengthText(double metres);

// ---------------------------------------------------------------------------
// Legend
// ---------------------------------------------------------------------------

// Row q of the legend at the top-right corner of a width x height picture
// (pixels from the bottom-left corner): the swatch's centre and the name's
// origin. At scale 1 the swatch is 10 pixels wide, centred 90 pixels left
// of the right edge and 10 below the top, the name starts 80 from the
// right edge 5 below the swatch's centre, and rows are 15 pixels apart;
// everything grows with `scale`. `shift` moves the legend left, for names
// wider than the room.
struct LegendRow {
  float swatchX, swatchY, nameX, nameY;
};
LegendRow legendRow(int q, int width, int height, float scale = 1.0f, float shift = 0.0f);
float legendSwatchSize(float scale = 1.0f);
// How far the legend moves left for names `widest` pixels wide.
float legendShift(int widest, float scale);
// The row under the pointer at (x, y), y from the top; -1 for none.
int legendRowAt(int x, int y, int width, int rows, float scale = 1.0f, float shift = 0.0f);

}  // namespace tavo::scene

#endif  // TAVO_SCENE_FIGURE_H
