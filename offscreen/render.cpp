// render.cpp - the offscreen render job: overlay layout, reader thread,
// picture, sequence and video outputs.
#include "offscreen/render.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "formats/numbers.h"
#include "formats/output.h"
#include "formats/png.h"
#include "offscreen/context.h"
#include "offscreen/fontText.h"
#include "scene/figure.h"

extern char** environ;

namespace tavo::offscreen {

namespace {

bool endsWith(const std::string& s, const char* tail) {
  const std::size_t n = std::strlen(tail);
  return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

// The one integer field of a sequence name: where it starts and ends, its
// flags and width. A name with no '%' but "%%" has none.
struct Field {
  std::size_t begin = std::string::npos, end = 0;
  bool left = false, zero = false, plus = false, space = false;
  int width = 0;
};

// Finds the integer field; throws UsageError for any other conversion, a
// second field, or a field with a '*' width or a precision.
Field findField(const std::string& path) {
  Field field;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (path[i] != '%') continue;
    if (i + 1 < path.size() && path[i + 1] == '%') {
      ++i;
      continue;
    }
    Field f;
    f.begin = i;
    std::size_t j = i + 1;
    for (; j < path.size() && std::strchr("-0+ ", path[j]) != nullptr; ++j) {
      f.left |= path[j] == '-';
      f.zero |= path[j] == '0';
      f.plus |= path[j] == '+';
      f.space |= path[j] == ' ';
    }
    for (; j < path.size() && path[j] >= '0' && path[j] <= '9'; ++j)
      f.width = std::min(f.width * 10 + (path[j] - '0'), 64);
    if (j >= path.size() || std::strchr("diu", path[j]) == nullptr)
      throw UsageError(path +
                       ": a '%' in the output name starts a frame number field such as %05d; "
                       "write %% for a '%' itself");
    if (field.begin != std::string::npos)
      throw UsageError(path + ": the output name holds more than one frame number field");
    f.end = j + 1;
    field = f;
    i = j;
  }
  return field;
}

std::string unescapePercent(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    out += s[i];
    if (s[i] == '%' && i + 1 < s.size() && s[i + 1] == '%') ++i;
  }
  return out;
}

// ---------------------------------------------------------------------------
// Video through ffmpeg
// ---------------------------------------------------------------------------

std::string findProgram(const char* name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string candidate = dirs.substr(start, end - start);
    candidate = (candidate.empty() ? "." : candidate) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return "";
}

// ffmpeg encoding raw frames from a pipe into `file` (a name it opens
// itself), its messages into `log`.
class Encoder {
 public:
  Encoder(const std::string& output, const std::string& file, const std::string& log, int width,
          int height, double framesPerSecond)
      : output_(output), log_(log) {
    const std::string program = findProgram("ffmpeg");
    if (program.empty())
      throw Error(output +
                  ": writing a video needs the ffmpeg program, which is not installed; install "
                  "the Debian package ffmpeg");
    const bool webm = endsWith(output, ".webm");
    char size[64];
    std::snprintf(size, sizeof size, "%dx%d", width, height);
    std::vector<std::string> args = {program,
                                     "-hide_banner",
                                     "-loglevel",
                                     "error",
                                     "-nostdin",
                                     "-y",
                                     "-f",
                                     "rawvideo",
                                     "-pixel_format",
                                     "rgb24",
                                     "-video_size",
                                     size,
                                     "-framerate",
                                     formats::shortest(framesPerSecond),
                                     "-i",
                                     "pipe:0",
                                     "-pix_fmt",
                                     "yuv420p"};
    if (webm) {
      args.insert(args.end(),
                  {"-c:v", "libvpx-vp9", "-crf", "32", "-b:v", "0", "-row-mt", "1", "-f", "webm"});
    } else {
      args.insert(args.end(),
                  {"-c:v", "libx264", "-crf", "18", "-movflags", "+faststart", "-f", "mp4"});
    }
    args.push_back(file);

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
      throw Error(std::string("cannot start ffmpeg: ") + std::strerror(errno));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, log_.c_str(), O_WRONLY | O_TRUNC, 0);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int spawned =
        posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[0]);
    if (spawned != 0) {
      close(fds[1]);
      pid_ = -1;
      throw Error("cannot start " + program + ": " + std::strerror(spawned));
    }
    // An interrupt ends ffmpeg before the temporaries go, so that it
    // cannot write them again.
    formats::watchChild(pid_);
    pipe_ = fds[1];
  }

  ~Encoder() {
    if (pipe_ >= 0) close(pipe_);
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      reap(nullptr);
    }
  }

  void write(const std::vector<std::uint8_t>& rgb, std::size_t frame) {
    const std::uint8_t* p = rgb.data();
    std::size_t left = rgb.size();
    while (left > 0) {
      const ssize_t n = ::write(pipe_, p, left);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) fail("ended early, while frame " + std::to_string(frame) + " was sent");
      p += n;
      left -= static_cast<std::size_t>(n);
    }
  }

  void finish() {
    close(pipe_);
    pipe_ = -1;
    int status = 0;
    reap(&status);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
      throw Error(output_ + ": ffmpeg failed" + statusText(status) + lastLogLine());
  }

 private:
  void reap(int* status) {
    while (waitpid(pid_, status, 0) < 0 && errno == EINTR) {
    }
    formats::forgetChild(pid_);
    pid_ = -1;
  }

  [[noreturn]] void fail(const std::string& what) {
    close(pipe_);
    pipe_ = -1;
    int status = 0;
    reap(&status);
    throw Error(output_ + ": ffmpeg " + what + statusText(status) + lastLogLine());
  }

  static std::string statusText(int status) {
    if (WIFEXITED(status)) return " (exit status " + std::to_string(WEXITSTATUS(status)) + ")";
    if (WIFSIGNALED(status)) return " (signal " + std::to_string(WTERMSIG(status)) + ")";
    return "";
  }

  std::string lastLogLine() const {
    std::ifstream in(log_);
    std::string line, last;
    while (std::getline(in, line))
      if (!line.empty()) last = line;
    return last.empty() ? "" : ": " + last;
  }

  std::string output_;
  std::string log_;
  pid_t pid_ = -1;
  int pipe_ = -1;
};

