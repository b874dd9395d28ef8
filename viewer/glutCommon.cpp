// glutCommon.cpp - the viewer's OpenGL and GLUT side: projections, the frame,
// text and the thin GLUT callbacks around the logic of viewerControls.cpp.
#include "viewer/glutCommon.h"

#include <GL/glut.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "datastore/dataFetcher.h"

namespace tavo::viewer {

namespace {

// The one viewer state of the process.
State g_state;

// Scratch for the batched molecule drawing: the scene coordinates of one
// species' live molecules. It keeps its capacity from frame to frame, so
// playback allocates nothing once the largest species has been seen.
struct DrawScratch {
  std::vector<float> vertices;
  std::vector<float> colours;
};
DrawScratch g_scratch;

constexpr double kSceneScale = 1000000.0;  // data-store length unit -> scene units
constexpr char kHelpLine[] = "| Zoom in/out: a / z | Pause/Resume: p | Next step: n |";

void loadView(const State& s) {
  const LookAt v = viewLookAt(s);
  glLoadIdentity();
  gluLookAt(v.eye[0], v.eye[1], v.eye[2], v.centre[0], v.centre[1], v.centre[2], v.up[0], v.up[1],
            v.up[2]);
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

  setOrthographicProjection();
  glPushMatrix();
  glLoadIdentity();

  glColor3f(0.7f, 0.7f, 0.7f);
  renderBitmapString(5, 5, 0, GLUT_BITMAP_HELVETICA_18, "Tavo");
  const PixelPos help = helpLineOrigin(w, h);
  renderBitmapString(static_cast<float>(help.x), static_cast<float>(help.y), 0,
                     GLUT_BITMAP_HELVETICA_10, kHelpLine);
  std::snprintf(buffer, sizeof buffer, "fps:%4.2f     steps:%d", double{s.fps}, readCurrentStep());
  const PixelPos counter = counterLineOrigin(w, h);
  renderBitmapString(static_cast<float>(counter.x), static_cast<float>(counter.y), 0,
                     GLUT_BITMAP_HELVETICA_10, buffer);

  for (int q = 0; q < numSpecies(); ++q) {
    const Colour c = speciesColour(q, numSpecies());
    glColor3f(c.red, c.green, c.blue);
    glPointSize(10);
    const PixelPos square = legendSquareCentre(q, w, h);
    glBegin(GL_POINTS);
    glVertex2f(static_cast<float>(square.x), static_cast<float>(square.y));
    glEnd();
    glColor3f(1, 1, 1);
    name(q, buffer);  // at most 99 characters and the NUL
    const PixelPos label = legendNameOrigin(q, w, h);
    renderBitmapString(static_cast<float>(label.x), static_cast<float>(label.y), 0,
                       GLUT_BITMAP_HELVETICA_10, buffer);
  }

  glPopMatrix();
  resetPerspectiveProjection();
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
  const int usedHeight = tavo::viewer::recordWindowSize(state(), width, height);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glViewport(0, 0, width, usedHeight);
  gluPerspective(45.0, state().ratio, 1.0, 1000.0);
  glMatrixMode(GL_MODELVIEW);
  tavo::viewer::loadView(state());  // the stored camera, not recomputed
}

void setOrthographicProjection() {
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadIdentity();
  gluOrtho2D(0, state().WINDOW_SIZE_X, 0, state().WINDOW_SIZE_Y);
  glMatrixMode(GL_MODELVIEW);
}

void resetPerspectiveProjection() {
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
}

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
      glVertex3f(static_cast<float>(tmpx * tavo::viewer::kSceneScale),
                 static_cast<float>(tmpy * tavo::viewer::kSceneScale),
                 static_cast<float>(tmpz * tavo::viewer::kSceneScale));
      glEnd();
    }
  }
}

void drawMolecules_batched() {
  // Same points, colours and order as drawMolecules_immediate: one species'
  // live molecules in slot order, no depth test. The colour goes with every
  // vertex, as it does in the begin/end pairs; a constant colour for the
  // whole array is rounded differently by some rasterisers (0.5 of orange
  // becomes 127 or 128).
  std::vector<float>& v = tavo::viewer::g_scratch.vertices;
  std::vector<float>& colours = tavo::viewer::g_scratch.colours;
  double tmpx = 0, tmpy = 0, tmpz = 0;
  glEnableClientState(GL_VERTEX_ARRAY);
  glEnableClientState(GL_COLOR_ARRAY);
  for (int s = 0; s < numSpecies(); ++s) {
    v.clear();
    const int slots = speciePopulation(s);
    for (int j = 0; j < slots; ++j) {
      if (!alive(s, j)) continue;
      position(s, j, &tmpx, &tmpy, &tmpz);
      v.push_back(static_cast<float>(tmpx * tavo::viewer::kSceneScale));
      v.push_back(static_cast<float>(tmpy * tavo::viewer::kSceneScale));
      v.push_back(static_cast<float>(tmpz * tavo::viewer::kSceneScale));
    }
    if (v.empty()) continue;
    const tavo::viewer::Colour c = tavo::viewer::speciesColour(s, numSpecies());
    colours.clear();
    for (std::size_t k = 0; k < v.size(); k += 3) {
      colours.push_back(c.red);
      colours.push_back(c.green);
      colours.push_back(c.blue);
    }
    glVertexPointer(3, GL_FLOAT, 0, v.data());
    glColorPointer(3, GL_FLOAT, 0, colours.data());
    glDrawArrays(GL_POINTS, 0, static_cast<GLsizei>(v.size() / 3));
    // Leave the current colour as the begin/end drawing leaves it.
    glColor3f(c.red, c.green, c.blue);
  }
  glDisableClientState(GL_COLOR_ARRAY);
  glDisableClientState(GL_VERTEX_ARRAY);
}

void drawFrameStart() {
  glClear(GL_COLOR_BUFFER_BIT);
  glLineWidth(0.2f);
  glBegin(GL_LINES);
  glColor3f(0.1f, 0.1f, 0.1f);
  glVertex3f(-1.5f, 0, 0);
  glVertex3f(1.5f, 0, 0);
  glVertex3f(0, 1.5f, 0);
  glVertex3f(0, -1.5f, 0);
  glVertex3f(0, 0, 1.5f);
  glVertex3f(0, 0, -1.5f);
  glEnd();
}

void drawFrameRest() {
  tavo::viewer::State& s = state();
  glPointSize(tavo::viewer::moleculePointSize(s.radius));
  drawMolecules_batched();

  glColor3f(1, 1, 1);
  glRasterPos3f(1.5f, 0, 0);
  drawString("x");
  glRasterPos3f(0, 1.5f, 0);
  drawString("y");
  glRasterPos3f(0, 0, 1.5f);
  drawString("z");

  tavo::viewer::countFrame(s, static_cast<float>(glutGet(GLUT_ELAPSED_TIME)));
  // A window of no width or height has no pixels for the overlay, and its
  // orthographic volume would be empty.
  if (s.WINDOW_SIZE_X > 0 && s.WINDOW_SIZE_Y > 0) tavo::viewer::drawOverlay(s);
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
