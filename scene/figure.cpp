// figure.cpp - colours, palettes, framing, scale bar and legend layout.
#include "scene/figure.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numbers>

namespace tavo::scene {

namespace {

struct NamedColour {
  const char* name;
  unsigned rgb;
};

// The basic colours of the web's colour names, and a few more.
constexpr NamedColour kNames[] = {
    {"black", 0x000000},    {"white", 0xffffff},     {"grey", 0x808080},
    {"gray", 0x808080},     {"lightgrey", 0xd3d3d3}, {"lightgray", 0xd3d3d3},
    {"darkgrey", 0x404040}, {"darkgray", 0x404040},  {"silver", 0xc0c0c0},
    {"red", 0xff0000},      {"green", 0x008000},     {"lime", 0x00ff00},
    {"blue", 0x0000ff},     {"navy", 0x000080},      {"yellow", 0xffff00},
    {"cyan", 0x00ffff},     {"magenta", 0xff00ff},   {"orange", 0xffa500},
    {"purple", 0x800080},   {"brown", 0xa52a2a},     {"pink", 0xffc0cb},
    {"teal", 0x008080},     {"olive", 0x808000},     {"maroon", 0x800000},
    {"gold", 0xffd700},
};

Colour fromRgb(unsigned rgb) {
  return Colour{static_cast<float>((rgb >> 16) & 0xff) / 255.0f,
                static_cast<float>((rgb >> 8) & 0xff) / 255.0f,
                static_cast<float>(rgb & 0xff) / 255.0f};
}

// Okabe and Ito's colours without their black, in their order.
constexpr unsigned kOkabeIto[] = {0xe69f00, 0x56b4e9, 0x009e73, 0xf0e442,
                                  0x0072b2, 0xd55e00, 0xcc79a7};

// viridis at ten evenly spaced points, first to last.
constexpr unsigned kViridis[] = {0x440154, 0x482878, 0x3e4a89, 0x31688e, 0x26828e,
                                 0x1f9e89, 0x35b779, 0x6dcd59, 0xb4de2c, 0xfde725};

Colour viridis(double t) {
  constexpr int last = static_cast<int>(std::size(kViridis)) - 1;
  const double at = std::clamp(t, 0.0, 1.0) * last;
  const int k = std::min(static_cast<int>(at), last - 1);
  const double f = at - k;
  const Colour a = fromRgb(kViridis[k]), b = fromRgb(kViridis[k + 1]);
  const auto mix = [f](float u, float v) { return static_cast<float>(u + (v - u) * f); };
  return Colour{mix(a.red, b.red), mix(a.green, b.green), mix(a.blue, b.blue)};
}

bool sameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// Start direction of the viewer's camera.
constexpr Camera kStart;

// Spread along the picture's x and y, in units of half the picture, of the
// box's corners seen from distance r (relative to its centre, view axes f,
// s, u).
void spread(const double corners[8][3], const double f[3], const double s[3], const double u[3],
            double r, double ratio, double& x, double& y) {
  const double cot = 1.0 / std::tan(kFieldOfView / 2.0 * std::numbers::pi / 180.0);
  double lowX = 1e300, highX = -1e300, lowY = 1e300, highY = -1e300;
  for (int k = 0; k < 8; ++k) {
    const double* p = corners[k];
    const double depth = r + p[0] * f[0] + p[1] * f[1] + p[2] * f[2];
    const double px = (p[0] * s[0] + p[1] * s[1] + p[2] * s[2]) * cot / ratio / depth;
    const double py = (p[0] * u[0] + p[1] * u[1] + p[2] * u[2]) * cot / depth;
    lowX = std::min(lowX, px), highX = std::max(highX, px);
    lowY = std::min(lowY, py), highY = std::max(highY, py);
  }
  x = (highX - lowX) / 2.0;
  y = (highY - lowY) / 2.0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Colours
// ---------------------------------------------------------------------------

std::optional<Colour> parseColour(std::string_view text) {
  if (text.size() == 7 && text[0] == '#') {
    unsigned rgb = 0;
    for (std::size_t i = 1; i < 7; ++i) {
      const int c = std::tolower(static_cast<unsigned char>(text[i]));
      if (!std::isxdigit(c)) return std::nullopt;
      rgb = rgb * 16 + static_cast<unsigned>(c <= '9' ? c - '0' : c - 'a' + 10);
    }
    return fromRgb(rgb);
  }
  for (const NamedColour& n : kNames)
    if (sameText(text, n.name)) return fromRgb(n.rgb);
  return std::nullopt;
}

std::string colourNames() {
  std::string names;
  for (const NamedColour& n : kNames) names += (names.empty() ? "" : ", ") + std::string(n.name);
  return names;
}

bool isLight(Colour c) { return 0.2126f * c.red + 0.7152f * c.green + 0.0722f * c.blue > 0.5f; }

std::optional<Palette> parsePalette(std::string_view text) {
  if (text == "default") return Palette::viewer;
  if (text == "okabe-ito") return Palette::okabeIto;
  if (text == "viridis") return Palette::viridis;
  return std::nullopt;
}

std::vector<Colour> paletteColours(Palette palette, int species, Colour background) {
  std::vector<Colour> colours;
  for (int s = 0; s < species; ++s) {
    switch (palette) {
      case Palette::viewer:
        colours.push_back(speciesColour(s, species));
        break;
      case Palette::okabeIto: {
        const int k = s % 8;
        colours.push_back(k < 7                 ? fromRgb(kOkabeIto[k])
                          : isLight(background) ? Colour{0, 0, 0}
                                                : Colour{1, 1, 1});
        break;
      }
      case Palette::viridis:
        colours.push_back(viridis(species > 1 ? static_cast<double>(s) / (species - 1) : 0.0));
        break;
    }
  }
  return colours;
}

// ---------------------------------------------------------------------------
// Framing
// ---------------------------------------------------------------------------

void Box::add(double x, double y, double z) {
  const double p[3] = {x, y, z};
  if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) return;
  for (int i = 0; i < 3; ++i) {
    low[i] = empty ? p[i] : std::min(low[i], p[i]);
    high[i] = empty ? p[i] : std::max(high[i], p[i]);
  }
  empty = false;
}

Box moleculeBox(const Frame& frame, const std::vector<bool>& hidden) {
  Box box;
  for (std::size_t s = 0; s < frame.positions.size(); ++s) {
    if (s < hidden.size() && hidden[s]) continue;
    const std::vector<double>& p = frame.positions[s];
    for (std::size_t k = 0; k + 2 < p.size(); k += 3)
      box.add(p[k] * kSceneScale, p[k + 1] * kSceneScale, p[k + 2] * kSceneScale);
  }
  return box;
}

Box regionBox(const std::vector<detail::RegionRow>& regions) {
  Box box;
  for (const detail::RegionRow& region : regions) {
    const double* p = region.params.data();
    double half[3] = {0, 0, 0};
    switch (region.type) {
      case REGION_BOX:
      case REGION_BOXSHELL:
        for (int i = 0; i < 3; ++i)
          half[i] = std::max(p[3 + i], region.type == REGION_BOXSHELL ? p[6 + i] : 0.0) / 2;
        break;
      case REGION_SPHERE:
        half[0] = half[1] = half[2] = p[3];
        break;
      case REGION_SPHERESHELL:
        half[0] = half[1] = half[2] = std::max(p[3], p[4]);
        break;
      case REGION_CYLINDER:
        half[0] = p[4] / 2;
        half[1] = half[2] = p[3];
        break;
      case REGION_CYLINDERSHELL:
        half[0] = p[5] / 2;
        half[1] = half[2] = std::max(p[3], p[4]);
        break;
      default:
        continue;
    }
    for (int corner = 0; corner < 8; ++corner)
      box.add((p[0] + ((corner & 1) ? half[0] : -half[0])) * kSceneScale,
              (p[1] + ((corner & 2) ? half[1] : -half[1])) * kSceneScale,
              (p[2] + ((corner & 4) ? half[2] : -half[2])) * kSceneScale);
  }
  return box;
}

Camera fitCamera(const Box& box, int width, int height) {
  Camera camera;
  if (box.empty || width <= 0 || height <= 0) return camera;
  double centre[3], half[3];
  double largest = 0;
  for (int i = 0; i < 3; ++i) {
    centre[i] = (box.low[i] + box.high[i]) / 2;
    half[i] = (box.high[i] - box.low[i]) / 2;
    largest = std::max(largest, half[i]);
  }
  // A single molecule, or molecules in a line or a plane: the missing
  // extent is taken from the others, and a point gets a cube of 1 unit.
  if (!(largest > 0)) largest = 0.5;
  for (double& h : half) h = std::max(h, largest * 1e-3);
  double corners[8][3];
  for (int k = 0; k < 8; ++k)
    for (int i = 0; i < 3; ++i) corners[k][i] = (k >> i & 1) ? half[i] : -half[i];

  // View axes of the start direction: forward f, side s, up u.
  const double theta = kStart.theta, phi = kStart.phi;
  const double f[3] = {-std::cos(theta) * std::sin(phi), -std::cos(phi),
                       -std::sin(theta) * std::sin(phi)};
  double s[3] = {-f[2], 0.0, f[0]};  // f x (0, 1, 0)
  const double sl = std::hypot(s[0], s[2]);
  s[0] /= sl, s[2] /= sl;
  const double u[3] = {s[1] * f[2] - s[2] * f[1], s[2] * f[0] - s[0] * f[2],
                       s[0] * f[1] - s[1] * f[0]};
  const double ratio = static_cast<double>(width) / height;

  // The spread falls as the distance grows; halve the interval where the
  // tighter direction spans 90 %.
  double nearest = 0;
  for (const auto& p : corners)
    nearest = std::max(nearest, -(p[0] * f[0] + p[1] * f[1] + p[2] * f[2]));
  const auto tighter = [&](double r) {
    double x, y;
    spread(corners, f, s, u, r, ratio, x, y);
    return std::max(x, y);
  };
  double low = nearest * (1 + 1e-9) + 1e-12, high = std::max(2 * low, 1e-6);
  while (tighter(high) > 0.9) high *= 2;
  for (int k = 0; k < 100; ++k) {
    const double mid = (low + high) / 2;
    (tighter(mid) > 0.9 ? low : high) = mid;
  }
  camera.radius = static_cast<float>(high);
  for (int i = 0; i < 3; ++i) camera.target[i] = static_cast<float>(centre[i]);
  camera.scale = camera.radius / kStart.radius;
  return camera;
}

double autoSphereScale(const std::vector<double>& diameters, const std::vector<bool>& hidden,
                       const Camera& camera, int height) {
  double smallest = std::numeric_limits<double>::infinity();
  for (std::size_t s = 0; s < diameters.size(); ++s)
    if (!(s < hidden.size() && hidden[s]) && diameters[s] > 0)
      smallest = std::min(smallest, diameters[s]);
  if (!std::isfinite(smallest) || height <= 0) return 1.0;
  const double distance = std::fabs(camera.radius);
  double scale = 1.0;
  for (int k = 0; k < 60; ++k) {
    const double pixels = sphereOutlinePixels(smallest * scale * kSceneScale, distance, height);
    if (pixels >= 3.0) break;
    // Small spheres grow in proportion; a sphere that would hold the eye
    // cannot be seen at any size.
    scale = pixels > 0 ? scale * std::max(3.0 / pixels, 1.0001) : scale;
    if (pixels <= 0) break;
  }
  return scale;
}

// ---------------------------------------------------------------------------
// Scale bar
// ---------------------------------------------------------------------------

ScaleBar scaleBar(const Camera& camera, int height, double longest) {
  ScaleBar bar;
  const double distance = std::fabs(camera.radius);
  if (!(distance > 0) || height <= 0 || !(longest >= 1)) return bar;
  const double perMetre = focalPixels(height) / distance * kSceneScale;
  int power = static_cast<int>(std::floor(std::log10(longest / perMetre)));
  for (int tries = 0; tries < 4 && bar.pixels == 0; ++tries, --power) {
    for (const double mantissa : {5.0, 2.0, 1.0}) {
      const double metres = mantissa * std::pow(10.0, power);
      if (metres * perMetre <= longest) {
        bar.metres = metres;
        bar.pixels = static_cast<int>(std::lround(metres * perMetre));
        break;
      }
    }
  }
  bar.label = lengthText(bar.metres);
  return bar;
}

std::string lengthText(double metres) {
  static constexpr struct {
    double scale;
    const char* unit;
  } kUnits[] = {{1e3, "km"},  {1.0, "m"},    {1e-3, "mm"}, {1e-6, "\u00b5m"},
                {1e-9, "nm"}, {1e-12, "pm"}, {1e-15, "fm"}};
  const double size = std::fabs(metres);
  for (const auto& u : kUnits) {
    if (size >= u.scale * (1 - 1e-9) || u.scale == 1e-15) {
      char buffer[64];
      double value = metres / u.scale;
      if (std::fabs(value - std::round(value)) < 1e-6 * std::fabs(value)) value = std::round(value);
      std::snprintf(buffer, sizeof buffer, "%g %s", value, u.unit);
      return buffer;
    }
  }
  return "0 m";
}

// ---------------------------------------------------------------------------
// Legend
// ---------------------------------------------------------------------------

LegendRow legendRow(int q, int width, int height, float scale, float shift) {
  const auto w = static_cast<float>(width), h = static_cast<float>(height);
  const float row = 15.0f * scale * static_cast<float>(q);
  return LegendRow{w - 90.0f * scale - shift, h - 10.0f * scale - row, w - 80.0f * scale - shift,
                   h - 15.0f * scale - row};
}

float legendSwatchSize(float scale) { return 10.0f * scale; }

float legendShift(int widest, float scale) {
  return std::max(0.0f, static_cast<float>(widest) - 75.0f * scale);
}

int legendRowAt(int x, int y, int width, int rows, float scale, float shift) {
  // The rows' bands start 2 pixels below the top edge (3 above the first
  // swatch) and reach from 7 pixels left of the swatches to the edge.
  const float left = static_cast<float>(width) - 97.0f * scale - shift;
  if (static_cast<float>(x) < left || x >= width || static_cast<float>(y) < 2.0f * scale) return -1;
  const int q = static_cast<int>((static_cast<float>(y) - 2.0f * scale) / (15.0f * scale));
  return q < rows ? q : -1;
}

}  // namespace tavo::scene
