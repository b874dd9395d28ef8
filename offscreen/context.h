// context.h - an OpenGL context that draws into memory: EGL on Mesa, with no
// window system and no X server. EGL's surfaceless platform picks a GPU where
// the machine has one and software rendering (llvmpipe) where it has none.
#ifndef TAVO_OFFSCREEN_CONTEXT_H
#define TAVO_OFFSCREEN_CONTEXT_H

#include <cstdint>
#include <string>
#include <vector>

namespace tavo::offscreen {

class Context {
 public:
  // Makes a compatibility-profile context current on the calling thread with
  // a width x height colour and depth buffer. Throws Error when no context
  // can be had, or the size is beyond limit().
  Context(int width, int height);
  ~Context();
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;

  // The largest width and height this context's renderer draws.
  int limit() const { return limit_; }
  // The renderbuffers of the picture's colour and depth.
  unsigned colourBuffer() const { return colour_; }
  unsigned depthBuffer() const { return depth_; }
  std::string renderer() const;

  // The picture as 8-bit RGB rows (RGBA with `alpha`), top row first, into
  // `pixels` (resized).
  void readPixels(std::vector<std::uint8_t>& pixels, bool alpha = false);

 private:
  void release();

  void* display_ = nullptr;
  void* context_ = nullptr;
  unsigned framebuffer_ = 0;
  unsigned colour_ = 0;
  unsigned depth_ = 0;
  int width_ = 0, height_ = 0, limit_ = 0;
  std::vector<std::uint8_t> scratch_;
};

}  // namespace tavo::offscreen

#endif  // TAVO_OFFSCREEN_CONTEXT_H
