// Tests of the scene library drawn into an offscreen buffer: the processors'
// points against OpenGL's pixel for pixel, their spheres against OpenGL's
// within a percent of the pixels, and what a picture's figure settings do
// to the pixels.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "offscreen/context.h"
#include "scene/figure.h"
#include "scene/raster.h"
#include "scene/scene.h"

namespace {

namespace scene = tavo::scene;

// Three species spread over a cube of `side` scene units about the origin,
// with a few molecules beyond it (off the picture) and at non-finite places.
tavo::Frame spreadFrame(int perSpecies, double side, unsigned seed) {
  std::mt19937 engine(seed);
  std::uniform_real_distribution<double> u(-side / 2e6, side / 2e6);
  tavo::Frame frame;
  frame.positions.resize(3);
  for (auto& p : frame.positions)
    for (int k = 0; k < 3 * perSpecies; ++k) p.push_back(u(engine));
  frame.positions[1].insert(frame.positions[1].end(), {1e-3, 0, 0, -1e-3, 2e-5, 0});
  frame.positions[2].insert(frame.positions[2].end(), {NAN, 0, 0, INFINITY, 0, 0});
  return frame;
}

// Pixels of two RGB pictures that differ in any channel.
int differences(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
  int any = 0;
  for (std::size_t i = 0; i + 2 < a.size(); i += 3)
    any += a[i] != b[i] || a[i + 1] != b[i + 1] || a[i + 2] != b[i + 2];
  return any;
}

std::vector<std::uint8_t> drawn(tavo::offscreen::Context& context, scene::Scene& scene,
                                const tavo::Frame& frame, const scene::Picture& picture) {
  scene.draw(frame, picture, nullptr, {});
  std::vector<std::uint8_t> rgb;
  context.readPixels(rgb);
  return rgb;
}

struct Row {
  int width, height;
  scene::Camera camera;
  double side;  // of the cube the molecules fill, scene units
};

const Row kRows[] = {
    {500, 500, scene::Camera{}, 4.0},                     // the viewer's start
    {640, 360, scene::Camera{0.3f, 1.3f, 6.0f}, 4.0},     // 2 pixels wide
    {333, 517, scene::Camera{-2.0f, 0.4f, 3.1f}, 3.0},    // 6 pixels, many off the picture
    {1920, 1080, scene::Camera{2.5f, 2.2f, 40.0f}, 8.0},  // under a pixel
    {200, 200, scene::Camera{1.0f, 1.0f, 0.25f, {0, 0, 0}, 0.25f / 15}, 0.2},  // 64 pixels
};

TEST(SoftwareDrawing, PointsHaveOpenGLsPixels) {
  for (const Row& row : kRows) {
    tavo::offscreen::Context context(row.width, row.height);
    scene::Scene opengl(scene::Drawing::opengl), software(scene::Drawing::software);
    scene::Picture picture;
    picture.width = row.width;
    picture.height = row.height;
    picture.camera = row.camera;
    const tavo::Frame frame = spreadFrame(40000, row.side, static_cast<unsigned>(row.width));
    const auto reference = drawn(context, opengl, frame, picture);
    const auto ours = drawn(context, software, frame, picture);
    ASSERT_TRUE(software.software());
    int lit = 0;
    for (std::size_t i = 0; i < ours.size(); i += 3)
      lit += ours[i] + ours[i + 1] + ours[i + 2] > 80;
    EXPECT_GT(lit, 1000) << row.width << "x" << row.height;
    EXPECT_EQ(differences(reference, ours), 0) << row.width << "x" << row.height;
  }
}

// The processors shade spheres with the shader's arithmetic in single
// precision; where the two round differently a channel differs by a level,
// and spheres whose centres lie just off the picture, which OpenGL clips
// whole, show their edge.
TEST(SoftwareDrawing, SpheresDifferFromOpenGLsInUnderAPercentOfTheirPixels) {
  for (const Row& row : kRows) {
    tavo::offscreen::Context context(row.width, row.height);
    scene::Scene opengl(scene::Drawing::opengl), software(scene::Drawing::software);
    scene::Scene inPlace(scene::Drawing::software);
    inPlace.setFramebuffer(context.colourBuffer(), context.depthBuffer());
    scene::Picture picture;
    picture.width = row.width;
    picture.height = row.height;
    picture.camera = row.camera;
    picture.style = scene::Style::spheres;
    picture.diameters = {0.02 * row.side * 1e-6, 0.04 * row.side * 1e-6, 0.0};
    picture.regions = {scene::RegionShape{REGION_SPHERE, {0, 0, 0, row.side * 0.4e-6}}};
    const tavo::Frame frame = spreadFrame(2000, row.side, 7);
    const auto reference = drawn(context, opengl, frame, picture);
    int lit = 0;
    for (std::size_t i = 0; i + 2 < reference.size(); i += 3)
      lit += reference[i] + reference[i + 1] + reference[i + 2] > 0;
    for (scene::Scene* ours : {&software, &inPlace}) {
      const int differing = differences(reference, drawn(context, *ours, frame, picture));
      EXPECT_LT(differing, lit / 100)
          << row.width << "x" << row.height << (ours == &inPlace ? " in place" : "");
    }
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Figure helpers
// ---------------------------------------------------------------------------

TEST(Figure, ColoursByNameAndLengthsWithPrefixes) {
  struct ColourRow {
    const char* text;
    int rgb;  // -1: refused
  };
  for (const ColourRow& row : {ColourRow{"white", 0xffffff},
                               {"#336699", 0x336699},
                               {"#FFa500", 0xffa500},
                               {"Navy", 0x000080},
                               {"#12345", -1},
                               {"#12345g", -1},
                               {"blu", -1},
                               {"", -1}}) {
    const auto c = scene::parseColour(row.text);
    ASSERT_EQ(c.has_value(), row.rgb >= 0) << row.text;
    if (c)
      EXPECT_EQ(
          scene::packColour(*c) & 0xffffff,
          static_cast<std::uint32_t>((row.rgb >> 16) | (row.rgb & 0xff00) | (row.rgb & 0xff) << 16))
          << row.text;
  }
  struct LengthRow {
    double metres;
    const char* text;
  };
  for (const LengthRow& row : {LengthRow{5e-7, "500 nm"},
                               {2e-6, "2 \u00b5m"},
                               {1e-3, "1 mm"},
                               {1.0, "1 m"},
                               {2e-10, "200 pm"},
                               {5e-8, "50 nm"}})
    EXPECT_EQ(scene::lengthText(row.metres), row.text);
}

TEST(Figure, AutoSphereScaleMakesTheSmallestSpheresThreePixels) {
  // Smallest species 40 nm seen from the viewer's start in 1080 rows: some
  // 3.5 pixels at its own size (no scaling), 1 nm: scaled up to 3 pixels.
  const scene::Camera camera;
  for (const double smallest : {4e-8, 1e-9, 3e-10}) {
    const double scale = scene::autoSphereScale({smallest * 10, smallest, 0.0}, {}, camera, 1080);
    const double pixels =
        scene::sphereOutlinePixels(smallest * scale * scene::kSceneScale, camera.radius, 1080);
    EXPECT_GE(pixels, 3.0) << smallest;
    EXPECT_LT(pixels, scale > 1.0 ? 3.01 : 1e9) << smallest;
  }
  // A hidden species does not count.
  EXPECT_EQ(scene::autoSphereScale({1e-9, 4e-7}, {true, false}, camera, 1080), 1.0);
}
