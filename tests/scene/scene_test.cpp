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

// Pixels of two RGB pictures that differ at all, and by more than `levels`.
std::pair<int, int> differences(const std::vector<std::uint8_t>& a,
                                const std::vector<std::uint8_t>& b, int levels) {
  int any = 0, more = 0;
  for (std::size_t i = 0; i + 2 < a.size(); i += 3) {
    int largest = 0;
    for (int c = 0; c < 3; ++c) largest = std::max(largest, std::abs(a[i + c] - b[i + c]));
    any += largest > 0;
    more += largest > levels;
  }
  return {any, more};
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
    EXPECT_EQ(differences(reference, ours, 0).first, 0) << row.width << "x" << row.height;
  }
}

// Sphere outlines cut across pixels at random, and single precision loses
// much of the difference between the squares in the ray's test there, in
// OpenGL's shader as on the processors; their roundings differ, so the limb's
// pixels may differ by a few levels.
TEST(SoftwareDrawing, SpheresDifferVisiblyFromOpenGLsInUnderAPercentOfThePixels) {
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
    for (scene::Scene* ours : {&software, &inPlace}) {
      const int visible = differences(reference, drawn(context, *ours, frame, picture), 2).second;
      EXPECT_LT(visible, row.width * row.height / 100)
          << row.width << "x" << row.height << (ours == &inPlace ? " in place" : "");
    }
  }
}

}  // namespace
