// glutCommon.h - the Tavomovie viewer module: orbiting camera, frame drawing,
// keyboard and mouse input and movie playback.
//
// The viewer's state is one struct, tavo::viewer::State, reached with
// tavo::viewer::state(). The GLUT callbacks and the start-up functions keep
// their plain global names; each callback is a thin wrapper around a plain
// function of namespace tavo::viewer that changes only the state (and, for
// playback, the data store) and makes no OpenGL or GLUT call, so the logic can
// be tested without a window.
#ifndef TAVO_VIEWER_GLUTCOMMON_H
#define TAVO_VIEWER_GLUTCOMMON_H

#include "scene/view.h"

namespace tavo::viewer {

// ---------------------------------------------------------------------------
// State
// ---------------------------------------------------------------------------

// Everything the viewer keeps between callbacks, one set per process.
struct State {
  // Camera: spherical coordinates about the look-at point.
  float theta = 0.0f;   // azimuth about +y, radians, from +x toward +z
  float phi = 0.0f;     // polar angle, radians, from +y
  float radius = 0.0f;  // distance from the camera to the look-at point
  float lookatpt_x = 0.0f, lookatpt_y = 0.0f, lookatpt_z = 0.0f;     // point looked at
  float cam_x = 0.0f, cam_y = 0.0f, cam_z = 0.0f;                    // eye position
  float lookatvec_x = 0.0f, lookatvec_y = 0.0f, lookatvec_z = 0.0f;  // eye -> look-at point
  float ratio = 0.0f;       // width / height of the perspective projection
  int WINDOW_SIZE_X = 800;  // window width as last reshaped
  int WINDOW_SIZE_Y = 200;  // window height as last reshaped (0 included)

  // Playback.
  const char* moviefilename = nullptr;  // movie path (argv[2], not copied)
  long long filePosition = 0;           // start of the next step in the movie file
  bool pause = false;                   // playback paused

  // Input.
  float angleStepSize = 0.001f;  // grows while an arrow key repeats
  float radiusStepSize = 0.01f;  // grows while a zoom key repeats
  bool LEFT_MOUSE_DOWN = false;
  bool MIDDLE_BUTTON_DOWN = false;
  bool RIGHT_MOUSE_DOWN = false;

  // Frame-rate counter (milliseconds since GLUT started).
  float gltime = 0.0f;    // time of the current frame
  float timebase = 0.0f;  // start of the current one-second interval
  int totalframe = 0;     // frames counted in the interval before this one
  float fps = 0.0f;       // rate shown in the overlay
};

State& state();     // the viewer state of the process
void resetState();  // back to the values before initVariable (tests)

// ---------------------------------------------------------------------------
// Camera (no OpenGL)
// ---------------------------------------------------------------------------

// Recomputes cam_* and lookatvec_* from theta, phi, radius and the look-at
// point (products in double, results stored as float).
void computeCamera(State& s);

// The arguments for gluLookAt. Normally eye = cam, centre = cam + lookatvec,
// up = +y. Where that construction is undefined the view is kept defined:
// a zero look vector (radius 0) looks toward the look-at point along the
// direction the camera had at radius 1; a look vector parallel to +y (phi a
// multiple of pi) takes as up vector the limit of the projected +y as phi
// approaches from the side where sin(phi) > 0.
using LookAt = scene::LookAt;
LookAt viewLookAt(const State& s);

// Records a reshape: WINDOW_SIZE_X/Y take the size as given (height 0 too),
// ratio = width / max-height-of-1. Returns the height to use for the
// viewport and projection (1 where the window height is 0).
int recordWindowSize(State& s, int width, int height);

// ---------------------------------------------------------------------------
// Frame contents (no OpenGL)
// ---------------------------------------------------------------------------

// Species colours and the molecule point size are the scene's (scene/view.h).
using Colour = scene::Colour;
using scene::kMaxMoleculePointSize;
using scene::moleculePointSize;
using scene::speciesColour;

// One frame of the rate counter at time `now` (milliseconds). A frame in the
// same millisecond as the start of the interval keeps the last rate (0 at
// start) instead of dividing by zero.
void countFrame(State& s, float now);

// Pixel positions of the overlay for a W x H window (origin bottom-left).
struct PixelPos {
  int x, y;
};
PixelPos legendSquareCentre(int q, int width, int height);  // (W - 90, H - 10 - 15q)
PixelPos legendNameOrigin(int q, int width, int height);    // (W - 80, H - 15 - 15q)
PixelPos counterLineOrigin(int width, int height);          // (5, H - 10)
PixelPos helpLineOrigin(int width, int height);             // (W - 250, 5)

// ---------------------------------------------------------------------------
// Input and playback (no OpenGL; changes state and the data store only)
// ---------------------------------------------------------------------------

// What a GLUT callback must do after an input handler has run.
enum class After {
  nothing,      // no camera change
  newView,      // the camera changed: load the view with perspective()
  redisplay,    // ask for a redisplay only
  viewAndDraw,  // new view, then a redisplay
  quit,         // end the process with status 0
};

After onSpecialKey(State& s, int key);           // arrows turn the camera
void onSpecialKeyUp(State& s);                   // angle step back to 0.001
After onNormalKey(State& s, unsigned char key);  // a z p n 0 Escape
void onNormalKeyUp(State& s);                    // zoom step back to 0.01
void onMouseButton(State& s, int button, int buttonState);
// Pointer motion; ignored (After::nothing) while the window has no area,
// since the formulas divide by its width and height.
After onActiveMotion(State& s, int x, int y);
After onPassiveMotion(State& s, int x, int y);

// Reads the next step into the data store: rewinds first when the step shown
// last was the setup's last one.
void readNextStep(State& s);
// The playback step of a frame: readNextStep unless paused.
void playbackStep(State& s);

}  // namespace tavo::viewer

