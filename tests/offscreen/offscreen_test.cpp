// Tests of the offscreen renderer without a display: output names, picture
// sizes, sphere outlines, region wireframes, and whole render jobs writing
// pictures, sequences and videos.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <string>
#include <vector>

#include "formats/png.h"
#include "geometry/geometry.h"
#include "offscreen/render.h"
#include "testSupport.h"

namespace {

using tavo::test::writeFile;
namespace off = tavo::offscreen;
namespace scene = tavo::scene;

// A setup of `sizes.size()` species of the given diameters (metres).
tavo::Setup setupOf(const std::vector<double>& sizes) {
  tavo::Setup s;
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    tavo::Species sp;
    sp.id = static_cast<int>(i);
    sp.name = "S" + std::to_string(i);
    sp.size = sizes[i];
    s.species.push_back(sp);
  }
  s.timeStep = 1e-6;
  return s;
}

struct Picture {
  int width, height;
  std::vector<std::uint8_t> rgb;
  bool lit(int x, int y) const {  // x from the left, y from the top
    if (x < 0 || y < 0 || x >= width || y >= height) return false;
    const std::size_t i = (static_cast<std::size_t>(y) * width + x) * 3;
    return rgb[i] > 20 || rgb[i + 1] > 20 || rgb[i + 2] > 20;
  }
};

Picture draw(const tavo::Setup& setup, const off::Settings& settings, const tavo::Frame& frame) {
  off::Renderer renderer(setup, settings);
  return Picture{settings.width, settings.height, renderer.draw(frame)};
}

// Width of the lit run through row y that contains column x.
int runWidth(const Picture& p, int x, int y) {
  if (!p.lit(x, y)) return 0;
  int left = x, right = x;
  while (p.lit(left - 1, y)) --left;
  while (p.lit(right + 1, y)) ++right;
  return right - left + 1;
}

// ---------------------------------------------------------------------------
// Output names
// ---------------------------------------------------------------------------

TEST(OutputNames, KindsAndSequenceNumbers) {
  struct Row {
    const char* pattern;
    std::size_t index;
    const char* name;  // "" for a name refused
  };
  const Row rows[] = {
      {"f%05d.png", 7, "f00007.png"},
      {"frames/f%d.png", 123, "frames/f123.png"},
      {"a%%b%3i.png", 5, "a%b  5.png"},
      {"%-4u.png", 12, "12  .png"},
      {"f%05d.mp4", 1, ""},
      {"f%s.png", 1, ""},
      {"f%d%d.png", 1, ""},
      {"f%.3d.png", 1, ""},
      {"picture.jpg", 0, ""},
      {"trailing%", 0, ""},
  };
  for (const Row& row : rows) {
    if (*row.name == '\0') {
      EXPECT_THROW(off::outputKind(row.pattern), off::UsageError) << row.pattern;
      continue;
    }
    EXPECT_EQ(off::outputKind(row.pattern), off::OutputKind::sequence) << row.pattern;
    EXPECT_EQ(off::sequenceName(row.pattern, row.index), row.name);
  }
  EXPECT_EQ(off::outputKind("a.png"), off::OutputKind::picture);
  EXPECT_EQ(off::outputKind("a%%.png"), off::OutputKind::picture);
  EXPECT_EQ(off::outputKind("dir/a.mp4"), off::OutputKind::video);
  EXPECT_EQ(off::outputKind("a.webm"), off::OutputKind::video);
}

// ---------------------------------------------------------------------------
// Pictures
// ---------------------------------------------------------------------------

TEST(Renderer, RefusesSizesItCannotDraw) {
  const tavo::Setup setup = setupOf({1e-6});
  for (auto [w, h] : {std::pair{0, 10}, {10, 0}, {-5, 10}, {10, -1}, {100000, 10}, {10, 16385}}) {
    off::Settings s;
    s.width = w;
    s.height = h;
    EXPECT_THROW(off::Renderer(setup, s), off::UsageError) << w << "x" << h;
  }
}

TEST(Renderer, OverlayTextGrowsWithThePicture) {
  // The step and time lines in the top-left corner stand at least 2% of the
  // picture's height tall at every size, up to 3840 x 2160.
  for (auto [w, h] : {std::pair{500, 500}, {1920, 1080}, {3840, 2160}, {2160, 3840}}) {
    off::Settings s;
    s.width = w;
    s.height = h;
    tavo::Frame frame;
    frame.step = 12345;
    frame.time = 1.2345e-2;
    frame.positions = {{}};
    const Picture p = draw(setupOf({1e-9}), s, frame);
    int rows = 0;
    for (int y = 0; y < h / 6; ++y) {
      bool text = false;
      for (int x = 0; x < w / 4 && !text; ++x)
        text = p.rgb[(static_cast<std::size_t>(y) * w + x) * 3] > 150;
      rows += text;
    }
    EXPECT_GE(rows, std::min(w, h) * 0.02) << w << "x" << h;
    EXPECT_LE(rows, std::min(w, h) * 0.12) << w << "x" << h;
  }
}

