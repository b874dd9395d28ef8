// render.h - pictures and videos of a movie without a display: frames drawn
// offscreen by the scene module and written as PNG pictures, a numbered PNG
// sequence, or a video encoded by the ffmpeg program.
#ifndef TAVO_OFFSCREEN_RENDER_H
#define TAVO_OFFSCREEN_RENDER_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "formats/error.h"
#include "scene/scene.h"
#include "trajectory/trajectory.h"

namespace tavo::offscreen {

// A request the renderer refuses before drawing anything (a picture size it
// cannot draw, an output name it cannot fill): the command line was wrong.
class UsageError : public Error {
 public:
  using Error::Error;
};

// What an output name asks for.
enum class OutputKind {
  picture,   // NAME.png: one frame
  sequence,  // a name with one printf-style integer field: one PNG per frame
  video,     // NAME.mp4 or NAME.webm, encoded by ffmpeg
};
// Throws UsageError for a name that is none of these.
OutputKind outputKind(const std::string& path);
// A sequence name with its integer field filled with `index`
// ("f%05d.png", 7 -> "f00007.png"; flags '-', '0', '+', ' ' and a width).
std::string sequenceName(const std::string& pattern, std::size_t index);

// How every frame is drawn.
struct Settings {
  int width = 500;
  int height = 500;
  scene::Camera camera;
  scene::Style style = scene::Style::points;
  bool overlay = true;
  // Sphere diameters are the species' sizes times this: 1 draws molecules
  // at their physical size, larger values make small molecules visible.
  double sphereScale = 1.0;
  bool sphereSprites = true;                           // false: spheres always as instanced quads
  scene::Drawing drawing = scene::Drawing::automatic;  // who draws the molecules
  std::vector<scene::RegionShape> regions;

  // Figure settings.
  bool fit = false;                    // camera fitted to the first frame drawn (or the regions)
  bool autoSphereScale = false;        // sphereScale from the camera: smallest spheres 3 pixels
  std::vector<scene::Colour> colours;  // per species; empty: the viewer's
  std::vector<bool> hidden;            // per species: not drawn, not in the legend
  scene::Colour background{0.0f, 0.0f, 0.0f};
  bool transparent = false;  // PNG pictures with an alpha channel, background clear
  bool axes = true;
  bool scaleBar = false;
  std::string title;
};

// The largest picture side the offscreen renderer accepts before it has
// asked the driver (the driver's own limit may be lower).
constexpr int kMaxPictureSide = 16384;

// An offscreen context with the scene, the overlay font and the picture of
// the last frame drawn. Throws UsageError when the size is not positive or
// beyond the driver's limit, Error when no context or font can be had.
class Renderer {
 public:
  Renderer(const Setup& setup, const Settings& settings);
  ~Renderer();
  Renderer(const Renderer&) = delete;
  Renderer& operator=(const Renderer&) = delete;

  // Draws a frame; returns its picture as RGB rows (RGBA with a
  // transparent background), top row first, valid until the next call.
  // The first frame drawn fixes a fitted camera and an automatic sphere
  // scale for the frames after it.
  const std::vector<std::uint8_t>& draw(const Frame& frame);
  std::string rendererName() const;
  // The camera and sphere scale of the frames drawn.
  scene::Camera camera() const;
  double sphereScale() const;
  // Whether the processors draw the molecules.
  bool software() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Draws `frames` (indices into `movie`, in order) with `renderer`, a reader
// thread reading the next frame while the current one is drawn, and hands
// each picture to `sink` with its frame index. Errors throw Error naming the
// frame.
void drawFrames(const Movie& movie, const std::vector<std::size_t>& frames, Renderer& renderer,
                const std::function<void(const std::vector<std::uint8_t>&, std::size_t)>& sink);

// Renders `frames` (indices into `movie`, in order) to `output`. A reader
// thread reads the next frame while the current one is drawn. `progress` is
// called after each frame with the number done. Every file goes through the
// safe output of formats/output.h and is none of the movie's files and
// `moreInputs` (a region file): a picture or video appears whole or not at
// all (an existing one keeps its permissions), and "%%" in its name is a
// '%'; a sequence makes its folders when missing, and never writes through
// a link sitting at a picture's name. On failure throws Error naming the
// frame; pictures of a sequence written before the failure stay.
void render(const Movie& movie, const std::vector<std::size_t>& frames, const std::string& output,
            const Settings& settings, double framesPerSecond,
            const std::function<void(std::size_t)>& progress,
            const std::vector<std::string>& moreInputs = {});

// Throws UsageError naming the nearest sizes a video can take unless both
// sides are even (4:2:0 video).
void requireVideoSize(int width, int height);

}  // namespace tavo::offscreen

#endif  // TAVO_OFFSCREEN_RENDER_H
