// explorerWindow.cpp - the explorer's window: GLUT callbacks around the
// logic of state.cpp, frames from the feed's threads, drawing through the
// scene module with GLUT's bitmap fonts, screenshots written safely as PNG.
#include <GL/freeglut.h>
#include <GL/glx.h>
#include <X11/Xlib.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "explorer/explorer.h"
#include "explorer/frameFeed.h"
#include "formats/output.h"
#include "formats/png.h"
#include "formats/regions.h"
#include "scene/figure.h"

namespace tavo::explorer {

namespace {

using Clock = std::chrono::steady_clock;

// How often the overlay is redrawn at most for the index's progress alone.
constexpr double kProgressInterval = 0.2;
// Longest wait of the event loop with nothing to do.
constexpr int kIdleWaitMs = 100;

// Text in GLUT's bitmap fonts, character by character as the viewer draws
// it; UTF-8 text is drawn in the fonts' Latin-1 glyphs (the µ of µs).
class BitmapText final : public scene::TextPainter {
 public:
  void text(float x, float y, scene::Font font, const char* s) override {
    void* glutFont =
        font == scene::Font::banner ? GLUT_BITMAP_HELVETICA_18 : GLUT_BITMAP_HELVETICA_10;
    for (const int code : latin1(s)) {
      glRasterPos2f(x, y);
      glutBitmapCharacter(glutFont, code);
      x += static_cast<float>(glutBitmapWidth(glutFont, code));
    }
  }
  void textAt(const float p[3], scene::Font /*font*/, const char* s) override {
    glRasterPos3f(p[0], p[1], p[2]);
    for (const int code : latin1(s)) glutBitmapCharacter(GLUT_BITMAP_HELVETICA_10, code);
  }

 private:
  // Code points up to 255 of UTF-8 text; anything else is left out.
  const std::vector<int>& latin1(const char* s) {
    codes_.clear();
    for (const auto* p = reinterpret_cast<const unsigned char*>(s); *p != 0; ++p) {
      if (*p < 0x80) {
        codes_.push_back(*p);
      } else if ((*p & 0xe0) == 0xc0 && (p[1] & 0xc0) == 0x80) {
        const int code = ((*p & 0x1f) << 6) | (p[1] & 0x3f);
        if (code < 256) codes_.push_back(code);
        ++p;
      }
    }
    return codes_;
  }
  std::vector<int> codes_;
};

// Everything the window keeps between callbacks: one explorer per process.
struct Session final : Remote {
  Session(const Options& o, Movie& movie)
      : options(o), feed(movie, std::chrono::milliseconds(250), o.follow), start(Clock::now()) {}

  const Options& options;
  FrameFeed feed;
  Controls state;
  const Clock::time_point start;

  Frame shown;
  std::optional<std::size_t> shownIndex;
  std::optional<std::size_t> failedJump;  // a jump that failed, not tried again
  std::string frameError;

  std::unique_ptr<scene::Scene> scene;
  scene::Picture picture;
  std::vector<scene::RegionShape> regionsAside;  // swapped in while shown
  std::vector<std::vector<double>> hiddenAside;  // positions of hidden species while drawing
  BitmapText painter;
  OverlayFacts facts;
  std::vector<std::uint8_t> pixels, rgb;

  IndexView drawnIndex;
  double drawnAt = 0.0;
  bool fitAsked = false;      // frame the molecules once a frame is shown
  bool fitAtStart = false;    // the fit asked for is --camera fit
  std::vector<double> sizes;  // per species, metres
  bool screenshotAsked = false;
  bool redrawAsked = false;  // a redisplay is pending: the event loop must not sleep
  std::exception_ptr failure;

  double now() const { return std::chrono::duration<double>(Clock::now() - start).count(); }

  // -- Remote --------------------------------------------------------------
  Controls& controls() override { return state; }
  IndexView index() const override { return feed.index(); }
  void redraw() override { post(); }
  void quit() override { leave(); }
  std::size_t framesRead() const override { return feed.framesRead(); }
  double readMilliseconds() const override { return feed.readMilliseconds(); }

  void post() {
    redrawAsked = true;
    glutPostRedisplay();
  }

  void leave() {
    scene.reset();  // its GL objects go while the context is current
    glutLeaveMainLoop();
  }

  // -- Frames --------------------------------------------------------------

  void showing(std::size_t k) {
    shownIndex = k;
    failedJump.reset();
    frameError.clear();
  }