TEST(Renderer, SphereOutlineHasTheDiameterOfItsSize) {
  // One molecule at the origin, seen from distance R; its outline must span
  // what the sphere's size gives at that distance, to within a pixel.
  struct Row {
    double diameter;  // metres
    float radius;     // camera distance
    int side;         // picture width and height
  };
  for (const Row& row : {Row{2e-6, 15.0f, 500}, Row{1e-6, 6.0f, 500}, Row{3e-6, 10.0f, 1080},
                         Row{0.4e-6, 4.0f, 300}}) {
    const tavo::Setup setup = setupOf({row.diameter});
    off::Settings s;
    s.width = s.height = row.side;
    s.style = scene::Style::spheres;
    s.overlay = false;
    s.camera = scene::Camera{0.3f, 1.2f, row.radius};
    tavo::Frame frame;
    frame.positions = {{0.0, 0.0, 0.0}};
    const Picture p = draw(setup, s, frame);
    const double expected =
        scene::sphereOutlinePixels(row.diameter * scene::kSceneScale, row.radius, row.side);
    EXPECT_NEAR(runWidth(p, row.side / 2, row.side / 2), expected, 1.0)
        << row.diameter << " m at " << row.radius;
  }
}

TEST(Renderer, RegionWireframesLieWhereTheRegionsAre) {
  // Camera on the +z axis at distance 15, looking at the origin with +y up:
  // a line at depth D and height (or side) a appears f a / D pixels from the
  // picture's centre.
  constexpr int kSide = 400;
  const double f = scene::focalPixels(kSide);
  struct Row {
    int type;
    std::vector<double> numbers;  // after the centre (0, 0, 0)
    double offset;                // expected pixels from the centre, along x
    double rowOffset;             // and along y, downward
  };
  const Row rows[] = {
      // Sphere of radius 2: its x-y great circle, in the plane at depth 15.
      {REGION_SPHERE, {2e-6}, f * 2 / 15, 0},
      // Box 4 x 2 x 6: its front face at depth 12, right edge x = 2.
      {REGION_BOX, {4e-6, 2e-6, 6e-6}, f * 2 / 12, 0},
      // Cylinder along x, radius 1, length 6: its top line y = 1 at depth 15.
      {REGION_CYLINDER, {1e-6, 6e-6}, 0, -f * 1 / 15},
  };
  for (const Row& row : rows) {
    off::Settings s;
    s.width = s.height = kSide;
    s.overlay = false;
    s.camera = scene::Camera{static_cast<float>(std::numbers::pi / 2),
                             static_cast<float>(std::numbers::pi / 2), 15.0f};
    scene::RegionShape region;
    region.type = row.type;
    for (std::size_t k = 0; k < row.numbers.size(); ++k) region.params[3 + k] = row.numbers[k];
    s.regions = {region};
    tavo::Frame frame;
    frame.positions = {{}};
    const Picture p = draw(setupOf({1e-9}), s, frame);
    const int x = static_cast<int>(std::lround(kSide / 2.0 + row.offset));
    const int y = static_cast<int>(std::lround(kSide / 2.0 + row.rowOffset));
    // The line crosses the probe point or a pixel beside it; the axis cross
    // (dark grey) is not lit by the threshold.
    bool found = false;
    for (int d = -1; d <= 1 && !found; ++d)
      found = row.rowOffset == 0 ? p.lit(x + d, y + 3) : p.lit(x + 3, y + d);
    EXPECT_TRUE(found) << "region type " << row.type;
    EXPECT_FALSE(p.lit(x + 6, y + 3) && p.lit(x + 3, y + 6)) << "region type " << row.type;
  }
}

// ---------------------------------------------------------------------------
// Render jobs
// ---------------------------------------------------------------------------

class RenderJob : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string setup =
        "N_species 2\nspecie A 0 1.0 1.0e-7 1.0e-12 3 3 0\nspecie B 1 1.0 2.0e-7 1.0e-12 3 3 0\n"
        "N_fwd 0 ;\nN_rev 0 ;\nrev_max_mol 0 ;\ntemperature(K) 300.0\nviscosity 1.0\n"
        "pH 7.0\ntotal_step 6\ntime_step(s) 1.0e-6\n";
    std::string movie;
    for (int k = 0; k < 6; ++k)
      movie += "step " + std::to_string(k) +
               "\nspecie 0\nalive 3\n1E-6 0 0 0 1E-6 0 0 0 1E-6 \nspecie 1\nalive 1\n" +
               std::to_string(0.1 * k) + "E-6 0 0 \n";
    writeFile("s.Tavosetup", setup);
    writeFile("m.Tavomovie", movie);
    movie_ = std::make_unique<tavo::Movie>("s.Tavosetup", "m.Tavomovie");
    settings_.width = 64;
    settings_.height = 48;
  }
  std::unique_ptr<tavo::Movie> movie_;
  off::Settings settings_;
};

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

