// The offscreen renderer's points picture against the viewer's window: with
// the overlay off, every pixel outside the viewer's text and legend is the
// same, at the start camera and after the camera has been moved with keys.
// Run under xvfb-run; the renderer itself uses no display.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "offscreen/render.h"
#include "testSupport.h"
#include "windowSupport.h"

namespace {

using namespace std::chrono_literals;
using namespace tavo::test;

// A movie whose steps all hold the same molecules: three species spread
// over a cube of +-2 scene units, so the step shown does not matter.
void writeData() {
  std::string setup = "N_species 3\n";
  for (int s = 0; s < 3; ++s)
    setup += "specie S" + std::to_string(s) + " " + std::to_string(s) +
             " 1.0 1.0e-9 1.0e-12 400 400 0\n";
  setup +=
      "N_fwd 0 ;\nN_rev 0 ;\nrev_max_mol 0 ;\ntemperature(K) 300.0\nviscosity 1.0\npH 7.0\n"
      "total_step 4\ntime_step(s) 1.0e-6\n";
  std::string frame;
  unsigned seed = 5;
  char number[32];
  for (int s = 0; s < 3; ++s) {
    frame += "specie " + std::to_string(s) + "\nalive 400\n";
    for (int i = 0; i < 1200; ++i) {
      seed = seed * 1103515245u + 12345u;
      std::snprintf(number, sizeof number, "%E ", ((seed >> 8) % 40001 / 10000.0 - 2.0) * 1e-6);
      frame += number;
    }
    frame += "\n";
  }
  std::string movie;
  for (int k = 0; k < 4; ++k) movie += "step " + std::to_string(k) + "\n" + frame;
  writeFile("eq.Tavosetup", setup);
  writeFile("eq.Tavomovie", movie);
}

// Pixels that differ, leaving out the viewer's text (white, and the grey
// 0.7 (178) of the banner, help and counter lines: bitmap text has no other
// shades) and its legend swatches in the top-right corner.
int differences(const Image& window, const std::vector<std::uint8_t>& render) {
  const int width = window.width, height = window.height;
  int count = 0;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const unsigned char* a = &window.data[(static_cast<std::size_t>(y) * width + x) * 3];
      const std::uint8_t* b = &render[(static_cast<std::size_t>(y) * width + x) * 3];
      const bool text = (a[0] == 255 && a[1] == 255 && a[2] == 255) ||
                        (a[0] == 178 && a[1] == 178 && a[2] == 178);
      const bool legend = x >= width - 100 && y < 60;
      if (!text && !legend && (a[0] != b[0] || a[1] != b[1] || a[2] != b[2])) ++count;
    }
  return count;
}

TEST(RenderEquality, PointsMatchTheViewerOutsideItsText) {
  ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run under xvfb-run";
  writeData();
  shell("xdotool mousemove 1020 760 >/dev/null 2>&1");  // passive motion turns the camera
  const Process viewer = start(TAVOMOVIE_PATH, ".", {"eq.Tavosetup", "eq.Tavomovie"});
  const std::string window = findWindow(viewer, "^Reaction Movie$");
  ASSERT_FALSE(window.empty());

  tavo::Movie movie("eq.Tavosetup", "eq.Tavomovie");
  tavo::Frame frame;
  movie.read(0, frame);
  tavo::offscreen::Settings settings;
  settings.overlay = false;

  // The second camera: three zoom-in presses and forty right-arrow presses,
  // each released, with the viewer's float arithmetic.
  tavo::scene::Camera moved;
  for (int press = 0; press < 3; ++press) moved.radius -= 0.01f + 0.05f;
  for (int press = 0; press < 40; ++press) moved.theta += 0.001f + 0.005f;

  for (int round = 0; round < 2; ++round) {
    if (round == 1) {
      for (int press = 0; press < 3; ++press) sendKey(window, "a");
      for (int press = 0; press < 40; ++press) sendKey(window, "Right");
      settings.camera = moved;
    }
    std::this_thread::sleep_for(800ms);
    const Image shot = screenshot(window, "shot.ppm");
    ASSERT_EQ(shot.width, 500);
    ASSERT_EQ(shot.height, 500);
    tavo::offscreen::Renderer renderer(movie.setup(), settings);
    const std::vector<std::uint8_t>& picture = renderer.draw(frame);
    int lit = 0;
    for (std::size_t i = 0; i < picture.size(); i += 3) lit += picture[i] + picture[i + 1] > 60;
    EXPECT_GT(lit, 500) << "camera " << round;
    EXPECT_EQ(differences(shot, picture), 0) << "camera " << round;
  }
  kill(viewer.pid, SIGKILL);
  waitpid(viewer.pid, nullptr, 0);
}

}  // namespace
