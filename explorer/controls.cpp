// controls.cpp - the explorer's navigation, playback clock, input and
// overlay layout, without a window.
#include "explorer/controls.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "scene/figure.h"

namespace tavo::explorer {

namespace {

constexpr unsigned char kEscape = 27;
constexpr int kLeftButton = 0;
constexpr int kButtonDown = 0;
constexpr int kWheelUp = 3;  // freeglut reports the wheel as buttons 3 and 4
constexpr int kWheelDown = 4;

// Overlay colours.
constexpr scene::Colour kGrey{0.7f, 0.7f, 0.7f};
constexpr scene::Colour kWhite{1.0f, 1.0f, 1.0f};
constexpr scene::Colour kHiddenSwatch{0.3f, 0.3f, 0.3f};
constexpr scene::Colour kHiddenName{0.45f, 0.45f, 0.45f};
constexpr scene::Colour kTrack{0.22f, 0.22f, 0.22f};
constexpr scene::Colour kTrackIndexed{0.45f, 0.45f, 0.5f};
constexpr scene::Colour kMarker{1.0f, 1.0f, 1.0f};
constexpr scene::Colour kMessage{1.0f, 0.4f, 0.4f};
constexpr scene::Colour kHelpBox{0.1f, 0.1f, 0.12f};

// Timeline track and status line heights above the bottom edge.
constexpr float kTrackBottom = 4.0f, kTrackTop = 10.0f;
constexpr float kStatusLine = 17.0f;
constexpr float kLineHeight = 13.0f;
// Average advance of the label font, for wrapping.
constexpr int kCharWidth = 6;

using Item = scene::OverlayItem;

Item text(float x, float y, scene::Colour colour, std::string s) {
  return Item{Item::Kind::text, x, y, colour, scene::Font::label, 0.0f, std::move(s)};
}
Item box(float x, float y, float width, float height, scene::Colour colour) {
  Item item;
  item.kind = Item::Kind::box;
  item.x = x;
  item.y = y;
  item.colour = colour;
  item.width = width;
  item.height = height;
  return item;
}

// A jump by a navigation key or the timeline: follow mode and a pending
// rewind or start frame end.
Effect jumpTo(Controls& c, std::size_t k) {
  c.frame = k;
  c.follow = false;
  c.rewind = false;
  c.startFrame.reset();
  c.message.clear();
  return Effect::redraw;
}

Effect jumpBy(Controls& c, const IndexView& index, long long delta) {
  if (index.frames == 0) return Effect::nothing;
  const long long last = static_cast<long long>(index.frames) - 1;
  const long long k = std::clamp(static_cast<long long>(c.frame) + delta, 0LL, last);
  return jumpTo(c, static_cast<std::size_t>(k));
}

// A tenth of the frames, at least one.
long long pageOf(const IndexView& index) {
  return std::max(1LL, std::llround(static_cast<double>(index.frames) / 10.0));
}

Effect toggleSpecies(Controls& c, int species) {
  if (species < 0 || static_cast<std::size_t>(species) >= c.hidden.size()) return Effect::nothing;
  c.hidden[static_cast<std::size_t>(species)] = !c.hidden[static_cast<std::size_t>(species)];
  return Effect::redraw;
}

std::string format(const char* pattern, double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, pattern, value);
  return buffer;
}

}  // namespace

// ---------------------------------------------------------------------------
// State
// ---------------------------------------------------------------------------

std::size_t timelineSpan(const IndexView& index) {
  if (index.reachedEnd || index.failed || index.indexedBytes <= 0 ||
      index.fileBytes <= index.indexedBytes)
    return index.frames;
  const double estimate = static_cast<double>(index.frames) * static_cast<double>(index.fileBytes) /
                          static_cast<double>(index.indexedBytes);
  return std::max(index.frames, static_cast<std::size_t>(std::llround(estimate)));
}

