// explorerHarness.cpp - measures tavo view's explorer in a real window (run
// under xvfb-run), through its measuring hooks:
//
//   explorerHarness play MOLECULES SECONDS
//     writes a movie of MOLECULES molecules (3 species, 8 frames), then
//     measures a frame read alone (no window), a frame drawn alone (paused,
//     nothing read) and sustained playback as fast as frames can be drawn,
//     and prints the time per frame of playback against the larger of the
//     two.
//   explorerHarness jump MOLECULES FRAMES
//     writes a movie of FRAMES frames and measures, besides the above, how
//     long jumps to frames all over the file take to reach the screen:
//     back to back, against one frame time of playback plus one frame read;
//     0.2 s apart, also against a redraw 0.2 s apart plus one frame read.
//   explorerHarness open MOLECULES GIGABYTES
//     writes a movie of about GIGABYTES (one frame written again and again)
//     and measures how soon the first frame is on screen and how long the
//     index takes to reach the end of the file.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "explorer/explorer.h"
#include "movieText.h"
#include "scratchFolder.h"
#include "trajectory/trajectory.h"

namespace {

namespace ex = tavo::explorer;
using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// One frame's species blocks: molecules spread over a cube of +-2 scene units.
std::string frameBody(int perSpecies, unsigned seed) {
  std::mt19937 engine(seed);
  std::uniform_real_distribution<double> u(-2e-6, 2e-6);
  std::string text;
  char number[40];
  for (int s = 0; s < 3; ++s) {
    text += "specie " + std::to_string(s) + "\nalive " + std::to_string(perSpecies) + "\n";
    for (int i = 0; i < 3 * perSpecies; ++i) {
      std::snprintf(number, sizeof number, "%E ", u(engine));
      text += number;
    }
    text += "\n";
  }
  return text;
}

// A movie of `frames` frames cycling through `distinct` different bodies.
void writeMovie(const char* path, int perSpecies, long frames, int distinct) {
  std::vector<std::string> bodies;
  for (int d = 0; d < distinct; ++d)
    bodies.push_back(frameBody(perSpecies, static_cast<unsigned>(d + 1)));
  std::FILE* f = std::fopen(path, "w");
  if (f == nullptr) std::exit(3);
  for (long k = 0; k < frames; ++k) {
    std::fprintf(f, "step %ld\n", k);
    const std::string& body = bodies[static_cast<std::size_t>(k % distinct)];
    if (std::fwrite(body.data(), 1, body.size(), f) != body.size()) std::exit(3);
  }
  if (std::fclose(f) != 0) std::exit(3);
}

// Milliseconds per frame read alone, from frames all over the movie.
double readAlone(const char* setup, const char* movie, int reads) {
  tavo::Movie m(setup, movie);
  tavo::Frame frame;
  std::mt19937 engine(3);
  std::uniform_int_distribution<std::size_t> pick(0, m.size() - 1);
  m.read(0, frame);
  const auto start = Clock::now();
  for (int i = 0; i < reads; ++i) m.read(pick(engine), frame);
  return seconds(start) * 1000.0 / reads;
}

class Bench final : public ex::Probe {
 public:
  enum class Phase { start, draw, play, jump, done };

  explicit Bench(double phaseSeconds, int jumps, bool openOnly)
      : phaseSeconds_(phaseSeconds), jumps_(jumps), openOnly_(openOnly) {}

