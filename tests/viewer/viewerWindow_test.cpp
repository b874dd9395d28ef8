// Tests of the Tavomovie program as a user meets it: command line, exit
// statuses, the error log, and the window itself under an X server (run by
// CTest inside xvfb-run). Screenshots are taken with ImageMagick's import and
// keys are sent with xdotool.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "windowSupport.h"

namespace {

using tavo::test::centroid;
using tavo::test::Image;
using tavo::test::near;
using tavo::test::Process;
using tavo::test::project;
using tavo::test::readFile;
using tavo::test::running;
using tavo::test::runReport;
using tavo::test::sameScene;
using tavo::test::screenshot;
using tavo::test::sendKey;
using tavo::test::setupText;
using tavo::test::shell;
using tavo::test::waitExit;
using tavo::test::writeFile;
using namespace std::chrono_literals;

const std::string kUsage =
    "\n\tPlease pass in correct parameters:\n\t\tTavomovie.exe setup1.Tavosetup "
    "movie1.Tavomovie\n\n";

Process start(const std::string& dir, const std::vector<std::string>& args, bool display = true) {
  return tavo::test::start(TAVOMOVIE_PATH, dir, args, display);
}

std::string findWindow(const Process& run) {
  return tavo::test::findWindow(run, "^Reaction Movie$");
}

// ---------------------------------------------------------------------------
// Data
// ---------------------------------------------------------------------------

constexpr int kSteps = 10;

// Scene position of the moving cluster (species 1) at step k; species 2
// sits at (0, 1, 0) throughout and species 0 has no molecule.
void clusterCentre(int k, double c[3]) {
  c[0] = -1.0 + 0.2 * k;
  c[1] = 0.0;
  c[2] = 0.0;
}

std::string clusterMovie() {
  std::string text;
  for (int k = 0; k < kSteps; ++k) {
    double c[3];
    clusterCentre(k, c);
    text += tavo::test::clusterFrame(k, c, nullptr);
  }
  return text;
}

// The step whose cluster position is nearest the cluster in the picture.
int shownStep(const Image& image) { return tavo::test::nearestPlace(image, kSteps, clusterCentre); }

class ViewerWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run under xvfb-run";
    // Keep the pointer off the window: passive motion turns the camera.
    shell("xdotool mousemove 1020 760 >/dev/null 2>&1");
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::string(info->name());
    mkdir(dir_.c_str(), 0755);
  }
  void TearDown() override {
    if (run_.pid > 0) {
      kill(run_.pid, SIGKILL);
      waitpid(run_.pid, nullptr, 0);
    }
  }
  std::string file(const std::string& name) const { return dir_ + "/" + name; }
  std::string dir_;
  Process run_;
};

// ---------------------------------------------------------------------------
// Command line and start-up
// ---------------------------------------------------------------------------

TEST_F(ViewerWindow, WrongArgumentCountIsAUsageError) {
  writeFile(file("s.Tavosetup"), setupText("A B C", 10, kSteps));
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"s.Tavosetup"},
      {"s.Tavosetup", "m.Tavomovie", "extra"},
      {"-display", ":0", "s.Tavosetup", "m.Tavomovie"}};  // GLUT options count too
  for (const auto& args : cases) {
    writeFile(file("errors.txt"), "left over from an earlier run\n");
    // Without a display: any attempt at a window would fail differently.
    run_ = start(dir_, args, false);
    EXPECT_EQ(waitExit(run_, 10s), 2) << args.size() << " arguments";
    EXPECT_EQ(readFile(file("errors.txt")), kUsage);
    EXPECT_EQ(readFile(file("stderr.txt")), kUsage);
  }
}

TEST_F(ViewerWindow, NoErrorLogPossibleIsReportedOnStandardError) {
  // errors.txt as a folder cannot be opened for writing.
  mkdir(file("errors.txt").c_str(), 0755);
  run_ = start(dir_, {}, false);
  EXPECT_EQ(waitExit(run_, 10s), 2);
  const std::string err = readFile(file("stderr.txt"));
  EXPECT_NE(err.find("cannot create errors.txt"), std::string::npos) << err;
  EXPECT_NE(err.find(kUsage), std::string::npos);
  rmdir(file("errors.txt").c_str());
}

TEST_F(ViewerWindow, BadSetupEndsBeforeAnyWindow) {
  writeFile(file("bad.Tavosetup"), "N_specis 3\n");
  writeFile(file("errors.txt"), "old\n");
  run_ = start(dir_, {"bad.Tavosetup", "m.Tavomovie"}, false);
  EXPECT_EQ(waitExit(run_, 10s), 1);
  EXPECT_EQ(readFile(file("errors.txt")),
            "\nERROR: Syntax error:\n\tline 1: correct format is 'N_species 2'\n");
  EXPECT_EQ(readFile(file("stderr.txt")), "");  // GLUT was never started
}