Controls startControls(int species, int width, int height, std::optional<std::int64_t> startFrame,
                       bool follow, scene::Style style, bool haveRegions) {
  Controls c;
  c.startCamera = scene::Camera{};
  resetCamera(c);
  viewer::recordWindowSize(c.view, width, height);
  c.startFrame = startFrame;
  c.paused = startFrame.has_value();
  c.follow = follow;
  c.hidden.assign(static_cast<std::size_t>(std::max(species, 0)), false);
  c.style = style;
  c.haveRegions = haveRegions;
  c.showRegions = haveRegions;
  return c;
}

// ---------------------------------------------------------------------------
// Playback
// ---------------------------------------------------------------------------

std::optional<std::size_t> frameAfter(std::size_t frame, const IndexView& index) {
  if (frame + 1 < index.frames) return frame + 1;
  // At the last frame indexed: the index may still grow past it, or it
  // stopped at a damaged frame; only a whole file makes playback loop.
  if (index.reachedEnd && !index.failed && index.frames > 0) return 0;
  return std::nullopt;
}

std::optional<std::size_t> nextFrame(const Controls& c, const IndexView& index) {
  if (c.follow) return std::nullopt;
  if (c.rewind) return index.frames > 0 ? std::optional<std::size_t>(0) : std::nullopt;
  return frameAfter(c.frame, index);
}

std::vector<std::size_t> upcomingFrames(const Controls& c, const IndexView& index,
                                        std::size_t count) {
  std::vector<std::size_t> frames;
  std::optional<std::size_t> k = nextFrame(c, index);
  while (k && frames.size() < count && *k != c.frame &&
         std::find(frames.begin(), frames.end(), *k) == frames.end()) {
    frames.push_back(*k);
    k = frameAfter(*k, index);
  }
  return frames;
}

bool updateFromIndex(Controls& c, const IndexView& index) {
  const Controls before = c;
  const bool whole = index.reachedEnd || index.failed;
  if (c.startFrame && (index.frames > 0 || whole)) {
    const std::int64_t k = *c.startFrame;
    const auto n = static_cast<std::int64_t>(index.frames);
    const std::string beyond = "--frame " + std::to_string(k) + ": the movie has " +
                               std::to_string(n) + (n == 1 ? " frame" : " frames");
    if (k >= 0 && k < n) {
      c.frame = static_cast<std::size_t>(k);
      c.startFrame.reset();
    } else if (whole) {
      // Negative K counts from the end, which is known only now.
      if (k < 0 && n + k >= 0) {
        c.frame = static_cast<std::size_t>(n + k);
      } else if (n > 0) {
        c.frame = k >= 0 ? static_cast<std::size_t>(n - 1) : 0;
        c.message = beyond + (k >= 0 ? "; showing the last" : "; showing the first");
      } else {
        c.message = beyond;
      }
      c.startFrame.reset();
    }
  }
  if (c.follow && index.frames > 0) c.frame = index.frames - 1;
  if (!c.paused && !c.follow && !c.startFrame && index.failed && index.frames > 0 &&
      c.frame + 1 >= index.frames)
    c.paused = true;
  return c.frame != before.frame || c.paused != before.paused || c.message != before.message ||
         c.startFrame != before.startFrame;
}

bool frameDue(const Controls& c, double now) { return c.rate == kFastest || now >= c.nextDue; }

void frameShown(Controls& c, double now) {
  if (c.countStart < 0.0) {
    c.countStart = now;
    c.counted = 0;
  } else {
    ++c.counted;
    if (now - c.countStart >= 1.0) {
      c.view.fps = static_cast<float>(c.counted / (now - c.countStart));
      c.countStart = now;
      c.counted = 0;
    }
  }
  if (c.rate == kFastest) {
    c.nextDue = now;
    return;
  }
  const double period = 1.0 / c.rate;
  c.nextDue = now - c.nextDue > period ? now + period : c.nextDue + period;
}

