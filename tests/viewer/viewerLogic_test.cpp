// Tests of the viewer's logic without a window: camera, reshape, colours,
// point size, frame counter, overlay layout, keys, mouse and playback.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>

#include "testSupport.h"
#include "viewer/glutCommon.h"

namespace {

using namespace tavo::viewer;
using tavo::test::loadSetup;
using tavo::test::writeFile;

class ViewerLogic : public ::testing::Test {
 protected:
  void SetUp() override {
    resetState();
    initVariable();
    recordWindowSize(state(), 500, 500);
  }
  State& s = state();
};

// |a x b| / (|a| |b|): 0 when parallel.
double sinBetween(const double a[3], const double b[3]) {
  const double c[3] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2],
                       a[0] * b[1] - a[1] * b[0]};
  const double n = std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]);
  return n / std::sqrt((a[0] * a[0] + a[1] * a[1] + a[2] * a[2]) *
                       (b[0] * b[0] + b[1] * b[1] + b[2] * b[2]));
}

void expectUsableView(const State& s) {
  const LookAt v = viewLookAt(s);
  double f[3];
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(std::isfinite(v.eye[i]) && std::isfinite(v.centre[i]) && std::isfinite(v.up[i]));
    f[i] = v.centre[i] - v.eye[i];
  }
  EXPECT_GT(sinBetween(f, v.up), 0.5) << "up vector must stand across the view";
}

TEST_F(ViewerLogic, StartCameraAndAxes) {
  EXPECT_NEAR(s.cam_x, 6.8197, 1e-4);
  EXPECT_NEAR(s.cam_y, 8.1045, 1e-4);
  EXPECT_NEAR(s.cam_z, 10.6211, 1e-4);
  EXPECT_NEAR(std::hypot(s.cam_x, s.cam_y, s.cam_z), 15.0, 1e-4);
  EXPECT_FLOAT_EQ(s.lookatvec_x, -s.cam_x);
  EXPECT_FLOAT_EQ(s.lookatvec_y, -s.cam_y);
  EXPECT_FLOAT_EQ(s.lookatvec_z, -s.cam_z);
  const LookAt v = viewLookAt(s);
  EXPECT_NEAR(v.centre[0], 0.0, 1e-6);
  EXPECT_NEAR(v.centre[1], 0.0, 1e-6);
  EXPECT_NEAR(v.centre[2], 0.0, 1e-6);
  EXPECT_EQ(v.up[1], 1.0);

  s.theta = 0.0f;
  s.phi = static_cast<float>(std::numbers::pi / 2);
  computeCamera(s);
  EXPECT_NEAR(s.cam_x, 15.0, 1e-5);
  EXPECT_NEAR(s.cam_y, 0.0, 1e-5);
  EXPECT_NEAR(s.cam_z, 0.0, 1e-5);
  s.theta = static_cast<float>(std::numbers::pi / 2);
  computeCamera(s);
  EXPECT_NEAR(s.cam_x, 0.0, 1e-5);
  EXPECT_NEAR(s.cam_z, 15.0, 1e-5);

  // Angles are not wrapped: phi past pi crosses the -y pole to the far side.
  s.theta = 0.0f;
  s.phi = static_cast<float>(std::numbers::pi * 1.5);
  computeCamera(s);
  EXPECT_NEAR(s.cam_x, -15.0, 1e-5);
}

TEST_F(ViewerLogic, NegativeRadiusLooksFromTheOppositeSide) {
  s.radius = -15.0f;
  computeCamera(s);
  EXPECT_NEAR(s.cam_x, -6.8197, 1e-4);
  EXPECT_NEAR(s.cam_y, -8.1045, 1e-4);
  EXPECT_NEAR(s.cam_z, -10.6211, 1e-4);
  const LookAt v = viewLookAt(s);
  EXPECT_NEAR(v.centre[0], 0.0, 1e-6);
  EXPECT_EQ(v.up[1], 1.0);
}

TEST_F(ViewerLogic, ViewStaysDefinedAtThePolesAndAtDistanceZero) {
  for (float phi :
       {0.0f, static_cast<float>(std::numbers::pi), static_cast<float>(2 * std::numbers::pi)})
    for (float radius : {15.0f, -3.0f, 0.0f}) {
      s.phi = phi;
      s.radius = radius;
      computeCamera(s);
      SCOPED_TRACE("phi " + std::to_string(phi) + " radius " + std::to_string(radius));
      expectUsableView(s);
    }
  // Distance 0 away from the poles: looks the way the camera looked.
  s.phi = 1.0f;
  s.radius = 0.0f;
  computeCamera(s);
  expectUsableView(s);
  const LookAt v = viewLookAt(s);
  EXPECT_NEAR(v.centre[1] - v.eye[1], -std::cos(1.0), 1e-6);
  // At the +y pole the picture continues what phi slightly above 0 shows:
  // projected +y points from the camera's side toward -x when theta is 0.
  s.theta = 0.0f;
  s.phi = 0.0f;
  s.radius = 15.0f;
  computeCamera(s);
  EXPECT_LT(viewLookAt(s).up[0], -0.99);
}