  void cannotShow(std::size_t k, const std::string& why) {
    frameError = why;
    state.paused = true;
    restartCount(state);
    if (shownIndex)
      state.frame = *shownIndex;
    else
      failedJump = k;
  }

  // Shows the frame the controls ask for when it is not on screen: read
  // ahead, or read now. Returns whether the picture changed.
  bool showWanted(const IndexView& index) {
    const std::size_t k = state.frame;
    if (k >= index.frames || shownIndex == k || failedJump == k) return false;
    try {
      feed.fetch(k, shown);
      showing(k);
    } catch (const std::exception& e) {
      cannotShow(k, e.what());
    }
    return true;
  }

  // One playback step when the clock says so and the next frame is read.
  bool playbackStep(const IndexView& index, double t) {
    if (state.paused || !shownIndex || state.frame != *shownIndex || !frameDue(state, t))
      return false;
    const std::optional<std::size_t> k = nextFrame(state, index);
    if (!k) return false;
    std::string why;
    switch (feed.take(*k, shown, why)) {
      case FrameFeed::Take::shown:
        state.frame = *k;
        state.rewind = false;
        showing(*k);
        frameShown(state, t);
        return true;
      case FrameFeed::Take::failed:
        cannotShow(*k, why);
        return true;
      case FrameFeed::Take::pending:
        break;
    }
    return false;
  }

  // -- Drawing -------------------------------------------------------------

  // Frames the molecules shown (or the regions shown) and, where asked,
  // sizes the spheres for the new camera.
  void fit() {
    const std::vector<double> points = state.showRegions
                                           ? scene::outlinePoints(picture.regions)
                                           : scene::moleculePoints(shown, state.hidden);
    setCamera(state, scene::fitCamera(points, state.view.WINDOW_SIZE_X, state.view.WINDOW_SIZE_Y));
    // --camera fit makes the fitted camera the one c goes back to.
    if (fitAtStart) state.startCamera = cameraOf(state);
    fitAsked = fitAtStart = false;
    sizeSpheres();
  }

  void sizeSpheres() {
    const double factor =
        options.autoSphereScale
            ? scene::autoSphereScale(sizes, state.hidden, cameraOf(state), state.view.WINDOW_SIZE_Y)
            : options.sphereScale;
    picture.diameters.clear();
    for (const double size : sizes) picture.diameters.push_back(size * factor);
  }

  void draw() {
    redrawAsked = false;
    const int w = state.view.WINDOW_SIZE_X, h = state.view.WINDOW_SIZE_Y;
    if (!scene) scene = std::make_unique<scene::Scene>();
    if (state.showRegions == picture.regions.empty()) picture.regions.swap(regionsAside);
    if (fitAsked && (shownIndex || state.showRegions)) fit();
    picture.camera = cameraOf(state);
    picture.width = w;
    picture.height = h;
    picture.style = state.style;

    facts.shown = shownIndex;
    facts.step = shownIndex ? shown.step : 0;
    facts.time = shownIndex ? shown.time : 0.0;
    facts.index = feed.index();
    facts.indexError = feed.indexError();
    facts.frameError = frameError;
    const scene::Overlay overlay = layOutOverlay(state, facts);

    // Hidden species are left out by lending their positions aside.
    const std::size_t n = std::min(shown.positions.size(), state.hidden.size());
    hiddenAside.resize(n);
    for (std::size_t q = 0; q < n; ++q)
      if (state.hidden[q]) shown.positions[q].swap(hiddenAside[q]);
    try {
      scene->draw(shown, picture, &painter, overlay);
    } catch (const Error& e) {
      // No sphere shaders on this OpenGL: points it is.
      state.style = scene::Style::points;
      frameError = e.what();
    }
    for (std::size_t q = 0; q < n; ++q)
      if (state.hidden[q]) shown.positions[q].swap(hiddenAside[q]);

    if (screenshotAsked) saveScreenshot(w, h);
    screenshotAsked = false;
    if (options.probe) glFinish();
    glutSwapBuffers();
    drawnIndex = facts.index;
    drawnAt = now();
    if (options.probe) options.probe->drawn(*this, shownIndex);
  }