void restartCount(Controls& c) { c.countStart = -1.0; }

double halvedRate(double rate, double measuredFramesPerSecond) {
  if (rate != kFastest) return std::max(rate / 2.0, kSlowestRate);
  if (!(measuredFramesPerSecond > 0.0)) return 16.0;
  double r = kFastestFiniteRate;
  while (r > kSlowestRate && r > measuredFramesPerSecond / 2.0) r /= 2.0;
  return r;
}

double doubledRate(double rate) {
  if (rate == kFastest || rate * 2.0 > kFastestFiniteRate) return kFastest;
  return rate * 2.0;
}

// ---------------------------------------------------------------------------
// Input
// ---------------------------------------------------------------------------

// ---------------------------------------------------------------------------
// The keys
// ---------------------------------------------------------------------------

namespace {

// A tap of a or z zooms by this factor; held, the key zooms as the viewer's
// does, faster and faster.
constexpr float kZoomStep = 0.9f;

Effect zoomKey(Controls& c, int key, const IndexView& /*index*/) {
  if (c.zoomHeld) {
    viewer::onNormalKey(c.view, static_cast<unsigned char>(key));
  } else {
    zoomBy(c, key == 'a' ? kZoomStep : 1.0f / kZoomStep);
    c.zoomHeld = true;
  }
  return Effect::redraw;
}

Effect pauseKey(Controls& c, int /*key*/, const IndexView& /*index*/) {
  c.paused = c.follow || !c.paused;
  c.follow = false;
  c.nextDue = 0.0;
  restartCount(c);
  return Effect::redraw;
}

Effect nextKey(Controls& c, int /*key*/, const IndexView& index) {
  c.follow = false;
  const std::optional<std::size_t> k = nextFrame(c, index);
  return k ? jumpTo(c, *k) : Effect::redraw;
}

Effect backKey(Controls& c, int /*key*/, const IndexView& index) {
  if (c.frame == 0 && index.reachedEnd && !index.failed && index.frames > 0)
    return jumpTo(c, index.frames - 1);
  return jumpBy(c, index, -1);
}

Effect rewindKey(Controls& c, int /*key*/, const IndexView& /*index*/) {
  c.follow = false;
  c.startFrame.reset();
  c.rewind = true;
  return Effect::redraw;
}

Effect endsKey(Controls& c, int key, const IndexView& index) {
  if (index.frames == 0) return Effect::nothing;
  return jumpTo(c, key == kSpecialKey + kKeyHome ? 0 : index.frames - 1);
}

Effect pageKey(Controls& c, int key, const IndexView& index) {
  return jumpBy(c, index, key == kSpecialKey + kKeyPageUp ? -pageOf(index) : pageOf(index));
}

Effect rateKey(Controls& c, int key, const IndexView& /*index*/) {
  c.rate = key == '[' ? halvedRate(c.rate, c.view.fps) : doubledRate(c.rate);
  c.nextDue = 0.0;
  return Effect::redraw;
}

Effect speciesKey(Controls& c, int key, const IndexView& /*index*/) {
  return toggleSpecies(c, key - '1');
}

Effect styleKey(Controls& c, int /*key*/, const IndexView& /*index*/) {
  c.style = c.style == scene::Style::points ? scene::Style::spheres : scene::Style::points;
  return Effect::redraw;
}

Effect regionsKey(Controls& c, int /*key*/, const IndexView& /*index*/) {
  c.showRegions = c.haveRegions && !c.showRegions;
  return c.haveRegions ? Effect::redraw : Effect::nothing;
}

Effect cameraKey(Controls& c, int /*key*/, const IndexView& /*index*/) {
  resetCamera(c);
  return Effect::redraw;
}

Effect fitKey(Controls& /*c*/, int /*key*/, const IndexView& /*index*/) { return Effect::fit; }

Effect screenshotKey(Controls& /*c*/, int /*key*/, const IndexView& /*index*/) {
  return Effect::screenshot;
}

Effect followKey(Controls& c, int /*key*/, const IndexView& index) {
  c.follow = !c.follow;
  c.rewind = false;
  c.startFrame.reset();
  if (c.follow && index.frames > 0) c.frame = index.frames - 1;
  return Effect::redraw;
}

Effect helpKey(Controls& c, int /*key*/, const IndexView& /*index*/) {
  c.help = !c.help;
  return Effect::redraw;
}

Effect quitKey(Controls& /*c*/, int /*key*/, const IndexView& /*index*/) { return Effect::quit; }

Effect turnKey(Controls& c, int key, const IndexView& /*index*/) {
  return viewer::onSpecialKey(c.view, key - kSpecialKey) == viewer::After::nothing ? Effect::nothing
                                                                                   : Effect::redraw;
}

constexpr int kArrows = kSpecialKey + 100;  // GLUT's left, up, right, down: 100 to 103

const KeyBinding kKeys[] = {
    {"arrows", "turn the camera", {kArrows, kArrows + 1, kArrows + 2, kArrows + 3}, turnKey},
    {"mouse drag", "left: turn, right: tilt, middle: distance", {}, nullptr},
    {"a / z", "zoom in / out by 10 % (held: faster and faster)", {'a', 'z'}, zoomKey},
    {"mouse wheel", "zoom in / out by 10 %", {}, nullptr},
    {"=", "fit: frame the molecules (the regions, when shown)", {'='}, fitKey},
    {"c", "start camera", {'c'}, cameraKey},
    {"p", "pause / play", {'p'}, pauseKey},
    {"n / b", "next / previous frame", {'n', 'b'}, nullptr},
    {"0", "frame 0 at the next step", {'0'}, rewindKey},
    {"Home / End", "first / last frame", {kSpecialKey + kKeyHome, kSpecialKey + kKeyEnd}, endsKey},
    {"PgUp / PgDn",
     "10 % of the frames back / forward",
     {kSpecialKey + kKeyPageUp, kSpecialKey + kKeyPageDown},
     pageKey},
    {"[ / ]", "half / double the playback rate", {'[', ']'}, rateKey},
    {"1 - 9",
     "hide / show a species (or click the legend)",
     {'1', '2', '3', '4', '5', '6', '7', '8', '9'},
     speciesKey},
    {"v", "points / spheres", {'v'}, styleKey},
    {"r", "region wireframes on / off", {'r'}, regionsKey},
    {"s", "screenshot: tavo-step<step>.png", {'s'}, screenshotKey},
    {"f", "follow the newest frame", {'f'}, followKey},
    {"timeline", "click or drag: go to a frame", {}, nullptr},
    {"h / ?", "this help", {'h', '?'}, helpKey},
    {"Escape", "quit", {kEscape}, quitKey},
};

// n and b share a row of the help but not a handler.
Effect nextOrBack(Controls& c, int key, const IndexView& index) {
  return key == 'n' ? nextKey(c, key, index) : backKey(c, key, index);
}

Effect press(Controls& c, int code, const IndexView& index) {
  for (const KeyBinding& k : kKeys)
    for (const int bound : k.codes)
      if (bound != 0 && bound == code)
        return k.act != nullptr ? k.act(c, code, index) : nextOrBack(c, code, index);
  return Effect::nothing;
}

}  // namespace

