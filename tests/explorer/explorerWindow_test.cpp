// Tests of tavo view as a user meets it, in an X server started by CTest
// (xvfb-run): keys and clicks sent with xdotool, screenshots taken with
// ImageMagick's import. The movies put a cluster of molecules at a place
// that tells the frame shown.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "formats/png.h"
#include "windowSupport.h"

namespace {

using namespace std::chrono_literals;
using tavo::test::Image;
using tavo::test::Process;
using tavo::test::readFile;
using tavo::test::running;
using tavo::test::runReport;
using tavo::test::screenshot;
using tavo::test::sendKey;
using tavo::test::setupText;
using tavo::test::shell;
using tavo::test::waitExit;
using tavo::test::writeFile;

constexpr int kFrames = 60;
constexpr const char* kTitle = "^tavo view: ";

// The orange cluster of frame k: ten places along x, six rows along y.
void place(int k, double c[3]) {
  c[0] = -1.0 + 0.2 * (k % 10);
  c[1] = -0.6 + 0.2 * (k / 10);
  c[2] = 0.0;
}

std::string frameText(int k, bool badCoordinate = false) {
  static constexpr double kGreen[3] = {0, -1, 0};
  double c[3];
  place(k, c);
  std::string text = tavo::test::clusterFrame(k, c, kGreen);
  if (badCoordinate)  // the first coordinate of the orange cluster
    text.insert(text.find(' ', text.find("specie 1\nalive 49\n") + 18), "x");
  return text;
}

std::string movieText(int from, int to, int bad = -1) {
  std::string text;
  for (int k = from; k < to; ++k) text += frameText(k, k == bad);
  return text;
}

int shownFrame(const Image& image) { return tavo::test::nearestPlace(image, kFrames, place); }

// Pixels of a colour in the scene (the legend corner and the bottom rows
// left out).
int pixelsOf(const Image& image, int r, int g, int b) {
  int n = 0;
  for (int y = 0; y < image.height - 40; ++y)
    for (int x = 0; x < image.width; ++x)
      if (!(x > 380 && y < 70) && tavo::test::near(image.at(x, y), r, g, b, 12)) ++n;
  return n;
}

// Column of frame k's place on the timeline of a 500-pixel window.
int timelineColumn(int k) { return static_cast<int>(std::lround(10 + 480.0 * k / (kFrames - 1))); }

class ExplorerWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run under xvfb-run";
    shell("xdotool mousemove 1020 760 >/dev/null 2>&1");
    dir_ = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    mkdir(dir_.c_str(), 0755);
    writeFile(file("s.Tavosetup"), setupText("Green Orange Blue", 100, 1000));
  }
  void TearDown() override {
    if (run_.pid > 0) {
      kill(run_.pid, SIGKILL);
      waitpid(run_.pid, nullptr, 0);
    }
  }
  std::string file(const std::string& name) const { return dir_ + "/" + name; }

  // Starts tavo view on m.Tavomovie and waits for its window.
  void open(const std::vector<std::string>& options = {}) {
    std::vector<std::string> args = {"view", "s.Tavosetup", "m.Tavomovie"};
    args.insert(args.end(), options.begin(), options.end());
    run_ = tavo::test::start(TAVO_PATH, dir_, args);
    window_ = tavo::test::findWindow(run_, kTitle);
    ASSERT_FALSE(window_.empty()) << runReport(run_);
    std::this_thread::sleep_for(500ms);
  }
  Image shot() {
    if (window_.empty()) return Image{};
    std::this_thread::sleep_for(300ms);
    return screenshot(window_, file("shot.ppm"));
  }
  void key(const std::string& name) { sendKey(window_, name); }

  std::string dir_;
  Process run_;
  std::string window_;
};

// ---------------------------------------------------------------------------
// Navigation
// ---------------------------------------------------------------------------

