// windowSupport.h - helpers of the window tests, which run a program with a
// window in an X server started by CTest (xvfb-run): processes, keys and
// clicks sent with xdotool, screenshots taken with ImageMagick's import,
// where the start camera puts a scene point, and movies of clusters whose
// place on screen tells the frame shown.
#ifndef TAVO_TESTS_WINDOWSUPPORT_H
#define TAVO_TESTS_WINDOWSUPPORT_H

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "movieText.h"
#include "testSupport.h"

namespace tavo::test {

// ---------------------------------------------------------------------------
// Processes
// ---------------------------------------------------------------------------

struct Process {
  pid_t pid = -1;
  std::string dir;
};

// Starts `program` in `dir` with `args`; stdout and stderr go to files there.
inline Process start(const std::string& program, const std::string& dir,
                     const std::vector<std::string>& args, bool display = true) {
  mkdir(dir.c_str(), 0755);
  Process run{fork(), dir};
  if (run.pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(126);
    const int out = open("stdout.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    dup2(err, 2);
    if (!display) unsetenv("DISPLAY");
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return run;
}

// Exit status, or -1 (after killing it) if the process did not end in time.
inline int waitExit(Process& run, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  int status = 0;
  while (std::chrono::steady_clock::now() < end) {
    if (waitpid(run.pid, &status, WNOHANG) == run.pid) {
      run.pid = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(run.pid, SIGKILL);
  waitpid(run.pid, &status, 0);
  run.pid = -1;
  return -1;
}

inline bool running(const Process& run) {
  return run.pid > 0 && waitpid(run.pid, nullptr, WNOHANG) == 0;
}

// True once the process has ended; it is left to be reaped by waitExit()
// or the fixture, so its pid stays valid.
inline bool ended(const Process& run) {
  siginfo_t info{};
  return run.pid > 0 &&
         waitid(P_PID, static_cast<id_t>(run.pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == run.pid;
}

inline std::string shell(const std::string& command) {
  std::string out;
  if (std::FILE* p = popen(command.c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, p)) out += buffer;
    pclose(p);
  }
  return out;
}

// The id of the window whose title matches the regular expression `title`,
// waiting for it to appear; "" if the program ends first. Waits up to a
// minute: on a loaded machine the software renderer can be slow to bring
// the first window up.
inline std::string findWindow(const Process& run, const std::string& title) {
  for (int i = 0; i < 1200 && !ended(run); ++i) {
    std::string id = shell("xdotool search --name '" + title + "' 2>/dev/null | head -n 1");
    while (!id.empty() && (id.back() == '\n' || id.back() == ' ')) id.pop_back();
    if (!id.empty()) return id;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return "";
}

// What a run left behind, for the message of a failed test.
inline std::string runReport(const Process& run) {
  return std::string(ended(run) ? "the program has ended" : "the program is still running") +
         "\nstdout: " + readFile(run.dir + "/stdout.txt") +
         "\nstderr: " + readFile(run.dir + "/stderr.txt") +
         "\nerrors.txt: " + readFile(run.dir + "/errors.txt");
}

inline void sendKey(const std::string& window, const std::string& key) {
  shell("xdotool key --window " + window + " " + key + " >/dev/null 2>&1");
}

// A left click at window pixel (x, y), from the top-left corner.
inline void click(const std::string& window, int x, int y) {
  shell("xdotool mousemove --window " + window + " " + std::to_string(x) + " " + std::to_string(y) +
        " click 1 >/dev/null 2>&1");
}

// ---------------------------------------------------------------------------
// Screenshots
// ---------------------------------------------------------------------------

struct Rgb {
  int r, g, b;
};

struct Image {
  int width = 0, height = 0;
  std::vector<unsigned char> data;  // RGB rows, top row first
  Rgb at(int x, int y) const {      // x from the left, y from the top
    const std::size_t i = (static_cast<std::size_t>(y) * width + x) * 3;
    return Rgb{data[i], data[i + 1], data[i + 2]};
  }
};

inline Image screenshot(const std::string& window, const std::string& path) {
  if (window.empty()) return Image{};  // import would wait for a click
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

inline bool near(Rgb c, int r, int g, int b, int tolerance = 3) {
  return std::abs(c.r - r) <= tolerance && std::abs(c.g - g) <= tolerance &&
         std::abs(c.b - b) <= tolerance;
}

// Whether two pictures agree outside the counter line at the top left
// (whose frame rate changes).
inline bool sameScene(const Image& a, const Image& b) {
  if (a.width != b.width || a.height != b.height || a.data.empty()) return false;
  for (int y = 0; y < a.height; ++y)
    for (int x = 0; x < a.width; ++x) {
      if (y < 16 && x < 200) continue;
      const Rgb p = a.at(x, y), q = b.at(x, y);
      if (p.r != q.r || p.g != q.g || p.b != q.b) return false;
    }
  return true;
}

// Where the start camera (theta 1, phi 1, radius 15, 45 degrees, 500 x 500)
// puts the scene point p, in image pixels from the top-left corner.
inline void project(const double p[3], double& px, double& py) {
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
  const double cot = 1.0 / std::tan(22.5 * std::numbers::pi / 180.0);
  const double nx = (d[0] * s[0] + d[1] * s[1] + d[2] * s[2]) * cot / depth;
  const double ny = (d[0] * u[0] + d[1] * u[1] + d[2] * u[2]) * cot / depth;
  px = (nx + 1) / 2 * 500;
  py = 500 - (ny + 1) / 2 * 500;
}

// Centre of the pixels of one colour in the scene: the legend corner and the
// bottom rows (where a timeline may be) left out.
inline bool centroid(const Image& image, int r, int g, int b, double& cx, double& cy) {
  double sx = 0, sy = 0;
  int n = 0;
  for (int y = 0; y < image.height - 30; ++y)
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
// Cluster movies
// ---------------------------------------------------------------------------

// Which of `count` places the orange cluster stands at, -1 if none is
// within 3 pixels; `place(k, c)` gives place k in scene units.
template <typename Place>
int nearestPlace(const Image& image, int count, Place place) {
  double cx, cy;
  if (!centroid(image, 255, 128, 0, cx, cy)) return -1;
  int best = -1;
  double bestDistance = 1e9;
  for (int k = 0; k < count; ++k) {
    double c[3], px, py;
    place(k, c);
    project(c, px, py);
    const double distance = std::hypot(px - cx, py - cy);
    if (distance < bestDistance) {
      bestDistance = distance;
      best = k;
    }
  }
  return bestDistance < 3.0 ? best : -1;
}

// ---------------------------------------------------------------------------
// Soaks
// ---------------------------------------------------------------------------

inline long rssKilobytes(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

// Highest minus lowest of the samples from `from` on.
inline long sampleRange(const std::vector<long>& samples, std::size_t from) {
  long low = samples.at(from), high = samples.at(from);
  for (std::size_t i = from; i < samples.size(); ++i) {
    low = std::min(low, samples[i]);
    high = std::max(high, samples[i]);
  }
  return high - low;
}

// Median of the samples from `from` up to `to`.
inline long sampleMedian(const std::vector<long>& samples, std::size_t from, std::size_t to) {
  std::vector<long> part(samples.begin() + static_cast<long>(from),
                         samples.begin() + static_cast<long>(to));
  std::nth_element(part.begin(), part.begin() + static_cast<long>(part.size() / 2), part.end());
  return part[part.size() / 2];
}

}  // namespace tavo::test

#endif  // TAVO_TESTS_WINDOWSUPPORT_H
