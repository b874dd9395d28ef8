// controls.h - the explorer's logic without a window: which frame is to be
// on screen, the playback clock and rate, follow mode, hidden species, the
// keys and the mouse, the timeline and legend under the pointer, and the
// overlay's layout.
//
// The camera and its input are the viewer's own (viewer/glutCommon.h): the
// explorer keeps a viewer::State and hands arrows, zoom keys and drags to the
// viewer's handlers, so that every one means the same in both programs.
// Nothing here calls OpenGL or GLUT; explorerWindow.cpp does the drawing and
// the reading and calls these functions from its callbacks.
#ifndef TAVO_EXPLORER_CONTROLS_H
#define TAVO_EXPLORER_CONTROLS_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "scene/scene.h"
#include "viewer/glutCommon.h"

namespace tavo::explorer {

// ---------------------------------------------------------------------------
// The movie as the explorer sees it
// ---------------------------------------------------------------------------

// A snapshot of the movie's index while it is being built in the background.
struct IndexView {
  std::size_t frames = 0;   // complete frames indexed so far
  bool reachedEnd = false;  // the index has been through to the end of the file
  bool failed = false;      // a damaged frame ends the index before it
  std::int64_t indexedBytes = 0;
  std::int64_t fileBytes = 0;
  std::vector<std::size_t> runStarts;  // frames where a run starts, after frame 0
  std::uint64_t restarts = 0;          // times the file was opened again (--follow)
};

// Frames the timeline spans: the frames indexed once the index has reached
// the end of the file (or stopped at a damaged frame), and until then an
// estimate from the bytes indexed so far.
std::size_t timelineSpan(const IndexView& index);

// ---------------------------------------------------------------------------
// State
// ---------------------------------------------------------------------------

// Playback rates in frames per second: kFastest is "as fast as frames can be
// drawn"; the finite rates are powers of two from kSlowestRate up to
// kFastestFiniteRate.
constexpr double kFastest = 0.0;
constexpr double kSlowestRate = 0.125;
constexpr double kFastestFiniteRate = 512.0;

struct Controls {
  viewer::State view;         // camera, key steps, mouse buttons, window size, frame-rate counter
  float cameraScale = 1.0f;   // the camera's scale (scene::Camera::scale)
  scene::Camera startCamera;  // where the c key goes back to
  bool zoomHeld = false;      // a or z is held down: it zooms as the viewer's keys do

  // Navigation and playback.
  std::size_t frame = 0;  // the frame to be on screen
  bool paused = false;
  bool follow = false;  // show the newest complete frame, and keep doing so
  bool rewind = false;  // the next playback step shows frame 0 (the '0' key)
  // --frame K until the index can resolve it (negative K counts from the end).
  std::optional<std::int64_t> startFrame;
  double rate = kFastest;
  double nextDue = 0.0;  // playback clock: seconds at which the next frame is due

  // Picture.
  std::vector<bool> hidden;  // per species
  scene::Style style = scene::Style::points;
  bool haveRegions = false;  // a region file was given
  bool showRegions = false;
  bool help = false;

  // Pointer.
  bool timelineDrag = false;  // the left button went down on the timeline

  std::string message;  // a note on the start frame, shown until the next jump