// Ignores SIGPIPE while alive: a broken pipe to ffmpeg is a failed write,
// reported with ffmpeg's own words, not the end of the process.
class NoBrokenPipeSignal {
 public:
  NoBrokenPipeSignal() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &previous_);
  }
  ~NoBrokenPipeSignal() { sigaction(SIGPIPE, &previous_, nullptr); }

 private:
  struct sigaction previous_ {};
};

// ---------------------------------------------------------------------------
// Reader thread
// ---------------------------------------------------------------------------

// Reads the selected frames in order into a ring of two frames, one ahead
// of the drawing.
class FrameReader {
 public:
  FrameReader(const Movie& movie, const std::vector<std::size_t>& frames)
      : movie_(movie), frames_(frames), thread_([this] { run(); }) {}
  ~FrameReader() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }

  // The i-th selected frame, once read; rethrows the reader's error.
  const Frame& get(std::size_t i) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return read_ > i || (failure_ && failedAt_ == i); });
    if (read_ <= i) std::rethrow_exception(failure_);
    return ring_[i % 2];
  }
  // The i-th frame is drawn: its slot may take the frame after next.
  void done(std::size_t i) {
    {
      std::lock_guard lock(mutex_);
      drawn_ = i + 1;
    }
    changed_.notify_all();
  }

 private:
  void run() {
    for (std::size_t i = 0; i < frames_.size(); ++i) {
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return stop_ || i < drawn_ + 2; });
        if (stop_) return;
      }
      try {
        movie_.read(frames_[i], ring_[i % 2]);
      } catch (...) {
        std::lock_guard lock(mutex_);
        failure_ = std::current_exception();
        failedAt_ = i;
        changed_.notify_all();
        return;
      }
      {
        std::lock_guard lock(mutex_);
        read_ = i + 1;
      }
      changed_.notify_all();
    }
  }

  const Movie& movie_;
  const std::vector<std::size_t>& frames_;
  Frame ring_[2];
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t read_ = 0, drawn_ = 0, failedAt_ = 0;
  bool stop_ = false;
  std::exception_ptr failure_;
  std::thread thread_;
};