  void idle(ex::Remote& remote) override {
    ex::Controls& c = remote.controls();
    const ex::IndexView index = remote.index();
    if (phase_ == Phase::start) {
      if (openOnly_) {
        if (index.reachedEnd) {
          indexSeconds_ = seconds(begin_);
          frames_ = index.frames;
          phase_ = Phase::done;
          remote.quit();
        }
        return;
      }
      if (!index.reachedEnd || firstFrame_ < 0) return;
      frames_ = index.frames;
      c.paused = true;
      phase_ = Phase::draw;
      count_ = -1;  // one unmeasured frame: the driver warms up
      remote.redraw();
    } else if (phase_ == Phase::jump && !jumping_) {
      // First jumps back to back; then jumps as a person makes them, a
      // while apart, each followed a while later by a redraw of the same
      // frame: the time a picture takes after the machine has idled.
      const bool spaced = actionsDone_ >= jumps_;
      if (spaced && seconds(actionStart_) < 0.2) return;
      if (actionsDone_ == 3 * jumps_) {
        phase_ = Phase::done;
        remote.quit();
        return;
      }
      redrawing_ = spaced && (actionsDone_ - jumps_) % 2 == 1;
      if (redrawing_) {
        target_ = c.frame;
        remote.redraw();
      } else {
        // Frames all over the file, the first and the last among them,
        // never the one on screen.
        std::size_t k = pick_(engine_) % frames_;
        if (actionsDone_ % 5 == 0) k = actionsDone_ % 10 == 0 ? frames_ - 1 : 0;
        if (k == c.frame) k = (k + frames_ / 2) % frames_;
        c.frame = k;
        target_ = k;
      }
      jumping_ = true;
      actionStart_ = Clock::now();
    }
  }

  void drawn(ex::Remote& remote, std::optional<std::size_t> frame) override {
    if (firstFrame_ < 0 && frame) firstFrame_ = seconds(begin_);
    ex::Controls& c = remote.controls();
    if (phase_ == Phase::draw) {
      if (++count_ == 0) phaseStart_ = Clock::now();
      if (count_ > 0 && seconds(phaseStart_) >= phaseSeconds_) {
        drawMs_ = seconds(phaseStart_) * 1000.0 / count_;
        phase_ = Phase::play;
        c.paused = false;
        c.rate = ex::kFastest;
        count_ = -1;
        lastFrame_ = frame;
        readsBefore_ = remote.framesRead();
        readMsBefore_ = remote.readMilliseconds();
      } else {
        remote.redraw();
      }
    } else if (phase_ == Phase::play && frame != lastFrame_) {
      lastFrame_ = frame;
      if (++count_ == 0) phaseStart_ = Clock::now();
      if (count_ > 0 && seconds(phaseStart_) >= phaseSeconds_) {
        playMs_ = seconds(phaseStart_) * 1000.0 / count_;
        const std::size_t reads = remote.framesRead() - readsBefore_;
        playReadMs_ = reads > 0 ? (remote.readMilliseconds() - readMsBefore_) / reads : 0.0;
        c.paused = true;
        phase_ = jumps_ > 0 ? Phase::jump : Phase::done;
        if (phase_ == Phase::done) remote.quit();
      }
    } else if (phase_ == Phase::jump && jumping_ && frame == target_) {
      const double ms = seconds(actionStart_) * 1000.0;
      (actionsDone_ < jumps_ ? hotJumpMs_ : redrawing_ ? coldRedrawMs_ : coldJumpMs_).push_back(ms);
      jumping_ = false;
      ++actionsDone_;
    }
  }

  void report(int molecules, double readMs) const {
    if (openOnly_) {
      std::printf(
          "open: %zu frames, first frame on screen after %.3f s, index complete after "
          "%.1f s\n",
          frames_, firstFrame_, indexSeconds_);
      return;
    }
    const double slower = std::max(readMs, drawMs_);
    std::printf(
        "molecules %d: read alone %.2f ms, draw alone %.2f ms; playback %.2f ms per frame "
        "(%.1f fps; reads meanwhile %.2f ms); playback / max(read, draw) = %.2f\n",
        molecules, readMs, drawMs_, playMs_, 1000.0 / playMs_, playReadMs_, playMs_ / slower);
    if (!hotJumpMs_.empty()) {
      const double hot = playMs_ + readMs;
      std::printf(
          "jumps over %zu frames back to back: median %.2f ms, slowest %.2f ms; frame time + read "
          "= %.2f ms; median / that %.2f, slowest / that %.2f\n",
          frames_, median(hotJumpMs_), slowest(hotJumpMs_), hot, median(hotJumpMs_) / hot,
          slowest(hotJumpMs_) / hot);
      const double cold = median(coldRedrawMs_) + readMs;
      std::printf(
          "jumps 0.2 s apart: median %.2f ms, slowest %.2f ms; a redraw 0.2 s apart %.2f ms, "
          "+ read = %.2f ms; median / that %.2f, slowest / that %.2f; median / (frame time + "
          "read) %.2f\n",
          median(coldJumpMs_), slowest(coldJumpMs_), median(coldRedrawMs_), cold,
          median(coldJumpMs_) / cold, slowest(coldJumpMs_) / cold, median(coldJumpMs_) / hot);
    }
  }