TEST_F(ViewerWindow, MissingMovieOpensTheWindowThenFails) {
  writeFile(file("s.Tavosetup"), setupText("A B C", 10, kSteps));
  run_ = start(dir_, {"s.Tavosetup", "missing.Tavomovie"});
  EXPECT_EQ(waitExit(run_, 20s), 1);
  EXPECT_EQ(readFile(file("errors.txt")), "\nERROR: cannot read movie file!\n");
  // The same run without a display stops in GLUT before any frame: the
  // movie message above needed the window and its first frame.
  run_ = start(dir_, {"s.Tavosetup", "missing.Tavomovie"}, false);
  EXPECT_EQ(waitExit(run_, 20s), 1);
  EXPECT_EQ(readFile(file("errors.txt")), "");
}

// ---------------------------------------------------------------------------
// The picture
// ---------------------------------------------------------------------------

TEST_F(ViewerWindow, LegendClusterPauseStepAndEscape) {
  writeFile(file("s.Tavosetup"), setupText("Alpha Beta Gamma", 100, kSteps));
  writeFile(file("m.Tavomovie"), clusterMovie());
  writeFile(file("errors.txt"), "old\n");
  run_ = start(dir_, {"s.Tavosetup", "m.Tavomovie"});
  const std::string window = findWindow(run_);
  ASSERT_FALSE(window.empty()) << runReport(run_);
  std::this_thread::sleep_for(700ms);
  ASSERT_TRUE(running(run_));
  EXPECT_EQ(readFile(file("errors.txt")), "");  // emptied at start

  const Image playing = screenshot(window, file("playing.ppm"));
  ASSERT_EQ(playing.width, 500);
  ASSERT_EQ(playing.height, 500);
  // Legend squares: centres (410, 490 - 15q) from the bottom-left, so rows
  // 10 + 15q from the top; the empty species 0 keeps its row.
  EXPECT_TRUE(near(playing.at(410, 10), 0, 221, 0));
  EXPECT_TRUE(near(playing.at(410, 25), 255, 128, 0));
  EXPECT_TRUE(near(playing.at(410, 40), 0, 0, 221));
  EXPECT_TRUE(near(playing.at(406, 6), 0, 221, 0));  // 10 x 10 square
  EXPECT_TRUE(near(playing.at(400, 10), 0, 0, 0));
  // The fixed blue cluster stands where the projection puts (0, 1, 0).
  double cx, cy, px, py;
  const double top[3] = {0, 1, 0};
  project(top, px, py);
  ASSERT_TRUE(centroid(playing, 0, 0, 221, cx, cy));
  EXPECT_NEAR(cx, px, 2.0);
  EXPECT_NEAR(cy, py, 2.0);
  EXPECT_GE(shownStep(playing), 0) << "moving cluster not where any step puts it";

  sendKey(window, "p");
  std::this_thread::sleep_for(400ms);
  const Image paused1 = screenshot(window, file("paused1.ppm"));
  std::this_thread::sleep_for(400ms);
  const Image paused2 = screenshot(window, file("paused2.ppm"));
  EXPECT_TRUE(sameScene(paused1, paused2)) << "picture changed while paused";
  const int step = shownStep(paused1);
  ASSERT_GE(step, 0);
  for (int press = 1; press <= kSteps; ++press) {  // n advances one step, wrapping
    sendKey(window, "n");
    std::this_thread::sleep_for(300ms);
    const Image next = screenshot(window, file("next.ppm"));
    EXPECT_EQ(shownStep(next), (step + press) % kSteps) << "after " << press << " presses";
  }
  EXPECT_TRUE(running(run_));
  sendKey(window, "Escape");
  EXPECT_EQ(waitExit(run_, 10s), 0);
  EXPECT_EQ(readFile(file("errors.txt")), "");
}

// ---------------------------------------------------------------------------
// Sustained playback (label soak)
// ---------------------------------------------------------------------------

TEST_F(ViewerWindow, SoakHundredThousandMoleculesForAMinute) {
  // 3 species of 33334 molecules, 4 steps, positions spread over a sphere.
  constexpr int kPerSpecies = 33334;
  writeFile(file("s.Tavosetup"), setupText("A B C", kPerSpecies, 4));
  ASSERT_TRUE(tavo::test::writeSpreadMovie(file("m.Tavomovie"), kPerSpecies, 4));
  run_ = start(dir_, {"s.Tavosetup", "m.Tavomovie"});
  const std::string window = findWindow(run_);
  ASSERT_FALSE(window.empty()) << runReport(run_);
  std::vector<long> samples;
  for (int second = 0; second < 60; ++second) {
    std::this_thread::sleep_for(1s);
    ASSERT_TRUE(running(run_)) << "viewer ended after " << second
                               << " s: " << readFile(file("errors.txt"));
    samples.push_back(tavo::test::rssKilobytes(run_.pid));
  }
  // After a 10 s warm-up the resident size stays within 4 MB.
  const long range = tavo::test::sampleRange(samples, 10);
  std::printf("RSS after 10 s: %ld kB, at 60 s: %ld kB, range %ld kB\n", samples[10],
              samples.back(), range);
  EXPECT_LT(range, 4096);
  EXPECT_EQ(readFile(file("errors.txt")), "");
  sendKey(window, "Escape");
  EXPECT_EQ(waitExit(run_, 20s), 0);
}

}  // namespace