// ---------------------------------------------------------------------------
// Start-up, camera and projections
// ---------------------------------------------------------------------------

void initVariable();  // camera to theta 1, phi 1, radius 15 about the origin; no GL call
void perspective();   // recompute the camera and load the view transform
void changeSize(int width, int height);  // reshape callback: viewport and projection
void setOrthographicProjection();        // overlay projection in window pixels (push)
void resetPerspectiveProjection();       // back to the 3-D projection (pop)

// ---------------------------------------------------------------------------
// Drawing
// ---------------------------------------------------------------------------

void renderScene();                 // display callback: advance the movie one step, draw the frame
void drawString(const char* text);  // HELVETICA_10 at the current raster position
void renderBitmapString(float x, float y, float spacing, void* font, const char* text);
// Translucent axis-aligned box with full edge lengths sizeX/Y/Z; blending is
// enabled only for the six faces.
void drawCube(float centreX, float centreY, float centreZ, float sizeX, float sizeY, float sizeZ,
              float red, float green, float blue, float alpha);

// The pieces of one frame, in renderScene's order, for programs that time
// reading and drawing apart: drawFrameStart clears and draws the axis cross;
// drawFrameRest draws the molecules, axis letters and overlay and swaps.
void drawFrameStart();
void drawFrameRest();
// Live molecules of every species, species by species in slot order: one
// vertex array per species (what renderScene uses) or one begin/end pair per
// molecule. Both give the same pixels.
void drawMolecules_batched();
void drawMolecules_immediate();

// ---------------------------------------------------------------------------
// Input and playback callbacks
// ---------------------------------------------------------------------------

void initObjectProperties(const char* moviePath);  // record the movie, rewind, unpause
void updateObjectProperties();                     // playback step of one frame
void specialKey(int key, int x, int y);
void specialKeyUp(int key, int x, int y);
void normalKey(unsigned char key, int x, int y);
void normalKeyUp(unsigned char key, int x, int y);
void processMouse(int button, int state, int x, int y);
void processMouseActiveMotion(int x, int y);
void processMousePassiveMotion(int x, int y);
void idle();  // ask for the next frame

// Registers the ten GLUT callbacks, in the viewer's fixed order.
void registerCallbacks();

#endif  // TAVO_VIEWER_GLUTCOMMON_H