  // The picture just drawn, before the swap, as tavo-step<step>.png.
  void saveScreenshot(int w, int h) {
    if (!shownIndex || w <= 0 || h <= 0) return;
    const std::size_t row = static_cast<std::size_t>(w) * 3;
    pixels.resize(row * static_cast<std::size_t>(h));
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, w, h, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    rgb.resize(pixels.size());
    for (int y = 0; y < h; ++y)  // OpenGL's rows run bottom up
      std::copy_n(pixels.data() + row * static_cast<std::size_t>(h - 1 - y), row,
                  rgb.data() + row * static_cast<std::size_t>(y));
    const std::string path = "tavo-step" + std::to_string(shown.step) + ".png";
    try {
      // A name of ours: a link sitting there is replaced, never written
      // through, and no input is ever replaced.
      std::vector<std::string> inputs = {options.setup, options.movie};
      if (!options.regions.empty()) inputs.push_back(options.regions);
      formats::OutputFile file(
          path, formats::OutputRules{.inputs = inputs, .madeName = true, .byName = true});
      formats::writePng(file.fileName(), w, h, rgb, path);
      file.commit();
      std::printf("%s\n", path.c_str());
      std::fflush(stdout);
    } catch (const Error& e) {
      frameError = e.what();
      post();
    }
  }

  // -- Event loop ----------------------------------------------------------

  void idle() {
    if (options.probe) options.probe->idle(*this);
    const IndexView index = feed.index();
    const double t = now();
    bool changed = updateFromIndex(state, index);
    changed |= playbackStep(index, t);
    // After a jump nothing is read ahead until its frame is drawn: the
    // drawing has the processors to itself.
    const bool jumped = showWanted(index);
    changed |= jumped;
    feed.ahead(jumped ? std::vector<std::size_t>{} : upcomingFrames(state, index, 2));
    const bool progress =
        index.frames != drawnIndex.frames || index.indexedBytes != drawnIndex.indexedBytes ||
        index.reachedEnd != drawnIndex.reachedEnd || index.failed != drawnIndex.failed;
    if (changed || (progress && t - drawnAt >= kProgressInterval)) post();
    if (!redrawAsked) waitForWork(index, t);
  }

  // Sleeps until an X event, a change in the feed, or the next frame's time.
  void waitForWork(const IndexView& index, double t) {
    double wait = kIdleWaitMs / 1000.0;
    if (!state.paused && state.rate != kFastest && nextFrame(state, index))
      wait = std::clamp(state.nextDue - t, 0.0, wait);
    Display* display = glXGetCurrentDisplay();
    if (display != nullptr && XEventsQueued(display, QueuedAlready) > 0) return;
    pollfd fds[2] = {{feed.wakeFd(), POLLIN, 0}, {-1, POLLIN, 0}};
    if (display != nullptr) fds[1].fd = ConnectionNumber(display);
    ::poll(fds, 2, static_cast<int>(wait * 1000.0 + 0.5));
    feed.drainWake();
  }