TEST_F(RenderJob, SequencePartsCombineIntoOneNumberedSequence) {
  mkdir("seq", 0755);
  std::size_t calls = 0;
  off::render(*movie_, {0, 2, 4}, "seq/f%03d.png", settings_, 25, [&](std::size_t) { ++calls; });
  off::render(*movie_, {5, 3, 1}, "seq/f%03d.png", settings_, 25, nullptr);
  EXPECT_EQ(calls, 3u);
  for (int k = 0; k < 6; ++k) {
    int w = 0, h = 0;
    char name[32];
    std::snprintf(name, sizeof name, "seq/f%03d.png", k);
    ASSERT_TRUE(exists(name)) << name;
    tavo::formats::readPng(name, w, h);
    EXPECT_EQ(w, 64);
    EXPECT_EQ(h, 48);
  }
  EXPECT_FALSE(exists("seq/f006.png"));
}

TEST_F(RenderJob, OnePictureHoldsOneFrame) {
  std::remove("one.png");  // left by an earlier run
  EXPECT_THROW(off::render(*movie_, {0, 1}, "one.png", settings_, 25, nullptr), off::UsageError);
  EXPECT_FALSE(exists("one.png"));
  off::render(*movie_, {3}, "one.png", settings_, 25, nullptr);
  int w = 0, h = 0;
  tavo::formats::readPng("one.png", w, h);
  EXPECT_EQ(w * 1000 + h, 64 * 1000 + 48);
}

std::string command(const std::string& line) {
  std::string out;
  if (std::FILE* p = popen(line.c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, p)) out += buffer;
    pclose(p);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

TEST_F(RenderJob, VideosHoldEverySelectedFrame) {
  if (command("command -v ffprobe").empty()) GTEST_SKIP() << "ffprobe (Debian ffmpeg) missing";
  for (const char* name : {"v.mp4", "v.webm"}) {
    off::render(*movie_, {0, 1, 2, 3, 4}, name, settings_, 10, nullptr);
    EXPECT_EQ(command(std::string("ffprobe -v error -count_frames -select_streams v:0 "
                                  "-show_entries stream=nb_read_frames -of csv=p=0 ") +
                      name),
              "5")
        << name;
  }
}

TEST_F(RenderJob, FailuresRemoveThePartialFileAndNameTheFrame) {
  // An encoder that takes a little input and dies, and one that is missing.
  mkdir("bin", 0755);
  writeFile("bin/ffmpeg", "#!/bin/sh\nhead -c 100 >/dev/null\necho 'broken encoder' >&2\nexit 3\n");
  chmod("bin/ffmpeg", 0755);
  const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
  char* cwd = getcwd(nullptr, 0);
  setenv("PATH", (std::string(cwd) + "/bin").c_str(), 1);
  std::free(cwd);
  try {
    off::render(*movie_, {0, 1, 2, 3, 4, 5}, "early.mp4", settings_, 25, nullptr);
    ADD_FAILURE() << "an encoder that ended early went unnoticed";
  } catch (const tavo::Error& e) {
    const std::string message = e.what();
    EXPECT_NE(message.find("frame "), std::string::npos) << message;
    EXPECT_NE(message.find("broken encoder"), std::string::npos) << message;
  }
  setenv("PATH", "/nonexistent", 1);
  try {
    off::render(*movie_, {0}, "none.mp4", settings_, 25, nullptr);
    ADD_FAILURE() << "a missing ffmpeg went unnoticed";
  } catch (const tavo::Error& e) {
    EXPECT_NE(std::string(e.what()).find("Debian package ffmpeg"), std::string::npos);
  }
  setenv("PATH", path.c_str(), 1);
  EXPECT_FALSE(exists("early.mp4"));
  EXPECT_FALSE(exists("none.mp4"));
  EXPECT_EQ(command("ls -A | grep -c tmp"), "0");  // no scratch file left
  // A full disk is a failed picture, not a short one.
  EXPECT_THROW(tavo::formats::writePng("/dev/full", 64, 48, std::vector<std::uint8_t>(64 * 48 * 3)),
               tavo::Error);
  // A sequence into a folder that is missing makes it.
  off::render(*movie_, {2, 3}, "missing/f%d.png", settings_, 25, nullptr);
  EXPECT_TRUE(exists("missing/f3.png"));
}

}  // namespace