// The failure of one frame, its number already in the words.
class FrameError : public Error {
 public:
  using Error::Error;
};

// Error of frame `index`, keeping the cause's words.
FrameError frameError(std::size_t index, const std::exception& cause) {
  return FrameError("frame " + std::to_string(index) + " failed: " + cause.what());
}

// Writes pictures on a thread of its own, one at a time, while the next
// frame is drawn. A failed picture is reported, with its frame, by the next
// put() or by finish().
class PictureWriter {
 public:
  // write(pixels, frame) writes one picture.
  using Write = std::function<void(const std::vector<std::uint8_t>&, std::size_t)>;
  explicit PictureWriter(Write write) : write_(std::move(write)), thread_([this] { run(); }) {}
  ~PictureWriter() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }

  // Hands over a copy of `pixels` once the picture before is written.
  void put(const std::vector<std::uint8_t>& pixels, std::size_t frame) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return !full_; });
    if (failure_) std::rethrow_exception(failure_);
    pixels_ = pixels;
    frame_ = frame;
    full_ = true;
    changed_.notify_all();
  }

  // Waits for the last picture.
  void finish() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return !full_; });
    if (failure_) std::rethrow_exception(failure_);
  }

 private:
  void run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [&] { return stop_ || full_; });
      if (!full_) return;
      lock.unlock();
      std::exception_ptr failure;
      try {
        write_(pixels_, frame_);
      } catch (const std::exception& e) {
        failure = std::make_exception_ptr(frameError(frame_, e));
      }
      lock.lock();
      if (failure && !failure_) failure_ = failure;
      full_ = false;
      changed_.notify_all();
    }
  }

  Write write_;
  std::vector<std::uint8_t> pixels_;
  std::size_t frame_ = 0;
  bool full_ = false, stop_ = false;
  std::exception_ptr failure_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::thread thread_;
};

}  // namespace

OutputKind outputKind(const std::string& path) {
  const Field field = findField(path);
  if (field.begin != std::string::npos) {
    if (!endsWith(path, ".png"))
      throw UsageError(path +
                       ": a numbered sequence is written as PNG pictures; end the name "
                       "with .png");
    return OutputKind::sequence;
  }
  if (endsWith(path, ".png")) return OutputKind::picture;
  if (endsWith(path, ".mp4") || endsWith(path, ".webm")) return OutputKind::video;
  throw UsageError(path +
                   ": the output must end in .png (one picture, or a sequence with a frame "
                   "number field such as f%05d.png), .mp4 or .webm");
}

std::string sequenceName(const std::string& pattern, std::size_t index) {
  const Field f = findField(pattern);
  if (f.begin == std::string::npos) return unescapePercent(pattern);
  std::string digits = std::to_string(index);
  const std::string sign = f.plus ? "+" : f.space ? " " : "";
  const std::size_t width = static_cast<std::size_t>(f.width);
  std::string number = sign + digits;
  if (number.size() < width) {
    const std::size_t pad = width - number.size();
    if (f.left)
      number += std::string(pad, ' ');
    else if (f.zero)
      number = sign + std::string(pad, '0') + digits;
    else
      number = std::string(pad, ' ') + number;
  }
  return unescapePercent(pattern.substr(0, f.begin)) + number +
         unescapePercent(pattern.substr(f.end));
}

// ---------------------------------------------------------------------------
// Renderer
// ---------------------------------------------------------------------------