std::span<const KeyBinding> keyBindings() { return kKeys; }

std::string keyHelp() {
  std::size_t widest = 0;
  for (const KeyBinding& k : kKeys) widest = std::max(widest, std::strlen(k.keys));
  std::string text;
  for (const KeyBinding& k : kKeys)
    text += "  " + std::string(k.keys) + std::string(widest + 2 - std::strlen(k.keys), ' ') +
            k.what + "\n";
  return text;
}

void zoomBy(Controls& c, float factor) {
  c.view.radius *= factor;
  viewer::computeCamera(c.view);
}

void setCamera(Controls& c, const scene::Camera& camera) {
  c.view.theta = camera.theta;
  c.view.phi = camera.phi;
  c.view.radius = camera.radius;
  c.view.lookatpt_x = camera.target[0];
  c.view.lookatpt_y = camera.target[1];
  c.view.lookatpt_z = camera.target[2];
  c.cameraScale = camera.scale;
  viewer::computeCamera(c.view);
}

scene::Camera cameraOf(const Controls& c) {
  return scene::Camera{c.view.theta,
                       c.view.phi,
                       c.view.radius,
                       {c.view.lookatpt_x, c.view.lookatpt_y, c.view.lookatpt_z},
                       c.cameraScale};
}

void resetCamera(Controls& c) {
  setCamera(c, c.startCamera);
  viewer::onSpecialKeyUp(c.view);
  viewer::onNormalKeyUp(c.view);
  c.zoomHeld = false;
}

