// context.cpp - EGL context and framebuffer object of the offscreen renderer.
#define GL_GLEXT_PROTOTYPES 1
#include "offscreen/context.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "formats/error.h"
#include "scene/scene.h"

namespace tavo::offscreen {

namespace {

std::string eglErrorText() {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "EGL error 0x%04x", static_cast<unsigned>(eglGetError()));
  return buffer;
}

// The display: Mesa's surfaceless platform where EGL offers it, else the
// default display (which, without DISPLAY, Mesa also serves without a
// window system).
EGLDisplay openDisplay() {
  const char* extensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
  auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
      eglGetProcAddress("eglGetPlatformDisplayEXT"));
  if (extensions != nullptr && std::strstr(extensions, "EGL_MESA_platform_surfaceless") &&
      getPlatformDisplay != nullptr) {
    EGLDisplay d = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (d != EGL_NO_DISPLAY && eglInitialize(d, nullptr, nullptr)) return d;
  }
  EGLDisplay d = eglGetDisplay(EGL_DEFAULT_DISPLAY);
  if (d != EGL_NO_DISPLAY && eglInitialize(d, nullptr, nullptr)) return d;
  throw Error("cannot open an EGL display for offscreen rendering (" + eglErrorText() +
              "); the Debian package libegl-mesa0 provides one");
}

}  // namespace

Context::Context(int width, int height) : width_(width), height_(height) {
  EGLDisplay display = openDisplay();
  display_ = display;
  // A display is never terminated (see release()).
  if (!eglBindAPI(EGL_OPENGL_API))
    throw Error("EGL offers no desktop OpenGL (" + eglErrorText() + ")");
  // No config and no surface: the picture goes to a framebuffer object.
  const EGLint attributes[] = {EGL_CONTEXT_MAJOR_VERSION,
                               3,
                               EGL_CONTEXT_MINOR_VERSION,
                               3,
                               EGL_CONTEXT_OPENGL_PROFILE_MASK,
                               EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT,
                               EGL_NONE};
  EGLContext context = eglCreateContext(display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, attributes);
  if (context == EGL_NO_CONTEXT ||
      !eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) {
    const std::string why = eglErrorText();
    if (context != EGL_NO_CONTEXT) eglDestroyContext(display, context);
    throw Error("cannot make an OpenGL 3.3 compatibility context for offscreen rendering (" + why +
                ")");
  }
  context_ = context;

  GLint viewport[2] = {0, 0}, renderbuffer = 0;
  glGetIntegerv(GL_MAX_VIEWPORT_DIMS, viewport);
  glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &renderbuffer);
  limit_ = std::min({viewport[0], viewport[1], renderbuffer});
  if (width <= 0 || height <= 0 || width > limit_ || height > limit_) {
    release();
    throw Error("the picture size " + std::to_string(width) + "x" + std::to_string(height) +
                " is beyond this renderer's limit of " + std::to_string(limit_) + "x" +
                std::to_string(limit_));
  }

  GLuint names[2];
  glGenRenderbuffers(2, names);
  colour_ = names[0];
  depth_ = names[1];
  glBindRenderbuffer(GL_RENDERBUFFER, colour_);
  glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
  glBindRenderbuffer(GL_RENDERBUFFER, depth_);
  glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, width, height);
  GLuint fbo = 0;
  glGenFramebuffers(1, &fbo);
  framebuffer_ = fbo;
  glBindFramebuffer(GL_FRAMEBUFFER, fbo);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour_);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depth_);
  // Mesa keeps a window's rows top-down and rasterises with y turned over;
  // a framebuffer object laid out the same way gets the very pixels of a
  // window (lines and points whose edges fall on half pixels included).
  if (scene::hasExtension("GL_MESA_framebuffer_flip_y"))
    glFramebufferParameteri(GL_FRAMEBUFFER, GL_FRAMEBUFFER_FLIP_Y_MESA, GL_TRUE);
  if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
    release();
    throw Error("cannot make a " + std::to_string(width) + "x" + std::to_string(height) +
                " offscreen framebuffer (out of memory?)");
  }
  glDrawBuffer(GL_COLOR_ATTACHMENT0);
  glReadBuffer(GL_COLOR_ATTACHMENT0);
}

Context::~Context() { release(); }

void Context::release() {
  if (display_ == nullptr) return;
  EGLDisplay display = display_;
  if (context_ != nullptr) {
    if (framebuffer_ != 0) {
      GLuint fbo = framebuffer_;
      glDeleteFramebuffers(1, &fbo);
    }
    const GLuint names[2] = {colour_, depth_};
    if (colour_ != 0) glDeleteRenderbuffers(2, names);
    eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroyContext(display, context_);
  }
  // The display stays initialised for the rest of the process: terminating
  // it unloads the driver, whose allocations would then belong to no module
  // (LeakSanitizer reports them), and the next context would load it again.
  eglReleaseThread();
  display_ = nullptr;
  context_ = nullptr;
  framebuffer_ = colour_ = depth_ = 0;
}

std::string Context::renderer() const {
  const GLubyte* name = glGetString(GL_RENDERER);
  return name != nullptr ? reinterpret_cast<const char*>(name) : "unknown";
}

void Context::readPixels(std::vector<std::uint8_t>& rgb, bool alpha) {
  const std::size_t row = static_cast<std::size_t>(width_) * (alpha ? 4 : 3);
  scratch_.resize(row * static_cast<std::size_t>(height_));
  rgb.resize(scratch_.size());
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, width_, height_, alpha ? GL_RGBA : GL_RGB, GL_UNSIGNED_BYTE, scratch_.data());
  // OpenGL's rows run bottom-up; pictures run top-down.
  for (int y = 0; y < height_; ++y)
    std::memcpy(&rgb[static_cast<std::size_t>(y) * row],
                &scratch_[static_cast<std::size_t>(height_ - 1 - y) * row], row);
}

}  // namespace tavo::offscreen