TEST_F(ExplorerWindow, KeysAndTimelineClicksShowTheRightFrame) {
  writeFile(file("m.Tavomovie"), movieText(0, kFrames));
  ASSERT_NO_FATAL_FAILURE(open());
  EXPECT_GE(shownFrame(shot()), 0) << "playing: the cluster is at no frame's place";
  key("p");
  struct Row {
    const char* key;  // or a click on the timeline at frame `click`
    int click;
    int frame;
  };
  const Row rows[] = {
      {"End", 0, kFrames - 1},
      {"Home", 0, 0},
      {"b", 0, kFrames - 1},
      {"b", 0, kFrames - 2},
      {"Prior", 0, kFrames - 8},
      {"Next", 0, kFrames - 2},
      {"n", 0, kFrames - 1},
      {"n", 0, 0},
      {"", 23, 23},
      {"", 41, 41},
  };
  for (const Row& row : rows) {
    if (*row.key != '\0')
      key(row.key);
    else
      tavo::test::click(window_, timelineColumn(row.click), 493);
    EXPECT_EQ(shownFrame(shot()), row.frame) << "after " << row.key << row.click;
  }
  key("Escape");
  EXPECT_EQ(waitExit(run_, 10s), 0) << runReport(run_);
}

TEST_F(ExplorerWindow, StartFrameOpensPausedThere) {
  writeFile(file("m.Tavomovie"), movieText(0, kFrames));
  for (const auto& [k, frame] : {std::pair{"17", 17}, std::pair{"-1", kFrames - 1}}) {
    ASSERT_NO_FATAL_FAILURE(open({"--frame", k}));
    const Image first = shot();
    EXPECT_EQ(shownFrame(first), frame) << "--frame " << k;
    EXPECT_TRUE(tavo::test::sameScene(first, shot())) << "--frame " << k << " is not paused";
    key("Escape");
    EXPECT_EQ(waitExit(run_, 10s), 0);
  }
}

// ---------------------------------------------------------------------------
// The picture
// ---------------------------------------------------------------------------

TEST_F(ExplorerWindow, SpeciesKeysAndLegendClicksHideAndShow) {
  writeFile(file("m.Tavomovie"), movieText(0, kFrames));
  ASSERT_NO_FATAL_FAILURE(open({"--frame", "5"}));
  struct Row {
    const char* key;  // or a click on the legend row `entry`
    int entry;
    bool green, blue;
  };
  const Row rows[] = {
      {"1", 0, false, true}, {"1", 0, true, true}, {"", 2, true, false},
      {"3", 0, true, true},  {"2", 0, true, true},
  };
  for (const Row& row : rows) {
    if (*row.key != '\0')
      key(row.key);
    else
      tavo::test::click(window_, 470, 10 + 15 * row.entry);
    const Image image = shot();
    EXPECT_EQ(pixelsOf(image, 0, 221, 0) > 20, row.green) << row.key << row.entry;
    EXPECT_EQ(pixelsOf(image, 0, 0, 221) > 20, row.blue) << row.key << row.entry;
    // A hidden species' legend square is grey.
    EXPECT_EQ(tavo::test::near(image.at(410, 10), 0, 221, 0), row.green);
  }
  EXPECT_EQ(pixelsOf(shot(), 255, 128, 0) > 20, false) << "'2' hides the orange cluster";
}

TEST_F(ExplorerWindow, ScreenshotKeyWritesThePictureOfTheWindow) {
  writeFile(file("m.Tavomovie"), movieText(0, kFrames));
  ASSERT_NO_FATAL_FAILURE(open({"--frame", "12"}));
  key("s");
  const Image window = shot();
  EXPECT_EQ(readFile(file("stdout.txt")), "tavo-step12.png\n");
  int width = 0, height = 0;
  const std::vector<std::uint8_t> png =
      tavo::formats::readPng(file("tavo-step12.png"), width, height);
  ASSERT_EQ(width, window.width);
  ASSERT_EQ(height, window.height);
  EXPECT_TRUE(png == std::vector<std::uint8_t>(window.data.begin(), window.data.end()));
}

// The span, in pixels, of the molecules of the three species in a 500-pixel
// window: the larger of their extents across and up (the legend corner and
// the bottom rows left out).
int moleculeSpan(const Image& image) {
  int left = image.width, right = -1, top = image.height, bottom = -1;
  for (int y = 0; y < image.height - 30; ++y)
    for (int x = 0; x < image.width; ++x) {
      if (x > 380 && y < 60) continue;
      const tavo::test::Rgb c = image.at(x, y);
      if (!tavo::test::near(c, 0, 221, 0, 12) && !tavo::test::near(c, 255, 128, 0, 12) &&
          !tavo::test::near(c, 0, 0, 221, 12))
        continue;
      left = std::min(left, x), right = std::max(right, x);
      top = std::min(top, y), bottom = std::max(bottom, y);
    }
  return right < 0 ? 0 : std::max(right - left, bottom - top) + 1;
}