Effect onKey(Controls& c, unsigned char key, const IndexView& index) {
  return press(c, key, index);
}

Effect onKeyUp(Controls& c) {
  c.zoomHeld = false;
  viewer::onNormalKeyUp(c.view);
  return Effect::nothing;
}

Effect onSpecialKey(Controls& c, int key, const IndexView& index) {
  return press(c, kSpecialKey + key, index);
}

Effect onSpecialKeyUp(Controls& c) {
  viewer::onSpecialKeyUp(c.view);
  return Effect::nothing;
}

Effect onMouseButton(Controls& c, int button, int buttonState, int x, int y,
                     const IndexView& index) {
  const int width = c.view.WINDOW_SIZE_X, height = c.view.WINDOW_SIZE_Y;
  if ((button == kWheelUp || button == kWheelDown) && buttonState == kButtonDown) {
    zoomBy(c, button == kWheelUp ? kZoomStep : 1.0f / kZoomStep);
    return Effect::redraw;
  }
  if (button == kLeftButton && buttonState == kButtonDown) {
    if (onTimeline(y, height)) {
      c.timelineDrag = true;
      return index.frames > 0 ? jumpTo(c, timelineFrame(x, width, index)) : Effect::nothing;
    }
    const int species = scene::legendRowAt(x, y, width, static_cast<int>(c.hidden.size()));
    if (species >= 0) return toggleSpecies(c, species);
  }
  if (button == kLeftButton && buttonState != kButtonDown) c.timelineDrag = false;
  viewer::onMouseButton(c.view, button, buttonState);
  return Effect::nothing;
}

Effect onMouseMotion(Controls& c, int x, int y, const IndexView& index) {
  if (c.timelineDrag) {
    if (index.frames == 0) return Effect::nothing;
    const std::size_t k = timelineFrame(x, c.view.WINDOW_SIZE_X, index);
    return k == c.frame ? Effect::nothing : jumpTo(c, k);
  }
  return viewer::onActiveMotion(c.view, x, y) == viewer::After::nothing ? Effect::nothing
                                                                        : Effect::redraw;
}

// ---------------------------------------------------------------------------
// Layout
// ---------------------------------------------------------------------------

bool onTimeline(int y, int height) { return y >= height - kTimelineBand && y < height; }

std::size_t timelineFrame(int x, int width, const IndexView& index) {
  if (index.frames == 0) return 0;
  const std::size_t span = timelineSpan(index);
  const double length = width - 2 * kTimelineMargin;
  if (span < 2 || length <= 0) return 0;
  const double at = (x - kTimelineMargin) / length * static_cast<double>(span - 1);
  const double k = std::clamp(std::round(at), 0.0, static_cast<double>(index.frames - 1));
  return static_cast<std::size_t>(k);
}

