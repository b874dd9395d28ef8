// glutCommon.cpp - the viewer's GLUT side: the window's projections and
// frame, drawn through the scene module with GLUT's bitmap fonts for text,
// and the thin GLUT callbacks around the logic of viewerControls.cpp.
#include "viewer/glutCommon.h"

#include <GL/glut.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "datastore/dataFetcher.h"
#include "scene/scene.h"

namespace tavo::viewer {

namespace {

// The one viewer state of the process.
State g_state;

// What the window draws with: the step in the data store as a frame, and
// the scene's drawing resources. Both keep their capacity from frame to
// frame, so playback allocates nothing once the largest step has been seen.
struct Drawing {
  Frame frame;
  std::unique_ptr<scene::Scene> scene;
  scene::Overlay overlay;
};
Drawing g_drawing;

constexpr char kHelpLine[] = "| Zoom in/out: a / z | Pause/Resume: p | Next step: n |";

void loadView(const State& s) { scene::loadView(viewLookAt(s)); }

void* glutFont(scene::Font font) {
  return font == scene::Font::banner ? GLUT_BITMAP_HELVETICA_18 : GLUT_BITMAP_HELVETICA_10;
}

// Text in GLUT's bitmap fonts.
class GlutText final : public scene::TextPainter {
 public:
  void text(float x, float y, scene::Font font, const char* text) override {
    renderBitmapString(x, y, 0, glutFont(font), text);
  }
  void textAt(const float p[3], scene::Font /*font*/, const char* text) override {
    glRasterPos3f(p[0], p[1], p[2]);
    drawString(text);
  }
};

// The live molecules of the data store, species by species in slot order.
const Frame& storeFrame() {
  Frame& f = g_drawing.frame;
  const int n = numSpecies();
  f.positions.resize(static_cast<std::size_t>(n));
  double x = 0, y = 0, z = 0;
  for (int s = 0; s < n; ++s) {
    std::vector<double>& p = f.positions[static_cast<std::size_t>(s)];
    p.clear();
    const int slots = speciePopulation(s);
    for (int j = 0; j < slots; ++j) {
      if (!alive(s, j)) continue;
      position(s, j, &x, &y, &z);
      p.insert(p.end(), {x, y, z});
    }
  }
  f.step = readCurrentStep();
  return f;
}

scene::Scene& sceneOfWindow() {
  if (!g_drawing.scene) g_drawing.scene = std::make_unique<scene::Scene>();
  return *g_drawing.scene;
}

// Carries out what an input handler asked for.
void apply(After after) {
  switch (after) {
    case After::nothing:
      break;
    case After::newView:
      perspective();
      break;
    case After::redisplay:
      glutPostRedisplay();
      break;
    case After::viewAndDraw:
      perspective();
      glutPostRedisplay();
      break;
    case After::quit:
      std::exit(0);
  }
}

void drawOverlay(const State& s) {
  const int w = s.WINDOW_SIZE_X;
  const int h = s.WINDOW_SIZE_Y;
  char buffer[120];
  const scene::Colour grey{0.7f, 0.7f, 0.7f};
  const scene::Colour white{1.0f, 1.0f, 1.0f};
  using Item = scene::OverlayItem;

  scene::Overlay& overlay = g_drawing.overlay;
  overlay.clear();
  overlay.push_back(Item{Item::Kind::text, 5, 5, grey, scene::Font::banner, 0, "Tavo"});
  const PixelPos help = helpLineOrigin(w, h);
  overlay.push_back(Item{Item::Kind::text, static_cast<float>(help.x), static_cast<float>(help.y),
                         grey, scene::Font::label, 0, kHelpLine});
  std::snprintf(buffer, sizeof buffer, "fps:%4.2f     steps:%d", double{s.fps}, readCurrentStep());
  const PixelPos counter = counterLineOrigin(w, h);
  overlay.push_back(Item{Item::Kind::text, static_cast<float>(counter.x),
                         static_cast<float>(counter.y), grey, scene::Font::label, 0, buffer});
  for (int q = 0; q < numSpecies(); ++q) {
    const PixelPos square = legendSquareCentre(q, w, h);
    overlay.push_back(Item{Item::Kind::swatch, static_cast<float>(square.x),
                           static_cast<float>(square.y), speciesColour(q, numSpecies()),
                           scene::Font::label, 10, ""});
    name(q, buffer);  // at most 99 characters and the NUL
    const PixelPos label = legendNameOrigin(q, w, h);
    overlay.push_back(Item{Item::Kind::text, static_cast<float>(label.x),
                           static_cast<float>(label.y), white, scene::Font::label, 0, buffer});
  }
  GlutText painter;
  scene::drawOverlay(overlay, w, h, painter);
}

}  // namespace

State& state() { return g_state; }
void resetState() { g_state = State{}; }

}  // namespace tavo::viewer

