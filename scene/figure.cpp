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

std::vector<double> moleculePoints(const Frame& frame, const std::vector<bool>& hidden) {
  std::vector<double> points;
  for (std::size_t s = 0; s < frame.positions.size(); ++s) {
    if (s < hidden.size() && hidden[s]) continue;
    for (const double v : frame.positions[s]) points.push_back(v * kSceneScale);
  }
  return points;
}

std::vector<double> outlinePoints(const std::vector<detail::RegionRow>& regions) {
  std::vector<double> points;
  const auto add = [&](double x, double y, double z) {
    points.insert(points.end(), {x * kSceneScale, y * kSceneScale, z * kSceneScale});
  };
  // A circle of radius r about c across axes a and b, as the outlines draw it.
  const auto circle = [&](const double* c, double r, int a, int b) {
    for (int k = 0; k < 96; ++k) {
      double p[3] = {c[0], c[1], c[2]};
      const double angle = 2.0 * std::numbers::pi * k / 96;
      p[a] += r * std::cos(angle);
      p[b] += r * std::sin(angle);
      add(p[0], p[1], p[2]);
    }
  };
  const auto box = [&](const double* c, const double* edge) {
    for (int k = 0; k < 8; ++k)
      add(c[0] + ((k & 1) ? edge[0] : -edge[0]) / 2, c[1] + ((k & 2) ? edge[1] : -edge[1]) / 2,
          c[2] + ((k & 4) ? edge[2] : -edge[2]) / 2);
  };
  const auto sphere = [&](const double* c, double r) {
    circle(c, r, 0, 1), circle(c, r, 1, 2), circle(c, r, 0, 2);
  };
  const auto cylinder = [&](const double* c, double r, double l) {
    for (const double end : {-l / 2, l / 2}) {
      const double e[3] = {c[0] + end, c[1], c[2]};
      circle(e, r, 1, 2);
    }
  };
  for (const detail::RegionRow& region : regions) {
    const double* p = region.params.data();
    switch (region.type) {
      case REGION_BOX:
        box(p, p + 3);
        break;
      case REGION_BOXSHELL:
        box(p, p + 3), box(p, p + 6);
        break;
      case REGION_SPHERE:
        sphere(p, p[3]);
        break;
      case REGION_SPHERESHELL:
        sphere(p, p[3]), sphere(p, p[4]);
        break;
      case REGION_CYLINDER:
        cylinder(p, p[3], p[4]);
        break;
      case REGION_CYLINDERSHELL:
        cylinder(p, p[3], p[5]), cylinder(p, p[4], p[5]);
        break;
      default:
        break;
    }
  }
  return points;
}

