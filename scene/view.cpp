// view.cpp - camera maths, species colours and picture sizes.
#include "scene/view.h"

#include <cmath>
#include <numbers>

namespace tavo::scene {

namespace {

// Below this ratio of horizontal to total length the look vector counts as
// parallel to the up vector +y: the view's side vector would vanish and the
// view collapse. Pole angles stored as float (pi is not exact) land just
// beside the pole; they are treated as at it, so every pole looks alike.
constexpr double kParallelRatio = 1e-6;

}  // namespace

Eye placeEye(const Camera& camera, const float target[3]) {
  const double r = camera.radius;
  const double theta = camera.theta, phi = camera.phi;
  Eye e{};
  e.position[0] = static_cast<float>(std::cos(theta) * (r * std::sin(phi)));
  e.position[2] = static_cast<float>(std::sin(theta) * (r * std::sin(phi)));
  e.position[1] = static_cast<float>(r * std::cos(phi));
  for (int i = 0; i < 3; ++i) e.look[i] = target[i] - e.position[i];
  return e;
}

LookAt lookAt(const Eye& eye, const Camera& camera) {
  LookAt v{};
  for (int i = 0; i < 3; ++i) v.eye[i] = eye.position[i];
  double f[3] = {eye.look[0], eye.look[1], eye.look[2]};
  double sign = camera.radius < 0.0f ? -1.0 : 1.0;
  if (f[0] == 0.0 && f[1] == 0.0 && f[2] == 0.0) {
    // Eye on the target (radius 0): keep looking the way the camera looks
    // from distance 1 on the same angles.
    const double sp = std::sin(double{camera.phi});
    f[0] = -std::cos(double{camera.theta}) * sp;
    f[1] = -std::cos(double{camera.phi});
    f[2] = -std::sin(double{camera.theta}) * sp;
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
    // jump when the camera reaches the pole.
    const double k = (f[1] > 0.0 ? 1.0 : -1.0) * sign;
    v.up[0] = k * std::cos(double{camera.theta});
    v.up[1] = 0.0;
    v.up[2] = k * std::sin(double{camera.theta});
  }
  return v;
}

Colour speciesColour(int s, int n) {
  // With one species t would be 0 / 0; it gets t = 0, the first species'
  // green, like the first species of any larger set.
  const float t = n > 1 ? static_cast<float>(s) / static_cast<float>(n - 1) : 0.0f;
  const double a = std::numbers::pi * double{t};
  return Colour{static_cast<float>(std::sin(a)),
                static_cast<float>(std::sin(a + std::numbers::pi / 3.0)),
                static_cast<float>(std::sin(a - 2.0 * std::numbers::pi / 3.0))};
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

double nearPlane(const Camera& camera) { return kNearPlane * camera.scale; }
double farPlane(const Camera& camera) { return kFarPlane * camera.scale; }
float cameraPointSize(const Camera& camera) {
  return moleculePointSize(camera.scale > 0.0f ? camera.radius / camera.scale : camera.radius);
}

double focalPixels(int height) {
  return height / 2.0 / std::tan(kFieldOfView / 2.0 * std::numbers::pi / 180.0);
}

double sphereOutlinePixels(double diameter, double distance, int height) {
  // The outline is the circle where the cone from the eye touches the
  // sphere; seen along its axis it spans 2 f r / sqrt(d^2 - r^2).
  const double r = diameter / 2.0;
  const double d2 = distance * distance - r * r;
  if (!(d2 > 0.0)) return 0.0;
  return 2.0 * focalPixels(height) * r / std::sqrt(d2);
}

}  // namespace tavo::scene