using tavo::viewer::state;

// ---------------------------------------------------------------------------
// Camera and projections
// ---------------------------------------------------------------------------

void initVariable() {
  tavo::viewer::State& s = state();
  s.lookatpt_x = s.lookatpt_y = s.lookatpt_z = 0.0f;
  s.theta = 1.0f;
  s.phi = 1.0f;
  s.radius = 15.0f;
  tavo::viewer::computeCamera(s);
}

void perspective() {
  tavo::viewer::computeCamera(state());
  tavo::viewer::loadView(state());
}

void changeSize(int width, int height) {
  tavo::viewer::recordWindowSize(state(), width, height);
  tavo::scene::setProjection(width, height);
  tavo::viewer::loadView(state());  // the stored camera, not recomputed
}

void setOrthographicProjection() {
  tavo::scene::pushPixelProjection(state().WINDOW_SIZE_X, state().WINDOW_SIZE_Y);
}

void resetPerspectiveProjection() { tavo::scene::popPixelProjection(); }

// ---------------------------------------------------------------------------
// Drawing
// ---------------------------------------------------------------------------

void drawString(const char* text) {
  // Bytes above 127 reach GLUT as negative codes, which it skips.
  for (const char* c = text; *c != '\0'; ++c)
    glutBitmapCharacter(GLUT_BITMAP_HELVETICA_10, static_cast<signed char>(*c));
}

void renderBitmapString(float x, float y, float spacing, void* font, const char* text) {
  for (const char* c = text; *c != '\0'; ++c) {
    const int code = static_cast<signed char>(*c);
    glRasterPos2f(x, y);
    glutBitmapCharacter(font, code);
    x = (static_cast<float>(glutBitmapWidth(font, code)) + x) + spacing;
  }
}

void drawCube(float centreX, float centreY, float centreZ, float sizeX, float sizeY, float sizeZ,
              float red, float green, float blue, float alpha) {
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glColor4f(red, green, blue, alpha);
  const float x0 = centreX - sizeX / 2, x1 = centreX + sizeX / 2;
  const float y0 = centreY - sizeY / 2, y1 = centreY + sizeY / 2;
  const float z0 = centreZ - sizeZ / 2, z1 = centreZ + sizeZ / 2;
  const float faces[6][4][3] = {
      {{x0, y0, z0}, {x0, y0, z1}, {x0, y1, z1}, {x0, y1, z0}},  // x = x0
      {{x1, y0, z0}, {x1, y0, z1}, {x1, y1, z1}, {x1, y1, z0}},  // x = x1
      {{x0, y0, z0}, {x0, y0, z1}, {x1, y0, z1}, {x1, y0, z0}},  // y = y0
      {{x0, y1, z0}, {x0, y1, z1}, {x1, y1, z1}, {x1, y1, z0}},  // y = y1
      {{x0, y0, z0}, {x0, y1, z0}, {x1, y1, z0}, {x1, y0, z0}},  // z = z0
      {{x0, y0, z1}, {x0, y1, z1}, {x1, y1, z1}, {x1, y0, z1}},  // z = z1
  };
  for (const auto& face : faces) {
    glBegin(GL_QUADS);
    for (const auto& vertex : face) glVertex3f(vertex[0], vertex[1], vertex[2]);
    glEnd();
  }
  glDisable(GL_BLEND);
}

