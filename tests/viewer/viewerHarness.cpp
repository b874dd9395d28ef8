// viewerHarness.cpp - drives the viewer's drawing in a real GLUT window (run
// under xvfb-run) for two jobs that a user-level test cannot do:
//
//   viewerHarness identity
//     draws the same molecules one begin/end pair per molecule and batched
//     in vertex arrays, at several point sizes, reads both pictures back and
//     fails unless every pixel is the same.
//   viewerHarness fps MOLECULES SECONDS
//     writes a movie of MOLECULES molecules (3 species, 3 steps) with the
//     library's writer, plays it as the viewer does and prints frames per
//     second with the time per frame spent reading the movie and drawing.
#include <GL/glut.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "datastore/dataFetcher.h"
#include "scratchFolder.h"
#include "viewer/glutCommon.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Job {
  std::string mode;
  int molecules = 0;
  double seconds = 0;
  std::string movie;
};
Job g_job;

double msSince(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

void writeSetup(const char* path, int perSpecies, int totalStepCount) {
  std::FILE* f = std::fopen(path, "w");
  if (f == nullptr) std::exit(3);
  std::fprintf(f, "N_species 3\n");
  for (int s = 0; s < 3; ++s)
    std::fprintf(f, "specie S%d %d 1.0 1.0e-9 1.0e-12 %d %d 0\n", s, s, perSpecies, perSpecies);
  std::fprintf(f,
               "N_fwd 0 ;\nN_rev 0 ;\nrev_max_mol 0 ;\ntemperature(K) 300.0\nviscosity 1.0\n"
               "pH 7.0\ntotal_step %d\ntime_step(s) 1.0e-6\n",
               totalStepCount);
  std::fclose(f);
}

// Every live molecule somewhere in a cube of +-2 scene units.
void scatter(unsigned seed) {
  std::mt19937 engine(seed);
  std::uniform_real_distribution<double> u(-2e-6, 2e-6);
  for (int s = 0; s < numSpecies(); ++s)
    for (int i = 0; i < speciePopulation(s); ++i)
      if (alive(s, i)) setPosition(s, i, u(engine), u(engine), u(engine));
}

std::vector<unsigned char> readBack() {
  const int w = tavo::viewer::state().WINDOW_SIZE_X, h = tavo::viewer::state().WINDOW_SIZE_Y;
  std::vector<unsigned char> pixels(static_cast<std::size_t>(w) * h * 4);
  glFinish();
  glReadBuffer(GL_BACK);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
  return pixels;
}

void identity() {
  // Some dead slots in between, so the batched path must skip them too.
  for (int s = 0; s < numSpecies(); ++s)
    for (int i = 0; i < speciePopulation(s); i += 7) setAlive(s, i, false);
  int failures = 0;
  for (float radius : {15.0f, 6.0f, 2.0f, 0.0f}) {
    tavo::viewer::state().radius = radius;
    perspective();
    glClear(GL_COLOR_BUFFER_BIT);
    glPointSize(tavo::viewer::moleculePointSize(radius));
    drawMolecules_immediate();
    const std::vector<unsigned char> one = readBack();
    glClear(GL_COLOR_BUFFER_BIT);
    glPointSize(tavo::viewer::moleculePointSize(radius));
    drawMolecules_batched();
    const std::vector<unsigned char> batch = readBack();
    std::size_t lit = 0, differing = 0;
    for (std::size_t i = 0; i < one.size(); i += 4) {
      if (one[i] || one[i + 1] || one[i + 2]) ++lit;
      if (std::memcmp(&one[i], &batch[i], 4) != 0) ++differing;
    }
    std::printf("radius %5.1f: %zu lit pixels, %zu differ\n", double{radius}, lit, differing);
    if (differing != 0 || lit < 1000) ++failures;
  }
  std::exit(failures == 0 ? 0 : 1);
}

void fps() {
  // One unmeasured frame first: the scratch buffers and the driver warm up.
  drawFrameStart();
  updateObjectProperties();
  drawFrameRest();
  glFinish();
  double readMs = 0, drawMs = 0;
  int frames = 0;
  const auto begin = Clock::now();
  while (msSince(begin) < g_job.seconds * 1000.0 || frames < 3) {
    auto t = Clock::now();
    drawFrameStart();
    drawMs += msSince(t);
    t = Clock::now();
    updateObjectProperties();
    readMs += msSince(t);
    t = Clock::now();
    drawFrameRest();
    glFinish();
    drawMs += msSince(t);
    ++frames;
  }
  const double total = msSince(begin);
  // The molecules alone, both ways, on the step now in the store; one
  // unmeasured round first, since the rasteriser compiles code per state.
  double batchedMs = 0, immediateMs = 0;
  glPointSize(tavo::viewer::moleculePointSize(tavo::viewer::state().radius));
  drawMolecules_batched();
  drawMolecules_immediate();
  glFinish();
  for (int i = 0; i < 3; ++i) {
    auto t = Clock::now();
    drawMolecules_batched();
    glFinish();
    batchedMs += msSince(t);
    t = Clock::now();
    drawMolecules_immediate();
    glFinish();
    immediateMs += msSince(t);
  }
  std::printf(
      "molecules %d: %d frames in %.1f s, %.2f fps; per frame: read %.2f ms, draw %.2f ms; "
      "molecules alone: batched %.2f ms, one begin/end each %.2f ms\n",
      totalAlivePopulation(), frames, total / 1000.0, frames * 1000.0 / total, readMs / frames,
      drawMs / frames, batchedMs / 3, immediateMs / 3);
  std::remove(g_job.movie.c_str());
  std::exit(0);
}

void display() {
  if (g_job.mode == "identity") identity();
  fps();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2) g_job.mode = argv[1];
  if (!tavo::test::enterScratchFolder("tavo-viewer-harness")) return 3;
  if (g_job.mode == "identity" && argc == 2) {
    writeSetup("harness.Tavosetup", 3000, 1);
    initDataStructure_fromFile("harness.Tavosetup");
    scatter(11);
  } else if (g_job.mode == "fps" && argc == 4) {
    g_job.molecules = std::atoi(argv[2]);
    g_job.seconds = std::atof(argv[3]);
    const int perSpecies = (g_job.molecules + 2) / 3;
    g_job.movie = "harness_fps.Tavomovie";
    writeSetup("harness.Tavosetup", perSpecies, 3);
    initDataStructure_fromFile("harness.Tavosetup");
    std::remove(g_job.movie.c_str());
    for (int step = 0; step < 3; ++step) {
      scatter(static_cast<unsigned>(step + 1));
      createMovie_toFile(g_job.movie.c_str(), step);
    }
    initObjectProperties(g_job.movie.c_str());
  } else {
    std::fputs("usage: viewerHarness identity | viewerHarness fps MOLECULES SECONDS\n", stderr);
    return 2;
  }
  glutInit(&argc, argv);
  glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE | GLUT_DEPTH);
  glutInitWindowPosition(100, 100);
  glutInitWindowSize(500, 500);
  glutCreateWindow("Reaction Movie harness");
  initVariable();
  glutReshapeFunc(changeSize);
  glutDisplayFunc(display);
  glutMainLoop();
  return 0;
}