TEST_F(ExplorerWindow, FitKeyWheelAndZoomTapsFrameTheMolecules) {
  static constexpr double kOrange[3] = {0.6, -0.3, 0.2}, kGreen[3] = {-0.5, 0.2, -0.4};
  writeFile(file("m.Tavomovie"), tavo::test::clusterFrame(0, kOrange, kGreen));
  ASSERT_NO_FATAL_FAILURE(open({"--frame", "0"}));
  const int start = moleculeSpan(shot());
  key("equal");
  const int fitted = moleculeSpan(shot());
  EXPECT_GE(fitted, 0.8 * 500) << "from " << start;
  EXPECT_LE(fitted, 0.95 * 500);
  struct Row {
    const char* key;  // or a wheel "button"
    int button;
    double ratio;  // of the span to the fitted one
  };
  const Row rows[] = {
      {"", 5, 0.9},   // wheel down: out by 10 %
      {"", 4, 1.0},   // wheel up: in by 10 %
      {"z", 0, 0.9},  // a tap of z: out by 10 %
      {"a", 0, 1.0},  // a tap of a: in by 10 %
  };
  for (const Row& row : rows) {
    if (*row.key != '\0')
      key(row.key);
    else
      shell("xdotool mousemove --window " + window_ + " 250 250 click " +
            std::to_string(row.button) + " >/dev/null 2>&1");
    const double ratio = static_cast<double>(moleculeSpan(shot())) / fitted;
    EXPECT_NEAR(ratio, row.ratio, 0.04) << row.key << row.button;
  }
  key("Escape");
  EXPECT_EQ(waitExit(run_, 10s), 0) << runReport(run_);
}

// ---------------------------------------------------------------------------
// Long, growing and damaged movies
// ---------------------------------------------------------------------------

TEST_F(ExplorerWindow, FollowShowsFramesAppendedWhileItRuns) {
  writeFile(file("m.Tavomovie"), movieText(0, 5) + frameText(5).substr(0, 200));
  ASSERT_NO_FATAL_FAILURE(open({"--follow"}));
  EXPECT_EQ(shownFrame(shot()), 4);
  std::ofstream(file("m.Tavomovie"), std::ios::app) << frameText(5).substr(200) << movieText(6, 9);
  std::this_thread::sleep_for(1s);
  EXPECT_EQ(shownFrame(shot()), 8);
  key("Home");  // navigation leaves follow mode
  key("p");
  const int frame = shownFrame(shot());
  std::ofstream(file("m.Tavomovie"), std::ios::app) << movieText(9, 11);
  std::this_thread::sleep_for(1s);
  EXPECT_EQ(shownFrame(shot()), frame);
  key("f");
  EXPECT_EQ(shownFrame(shot()), 10);
}

// A simulation started again removes its movie and writes a new one, or
// writes it again in place: the window opens the new file, says so, and
// follows it.
TEST_F(ExplorerWindow, FollowReopensAMovieReplacedUnderIt) {
  writeFile(file("m.Tavomovie"), movieText(0, 8));
  ASSERT_NO_FATAL_FAILURE(open({"--follow"}));
  EXPECT_EQ(shownFrame(shot()), 7);
  std::remove(file("m.Tavomovie").c_str());
  std::this_thread::sleep_for(600ms);
  writeFile(file("m.Tavomovie"), movieText(0, 3));
  std::this_thread::sleep_for(1s);
  ASSERT_TRUE(running(run_)) << runReport(run_);
  const Image restarted = shot();
  int red = 0;  // "movie restarted", above the status line
  for (int y = 440; y < 480; ++y)
    for (int x = 0; x < 500; ++x) red += tavo::test::near(restarted.at(x, y), 255, 102, 102);
  EXPECT_EQ(std::make_pair(shownFrame(restarted), red > 50), std::make_pair(2, true));
  std::ofstream(file("m.Tavomovie"), std::ios::app) << movieText(3, 6);
  std::this_thread::sleep_for(1s);
  EXPECT_EQ(shownFrame(shot()), 5);
  writeFile(file("m.Tavomovie"), movieText(0, 2));  // cut and written again in place
  std::this_thread::sleep_for(1s);
  EXPECT_EQ(shownFrame(shot()), 1);
}