TEST_F(ViewerLogic, ReshapeRecordsSizeAndRatio) {
  EXPECT_EQ(recordWindowSize(s, 800, 400), 400);
  EXPECT_EQ(s.WINDOW_SIZE_X, 800);
  EXPECT_EQ(s.WINDOW_SIZE_Y, 400);
  EXPECT_FLOAT_EQ(s.ratio, 2.0f);
  EXPECT_EQ(counterLineOrigin(800, 400).y, 390);
  EXPECT_EQ(helpLineOrigin(800, 400).x, 550);

  EXPECT_EQ(recordWindowSize(s, 300, 0), 1);  // projection uses height 1
  EXPECT_EQ(s.WINDOW_SIZE_Y, 0);              // but the size is recorded as 0
  EXPECT_FLOAT_EQ(s.ratio, 300.0f);
}

TEST(ViewerLayout, OverlayPositionsIn500x500) {
  for (int q = 0; q < 4; ++q) {
    EXPECT_EQ(legendSquareCentre(q, 500, 500).x, 410);
    EXPECT_EQ(legendSquareCentre(q, 500, 500).y, 490 - 15 * q);
    EXPECT_EQ(legendNameOrigin(q, 500, 500).x, 420);
    EXPECT_EQ(legendNameOrigin(q, 500, 500).y, 485 - 15 * q);
  }
  EXPECT_EQ(counterLineOrigin(500, 500).x, 5);
  EXPECT_EQ(counterLineOrigin(500, 500).y, 490);
  EXPECT_EQ(helpLineOrigin(500, 500).x, 250);
  EXPECT_EQ(helpLineOrigin(500, 500).y, 5);
}

// The colour as it reaches the frame buffer: OpenGL clamps to [0, 1].
void expectShown(Colour c, double r, double g, double b) {
  EXPECT_NEAR(std::max(0.0f, c.red), r, 1e-4);
  EXPECT_NEAR(std::max(0.0f, c.green), g, 1e-4);
  EXPECT_NEAR(std::max(0.0f, c.blue), b, 1e-4);
}

TEST(ViewerColours, TwoThreeFiveAndOneSpecies) {
  expectShown(speciesColour(0, 2), 0, 0.8660, 0);
  expectShown(speciesColour(1, 2), 0, 0, 0.8660);
  expectShown(speciesColour(0, 3), 0, 0.8660, 0);
  expectShown(speciesColour(1, 3), 1, 0.5, 0);
  expectShown(speciesColour(2, 3), 0, 0, 0.8660);
  const double five[5][3] = {
      {0, 0.8660, 0}, {0.7071, 0.9659, 0}, {1, 0.5, 0}, {0.7071, 0, 0.2588}, {0, 0, 0.8660}};
  for (int q = 0; q < 5; ++q) expectShown(speciesColour(q, 5), five[q][0], five[q][1], five[q][2]);
  // A single species would divide 0 by 0: it takes the first species' green.
  expectShown(speciesColour(0, 1), 0, 0.8660, 0);
  EXPECT_LT(speciesColour(0, 5).blue, 0.0f);  // negatives are left for OpenGL to clamp
}

TEST(ViewerPointSize, PositiveAndFiniteForEveryDistance) {
  EXPECT_NEAR(moleculePointSize(15.0f), 1.3333, 1e-4);
  EXPECT_FLOAT_EQ(moleculePointSize(2.0f), 10.0f);
  EXPECT_FLOAT_EQ(moleculePointSize(-2.0f), 10.0f);
  EXPECT_FLOAT_EQ(moleculePointSize(0.0f), kMaxMoleculePointSize);
  EXPECT_FLOAT_EQ(moleculePointSize(-0.0f), kMaxMoleculePointSize);
  for (float r : {1e-30f, -1e-30f, 1e-45f, 1e30f, NAN}) {
    const float size = moleculePointSize(r);
    EXPECT_TRUE(std::isfinite(size) && size > 0.0f) << r;
  }
}