  void apply(Effect effect) {
    switch (effect) {
      case Effect::nothing:
        break;
      case Effect::redraw:
        // A jump is drawn once its frame is read (in idle), not before.
        if (!shownIndex || state.frame == *shownIndex || failedJump == state.frame) post();
        break;
      case Effect::screenshot:
        screenshotAsked = true;
        post();
        break;
      case Effect::fit:
        fitAsked = true;
        post();
        break;
      case Effect::quit:
        leave();
        break;
    }
  }
};

// The session of the running explorer.
struct Module {
  Session* session = nullptr;
};
Module g_module;

// Runs a callback's work; a failure ends the main loop and is thrown again
// by run(), since it cannot travel through GLUT.
template <typename Work>
void guarded(Work&& work) {
  Session& s = *g_module.session;
  try {
    work(s);
  } catch (...) {
    if (!s.failure) s.failure = std::current_exception();
    s.leave();
  }
}

void display() {
  guarded([](Session& s) { s.draw(); });
}
void reshape(int width, int height) {
  guarded([&](Session& s) {
    viewer::recordWindowSize(s.state.view, width, height);
    s.post();
  });
}
void keyDown(unsigned char key, int /*x*/, int /*y*/) {
  guarded([&](Session& s) { s.apply(onKey(s.state, key, s.feed.index())); });
}
// Whether a key release is the first half of the keyboard's repeat: the
// server sends the press that follows it at once, with the same time.
bool repeating() {
  Display* display = glXGetCurrentDisplay();
  if (display == nullptr || XEventsQueued(display, QueuedAfterReading) == 0) return false;
  XEvent next;
  XPeekEvent(display, &next);
  return next.type == KeyPress;
}

void keyUp(unsigned char /*key*/, int /*x*/, int /*y*/) {
  guarded([](Session& s) {
    if (!repeating()) onKeyUp(s.state);
  });
}
void specialDown(int key, int /*x*/, int /*y*/) {
  guarded([&](Session& s) { s.apply(onSpecialKey(s.state, key, s.feed.index())); });
}
void specialUp(int /*key*/, int /*x*/, int /*y*/) {
  guarded([](Session& s) { onSpecialKeyUp(s.state); });
}
void mouse(int button, int buttonState, int x, int y) {
  guarded([&](Session& s) {
    s.apply(onMouseButton(s.state, button, buttonState, x, y, s.feed.index()));
  });
}
void motion(int x, int y) {
  guarded([&](Session& s) { s.apply(onMouseMotion(s.state, x, y, s.feed.index())); });
}
void idle() {
  guarded([](Session& s) { s.idle(); });
}
void closed() {
  guarded([](Session& s) { s.scene.reset(); });
}

struct DisplayCloser {
  void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayConnection = std::unique_ptr<Display, DisplayCloser>;

// Refuses early, with a message, where GLUT would end the process. The
// connection is to be kept until GLUT has its own: an X server without
// clients resets itself, and refuses connections while it does.
DisplayConnection checkDisplay() {
  DisplayConnection display(XOpenDisplay(nullptr));
  if (!display) {
    const char* name = std::getenv("DISPLAY");
    throw Error(std::string("cannot open the display") +
                (name != nullptr && *name != '\0' ? std::string(" ") + name
                                                  : std::string(" (DISPLAY is not set)")) +
                ": tavo view needs a window; tavo render draws pictures without one");
  }
  return display;
}

std::string baseName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

void run(const Options& options) {
  Movie movie(Setup::read(options.setup), options.movie, Movie::Indexing::later);
  if (!movie.seekable())
    throw Error(options.movie + ": tavo view reads frames in any order, which a " + movie.format() +
                " (standard input, a pipe or a device) cannot give; save it to a file first");
  std::vector<scene::RegionShape> regions;
  if (!options.regions.empty()) regions = formats::readRegions(options.regions);
  DisplayConnection connection = checkDisplay();

  Session session(options, movie);
  session.state =
      startControls(static_cast<int>(movie.setup().species.size()), options.width, options.height,
                    options.startFrame, options.follow, options.style, !regions.empty());
  for (const Species& species : movie.setup().species) {
    session.facts.names.push_back(species.name);
    session.sizes.push_back(species.size);
  }
  const std::size_t n = session.sizes.size();
  session.picture.colours = options.colours;
  for (std::size_t q = session.picture.colours.size(); q < n; ++q)
    session.picture.colours.push_back(
        scene::speciesColour(static_cast<int>(q), static_cast<int>(n)));
  session.picture.background = options.background;
  session.picture.axes = options.axes;
  session.facts.colours = session.picture.colours;
  session.facts.background = options.background;
  session.facts.scaleBar = options.scaleBar;
  session.facts.title = options.title;
  for (std::size_t q = 0; q < n && q < options.hidden.size(); ++q)
    session.state.hidden[q] = options.hidden[q];
  session.state.startCamera = options.camera;
  setCamera(session.state, options.camera);
  session.fitAsked = session.fitAtStart = options.fit;
  session.sizeSpheres();
  session.regionsAside = std::move(regions);
  g_module.session = &session;

  int argc = 1;
  char name[] = "tavo";
  char* argv[] = {name, nullptr};
  glutInit(&argc, argv);
  glutSetOption(GLUT_ACTION_ON_WINDOW_CLOSE, GLUT_ACTION_GLUTMAINLOOP_RETURNS);
  glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE | GLUT_DEPTH);
  glutInitWindowPosition(100, 100);
  glutInitWindowSize(options.width, options.height);
  glutCreateWindow(("tavo view: " + baseName(options.movie)).c_str());
  connection.reset();
  glutDisplayFunc(display);
  glutReshapeFunc(reshape);
  glutKeyboardFunc(keyDown);
  glutKeyboardUpFunc(keyUp);
  glutSpecialFunc(specialDown);
  glutSpecialUpFunc(specialUp);
  glutMouseFunc(mouse);
  glutMotionFunc(motion);
  glutIdleFunc(idle);
  glutCloseFunc(closed);
  glutMainLoop();
  g_module.session = nullptr;
  if (session.failure) std::rethrow_exception(session.failure);
}

}  // namespace tavo::explorer