Camera fitCamera(const std::vector<double>& points, int width, int height) {
  Camera camera;
  if (width <= 0 || height <= 0) return camera;
  double low[3] = {0, 0, 0}, high[3] = {0, 0, 0};
  bool any = false;
  for (std::size_t k = 0; k + 2 < points.size(); k += 3) {
    const double* p = &points[k];
    if (!std::isfinite(p[0]) || !std::isfinite(p[1]) || !std::isfinite(p[2])) continue;
    for (int i = 0; i < 3; ++i) {
      low[i] = any ? std::min(low[i], p[i]) : p[i];
      high[i] = any ? std::max(high[i], p[i]) : p[i];
    }
    any = true;
  }
  if (!any) return camera;
  double centre[3];
  for (int i = 0; i < 3; ++i) centre[i] = (low[i] + high[i]) / 2;

  // View axes of the start direction: forward f, side s, up u.
  const double theta = kStart.theta, phi = kStart.phi;
  const double f[3] = {-std::cos(theta) * std::sin(phi), -std::cos(phi),
                       -std::sin(theta) * std::sin(phi)};
  double s[3] = {-f[2], 0.0, f[0]};  // f x (0, 1, 0)
  const double sl = std::hypot(s[0], s[2]);
  s[0] /= sl, s[2] /= sl;
  const double u[3] = {s[1] * f[2] - s[2] * f[1], s[2] * f[0] - s[0] * f[2],
                       s[0] * f[1] - s[1] * f[0]};
  const double cot = 1.0 / std::tan(kFieldOfView / 2.0 * std::numbers::pi / 180.0);
  const double ratio = static_cast<double>(width) / height;

  // Each point across the picture (in units of half its width or height,
  // times the distance) and along the line of sight from the centre.
  std::vector<float> across, up, along;
  double nearest = 0, largest = 0;
  for (std::size_t k = 0; k + 2 < points.size(); k += 3) {
    const double d[3] = {points[k] - centre[0], points[k + 1] - centre[1],
                         points[k + 2] - centre[2]};
    if (!std::isfinite(d[0]) || !std::isfinite(d[1]) || !std::isfinite(d[2])) continue;
    const double x = (d[0] * s[0] + d[1] * s[1] + d[2] * s[2]) * cot / ratio;
    const double y = (d[0] * u[0] + d[1] * u[1] + d[2] * u[2]) * cot;
    const double z = d[0] * f[0] + d[1] * f[1] + d[2] * f[2];
    across.push_back(static_cast<float>(x));
    up.push_back(static_cast<float>(y));
    along.push_back(static_cast<float>(z));
    nearest = std::max(nearest, -z);
    largest = std::max({largest, std::fabs(d[0]), std::fabs(d[1]), std::fabs(d[2])});
  }
  // A single molecule (or one place): seen from a fifth of the viewer's
  // start distance.
  if (!(largest > 0)) {
    camera.radius = kStart.radius / 5;
    for (int i = 0; i < 3; ++i) camera.target[i] = static_cast<float>(centre[i]);
    camera.scale = camera.radius / kStart.radius;
    return camera;
  }
  // Seen from distance r with the picture's centre moved by (shiftX,
  // shiftY) (units of `across` and `up`): the larger of the spreads across
  // and up, in units of half the picture (it falls as r grows), and the
  // middle of each.
  double shiftX = 0, shiftY = 0;
  struct Spread {
    double size, middleX, middleY;
  };
  const auto spread = [&](double r) {
    float lowX = 0, highX = 0, lowY = 0, highY = 0;
    bool first = true;
    const float fr = static_cast<float>(r);
    const auto sx = static_cast<float>(shiftX), sy = static_cast<float>(shiftY);
    for (std::size_t k = 0; k < across.size(); ++k) {
      const float inverse = 1.0f / (fr + along[k]);
      const float x = (across[k] - sx) * inverse, y = (up[k] - sy) * inverse;
      lowX = first ? x : std::min(lowX, x), highX = first ? x : std::max(highX, x);
      lowY = first ? y : std::min(lowY, y), highY = first ? y : std::max(highY, y);
      first = false;
    }
    return Spread{std::max(highX - lowX, highY - lowY) / 2.0, (highX + lowX) / 2.0,
                  (highY + lowY) / 2.0};
  };
  const auto distance = [&] {
    double lower = nearest + largest * 1e-3, upper = 2 * lower;
    while (spread(upper).size > 0.9) upper *= 2;
    while (upper - lower > upper * 1e-4) {
      const double mid = (lower + upper) / 2;
      (spread(mid).size > 0.9 ? lower : upper) = mid;
    }
    return upper;
  };
  // Perspective makes the box's picture lopsided about its centre: the
  // point looked at moves across the line of sight until the picture is
  // centred, so that it spans 90 % with 5 % to spare on either side.
  double r = distance();
  for (int k = 0; k < 4; ++k) {
    const Spread at = spread(r);
    shiftX += at.middleX * r;
    shiftY += at.middleY * r;
    r = distance();
  }
  camera.radius = static_cast<float>(r);
  for (int i = 0; i < 3; ++i)
    camera.target[i] =
        static_cast<float>(centre[i] + s[i] * shiftX * ratio / cot + u[i] * shiftY / cot);
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