struct Renderer::Impl {
  Settings settings;
  scene::Picture picture;
  std::vector<std::string> names;
  std::vector<double> sizes;  // per species, metres
  Context context;
  scene::Scene scene;
  std::unique_ptr<FontText> text;
  scene::Overlay overlay;
  std::vector<std::uint8_t> rgb;
  double scale = 1.0;   // overlay size against the viewer's 500-pixel window
  bool framed = false;  // the camera and sphere scale are settled

  Impl(const Setup& setup, const Settings& s)
      : settings(s), context(checkedSize(s.width), checkedSize(s.height)), scene(s.drawing) {
    scene.setFramebuffer(context.colourBuffer(), context.depthBuffer());
    picture.camera = s.camera;
    picture.width = s.width;
    picture.height = s.height;
    picture.style = s.style;
    picture.regions = s.regions;
    picture.sphereSprites = s.sphereSprites;
    picture.colours = s.colours;
    picture.hidden = s.hidden;
    picture.background = s.background;
    picture.transparent = s.transparent;
    picture.axes = s.axes;
    picture.letters = s.overlay;
    for (const Species& species : setup.species) {
      sizes.push_back(species.size);
      names.push_back(species.name);
    }
    const int n = static_cast<int>(names.size());
    for (int q = static_cast<int>(picture.colours.size()); q < n; ++q)
      picture.colours.push_back(scene::speciesColour(q, n));
    scale = std::max(1.0, std::min(s.width, s.height) / 500.0);
    if (s.overlay || s.scaleBar || !s.title.empty())
      text = std::make_unique<FontText>(defaultFontPath(),
                                        static_cast<int>(std::lround(12.0 * scale)));
  }

  static int checkedSize(int side) {
    if (side <= 0 || side > kMaxPictureSide)
      throw UsageError("the picture size must be from 1 to " + std::to_string(kMaxPictureSide) +
                       " pixels a side; " + std::to_string(side) + " is not");
    return side;
  }

  bool shown(std::size_t q) const { return !(q < settings.hidden.size() && settings.hidden[q]); }

  // The fitted camera and the automatic sphere scale, from the first frame.
  void frame(const Frame& first) {
    if (framed) return;
    framed = true;
    if (settings.fit) {
      const std::vector<double> points = settings.regions.empty()
                                             ? scene::moleculePoints(first, settings.hidden)
                                             : scene::outlinePoints(settings.regions);
      picture.camera = scene::fitCamera(points, settings.width, settings.height);
    }
    double factor = settings.sphereScale;
    if (settings.autoSphereScale)
      factor = scene::autoSphereScale(sizes, settings.hidden, picture.camera, settings.height);
    settings.sphereScale = factor;
    picture.diameters.clear();
    for (const double size : sizes) picture.diameters.push_back(size * factor);
  }