float timelineX(std::size_t k, int width, const IndexView& index) {
  const std::size_t span = timelineSpan(index);
  const double length = width - 2 * kTimelineMargin;
  if (span < 2) return static_cast<float>(kTimelineMargin);
  return static_cast<float>(kTimelineMargin +
                            length * static_cast<double>(k) / static_cast<double>(span - 1));
}

std::string timeText(double seconds) {
  if (seconds == 0.0) return "0 s";
  static constexpr struct {
    double scale;
    const char* unit;
  } kUnits[] = {{1.0, "s"}, {1e-3, "ms"}, {1e-6, "\u00b5s"}, {1e-9, "ns"}};
  const double size = std::fabs(seconds);
  if (size >= 999.95) return format("%.0f s", seconds);
  for (const auto& u : kUnits) {
    // A number that rounds up to 1000 in four digits is 1 of the unit above.
    if (size >= u.scale * 0.99995 || u.scale == 1e-9)
      return format("%.4g ", seconds / u.scale) + u.unit;
  }
  return "";
}

std::string rateText(double rate) {
  return rate == kFastest ? std::string("max") : format("%g fps", rate);
}

std::vector<std::string> wrapText(const std::string& s, int width) {
  const std::size_t columns = static_cast<std::size_t>(std::max(width / kCharWidth, 8));
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < s.size()) {
    std::size_t end = start + columns;
    if (end >= s.size()) {
      lines.push_back(s.substr(start));
      break;
    }
    const std::size_t space = s.rfind(' ', end);
    if (space != std::string::npos && space > start) end = space;
    lines.push_back(s.substr(start, end - start));
    start = end;
    while (start < s.size() && s[start] == ' ') ++start;
  }
  return lines;
}

