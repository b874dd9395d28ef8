// viewerControls.cpp - the viewer's logic without OpenGL: the camera state,
// the frame-rate counter, the overlay layout, the input handlers and the
// playback step. The GLUT callbacks in glutCommon.cpp wrap
// these and do the drawing.
#include <cmath>
#include <numbers>

#include "datastore/dataFetcher.h"
#include "scene/figure.h"
#include "viewer/glutCommon.h"

namespace tavo::viewer {

namespace {

// GLUT's codes, repeated here so that this file needs no GLUT header.
constexpr int kKeyLeft = 100;
constexpr int kKeyUp = 101;
constexpr int kKeyRight = 102;
constexpr int kKeyDown = 103;
constexpr int kLeftButton = 0;
constexpr int kMiddleButton = 1;
constexpr int kRightButton = 2;
constexpr int kButtonDown = 0;
constexpr unsigned char kEscape = 27;

constexpr float kAngleStepStart = 0.001f;
constexpr float kRadiusStepStart = 0.01f;

}  // namespace

// ---------------------------------------------------------------------------
// Camera
// ---------------------------------------------------------------------------

void computeCamera(State& s) {
  const float target[3] = {s.lookatpt_x, s.lookatpt_y, s.lookatpt_z};
  const scene::Eye e = scene::placeEye(scene::Camera{s.theta, s.phi, s.radius}, target);
  s.cam_x = e.position[0];
  s.cam_y = e.position[1];
  s.cam_z = e.position[2];
  s.lookatvec_x = e.look[0];
  s.lookatvec_y = e.look[1];
  s.lookatvec_z = e.look[2];
}

LookAt viewLookAt(const State& s) {
  // The stored eye, which keeps its last value while the angles change.
  const scene::Eye e{{s.cam_x, s.cam_y, s.cam_z}, {s.lookatvec_x, s.lookatvec_y, s.lookatvec_z}};
  return scene::lookAt(e, scene::Camera{s.theta, s.phi, s.radius});
}

int recordWindowSize(State& s, int width, int height) {
  s.WINDOW_SIZE_X = width;
  s.WINDOW_SIZE_Y = height;
  const int usedHeight = height == 0 ? 1 : height;
  s.ratio = static_cast<float>(width) / static_cast<float>(usedHeight);
  return usedHeight;
}

// ---------------------------------------------------------------------------
// Frame contents
// ---------------------------------------------------------------------------

void countFrame(State& s, float now) {
  s.gltime = now;
  const float elapsed = s.gltime - s.timebase;
  if (elapsed < 1000.0f) {
    // In the same millisecond as the interval start the rate would be 0 / 0
    // or infinite; the last rate stays on screen instead.
    if (elapsed > 0.0f) s.fps = static_cast<float>(s.totalframe) / elapsed * 1000.0f;
    ++s.totalframe;
  } else {
    s.timebase = s.gltime;
    s.totalframe = 0;
  }
}

PixelPos legendSquareCentre(int q, int width, int height) {
  const scene::LegendRow row = scene::legendRow(q, width, height);
  return PixelPos{static_cast<int>(row.swatchX), static_cast<int>(row.swatchY)};
}
PixelPos legendNameOrigin(int q, int width, int height) {
  const scene::LegendRow row = scene::legendRow(q, width, height);
  return PixelPos{static_cast<int>(row.nameX), static_cast<int>(row.nameY)};
}
PixelPos counterLineOrigin(int /*width*/, int height) { return PixelPos{5, height - 10}; }
PixelPos helpLineOrigin(int width, int /*height*/) { return PixelPos{width - 250, 5}; }

// ---------------------------------------------------------------------------
// Input
// ---------------------------------------------------------------------------

After onSpecialKey(State& s, int key) {
  if (key < kKeyLeft || key > kKeyDown) return After::nothing;
  // The test comes before the increase, so the step ends at 0.301.
  if (s.angleStepSize < 0.3f) s.angleStepSize += 0.005f;
  switch (key) {
    case kKeyLeft:
      s.theta -= s.angleStepSize;
      break;
    case kKeyRight:
      s.theta += s.angleStepSize;
      break;
    case kKeyUp:
      s.phi += s.angleStepSize;
      break;
    case kKeyDown:
      s.phi -= s.angleStepSize;
      break;
  }
  return After::newView;
}

void onSpecialKeyUp(State& s) { s.angleStepSize = kAngleStepStart; }

After onNormalKey(State& s, unsigned char key) {
  switch (key) {
    case 'a':
      s.radiusStepSize += 0.05f;
      s.radius -= s.radiusStepSize;
      return After::viewAndDraw;
    case 'z':
      s.radiusStepSize += 0.05f;
      s.radius += s.radiusStepSize;
      return After::viewAndDraw;
    case 'p':
      s.pause = !s.pause;
      break;
    case 'n':
      readNextStep(s);
      break;
    case '0':
      s.filePosition = 0;
      break;
    case kEscape:
      return After::quit;
    default:
      break;
  }
  return After::redisplay;
}

void onNormalKeyUp(State& s) { s.radiusStepSize = kRadiusStepStart; }

void onMouseButton(State& s, int button, int buttonState) {
  const bool down = buttonState == kButtonDown;
  switch (button) {
    case kLeftButton:
      s.LEFT_MOUSE_DOWN = down;
      break;
    case kMiddleButton:
      s.MIDDLE_BUTTON_DOWN = down;
      break;
    case kRightButton:
      s.RIGHT_MOUSE_DOWN = down;
      break;
    default:
      break;
  }
}

After onActiveMotion(State& s, int x, int y) {
  // A window without area has no pointer positions to map; the formulas
  // would divide by zero.
  if (s.WINDOW_SIZE_X <= 0 || s.WINDOW_SIZE_Y <= 0) return After::nothing;
  const double w = s.WINDOW_SIZE_X;
  const double h = s.WINDOW_SIZE_Y;
  if (s.LEFT_MOUSE_DOWN) {
    s.theta = static_cast<float>(x / w * 2.0 * std::numbers::pi);
  } else if (s.RIGHT_MOUSE_DOWN) {
    s.phi = static_cast<float>(y / h * std::numbers::pi);
  } else if (s.MIDDLE_BUTTON_DOWN) {
    s.radius = static_cast<float>(y / 100.0);
  }
  return After::newView;
}

After onPassiveMotion(State& s, int x, int y) {
  if (s.WINDOW_SIZE_X <= 0 || s.WINDOW_SIZE_Y <= 0) return After::nothing;
  const double w = s.WINDOW_SIZE_X;
  const double h = s.WINDOW_SIZE_Y;
  s.theta = static_cast<float>((x / w + x / w) * 2.0 * std::numbers::pi);
  s.phi = static_cast<float>(y / h * 2.0 * std::numbers::pi);
  return After::newView;
}

// ---------------------------------------------------------------------------
// Playback
// ---------------------------------------------------------------------------

void readNextStep(State& s) {
  // The loop test compares step numbers: after the setup's last step the
  // next read starts again at the beginning of the file. Wide arithmetic:
  // no step count can overflow it.
  if (static_cast<long long>(readCurrentStep()) == static_cast<long long>(totalStep()) - 1)
    s.filePosition = 0;
  readMovie_fromFile(s.moviefilename, &s.filePosition);
}

void playbackStep(State& s) {
  if (s.pause) return;
  readNextStep(s);
}

}  // namespace tavo::viewer
