// Tests of the Tavomovie program as a user meets it: command line, exit
// statuses, the error log, and the window itself under an X server (run by
// CTest inside xvfb-run). Screenshots are taken with ImageMagick's import and
// keys are sent with xdotool.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "testSupport.h"

namespace {

using tavo::test::readFile;
using tavo::test::writeFile;
using namespace std::chrono_literals;

const std::string kUsage =
    "\n\tPlease pass in correct parameters:\n\t\tTavomovie.exe setup1.Tavosetup "
    "movie1.Tavomovie\n\n";

// ---------------------------------------------------------------------------
// Processes
// ---------------------------------------------------------------------------

struct Process {
  pid_t pid = -1;
  std::string dir;
};

// Starts Tavomovie in `dir` with `args`; stdout and stderr go to files there.
Process start(const std::string& dir, const std::vector<std::string>& args, bool display = true) {
  mkdir(dir.c_str(), 0755);
  Process run{fork(), dir};
  if (run.pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(126);
    const int out = open("stdout.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    dup2(err, 2);
    if (!display) unsetenv("DISPLAY");
    std::vector<char*> argv{const_cast<char*>(TAVOMOVIE_PATH)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return run;
}

// Exit status, or -1 (after killing it) if the process did not end in time.
int waitExit(Process& run, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  int status = 0;
  while (std::chrono::steady_clock::now() < end) {
    if (waitpid(run.pid, &status, WNOHANG) == run.pid) {
      run.pid = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::this_thread::sleep_for(20ms);
  }
  kill(run.pid, SIGKILL);
  waitpid(run.pid, &status, 0);
  run.pid = -1;
  return -1;
}

bool running(const Process& run) { return run.pid > 0 && waitpid(run.pid, nullptr, WNOHANG) == 0; }

std::string shell(const std::string& command) {
  std::string out;
  if (std::FILE* p = popen(command.c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, p)) out += buffer;
    pclose(p);
  }
  return out;
}

// True once the process has ended; it is left to be reaped by waitExit()
// or the fixture, so its pid stays valid.
bool ended(const Process& run) {
  siginfo_t info{};
  return run.pid > 0 &&
         waitid(P_PID, static_cast<id_t>(run.pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == run.pid;
}

// The viewer's window id, waiting for it to appear; "" if the viewer ends
// first. Waits up to a minute: on a loaded machine the software renderer can
// be slow to bring the first window up.
std::string findWindow(const Process& run) {
  for (int i = 0; i < 1200 && !ended(run); ++i) {
    std::string id = shell("xdotool search --name '^Reaction Movie$' 2>/dev/null | head -n 1");
    while (!id.empty() && (id.back() == '\n' || id.back() == ' ')) id.pop_back();
    if (!id.empty()) return id;
    std::this_thread::sleep_for(50ms);
  }
  return "";
}

// What a run left behind, for the message of a failed test.
std::string runReport(const Process& run) {
  return std::string(ended(run) ? "the viewer has ended" : "the viewer is still running") +
         "\nstdout: " + readFile(run.dir + "/stdout.txt") +
         "\nstderr: " + readFile(run.dir + "/stderr.txt") +
         "\nerrors.txt: " + readFile(run.dir + "/errors.txt");
}

void sendKey(const std::string& window, const std::string& key) {
  shell("xdotool key --window " + window + " " + key + " >/dev/null 2>&1");
}

// ---------------------------------------------------------------------------
// Screenshots
// ---------------------------------------------------------------------------

struct Rgb {
  int r, g, b;
};

struct Image {
  int width = 0, height = 0;
  std::vector<unsigned char> data;
  Rgb at(int x, int y) const {  // x from the left, y from the top
    const std::size_t i = (static_cast<std::size_t>(y) * width + x) * 3;
    return Rgb{data[i], data[i + 1], data[i + 2]};
  }
};

Image screenshot(const std::string& window, const std::string& path) {
  shell("import -window " + window + " -depth 8 ppm:" + path + " 2>/dev/null");
  Image image;
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  int maxValue = 0;
  in >> magic >> image.width >> image.height >> maxValue;
  in.get();
  if (magic != "P6" || maxValue != 255) return Image{};
  image.data.resize(static_cast<std::size_t>(image.width) * image.height * 3);
  in.read(reinterpret_cast<char*>(image.data.data()), static_cast<long>(image.data.size()));
  return image;
}

bool near(Rgb c, int r, int g, int b, int tolerance = 3) {
  return std::abs(c.r - r) <= tolerance && std::abs(c.g - g) <= tolerance &&
         std::abs(c.b - b) <= tolerance;
}

// Where the start camera (theta 1, phi 1, radius 15, 45 degrees, 500 x 500)
// puts the scene point p, in image pixels from the top-left corner.
void project(const double p[3], double& px, double& py) {
  const double eye[3] = {std::cos(1.0) * 15 * std::sin(1.0), 15 * std::cos(1.0),
                         std::sin(1.0) * 15 * std::sin(1.0)};
  double f[3] = {-eye[0], -eye[1], -eye[2]};
  const double fl = std::sqrt(f[0] * f[0] + f[1] * f[1] + f[2] * f[2]);
  for (double& v : f) v /= fl;
  double s[3] = {-f[2], 0, f[0]};  // f x (0, 1, 0)
  const double sl = std::hypot(s[0], s[2]);
  s[0] /= sl;
  s[2] /= sl;
  const double u[3] = {s[1] * f[2] - s[2] * f[1], s[2] * f[0] - s[0] * f[2],
                       s[0] * f[1] - s[1] * f[0]};
  const double d[3] = {p[0] - eye[0], p[1] - eye[1], p[2] - eye[2]};
  const double depth = d[0] * f[0] + d[1] * f[1] + d[2] * f[2];
  const double cot = 1.0 / std::tan(22.5 * 3.141592653589793 / 180.0);
  const double nx = (d[0] * s[0] + d[1] * s[1] + d[2] * s[2]) * cot / depth;
  const double ny = (d[0] * u[0] + d[1] * u[1] + d[2] * u[2]) * cot / depth;
  px = (nx + 1) / 2 * 500;
  py = 500 - (ny + 1) / 2 * 500;
}

// Centre of the pixels of one colour in the scene (the legend corner left out).
bool centroid(const Image& image, int r, int g, int b, double& cx, double& cy) {
  double sx = 0, sy = 0;
  int n = 0;
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x) {
      if (x > 380 && y < 70) continue;
      if (near(image.at(x, y), r, g, b, 12)) {
        sx += x;
        sy += y;
        ++n;
      }
    }
  if (n < 5) return false;
  cx = sx / n;
  cy = sy / n;
  return true;
}

// ---------------------------------------------------------------------------
// Data
// ---------------------------------------------------------------------------

std::string setupText(const std::string& names, int slots, int totalStep) {
  std::string text = "N_species 3\n";
  const char* sep = names.c_str();
  for (int s = 0; s < 3; ++s) {
    const char* end = std::strchr(sep, ' ');
    const std::string name = end ? std::string(sep, end) : std::string(sep);
    sep = end ? end + 1 : sep;
    text += "specie " + name + " " + std::to_string(s) + " 1.0 1.0e-9 1.0e-12 " +
            std::to_string(slots) + " 0 0\n";
  }
  return text +
         "N_fwd 0 ;\nN_rev 0 ;\nrev_max_mol 0 ;\ntemperature(K) 300.0\nviscosity 1.0\n"
         "pH 7.0\ntotal_step " +
         std::to_string(totalStep) + "\ntime_step(s) 1.0e-6\n";
}

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
  char buffer[128];
  for (int k = 0; k < kSteps; ++k) {
    double c[3];
    clusterCentre(k, c);
    text += "step " + std::to_string(k) + "\nspecie 0\nalive 0\n\nspecie 1\nalive 49\n";
    for (int i = 0; i < 49; ++i) {  // a 7 x 7 grid, 0.02 scene units apart, in the x-y plane
      std::snprintf(buffer, sizeof buffer, "%E %E %E ", (c[0] + 0.02 * (i % 7 - 3)) * 1e-6,
                    (c[1] + 0.02 * (i / 7 - 3)) * 1e-6, 0.0);
      text += buffer;
    }
    text += "\nspecie 2\nalive 49\n";
    for (int i = 0; i < 49; ++i) {
      std::snprintf(buffer, sizeof buffer, "%E %E %E ", 0.02 * (i % 7 - 3) * 1e-6, 1e-6,
                    0.02 * (i / 7 - 3) * 1e-6);
      text += buffer;
    }
    text += "\n";
  }
  return text;
}

// The step whose cluster position is nearest the cluster in the picture.
int shownStep(const Image& image) {
  double cx, cy;
  if (!centroid(image, 255, 128, 0, cx, cy)) return -1;
  int best = -1;
  double bestDistance = 1e9;
  for (int k = 0; k < kSteps; ++k) {
    double c[3], px, py;
    clusterCentre(k, c);
    project(c, px, py);
    const double distance = std::hypot(px - cx, py - cy);
    if (distance < bestDistance) {
      bestDistance = distance;
      best = k;
    }
  }
  return bestDistance < 3.0 ? best : -1;
}

// Whether two pictures agree outside the counter line (whose fps changes).
bool sameScene(const Image& a, const Image& b) {
  if (a.width != b.width || a.height != b.height || a.data.empty()) return false;
  for (int y = 0; y < a.height; ++y)
    for (int x = 0; x < a.width; ++x) {
      if (y < 16 && x < 200) continue;
      const Rgb p = a.at(x, y), q = b.at(x, y);
      if (p.r != q.r || p.g != q.g || p.b != q.b) return false;
    }
  return true;
}

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

long rssKilobytes(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

TEST_F(ViewerWindow, SoakHundredThousandMoleculesForAMinute) {
  // 3 species of 33334 molecules, 4 steps, positions spread over a sphere.
  constexpr int kPerSpecies = 33334;
  writeFile(file("s.Tavosetup"), setupText("A B C", kPerSpecies, 4));
  {
    std::FILE* movie = std::fopen(file("m.Tavomovie").c_str(), "w");
    ASSERT_NE(movie, nullptr);
    unsigned seed = 7;
    auto draw = [&seed] {
      seed = seed * 1103515245u + 12345u;
      return static_cast<double>((seed >> 8) & 0xffff) / 65535.0 * 4.0 - 2.0;
    };
    for (int k = 0; k < 4; ++k) {
      std::fprintf(movie, "step %d\n", k);
      for (int s = 0; s < 3; ++s) {
        std::fprintf(movie, "specie %d\nalive %d\n", s, kPerSpecies);
        for (int i = 0; i < kPerSpecies; ++i)
          std::fprintf(movie, "%E %E %E ", draw() * 1e-6, draw() * 1e-6, draw() * 1e-6);
        std::fprintf(movie, "\n");
      }
    }
    std::fclose(movie);
  }
  run_ = start(dir_, {"s.Tavosetup", "m.Tavomovie"});
  const std::string window = findWindow(run_);
  ASSERT_FALSE(window.empty()) << runReport(run_);
  std::vector<long> samples;
  for (int second = 0; second < 60; ++second) {
    std::this_thread::sleep_for(1s);
    ASSERT_TRUE(running(run_)) << "viewer ended after " << second
                               << " s: " << readFile(file("errors.txt"));
    samples.push_back(rssKilobytes(run_.pid));
  }
  // After a 10 s warm-up the resident size stays within 4 MB.
  long low = samples[10], high = samples[10];
  for (std::size_t i = 10; i < samples.size(); ++i) {
    low = std::min(low, samples[i]);
    high = std::max(high, samples[i]);
  }
  std::printf("RSS after 10 s: %ld kB, at 60 s: %ld kB, range %ld kB\n", samples[10],
              samples.back(), high - low);
  EXPECT_LT(high - low, 4096);
  EXPECT_EQ(readFile(file("errors.txt")), "");
  sendKey(window, "Escape");
  EXPECT_EQ(waitExit(run_, 20s), 0);
}

}  // namespace