TEST(ViewerFrameCounter, NeverInfiniteOrNan) {
  State s;
  countFrame(s, 0.0f);  // same millisecond as the interval start: 0 / 0
  EXPECT_EQ(s.fps, 0.0f);
  countFrame(s, 0.0f);  // one frame counted, no time passed: would be infinite
  EXPECT_EQ(s.fps, 0.0f);
  EXPECT_EQ(s.totalframe, 2);
  countFrame(s, 10.0f);
  EXPECT_FLOAT_EQ(s.fps, 200.0f);
  countFrame(s, 1500.0f);  // new interval; the rate stays on screen
  EXPECT_EQ(s.totalframe, 0);
  EXPECT_FLOAT_EQ(s.timebase, 1500.0f);
  EXPECT_FLOAT_EQ(s.fps, 200.0f);
  countFrame(s, 1500.0f);  // same millisecond as the restart: last rate kept
  EXPECT_FLOAT_EQ(s.fps, 200.0f);
  countFrame(s, 1520.0f);
  EXPECT_FLOAT_EQ(s.fps, 50.0f);
  countFrame(s, 2600.0f);  // restart, then a later frame shows 0 counted frames
  countFrame(s, 2610.0f);
  EXPECT_FLOAT_EQ(s.fps, 0.0f);
}

TEST_F(ViewerLogic, ArrowKeysGrowTheirStepUntilReleased) {
  const float theta0 = s.theta;
  float expected = theta0;
  float step = 0.001f;
  for (int repeat = 0; repeat < 80; ++repeat) {  // held right arrow
    EXPECT_EQ(onSpecialKey(s, 102), After::newView);
    if (step < 0.3f) step += 0.005f;
    expected += step;
  }
  EXPECT_NEAR(s.angleStepSize, 0.301f, 1e-5);
  EXPECT_FLOAT_EQ(s.theta, expected);
  onSpecialKeyUp(s);
  const float before = s.theta;
  onSpecialKey(s, 100);  // left arrow: a fresh press turns by 0.006
  EXPECT_NEAR(before - s.theta, 0.006f, 1e-6);
  const float phi0 = s.phi;
  onSpecialKeyUp(s);
  onSpecialKey(s, 101);
  EXPECT_NEAR(s.phi - phi0, 0.006f, 1e-6);
  onSpecialKeyUp(s);
  onSpecialKey(s, 103);
  EXPECT_NEAR(s.phi, phi0, 1e-6);
  // Other special keys (F1, Page Up) change nothing.
  const State copy = s;
  EXPECT_EQ(onSpecialKey(s, 1), After::nothing);
  EXPECT_EQ(onSpecialKey(s, 104), After::nothing);
  EXPECT_EQ(s.angleStepSize, copy.angleStepSize);
  EXPECT_EQ(s.theta, copy.theta);
}

TEST_F(ViewerLogic, ZoomKeys) {
  EXPECT_EQ(onNormalKey(s, 'a'), After::viewAndDraw);
  EXPECT_NEAR(s.radius, 14.94, 1e-5);
  onNormalKeyUp(s);
  onNormalKey(s, 'a');
  onNormalKeyUp(s);
  onNormalKey(s, 'a');
  onNormalKeyUp(s);
  EXPECT_NEAR(s.radius, 14.82, 1e-5);

  s.radius = 15.0f;
  for (int i = 0; i < 3; ++i) onNormalKey(s, 'a');  // held: 0.06, 0.11, 0.16
  EXPECT_NEAR(s.radius, 14.67, 1e-5);
  onNormalKeyUp(s);
  onNormalKey(s, 'z');
  EXPECT_NEAR(s.radius, 14.73, 1e-5);

  const State copy = s;
  for (unsigned char key : {'A', 'Z', 'P', 'N', 'x'})
    EXPECT_EQ(onNormalKey(s, key), After::redisplay);
  EXPECT_EQ(s.radius, copy.radius);
  EXPECT_EQ(s.pause, copy.pause);
  EXPECT_EQ(onNormalKey(s, 27), After::quit);
}