TEST_F(ExplorerWindow, MovieShorterThanItsRunKeepsPlaying) {
  writeFile(file("m.Tavomovie"), movieText(0, 10));  // total_step 1000
  ASSERT_NO_FATAL_FAILURE(open());
  std::set<int> seen;
  for (int i = 0; i < 8; ++i) {
    seen.insert(shownFrame(shot()));
    ASSERT_TRUE(running(run_)) << runReport(run_);
  }
  EXPECT_GE(seen.size(), 2u) << "playback stopped";
  EXPECT_EQ(seen.count(-1), 0u);
}

TEST_F(ExplorerWindow, MalformedFrameStopsPlaybackWithTheMessage) {
  writeFile(file("m.Tavomovie"), movieText(0, 10, 6));
  ASSERT_NO_FATAL_FAILURE(open());
  std::this_thread::sleep_for(1s);
  ASSERT_TRUE(running(run_)) << runReport(run_);
  const Image stopped = shot();
  EXPECT_EQ(shownFrame(stopped), 5);
  // The message, in its red, above the status line.
  int red = 0;
  for (int y = 440; y < 480; ++y)
    for (int x = 0; x < 500; ++x) red += tavo::test::near(stopped.at(x, y), 255, 102, 102);
  EXPECT_GT(red, 50);
  key("End");  // the frames after it are still there
  EXPECT_EQ(shownFrame(shot()), 9);
  key("Home");
  EXPECT_EQ(shownFrame(shot()), 0);
  EXPECT_TRUE(running(run_));
}

TEST_F(ExplorerWindow, FailuresBeforeTheWindowEndTheCommand) {
  writeFile(file("m.Tavomovie"), movieText(0, 3));
  struct Row {
    std::vector<std::string> args;
    bool display;
    int status;
    const char* says;
  };
  const Row rows[] = {
      {{"view", "s.Tavosetup", "m.Tavomovie"}, false, 1, "cannot open the display"},
      {{"view", "s.Tavosetup", "missing.Tavomovie"}, true, 1, "missing.Tavomovie"},
      {{"view", "s.Tavosetup", "m.Tavomovie", "--frame", "2", "--follow"}, true, 2, "--follow"},
  };
  for (const Row& row : rows) {
    run_ = tavo::test::start(TAVO_PATH, dir_, row.args, row.display);
    EXPECT_EQ(waitExit(run_, 20s), row.status) << row.says;
    EXPECT_NE(readFile(file("stderr.txt")).find(row.says), std::string::npos)
        << readFile(file("stderr.txt"));
  }
}

// ---------------------------------------------------------------------------
// Sustained playback (label soak)
// ---------------------------------------------------------------------------

TEST_F(ExplorerWindow, SoakHundredThousandMoleculesForTenMinutes) {
  // 3 species of 33334 molecules, 8 frames, positions spread over a cube.
  constexpr int kPerSpecies = 33334;
  writeFile(file("s.Tavosetup"), setupText("A B C", kPerSpecies, 8));
  ASSERT_TRUE(tavo::test::writeSpreadMovie(file("m.Tavomovie"), kPerSpecies, 8));
  ASSERT_NO_FATAL_FAILURE(open());
  std::vector<long> samples;
  for (int second = 0; second < 600; ++second) {
    std::this_thread::sleep_for(1s);
    ASSERT_TRUE(running(run_)) << "ended after " << second << " s: " << runReport(run_);
    samples.push_back(tavo::test::rssKilobytes(run_.pid));
  }
  // Flat: the resident size of the last minute is that of the first minute
  // after a 30 s warm-up, within 4 MB. Single samples swing by a few MB as
  // buffers of whole frames are freed and taken again, so medians compare.
  const long first = tavo::test::sampleMedian(samples, 30, 90);
  const long last = tavo::test::sampleMedian(samples, 540, 600);
  std::printf("RSS median 30-90 s: %ld kB, 540-600 s: %ld kB; range after 30 s: %ld kB\n", first,
              last, tavo::test::sampleRange(samples, 30));
  EXPECT_LT(std::labs(last - first), 4096);
  key("Escape");
  EXPECT_EQ(waitExit(run_, 20s), 0);
}

}  // namespace
