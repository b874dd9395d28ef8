// explorer.h - the movie explorer: a window on a movie of any length that
// opens at once, plays with the frames read ahead, jumps to any frame, and
// follows a movie that is still being written. It draws through the scene
// module with the viewer's window size, camera, colours and keys.
#ifndef TAVO_EXPLORER_EXPLORER_H
#define TAVO_EXPLORER_EXPLORER_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "explorer/controls.h"
#include "scene/scene.h"

namespace tavo::explorer {

// The window as a measuring program sees it, on the window's thread.
class Remote {
 public:
  virtual ~Remote() = default;
  virtual Controls& controls() = 0;  // set frame, paused, rate... as the keys do
  virtual IndexView index() const = 0;
  virtual void redraw() = 0;
  virtual void quit() = 0;
  // Frames read by the background reader and the milliseconds they took.
  virtual std::size_t framesRead() const = 0;
  virtual double readMilliseconds() const = 0;
};

// Hooks for a program that measures the explorer (the benchmarks); with a
// probe every frame is finished (glFinish) before drawn() is called.
class Probe {
 public:
  virtual ~Probe() = default;
  virtual void idle(Remote& remote) = 0;  // every pass of the event loop
  virtual void drawn(Remote& remote, std::optional<std::size_t> frame) = 0;
};

struct Options {
  std::string setup;
  std::string movie;
  std::string regions;                     // region file to draw, or ""
  std::optional<std::int64_t> startFrame;  // open paused here; negative counts from the end
  bool follow = false;
  scene::Style style = scene::Style::points;
  double sphereScale = 1.0;  // spheres drawn this many times their species' size
  int width = 500;
  int height = 500;
  // Figure settings.
  bool fit = false;                    // camera fitted to the first frame shown (or the regions)
  scene::Camera camera;                // the start camera, where not fitted
  bool autoSphereScale = false;        // sphereScale from the camera: smallest spheres 3 pixels
  std::vector<scene::Colour> colours;  // per species; empty: the viewer's
  std::vector<bool> hidden;            // per species: hidden at the start
  scene::Colour background{0.0f, 0.0f, 0.0f};
  bool scaleBar = false;
  bool axes = true;
  std::string title;
  Probe* probe = nullptr;
};

// Opens the window and runs until the user quits (Escape or closing the
// window). Throws Error when the setup, the movie or the region file cannot
// be read, or when there is no display; faults met later (a damaged frame, a
// screenshot that cannot be written) are shown in the window.
void run(const Options& options);

}  // namespace tavo::explorer

#endif  // TAVO_EXPLORER_EXPLORER_H