  // Step and time at the top left, the legend at the top right, a title at
  // the top and a scale bar at the bottom left, all sized for the picture:
  // readable from 500 x 500 up to 3840 x 2160. Text is light on a dark
  // background and dark on a light one; on any background but the
  // viewer's black it has an outline of the other kind.
  void layOut(const Frame& frame) {
    using Item = scene::OverlayItem;
    overlay.clear();
    const bool light = scene::isLight(settings.background);
    const scene::Colour quiet =
        light ? scene::Colour{0.2f, 0.2f, 0.2f} : scene::Colour{0.8f, 0.8f, 0.8f};
    const scene::Colour loud =
        light ? scene::Colour{0.0f, 0.0f, 0.0f} : scene::Colour{1.0f, 1.0f, 1.0f};
    const bool outlined = settings.transparent || light || settings.background.red > 0.0f ||
                          settings.background.green > 0.0f || settings.background.blue > 0.0f;
    const scene::Colour outline =
        light ? scene::Colour{1.0f, 1.0f, 1.0f} : scene::Colour{0.0f, 0.0f, 0.0f};
    const auto line = [&](float x, float y, scene::Colour c, std::string s,
                          scene::Font font = scene::Font::label) {
      Item item{Item::Kind::text, x, y, c, font, 0, std::move(s)};
      item.outlined = outlined;
      item.outline = outline;
      overlay.push_back(std::move(item));
    };
    const auto fs = static_cast<float>(scale);
    const float margin = static_cast<float>(std::lround(8 * scale));
    const float height = static_cast<float>(text->lineHeight(scene::Font::label));
    const float top = static_cast<float>(settings.height) - margin - height * 0.8f;
    if (settings.overlay) {
      char buffer[96];
      std::snprintf(buffer, sizeof buffer, "step %d", frame.step);
      line(margin, top, quiet, buffer);
      std::snprintf(buffer, sizeof buffer, "t = %.6g s", frame.time);
      line(margin, top - height, quiet, buffer);
      int widest = 0;
      for (std::size_t q = 0; q < names.size(); ++q)
        if (shown(q)) widest = std::max(widest, text->width(scene::Font::label, names[q].c_str()));
      const float shift = scene::legendShift(widest, fs);
      int row = 0;
      for (std::size_t q = 0; q < names.size(); ++q) {
        if (!shown(q)) continue;
        const scene::LegendRow r =
            scene::legendRow(row++, settings.width, settings.height, fs, shift);
        overlay.push_back(Item{Item::Kind::swatch, r.swatchX, r.swatchY, picture.colours[q],
                               scene::Font::label, scene::legendSwatchSize(fs), ""});
        line(r.nameX, r.nameY, loud, names[q]);
      }
    }
    if (!settings.title.empty()) {
      const float banner = static_cast<float>(text->lineHeight(scene::Font::banner));
      const float x =
          (static_cast<float>(settings.width) -
           static_cast<float>(text->width(scene::Font::banner, settings.title.c_str()))) /
          2.0f;
      line(std::max(x, margin), static_cast<float>(settings.height) - margin - banner * 0.8f, loud,
           settings.title, scene::Font::banner);
    }
    if (settings.scaleBar) {
      const scene::ScaleBar bar =
          scene::scaleBar(picture.camera, settings.height, settings.width / 4.0);
      if (bar.pixels > 0) {
        const float thick = std::max(2.0f, std::round(3.0f * fs));
        Item box;
        box.kind = Item::Kind::box;
        box.x = margin;
        box.y = margin;
        box.width = static_cast<float>(bar.pixels);
        box.height = thick;
        box.colour = loud;
        overlay.push_back(box);
        line(margin, margin + thick + std::round(4.0f * fs), loud, bar.label);
      }
    }
  }
};

Renderer::Renderer(const Setup& setup, const Settings& settings)
    : impl_(std::make_unique<Impl>(setup, settings)) {}

Renderer::~Renderer() = default;

std::string Renderer::rendererName() const { return impl_->context.renderer(); }

scene::Camera Renderer::camera() const { return impl_->picture.camera; }

double Renderer::sphereScale() const { return impl_->settings.sphereScale; }

bool Renderer::software() const {
  impl_->scene.decide();
  return impl_->scene.software();
}

const std::vector<std::uint8_t>& Renderer::draw(const Frame& frame) {
  Impl& d = *impl_;
  d.frame(frame);
  if (d.text) d.layOut(frame);
  d.scene.draw(frame, d.picture, d.text.get(), d.overlay);
  d.context.readPixels(d.rgb, d.settings.transparent);
  return d.rgb;
}

// ---------------------------------------------------------------------------
// The job
// ---------------------------------------------------------------------------

void drawFrames(const Movie& movie, const std::vector<std::size_t>& frames, Renderer& renderer,
                const std::function<void(const std::vector<std::uint8_t>&, std::size_t)>& sink) {
  FrameReader reader(movie, frames);
  for (std::size_t i = 0; i < frames.size(); ++i) {
    try {
      const std::vector<std::uint8_t>& rgb = renderer.draw(reader.get(i));
      reader.done(i);
      sink(rgb, frames[i]);
    } catch (const FrameError&) {
      throw;
    } catch (const std::exception& e) {
      throw frameError(frames[i], e);
    }
  }
}

