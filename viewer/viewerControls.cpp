// viewerControls.cpp - the viewer's logic without OpenGL: camera maths, the
// species colours, the frame-rate counter, the overlay layout, the input
// handlers and the playback step. The GLUT callbacks in glutCommon.cpp wrap
// these and do the drawing.
#include <cmath>

#include "datastore/dataFetcher.h"
#include "viewer/glutCommon.h"

namespace tavo::viewer {

namespace {

constexpr double kPi = 3.141592653589793;

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

// Below this ratio of horizontal to total length the look vector counts as
// parallel to the up vector +y: gluLookAt's side vector would vanish and the
// view collapse. Pole angles stored as float (pi is not exact) land just
// beside the pole; they are treated as at it, so every pole looks alike.
constexpr double kParallelRatio = 1e-6;

}  // namespace

// ---------------------------------------------------------------------------
// Camera
// ---------------------------------------------------------------------------

void computeCamera(State& s) {
  const double r = s.radius;
  s.cam_x = static_cast<float>(std::cos(double{s.theta}) * (r * std::sin(double{s.phi})));
  s.cam_z = static_cast<float>(std::sin(double{s.theta}) * (r * std::sin(double{s.phi})));
  s.cam_y = static_cast<float>(r * std::cos(double{s.phi}));
  s.lookatvec_x = s.lookatpt_x - s.cam_x;
  s.lookatvec_y = s.lookatpt_y - s.cam_y;
  s.lookatvec_z = s.lookatpt_z - s.cam_z;
}

LookAt viewLookAt(const State& s) {
  LookAt v{};
  v.eye[0] = s.cam_x;
  v.eye[1] = s.cam_y;
  v.eye[2] = s.cam_z;
  double f[3] = {s.lookatvec_x, s.lookatvec_y, s.lookatvec_z};
  double sign = s.radius < 0.0f ? -1.0 : 1.0;
  if (f[0] == 0.0 && f[1] == 0.0 && f[2] == 0.0) {
    // Eye on the look-at point (radius 0): keep looking the way the camera
    // looks from distance 1 on the same angles.
    const double sp = std::sin(double{s.phi});
    f[0] = -std::cos(double{s.theta}) * sp;
    f[1] = -std::cos(double{s.phi});
    f[2] = -std::sin(double{s.theta}) * sp;
    sign = 1.0;
  }
  for (int i = 0; i < 3; ++i) v.centre[i] = v.eye[i] + f[i];
  v.up[0] = 0.0;
  v.up[1] = 1.0;
  v.up[2] = 0.0;
  const double horizontal2 = f[0] * f[0] + f[2] * f[2];
  const double total2 = horizontal2 + f[1] * f[1];
  if (horizontal2 <= kParallelRatio * kParallelRatio * total2) {
    // Looking straight up or down (phi a multiple of pi): +y has no
    // component across the view. Use what projected +y tends to as phi
    // approaches from the side where sin(phi) > 0, so the picture does not
    // jump when the pointer reaches the pole.
    const double k = (f[1] > 0.0 ? 1.0 : -1.0) * sign;
    v.up[0] = k * std::cos(double{s.theta});
    v.up[1] = 0.0;
    v.up[2] = k * std::sin(double{s.theta});
  }
  return v;
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

Colour speciesColour(int s, int n) {
  // With one species t would be 0 / 0; it gets t = 0, the first species'
  // green, like the first species of any larger set.
  const float t = n > 1 ? static_cast<float>(s) / static_cast<float>(n - 1) : 0.0f;
  const double a = kPi * double{t};
  return Colour{static_cast<float>(std::sin(a)), static_cast<float>(std::sin(a + kPi / 3.0)),
                static_cast<float>(std::sin(a - 2.0 * kPi / 3.0))};
}

float moleculePointSize(float radius) {
  // Behind the origin (negative radius) the camera is as far away as at
  // |radius|; at distance 0 the quotient is infinite and OpenGL would refuse
  // it, so the size is capped there.
  const float distance = radius < 0.0f ? -radius : radius;
  const float size = 20.0f / distance;
  if (!std::isfinite(size) || !(size > 0.0f)) return kMaxMoleculePointSize;
  return size;
}

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
  return PixelPos{width - 90, height - 15 * q - 10};
}
PixelPos legendNameOrigin(int q, int width, int height) {
  return PixelPos{width - 80, height - 15 * q - 15};
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
    s.theta = static_cast<float>(x / w * 2.0 * kPi);
  } else if (s.RIGHT_MOUSE_DOWN) {
    s.phi = static_cast<float>(y / h * kPi);
  } else if (s.MIDDLE_BUTTON_DOWN) {
    s.radius = static_cast<float>(y / 100.0);
  }
  return After::newView;
}

After onPassiveMotion(State& s, int x, int y) {
  if (s.WINDOW_SIZE_X <= 0 || s.WINDOW_SIZE_Y <= 0) return After::nothing;
  const double w = s.WINDOW_SIZE_X;
  const double h = s.WINDOW_SIZE_Y;
  s.theta = static_cast<float>((x / w + x / w) * 2.0 * kPi);
  s.phi = static_cast<float>(y / h * 2.0 * kPi);
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