TEST_F(ViewerLogic, MouseDragsAndPassiveMotion) {
  onMouseButton(s, 0, 0);  // left down
  EXPECT_TRUE(s.LEFT_MOUSE_DOWN);
  EXPECT_EQ(onActiveMotion(s, 250, 400), After::newView);
  EXPECT_NEAR(s.theta, std::numbers::pi, 1e-6);
  onMouseButton(s, 2, 0);  // right down too: only theta changes
  const float phi = s.phi;
  onActiveMotion(s, 125, 100);
  EXPECT_NEAR(s.theta, std::numbers::pi / 2, 1e-6);
  EXPECT_EQ(s.phi, phi);
  onMouseButton(s, 0, 1);  // left up
  EXPECT_FALSE(s.LEFT_MOUSE_DOWN);
  onActiveMotion(s, 0, 250);
  EXPECT_NEAR(s.phi, std::numbers::pi / 2, 1e-6);
  onMouseButton(s, 2, 1);
  onMouseButton(s, 1, 0);  // middle only
  onActiveMotion(s, 10, 150);
  EXPECT_NEAR(s.radius, 1.5, 1e-6);
  onMouseButton(s, 1, 1);
  onMouseButton(s, 7, 0);  // unknown button: ignored
  EXPECT_FALSE(s.LEFT_MOUSE_DOWN || s.MIDDLE_BUTTON_DOWN || s.RIGHT_MOUSE_DOWN);

  s.radius = 15.0f;
  EXPECT_EQ(onPassiveMotion(s, 125, 125), After::newView);
  EXPECT_NEAR(s.theta, std::numbers::pi, 1e-6);
  EXPECT_NEAR(s.phi, std::numbers::pi / 2, 1e-6);
  computeCamera(s);
  EXPECT_NEAR(s.cam_x, -15.0, 1e-5);

  // A window of height 0: pointer motion is ignored.
  recordWindowSize(s, 500, 0);
  const State copy = s;
  EXPECT_EQ(onPassiveMotion(s, 10, 10), After::nothing);
  onMouseButton(s, 2, 0);
  EXPECT_EQ(onActiveMotion(s, 10, 10), After::nothing);
  EXPECT_EQ(s.theta, copy.theta);
  EXPECT_EQ(s.phi, copy.phi);
}

// A movie of `frames` steps numbered from 0, one molecule of species 0 at
// x = step micrometres, species 1 empty.
std::string countingMovie(int frames) {
  std::string text;
  for (int k = 0; k < frames; ++k)
    text += "step " + std::to_string(k) + "\nspecie 0\nalive 1\n" + std::to_string(k) +
            ".000000E-06 0.000000E+00 0.000000E+00 \nspecie 1\nalive 0\n\n";
  return text;
}

class ViewerPlayback : public ::testing::Test {
 protected:
  void SetUp() override {
    loadSetup(
        "N_species 2\n"
        "specie S0 0 1.0 1.0e-9 1.0e-10 10 0 0\n"
        "specie S1 1 1.0 1.0e-9 1.0e-10 10 0 0\n"
        "N_fwd 0 ;\nN_rev 0 ;\nrev_max_mol 0 ;\n"
        "temperature(K) 300.0\nviscosity 1.0\npH 7.0\ntotal_step 3\ntime_step(s) 1.0e-6\n");
    setCurrentStep(0);
    resetState();
    initVariable();
    initObjectProperties(movie_.c_str());
  }
  // The step shown after each of `frames` frames.
  std::string play(int frames) {
    std::string shown;
    for (int i = 0; i < frames; ++i) {
      playbackStep(state());
      shown += std::to_string(readCurrentStep());
    }
    return shown;
  }
  std::string movie_ = "playback.Tavomovie";
  State& s = state();
};

TEST_F(ViewerPlayback, LoopsAfterTheSetupsLastStep) {
  writeFile(movie_, countingMovie(3));
  EXPECT_EQ(play(8), "01201201");
  double x, y, z;
  position(0, 0, &x, &y, &z);
  EXPECT_DOUBLE_EQ(x, 1e-6);

  // A longer movie: only the setup's steps 0 to 2 are ever shown.
  writeFile(movie_, countingMovie(6));
  s.filePosition = 0;
  setCurrentStep(0);
  EXPECT_EQ(play(7), "0120120");
}

TEST_F(ViewerPlayback, PauseNextAndRewind) {
  writeFile(movie_, countingMovie(3));
  EXPECT_EQ(play(2), "01");
  EXPECT_EQ(onNormalKey(s, 'p'), After::redisplay);
  EXPECT_EQ(play(3), "111");  // frozen
  onNormalKey(s, 'n');
  EXPECT_EQ(readCurrentStep(), 2);
  onNormalKey(s, 'n');  // wraps
  EXPECT_EQ(readCurrentStep(), 0);
  EXPECT_EQ(play(2), "00");
  onNormalKey(s, 'n');
  onNormalKey(s, '0');  // paused: nothing on screen changes ...
  EXPECT_EQ(play(2), "11");
  onNormalKey(s, 'n');  // ... until the next read
  EXPECT_EQ(readCurrentStep(), 0);
  onNormalKey(s, 'p');
  EXPECT_EQ(play(3), "120");
  onNormalKey(s, '0');  // playing: the next frame shows the first step
  EXPECT_EQ(play(2), "01");
  onNormalKey(s, 'n');  // playing: n reads one step and the next frame another
  EXPECT_EQ(readCurrentStep(), 2);
  EXPECT_EQ(play(1), "0");
}

}  // namespace