  static double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  }
  static double slowest(const std::vector<double>& v) {
    return *std::max_element(v.begin(), v.end());
  }

 private:
  const double phaseSeconds_;
  const int jumps_;
  const bool openOnly_;
  Phase phase_ = Phase::start;
  const Clock::time_point begin_ = Clock::now();
  Clock::time_point phaseStart_, actionStart_;
  std::size_t frames_ = 0;
  double firstFrame_ = -1.0, indexSeconds_ = 0.0;
  int count_ = 0;
  std::optional<std::size_t> lastFrame_;
  double drawMs_ = 0.0, playMs_ = 0.0, playReadMs_ = 0.0;
  std::size_t readsBefore_ = 0;
  double readMsBefore_ = 0.0;
  bool jumping_ = false, redrawing_ = false;
  std::size_t target_ = 0;
  int actionsDone_ = 0;
  std::vector<double> hotJumpMs_, coldJumpMs_, coldRedrawMs_;
  std::mt19937 engine_{11};
  std::uniform_int_distribution<std::size_t> pick_;
};

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc >= 2 ? argv[1] : "";
  if (argc != 4 || (mode != "play" && mode != "jump" && mode != "open")) {
    std::fputs(
        "usage: explorerHarness play MOLECULES SECONDS | jump MOLECULES FRAMES | "
        "open MOLECULES GIGABYTES\n",
        stderr);
    return 2;
  }
  if (!tavo::test::enterScratchFolder("tavo-explorer-harness")) return 3;
  const int molecules = std::atoi(argv[2]);
  const int perSpecies = (molecules + 2) / 3;
  const char* setup = "harness.Tavosetup";
  const char* movie = "harness.Tavomovie";
  long frames = 8;
  double phaseSeconds = std::atof(argv[3]);
  int jumps = 0;
  if (mode == "jump") {
    frames = std::atol(argv[3]);
    phaseSeconds = 4.0;
    jumps = 40;
  } else if (mode == "open") {
    const double bytesPerFrame = 3.0 * perSpecies * 3 * 14;
    frames = static_cast<long>(std::atof(argv[3]) * 1e9 / bytesPerFrame) + 1;
  }
  std::FILE* f = std::fopen(setup, "w");
  const std::string text = tavo::test::setupText("S0 S1 S2", perSpecies,
                                                 static_cast<int>(std::min(frames, 1000000000L)));
  if (f == nullptr || std::fputs(text.c_str(), f) < 0 || std::fclose(f) != 0) return 3;
  std::fprintf(stderr, "writing %ld frames of %d molecules...\n", frames, 3 * perSpecies);
  writeMovie(movie, perSpecies, frames, mode == "open" ? 1 : 8);

  const double readMs = mode == "open" ? 0.0 : readAlone(setup, movie, 20);
  Bench bench(phaseSeconds, jumps, mode == "open");
  ex::Options options;
  options.setup = setup;
  options.movie = movie;
  options.probe = &bench;
  try {
    ex::run(options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "explorerHarness: %s\n", e.what());
    return 1;
  }
  bench.report(3 * perSpecies, readMs);
  std::remove(movie);
  return 0;
}
