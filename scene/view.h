// view.h - what a picture of a frame is made of, without OpenGL: the camera
// orbiting the origin, the view transform it gives, the species colours, the
// molecule point size and the sizes and layout that depend on the picture.
//
// Shared by the viewer, the offscreen renderer and their tests; no function
// here touches OpenGL or a window.
#ifndef TAVO_SCENE_VIEW_H
#define TAVO_SCENE_VIEW_H

namespace tavo::scene {

// Data-store length unit (metres) to scene units.
constexpr double kSceneScale = 1000000.0;

// Perspective projection of every picture: vertical field of view in
// degrees, near and far planes in scene units.
constexpr double kFieldOfView = 45.0;
constexpr double kNearPlane = 1.0;
constexpr double kFarPlane = 1000.0;

// The camera: spherical coordinates about the point looked at.
struct Camera {
  float theta = 1.0f;                    // azimuth about +y, radians, from +x toward +z
  float phi = 1.0f;                      // polar angle, radians, from +y
  float radius = 15.0f;                  // distance from the eye to the point looked at
  float target[3] = {0.0f, 0.0f, 0.0f};  // the point looked at, scene units
  // Size of the scene against the viewer's: the near and far planes lie
  // this many times as far, and points are as large as the viewer draws
  // them from radius / scale (a camera framing a small cell sees it as the
  // viewer sees a large one).
  float scale = 1.0f;
};

// Where a camera puts the eye: its position and the vector from it to the
// point looked at (products in double, results stored as float).
struct Eye {
  float position[3];
  float look[3];
};
Eye placeEye(const Camera& camera, const float target[3]);

// The arguments of the view transform: eye, centre and up vector. Normally
// centre = eye + look and up = +y. Where that is undefined the view is kept
// defined: a zero look vector (radius 0) looks toward the target along the
// direction the camera had at radius 1; a look vector parallel to +y (phi a
// multiple of pi) takes as up vector the limit of the projected +y as phi
// approaches from the side where sin(phi) > 0.
struct LookAt {
  double eye[3];
  double centre[3];
  double up[3];
};
LookAt lookAt(const Eye& eye, const Camera& camera);

struct Colour {
  float red, green, blue;
};

// Colour of species `s` among `n`: t = s / (n - 1), then (sin(pi t),
// sin(pi t + pi/3), sin(pi t - 2pi/3)), negatives left for OpenGL to clamp.
// A single species (0 / 0) is drawn in the first species' green.
Colour speciesColour(int s, int n);

// Near and far planes of a camera.
double nearPlane(const Camera& camera);
double farPlane(const Camera& camera);
// Point size of a camera: moleculePointSize(radius / scale).
float cameraPointSize(const Camera& camera);

// Molecule point size for a camera distance: 20 / radius. OpenGL refuses a
// size that is not positive, so a negative distance gives 20 / |radius| (the
// camera is that far away, behind the origin) and a distance of 0, where the
// quotient is infinite, gives kMaxMoleculePointSize.
constexpr float kMaxMoleculePointSize = 64.0f;
float moleculePointSize(float radius);

// Pixels per scene unit at distance 1 in front of the eye, for a picture
// `height` pixels high: height / 2 / tan(fov / 2).
double focalPixels(int height);

// Diameter in pixels of the outline of a sphere of diameter `diameter` whose
// centre lies `distance` from the eye on the line of sight, in a picture
// `height` pixels high; 0 when the eye is inside the sphere.
double sphereOutlinePixels(double diameter, double distance, int height);

}  // namespace tavo::scene

#endif  // TAVO_SCENE_VIEW_H