scene::Overlay layOutOverlay(const Controls& c, const OverlayFacts& facts) {
  const int w = c.view.WINDOW_SIZE_X, h = c.view.WINDOW_SIZE_Y;
  const auto fw = static_cast<float>(w), fh = static_cast<float>(h);
  scene::Overlay overlay;
  char buffer[160];

  // Counter line, where the viewer has it, with the playback rate.
  const char* mode = c.follow ? "     follow" : c.paused ? "     paused" : "";
  std::snprintf(buffer, sizeof buffer, "fps:%4.2f     steps:%d     rate: %s%s", double{c.view.fps},
                facts.step, rateText(c.rate).c_str(), mode);
  const viewer::PixelPos counter = viewer::counterLineOrigin(w, h);
  overlay.push_back(
      text(static_cast<float>(counter.x), static_cast<float>(counter.y), kGrey, buffer));

  // Legend, where the viewer has it; hidden species greyed.
  const int n = static_cast<int>(facts.names.size());
  for (int q = 0; q < n; ++q) {
    const bool hidden =
        static_cast<std::size_t>(q) < c.hidden.size() && c.hidden[static_cast<std::size_t>(q)];
    const viewer::PixelPos square = viewer::legendSquareCentre(q, w, h);
    const scene::Colour colour = static_cast<std::size_t>(q) < facts.colours.size()
                                     ? facts.colours[static_cast<std::size_t>(q)]
                                     : scene::speciesColour(q, n);
    overlay.push_back(Item{Item::Kind::swatch, static_cast<float>(square.x),
                           static_cast<float>(square.y), hidden ? kHiddenSwatch : colour,
                           scene::Font::label, scene::legendSwatchSize(), ""});
    const viewer::PixelPos label = viewer::legendNameOrigin(q, w, h);
    overlay.push_back(text(static_cast<float>(label.x), static_cast<float>(label.y),
                           hidden ? kHiddenName : kWhite,
                           facts.names[static_cast<std::size_t>(q)]));
  }

  // Timeline: the track, the part indexed, the frame shown.
  const IndexView& index = facts.index;
  const float left = static_cast<float>(kTimelineMargin);
  const float length = fw - 2.0f * left;
  if (length > 0.0f) {
    overlay.push_back(box(left, kTrackBottom, length, kTrackTop - kTrackBottom, kTrack));
    if (index.frames > 0) {
      const float end = index.frames > 1 ? timelineX(index.frames - 1, w, index) : left;
      overlay.push_back(
          box(left, kTrackBottom, end - left + 1.0f, kTrackTop - kTrackBottom, kTrackIndexed));
    }
    // Where a run starts (a simulation started again, appending): a tick
    // across the track.
    for (std::size_t r : index.runStarts) {
      if (r >= index.frames) continue;
      const float x = timelineX(r, w, index);
      overlay.push_back(box(x, kTrackBottom - 2.0f, 1.0f, kTrackTop - kTrackBottom + 4.0f, kGrey));
    }
    if (facts.shown && index.frames > 0) {
      const float x = timelineX(*facts.shown, w, index);
      overlay.push_back(
          box(x - 1.0f, kTrackBottom - 3.0f, 3.0f, kTrackTop - kTrackBottom + 6.0f, kMarker));
    }
  }

  // Status line over the timeline.
  std::string status;
  if (facts.shown) {
    std::snprintf(buffer, sizeof buffer, "frame %zu of %zu     step %d     %s", *facts.shown,
                  index.frames, facts.step, timeText(facts.time).c_str());
    status = buffer;
  } else {
    status = index.reachedEnd || index.failed ? "no complete frame yet" : "reading the movie";
  }
  if (!index.reachedEnd && !index.failed && index.fileBytes > 0) {
    std::snprintf(
        buffer, sizeof buffer, "     indexing: %.0f %%",
        100.0 * static_cast<double>(index.indexedBytes) / static_cast<double>(index.fileBytes));
    status += buffer;
  }
  overlay.push_back(text(5.0f, kStatusLine, kGrey, status));
  overlay.push_back(text(fw - 45.0f, kStatusLine, kGrey, "h: help"));

  // Messages, upward from the status line.
  float y = kStatusLine + kLineHeight + 1.0f;
  for (const std::string* m : {&c.message, &facts.frameError, &facts.indexError}) {
    if (m->empty()) continue;
    for (const std::string& line : wrapText(*m, w - 10)) {
      overlay.push_back(text(5.0f, y, kMessage, line));
      y += kLineHeight;
    }
  }

  if (!facts.title.empty())
    overlay.push_back(Item{Item::Kind::text,
                           std::max(5.0f, (fw - 9.0f * static_cast<float>(facts.title.size())) / 2),
                           fh - 36.0f, kWhite, scene::Font::banner, 0.0f, facts.title});
  if (facts.scaleBar) {
    const scene::ScaleBar bar = scene::scaleBar(cameraOf(c), h, w / 4.0);
    if (bar.pixels > 0) {
      overlay.push_back(box(10.0f, y + 4.0f, static_cast<float>(bar.pixels), 3.0f, kWhite));
      overlay.push_back(text(10.0f, y + 11.0f, kWhite, bar.label));
    }
  }

  if (c.help) {
    // A dark box below the counter line, one row per key.
    const std::span<const KeyBinding> keys = keyBindings();
    const float rows = static_cast<float>(keys.size());
    const float top = fh - 30.0f;
    const float bottom = top - rows * kLineHeight - 10.0f;
    overlay.push_back(box(15.0f, bottom, 410.0f, top - bottom, kHelpBox));
    float line = top - kLineHeight;
    for (const KeyBinding& k : keys) {
      overlay.push_back(text(25.0f, line, kWhite, k.keys));
      overlay.push_back(text(100.0f, line, kGrey, k.what));
      line -= kLineHeight;
    }
  }
  const scene::Colour bg = facts.background;
  if (bg.red > 0.0f || bg.green > 0.0f || bg.blue > 0.0f)
    for (Item& item : overlay) item.outlined = item.kind == Item::Kind::text;
  return overlay;
}

}  // namespace tavo::explorer