void render(const Movie& movie, const std::vector<std::size_t>& frames, const std::string& output,
            const Settings& settings, double framesPerSecond,
            const std::function<void(std::size_t)>& progress,
            const std::vector<std::string>& moreInputs) {
  std::vector<std::string> inputs = {movie.setup().path, movie.path()};
  inputs.insert(inputs.end(), moreInputs.begin(), moreInputs.end());
  const OutputKind kind = outputKind(output);
  if (kind == OutputKind::picture && frames.size() != 1)
    throw UsageError(output + ": one picture holds one frame, but " +
                     std::to_string(frames.size()) +
                     " are selected; name a sequence with a frame number field such as "
                     "f%05d.png, or select one frame");
  if (frames.empty()) throw UsageError("no frame is selected");
  if (settings.transparent && kind == OutputKind::video)
    throw UsageError(output + ": a video has no transparent background; write PNG pictures");
  if (kind == OutputKind::video) requireVideoSize(settings.width, settings.height);
  Renderer renderer(movie.setup(), settings);

  // A single picture or video: its name with "%%" read as "%".
  const std::string single = kind == OutputKind::sequence ? "" : sequenceName(output, 0);
  std::unique_ptr<formats::OutputFile> file;
  std::unique_ptr<formats::ScratchFile> log;
  std::unique_ptr<Encoder> encoder;
  if (kind != OutputKind::sequence)
    file = std::make_unique<formats::OutputFile>(
        single, formats::OutputRules{.inputs = inputs, .byName = true});
  NoBrokenPipeSignal noSignal;
  if (kind == OutputKind::video) {
    log = std::make_unique<formats::ScratchFile>(single, ".log");
    encoder = std::make_unique<Encoder>(single, file->fileName(), log->path(), settings.width,
                                        settings.height, framesPerSecond);
  }
  // A sequence makes its folders; those still empty go again on failure.
  formats::MadeFolders folders;
  std::size_t done = 0;
  // PNG pictures are encoded on a thread of their own while the next frame
  // is drawn.
  PictureWriter pictures([&](const std::vector<std::uint8_t>& rgb, std::size_t index) {
    if (kind == OutputKind::picture) {
      formats::writePng(file->fileName(), settings.width, settings.height, rgb, single,
                        settings.transparent);
      return;
    }
    const std::string path = sequenceName(output, index);
    folders.make(std::filesystem::path(path).parent_path().string());
    // A name of ours: a link sitting there is replaced, never written through.
    formats::OutputFile picture(
        path, formats::OutputRules{.inputs = inputs, .madeName = true, .byName = true});
    formats::writePng(picture.fileName(), settings.width, settings.height, rgb, path,
                      settings.transparent);
    picture.commit();
  });
  drawFrames(movie, frames, renderer, [&](const std::vector<std::uint8_t>& rgb, std::size_t index) {
    if (kind == OutputKind::video)
      encoder->write(rgb, index);
    else
      pictures.put(rgb, index);
    if (progress) progress(++done);
  });
  pictures.finish();
  if (encoder) encoder->finish();
  if (file) file->commit();
  folders.keep();
}

void requireVideoSize(int width, int height) {
  if (width % 2 == 0 && height % 2 == 0) return;
  // 4:2:0 video stores colour per 2 x 2 pixels: both sides must be even.
  const int lowW = width - width % 2, lowH = height - height % 2;
  const int highW = width + width % 2, highH = height + height % 2;
  std::string nearest;
  if (lowW > 0 && lowH > 0) nearest = std::to_string(lowW) + "x" + std::to_string(lowH) + " or ";
  nearest += std::to_string(highW) + "x" + std::to_string(highH);
  throw UsageError("--size " + std::to_string(width) + "x" + std::to_string(height) +
                   ": a video's width and height must be even; take " + nearest);
}

}  // namespace tavo::offscreen