void drawMolecules_immediate() {
  double tmpx = 0, tmpy = 0, tmpz = 0;
  for (int s = 0; s < numSpecies(); ++s) {
    for (int j = 0; j < speciePopulation(s); ++j) {
      if (!alive(s, j)) continue;
      const tavo::viewer::Colour c = tavo::viewer::speciesColour(s, numSpecies());
      glColor3f(c.red, c.green, c.blue);
      position(s, j, &tmpx, &tmpy, &tmpz);
      glBegin(GL_POINTS);
      glVertex3f(static_cast<float>(tmpx * tavo::scene::kSceneScale),
                 static_cast<float>(tmpy * tavo::scene::kSceneScale),
                 static_cast<float>(tmpz * tavo::scene::kSceneScale));
      glEnd();
    }
  }
}

void drawMolecules_batched() {
  // Same points, colours and order as drawMolecules_immediate: one species'
  // live molecules in slot order, no depth test.
  tavo::viewer::sceneOfWindow().drawPoints(tavo::viewer::storeFrame());
}

void drawFrameStart() { tavo::scene::clearAndDrawAxes(); }

void drawFrameRest() {
  tavo::viewer::State& s = state();
  glPointSize(tavo::viewer::moleculePointSize(s.radius));
  drawMolecules_batched();

  tavo::viewer::GlutText painter;
  tavo::scene::drawAxisLetters(painter);

  tavo::viewer::countFrame(s, static_cast<float>(glutGet(GLUT_ELAPSED_TIME)));
  tavo::viewer::drawOverlay(s);
  glutSwapBuffers();
}

void renderScene() {
  drawFrameStart();
  updateObjectProperties();
  drawFrameRest();
}

// ---------------------------------------------------------------------------
// Input and playback callbacks
// ---------------------------------------------------------------------------

void initObjectProperties(const char* moviePath) {
  tavo::viewer::State& s = state();
  s.moviefilename = moviePath;
  s.filePosition = 0;
  s.pause = false;
}

void updateObjectProperties() { tavo::viewer::playbackStep(state()); }

void specialKey(int key, int /*x*/, int /*y*/) {
  tavo::viewer::apply(tavo::viewer::onSpecialKey(state(), key));
}
void specialKeyUp(int /*key*/, int /*x*/, int /*y*/) { tavo::viewer::onSpecialKeyUp(state()); }
void normalKey(unsigned char key, int /*x*/, int /*y*/) {
  tavo::viewer::apply(tavo::viewer::onNormalKey(state(), key));
}
void normalKeyUp(unsigned char /*key*/, int /*x*/, int /*y*/) {
  tavo::viewer::onNormalKeyUp(state());
}
void processMouse(int button, int buttonState, int /*x*/, int /*y*/) {
  tavo::viewer::onMouseButton(state(), button, buttonState);
}
void processMouseActiveMotion(int x, int y) {
  tavo::viewer::apply(tavo::viewer::onActiveMotion(state(), x, y));
}
void processMousePassiveMotion(int x, int y) {
  tavo::viewer::apply(tavo::viewer::onPassiveMotion(state(), x, y));
}
void idle() { glutPostRedisplay(); }

void registerCallbacks() {
  glutSpecialFunc(specialKey);
  glutSpecialUpFunc(specialKeyUp);
  glutKeyboardFunc(normalKey);
  glutKeyboardUpFunc(normalKeyUp);
  glutMouseFunc(processMouse);
  glutMotionFunc(processMouseActiveMotion);
  glutPassiveMotionFunc(processMousePassiveMotion);
  glutDisplayFunc(renderScene);
  glutIdleFunc(idle);
  glutReshapeFunc(changeSize);
}