  // Frame-rate counter of playback: frames shown since countStart.
  double countStart = -1.0;
  int counted = 0;
};

// The explorer's start: Tavomovie's camera and a window of `width` x
// `height`, playing from frame 0; paused at `startFrame` when one is given.
Controls startControls(int species, int width, int height, std::optional<std::int64_t> startFrame,
                       bool follow, scene::Style style, bool haveRegions);

// ---------------------------------------------------------------------------
// Playback
// ---------------------------------------------------------------------------

// The frame after `frame` in playback order: the next one, frame 0 after the
// last once the index has reached the end of the file, nothing while the
// index may still grow past `frame` or has stopped at a damaged frame.
std::optional<std::size_t> frameAfter(std::size_t frame, const IndexView& index);

// The frame the next playback step shows (frame 0 after the '0' key);
// nothing in follow mode, where the newest frame is shown instead.
std::optional<std::size_t> nextFrame(const Controls& c, const IndexView& index);

// Up to `count` frames that playback will want next, soonest first, for
// reading ahead.
std::vector<std::size_t> upcomingFrames(const Controls& c, const IndexView& index,
                                        std::size_t count);

// Brings the controls up to date with the index: follow mode moves to the
// newest frame, a pending --frame K is resolved once it can be (a message
// tells when K is beyond the movie), playback that has met a damaged frame
// at the end of the index pauses. Returns whether anything changed.
bool updateFromIndex(Controls& c, const IndexView& index);

// Whether the playback clock lets the next frame be shown at `now` (seconds).
bool frameDue(const Controls& c, double now);
// Records that playback showed a frame at `now`: the next is due one period
// later, or one period from now after a stall (no burst to catch up). The
// frame rate shown (view.fps) is the frames shown over the last second or
// more.
void frameShown(Controls& c, double now);
// Playback stopped or started again: the rate counts afresh.
void restartCount(Controls& c);

// [ and ]: half and double the rate. Halving "as fast as can be drawn"
// gives the largest power of two at most half the measured frame rate;
// doubling past kFastestFiniteRate gives "as fast as can be drawn".
double halvedRate(double rate, double measuredFramesPerSecond);
double doubledRate(double rate);

// ---------------------------------------------------------------------------
// Input
// ---------------------------------------------------------------------------

// What the window must do after an input handler.
enum class Effect {
  nothing,
  redraw,      // the picture or overlay changed
  screenshot,  // redraw and save the picture
  fit,         // frame the molecules shown (or the regions) and redraw
  quit,
};

// GLUT's codes of the keys the explorer adds.
constexpr int kKeyPageUp = 104;
constexpr int kKeyPageDown = 105;
constexpr int kKeyHome = 106;
constexpr int kKeyEnd = 107;

// Key codes of the table: characters as themselves, GLUT's special keys
// from kSpecialKey up.
constexpr int kSpecialKey = 0x100;

// The explorer's keys, one row each, in the order of the help: what is
// pressed, what it does, the codes it takes (0 ends the list) and its
// handler (none for pointer rows). The key handlers, the help overlay and
// tavo view --help are made from this one table.
struct KeyBinding {
  const char* keys;
  const char* what;
  int codes[10];
  Effect (*act)(Controls& c, int code, const IndexView& index);
};
std::span<const KeyBinding> keyBindings();
// The table as lines of help text, two spaces in.
std::string keyHelp();

// The camera of the controls, and the controls set to a camera.
scene::Camera cameraOf(const Controls& c);
void setCamera(Controls& c, const scene::Camera& camera);
// Back to the start camera, key steps reset.
void resetCamera(Controls& c);
// The camera's distance times `factor`.
void zoomBy(Controls& c, float factor);

Effect onKey(Controls& c, unsigned char key, const IndexView& index);
Effect onKeyUp(Controls& c);
Effect onSpecialKey(Controls& c, int key, const IndexView& index);
Effect onSpecialKeyUp(Controls& c);
// A button pressed or released at (x, y), window pixels from the top-left.
Effect onMouseButton(Controls& c, int button, int buttonState, int x, int y,
                     const IndexView& index);
Effect onMouseMotion(Controls& c, int x, int y, const IndexView& index);

// ---------------------------------------------------------------------------
// Layout (window pixels: x from the left; y from the top for the pointer,
// from the bottom in the overlay)
// ---------------------------------------------------------------------------

// The timeline's track runs from kTimelineMargin to width - kTimelineMargin;
// the bottom kTimelineBand rows of the window take clicks.
constexpr int kTimelineMargin = 10;
constexpr int kTimelineBand = 20;
bool onTimeline(int y, int height);
// The indexed frame nearest pointer column x (0 when there is none).
std::size_t timelineFrame(int x, int width, const IndexView& index);
// Column of frame k's marker.
float timelineX(std::size_t k, int width, const IndexView& index);

// Physical time in s, ms, µs or ns, whichever puts the number between 1 and
// 1000 ("0 s" for zero), four significant digits.
std::string timeText(double seconds);
// "max" or the rate in frames per second.
std::string rateText(double rate);

// What the overlay shows besides the controls.
struct OverlayFacts {
  std::vector<std::string> names;    // species names
  std::optional<std::size_t> shown;  // frame on screen
  int step = 0;
  double time = 0.0;  // seconds
  IndexView index;
  std::string frameError;              // why the frame asked for cannot be shown, or ""
  std::string indexError;              // why the index stops, or ""
  std::vector<scene::Colour> colours;  // per species; empty: the viewer's
  scene::Colour background{0.0f, 0.0f, 0.0f};
  bool scaleBar = false;
  std::string title;
};

// The overlay: frame-rate and step counter at the top left (with the rate),
// legend at the top right (hidden species greyed), a title below the
// counter, timeline and status line at the bottom, messages and the scale
// bar above it, and the key help when asked for. On any background but
// black the text has a black outline.
scene::Overlay layOutOverlay(const Controls& c, const OverlayFacts& facts);

// Lines of text no wider than about `width` pixels of the label font, broken
// at spaces.
std::vector<std::string> wrapText(const std::string& text, int width);

}  // namespace tavo::explorer

#endif  // TAVO_EXPLORER_CONTROLS_H
