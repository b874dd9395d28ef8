// scene.cpp - the OpenGL side of a frame: projections, axis cross, molecules
// as points or sphere impostors, region outlines, axis letters and overlay.
#define GL_GLEXT_PROTOTYPES 1
#include "scene/scene.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <GL/glu.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <numbers>

#include "formats/error.h"
#include "geometry/geometry.h"
#include "scene/figure.h"
#include "scene/raster.h"

namespace tavo::scene {

namespace {

// Sphere impostors. Each molecule is drawn as a screen-facing square just
// large enough to hold its sphere's outline under perspective: a point
// sprite where the outline fits the driver's largest point, else an
// instanced quad. The fragment shader casts the ray of its pixel at the
// sphere, discards a miss, and writes the depth and the shading of the point
// hit, so outlines are exact at any distance and size and spheres cut each
// other where they meet. Sprites cost one vertex a molecule, quads four.

// Half the width, at the centre's distance and across the line of sight, of
// the cone from the eye that touches a sphere: r d / sqrt(d^2 - r^2).
constexpr char kReach[] = R"(
float reach(vec3 c, float r) {
  float d = length(c);
  return r * d / sqrt(d * d - r * r);
}
)";

constexpr char kQuadVertex[] = R"(
layout(location = 0) in vec2 corner;
layout(location = 1) in vec3 centre;
uniform float radius;
flat out vec3 viewCentre;
void main() {
  vec3 c = (gl_ModelViewMatrix * vec4(centre, 1.0)).xyz;
  viewCentre = c;
  float d = length(c);
  if (d <= radius * 1.0001) {  // eye inside the sphere: nothing to draw
    gl_Position = vec4(2.0, 2.0, 2.0, 1.0);
    return;
  }
  vec3 axis = c / d;
  vec3 side = abs(axis.y) < 0.99 ? normalize(cross(axis, vec3(0.0, 1.0, 0.0)))
                                 : normalize(cross(axis, vec3(1.0, 0.0, 0.0)));
  vec3 up = cross(side, axis);
  vec3 p = c + (corner.x * side + corner.y * up) * reach(c, radius) * 1.02;
  gl_Position = gl_ProjectionMatrix * vec4(p, 1.0);
}
)";

constexpr char kSpriteVertex[] = R"(
layout(location = 1) in vec3 centre;
uniform float radius;
uniform float focal;  // pixels per scene unit at distance 1
flat out vec3 viewCentre;
void main() {
  vec3 c = (gl_ModelViewMatrix * vec4(centre, 1.0)).xyz;
  viewCentre = c;
  float d = length(c);
  if (-c.z <= radius * 1.0001) {  // eye inside or in front: not drawn as a sprite
    gl_Position = vec4(2.0, 2.0, 2.0, 1.0);
    gl_PointSize = 1.0;
    return;
  }
  gl_Position = gl_ProjectionMatrix * vec4(c, 1.0);
  // Off the axis of view the outline stretches by up to d / -z.
  gl_PointSize = 2.0 * focal * reach(c, radius) / -c.z * (d / -c.z) + 2.0;
}
)";

constexpr char kSphereFragment[] = R"(
flat in vec3 viewCentre;
uniform float radius;
uniform vec3 colour;
uniform vec2 viewport;
out vec4 fragColour;
void main() {
  vec2 ndc = gl_FragCoord.xy / viewport * 2.0 - 1.0;
  vec3 ray = normalize(vec3(ndc.x / gl_ProjectionMatrix[0][0],
                            ndc.y / gl_ProjectionMatrix[1][1], -1.0));
  // From the centre to the ray's nearest point, then along the ray back to
  // the surface: no difference of two near squares, so the limb is shaded
  // as well as the middle.
  float b = dot(ray, viewCentre);
  vec3 offset = ray * b - viewCentre;
  float h = radius * radius - dot(offset, offset);
  if (h < 0.0) discard;
  float root = sqrt(h);
  vec3 hit = ray * (b - root);
  vec3 normal = (offset - ray * root) / radius;
  vec4 clip = gl_ProjectionMatrix * vec4(hit, 1.0);
  gl_FragDepth = clamp(clip.z / clip.w * 0.5 + 0.5, 0.0, 1.0);
  // A light over the viewer's right shoulder, some ambient, a small highlight.
  vec3 light = normalize(vec3(0.4, 0.6, 1.0));
  float diffuse = max(dot(normal, light), 0.0);
  float highlight = pow(max(dot(reflect(-light, normal), -ray), 0.0), 40.0);
  vec3 base = clamp(colour, 0.0, 1.0);
  fragColour = vec4(base * (0.22 + 0.78 * diffuse) + vec3(0.3 * highlight), 1.0);
}
)";

// The processors' picture over the frame: its drawn pixels replace the
// frame's, and for spheres their depth goes into the depth buffer. The
// picture's rows run top-down.
constexpr char kImageVertex[] = R"(
layout(location = 0) in vec2 corner;
void main() { gl_Position = vec4(corner, 0.0, 1.0); }
)";

constexpr char kImageFragment[] = R"(
uniform sampler2D colours;
uniform usampler2D depths;
uniform int rows;
uniform bool withDepth;
out vec4 fragColour;
void main() {
  ivec2 p = ivec2(gl_FragCoord.xy);
  p.y = rows - 1 - p.y;
  vec4 c = texelFetch(colours, p, 0);
  if (c.a == 0.0) discard;
  fragColour = c;
  gl_FragDepth = withDepth ? float(texelFetch(depths, p, 0).r) / 16777215.0 : gl_FragCoord.z;
}
)";

constexpr char kVersion[] = "#version 330 compatibility\n";

GLuint compile(GLenum kind, const char* body, bool withReach) {
  const GLuint shader = glCreateShader(kind);
  const char* parts[3] = {kVersion, withReach ? kReach : "", body};
  glShaderSource(shader, 3, parts, nullptr);
  glCompileShader(shader);
  GLint ok = GL_FALSE;
  glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
  if (ok != GL_TRUE) {
    char log[1024] = "";
    glGetShaderInfoLog(shader, sizeof log, nullptr, log);
    glDeleteShader(shader);
    throw Error(std::string("sphere shader does not compile: ") + log);
  }
  return shader;
}

void vertex(double x, double y, double z) {
  glVertex3d(x * kSceneScale, y * kSceneScale, z * kSceneScale);
}

// A circle of radius r about c in the plane spanned by axes a and b.
void circle(const double c[3], double r, int a, int b) {
  constexpr int kSegments = 96;
  glBegin(GL_LINE_LOOP);
  for (int k = 0; k < kSegments; ++k) {
    double p[3] = {c[0], c[1], c[2]};
    const double angle = 2.0 * std::numbers::pi * k / kSegments;
    p[a] += r * std::cos(angle);
    p[b] += r * std::sin(angle);
    vertex(p[0], p[1], p[2]);
  }
  glEnd();
}

void boxEdges(const double c[3], const double* edge) {
  const double h[3] = {edge[0] / 2, edge[1] / 2, edge[2] / 2};
  glBegin(GL_LINES);
  for (int axis = 0; axis < 3; ++axis) {
    const int a = (axis + 1) % 3, b = (axis + 2) % 3;
    for (int corner = 0; corner < 4; ++corner) {
      double p[3], q[3];
      p[a] = q[a] = c[a] + ((corner & 1) ? h[a] : -h[a]);
      p[b] = q[b] = c[b] + ((corner & 2) ? h[b] : -h[b]);
      p[axis] = c[axis] - h[axis];
      q[axis] = c[axis] + h[axis];
      vertex(p[0], p[1], p[2]);
      vertex(q[0], q[1], q[2]);
    }
  }
  glEnd();
}

void sphereOutline(const double c[3], double r) {
  circle(c, r, 0, 1);
  circle(c, r, 1, 2);
  circle(c, r, 0, 2);
}

// Axis parallel to x through c, radius r in the y-z plane, full length l.
void cylinderOutline(const double c[3], double r, double l) {
  for (double end : {-l / 2, l / 2}) {
    const double e[3] = {c[0] + end, c[1], c[2]};
    circle(e, r, 1, 2);
  }
  glBegin(GL_LINES);
  for (int k = 0; k < 4; ++k) {
    const double angle = std::numbers::pi / 2 * k;
    const double y = c[1] + r * std::cos(angle), z = c[2] + r * std::sin(angle);
    vertex(c[0] - l / 2, y, z);
    vertex(c[0] + l / 2, y, z);
  }
  glEnd();
}

}  // namespace

// ---------------------------------------------------------------------------
// Projections
// ---------------------------------------------------------------------------

void setProjection(int width, int height, double nearPlane, double farPlane) {
  const int usedHeight = height == 0 ? 1 : height;
  const float ratio = static_cast<float>(width) / static_cast<float>(usedHeight);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glViewport(0, 0, width, usedHeight);
  gluPerspective(kFieldOfView, ratio, nearPlane, farPlane);
  glMatrixMode(GL_MODELVIEW);
}

void loadView(const LookAt& v) {
  glLoadIdentity();
  gluLookAt(v.eye[0], v.eye[1], v.eye[2], v.centre[0], v.centre[1], v.centre[2], v.up[0], v.up[1],
            v.up[2]);
}

void pushPixelProjection(int width, int height) {
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadIdentity();
  gluOrtho2D(0, width, 0, height);
  glMatrixMode(GL_MODELVIEW);
}

void popPixelProjection() {
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
}

// ---------------------------------------------------------------------------
// Overlay and letters
// ---------------------------------------------------------------------------

void drawOverlay(const Overlay& overlay, int width, int height, TextPainter& painter) {
  // A picture of no width or height has no pixels for the overlay, and its
  // pixel volume would be empty.
  if (width <= 0 || height <= 0) return;
  pushPixelProjection(width, height);
  glPushMatrix();
  glLoadIdentity();
  for (const OverlayItem& item : overlay) {
    if (item.kind == OverlayItem::Kind::text && item.outlined) {
      glColor3f(item.outline.red, item.outline.green, item.outline.blue);
      for (int dx = -1; dx <= 1; ++dx)
        for (int dy = -1; dy <= 1; ++dy)
          if (dx != 0 || dy != 0)
            painter.text(item.x + static_cast<float>(dx), item.y + static_cast<float>(dy),
                         item.font, item.text.c_str());
    }
    glColor3f(item.colour.red, item.colour.green, item.colour.blue);
    if (item.kind == OverlayItem::Kind::text) {
      painter.text(item.x, item.y, item.font, item.text.c_str());
    } else if (item.kind == OverlayItem::Kind::box) {
      glRectf(item.x, item.y, item.x + item.width, item.y + item.height);
    } else {
      glPointSize(item.size);
      glBegin(GL_POINTS);
      glVertex2f(item.x, item.y);
      glEnd();
    }
  }
  glPopMatrix();
  popPixelProjection();
}

void clearAndDrawAxes() {
  glClear(GL_COLOR_BUFFER_BIT);
  drawAxes();
}

void clear(Colour background, float alpha) {
  glClearColor(background.red, background.green, background.blue, alpha);
  glClear(GL_COLOR_BUFFER_BIT);
}

void drawAxes() {
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

void drawAxisLetters(TextPainter& painter, Colour colour) {
  static constexpr float kEnds[3][3] = {{1.5f, 0, 0}, {0, 1.5f, 0}, {0, 0, 1.5f}};
  static constexpr const char* kLetters[3] = {"x", "y", "z"};
  glColor3f(colour.red, colour.green, colour.blue);
  for (int axis = 0; axis < 3; ++axis) painter.textAt(kEnds[axis], Font::label, kLetters[axis]);
}

void drawRegions(const std::vector<RegionShape>& regions, Colour colour) {
  glColor3f(colour.red, colour.green, colour.blue);
  glLineWidth(1.0f);
  for (const RegionShape& region : regions) {
    const double* p = region.params.data();
    switch (region.type) {
      case REGION_BOX:
        boxEdges(p, p + 3);
        break;
      case REGION_BOXSHELL:
        boxEdges(p, p + 3);
        boxEdges(p, p + 6);
        break;
      case REGION_SPHERE:
        sphereOutline(p, p[3]);
        break;
      case REGION_SPHERESHELL:
        sphereOutline(p, p[3]);
        sphereOutline(p, p[4]);
        break;
      case REGION_CYLINDER:
        cylinderOutline(p, p[3], p[4]);
        break;
      case REGION_CYLINDERSHELL:
        cylinderOutline(p, p[3], p[5]);
        cylinderOutline(p, p[4], p[5]);
        break;
      default:
        break;
    }
  }
}

// ---------------------------------------------------------------------------
// Molecules
// ---------------------------------------------------------------------------

struct Scene::Impl {
  explicit Impl(Drawing d) : drawing(d) {}

  // Who draws the molecules, settled on first use.
  Drawing drawing;
  bool decided = false;
  bool software = false;

  // Scratch: one species' scene coordinates and colours.
  std::vector<float> vertices;
  std::vector<float> colours;

  void fill(const Frame& frame, std::size_t s) {
    // The same float conversion as every earlier drawing of the frame, so
    // that points land on the same pixels.
    const std::vector<double>& p = frame.positions[s];
    vertices.resize(p.size());
    for (std::size_t k = 0; k < p.size(); ++k) vertices[k] = static_cast<float>(p[k] * kSceneScale);
  }

  // Sphere programs and buffers, made on first use.
  struct Program {
    GLuint name = 0;
    GLint radius = -1, colour = -1, viewport = -1, focal = -1;
  };
  Program quads, sprites;
  GLuint quadArray = 0, spriteArray = 0;
  GLuint cornerBuffer = 0;
  GLuint centreBuffer = 0;
  float largestPoint = 1.0f;

  static Program link(const char* vertexBody) {
    const GLuint vs = compile(GL_VERTEX_SHADER, vertexBody, true);
    const GLuint fs = compile(GL_FRAGMENT_SHADER, kSphereFragment, false);
    Program p;
    p.name = glCreateProgram();
    glAttachShader(p.name, vs);
    glAttachShader(p.name, fs);
    glLinkProgram(p.name);
    glDeleteShader(vs);
    glDeleteShader(fs);
    GLint ok = GL_FALSE;
    glGetProgramiv(p.name, GL_LINK_STATUS, &ok);
    if (ok != GL_TRUE) throw Error("sphere shader does not link");
    p.radius = glGetUniformLocation(p.name, "radius");
    p.colour = glGetUniformLocation(p.name, "colour");
    p.viewport = glGetUniformLocation(p.name, "viewport");
    p.focal = glGetUniformLocation(p.name, "focal");
    return p;
  }

  void makeSpherePrograms() {
    quads = link(kQuadVertex);
    sprites = link(kSpriteVertex);
    GLfloat range[2] = {1.0f, 1.0f};
    glGetFloatv(GL_ALIASED_POINT_SIZE_RANGE, range);
    largestPoint = range[1];

    static constexpr float kCorners[8] = {-1, -1, 1, -1, -1, 1, 1, 1};
    glGenBuffers(1, &cornerBuffer);
    glBindBuffer(GL_ARRAY_BUFFER, cornerBuffer);
    glBufferData(GL_ARRAY_BUFFER, sizeof kCorners, kCorners, GL_STATIC_DRAW);
    glGenBuffers(1, &centreBuffer);

    glGenVertexArrays(1, &quadArray);
    glBindVertexArray(quadArray);
    glBindBuffer(GL_ARRAY_BUFFER, cornerBuffer);
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 0, nullptr);
    glBindBuffer(GL_ARRAY_BUFFER, centreBuffer);
    glEnableVertexAttribArray(1);
    glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, 0, nullptr);
    glVertexAttribDivisor(1, 1);

    glGenVertexArrays(1, &spriteArray);
    glBindVertexArray(spriteArray);
    glBindBuffer(GL_ARRAY_BUFFER, centreBuffer);
    glEnableVertexAttribArray(1);
    glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, 0, nullptr);
    glBindVertexArray(0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
  }

  // Whether every sphere of radius r among `vertices` fits a point sprite:
  // all stand in front of the eye and none spans more than the driver's
  // largest point (the nearest one spans the most).
  bool spritesFit(const float* modelView, float r, float focal) const {
    float nearest = 0.0f;
    bool any = false;
    for (std::size_t k = 0; k + 2 < vertices.size(); k += 3) {
      const float depth = -(modelView[2] * vertices[k] + modelView[6] * vertices[k + 1] +
                            modelView[10] * vertices[k + 2] + modelView[14]);
      if (!any || depth < nearest) nearest = depth;
      any = true;
    }
    if (!any) return true;
    if (!(nearest > 2.0f * r)) return false;
    // The sprite size of the vertex shader, at its largest: distance up to
    // depth x the picture's widest angle (under 2.2 for 45 degrees high and
    // pictures up to 4:1 wide), and the reach at most 1.16 r beyond depth 2r.
    const float size = 2.0f * focal * r * 1.16f / nearest * 2.2f + 2.0f;
    return size <= largestPoint;
  }

  // The processors' rasteriser and the picture it hands to OpenGL.
  std::unique_ptr<Rasteriser> rasteriser;
  RasterImage image;
  GLuint imageProgram = 0, imageArray = 0, imageBuffer = 0;
  GLuint colourTexture = 0, depthTexture = 0;
  GLint rowsUniform = -1, depthUniform = -1;
  int textureWidth = 0, textureHeight = 0;

  void decide() {
    if (decided) return;
    decided = true;
    Drawing d = drawing;
    if (d == Drawing::automatic) {
      const char* forced = std::getenv("TAVO_DRAWING");
      if (forced != nullptr && std::strcmp(forced, "software") == 0) d = Drawing::software;
      if (forced != nullptr && std::strcmp(forced, "opengl") == 0) d = Drawing::opengl;
    }
    if (d == Drawing::automatic) {
      const GLubyte* name = glGetString(GL_RENDERER);
      const char* renderer = name != nullptr ? reinterpret_cast<const char*>(name) : "";
      d = std::strstr(renderer, "llvmpipe") != nullptr ||
                  std::strstr(renderer, "softpipe") != nullptr ||
                  std::strstr(renderer, "swrast") != nullptr
              ? Drawing::software
              : Drawing::opengl;
    }
    software = d == Drawing::software;
    if (!software) return;
    // The picture goes to OpenGL through a shader of GLSL 3.30, and in place
    // through a copy of images (OpenGL 4.3): where either is missing, OpenGL
    // draws, or the picture is drawn over the frame.
    try {
      makeImageProgram();
    } catch (const Error&) {
      software = false;
      return;
    }
    GLint major = 0, minor = 0;
    glGetIntegerv(GL_MAJOR_VERSION, &major);
    glGetIntegerv(GL_MINOR_VERSION, &minor);
    if (major * 10 + minor < 43 && !hasExtension("GL_ARB_copy_image"))
      targetColour = targetDepth = 0;
  }

  // The transform OpenGL holds now.
  static RasterView currentView() {
    RasterView view;
    glGetFloatv(GL_MODELVIEW_MATRIX, view.modelView);
    glGetFloatv(GL_PROJECTION_MATRIX, view.projection);
    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    view.width = viewport[2];
    view.height = viewport[3];
    return view;
  }

  Rasteriser& processors() {
    if (!rasteriser) rasteriser = std::make_unique<Rasteriser>();
    return *rasteriser;
  }

  void makeImageProgram() {
    const GLuint vs = compile(GL_VERTEX_SHADER, kImageVertex, false);
    const GLuint fs = compile(GL_FRAGMENT_SHADER, kImageFragment, false);
    imageProgram = glCreateProgram();
    glAttachShader(imageProgram, vs);
    glAttachShader(imageProgram, fs);
    glLinkProgram(imageProgram);
    glDeleteShader(vs);
    glDeleteShader(fs);
    GLint ok = GL_FALSE;
    glGetProgramiv(imageProgram, GL_LINK_STATUS, &ok);
    if (ok != GL_TRUE) throw Error("picture shader does not link");
    glUseProgram(imageProgram);
    glUniform1i(glGetUniformLocation(imageProgram, "colours"), 0);
    glUniform1i(glGetUniformLocation(imageProgram, "depths"), 1);
    rowsUniform = glGetUniformLocation(imageProgram, "rows");
    depthUniform = glGetUniformLocation(imageProgram, "withDepth");
    glUseProgram(0);

    static constexpr float kCorners[8] = {-1, -1, 1, -1, -1, 1, 1, 1};
    glGenBuffers(1, &imageBuffer);
    glBindBuffer(GL_ARRAY_BUFFER, imageBuffer);
    glBufferData(GL_ARRAY_BUFFER, sizeof kCorners, kCorners, GL_STATIC_DRAW);
    glGenVertexArrays(1, &imageArray);
    glBindVertexArray(imageArray);
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 0, nullptr);
    glBindVertexArray(0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);

    GLuint names[2];
    glGenTextures(2, names);
    colourTexture = names[0];
    depthTexture = names[1];
    for (GLuint t : names) {
      glBindTexture(GL_TEXTURE_2D, t);
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    }
    glBindTexture(GL_TEXTURE_2D, 0);
  }

  // The framebuffer's own colour and depth buffers, where the scene was told
  // them: the picture is then copied into them whole, no drawing needed.
  GLuint targetColour = 0, targetDepth = 0;
  bool depthAfter = true;  // the spheres' depth is wanted by what is drawn after them
  GLuint copyDepthTexture = 0;
  int copyWidth = 0, copyHeight = 0;

  // The frame drawn so far into `image`, rows top-down, for the processors
  // to draw over: the framebuffer keeps its rows top-down, as a window does.
  void fetchFrame(const RasterView& view) {
    if (imageProgram == 0) makeImageProgram();
    image.width = view.width;
    image.height = view.height;
    image.rgba.resize(static_cast<std::size_t>(view.width) * view.height);
    resizeCopyTextures(view.width, view.height);
    glCopyImageSubData(targetColour, GL_RENDERBUFFER, 0, 0, 0, 0, colourTexture, GL_TEXTURE_2D, 0,
                       0, 0, 0, view.width, view.height, 1);
    glBindTexture(GL_TEXTURE_2D, colourTexture);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, image.rgba.data());
    glBindTexture(GL_TEXTURE_2D, 0);
  }

  void resizeCopyTextures(int width, int height) {
    if (width == copyWidth && height == copyHeight) return;
    glBindTexture(GL_TEXTURE_2D, colourTexture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    if (copyDepthTexture == 0) {
      glGenTextures(1, &copyDepthTexture);
      glBindTexture(GL_TEXTURE_2D, copyDepthTexture);
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    }
    glBindTexture(GL_TEXTURE_2D, copyDepthTexture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_DEPTH_COMPONENT24, width, height, 0, GL_DEPTH_COMPONENT,
                 GL_UNSIGNED_INT, nullptr);
    glBindTexture(GL_TEXTURE_2D, 0);
    copyWidth = textureWidth = width;
    copyHeight = textureHeight = height;
  }

  // `image` copied into the framebuffer whole, and with `withDepth` its depth
  // into the depth buffer.
  void storeFrame(bool withDepth) {
    glBindTexture(GL_TEXTURE_2D, colourTexture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, image.width, image.height, GL_RGBA, GL_UNSIGNED_BYTE,
                    image.rgba.data());
    glCopyImageSubData(colourTexture, GL_TEXTURE_2D, 0, 0, 0, 0, targetColour, GL_RENDERBUFFER, 0,
                       0, 0, 0, image.width, image.height, 1);
    if (withDepth && targetDepth != 0) {
      // 24-bit depth as the high bits of 32-bit normalised values.
      for (std::uint32_t& v : image.depth) v <<= 8;
      glBindTexture(GL_TEXTURE_2D, copyDepthTexture);
      glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, image.width, image.height, GL_DEPTH_COMPONENT,
                      GL_UNSIGNED_INT, image.depth.data());
      glCopyImageSubData(copyDepthTexture, GL_TEXTURE_2D, 0, 0, 0, 0, targetDepth, GL_RENDERBUFFER,
                         0, 0, 0, 0, image.width, image.height, 1);
      glEnable(GL_DEPTH_TEST);
      glDepthFunc(GL_LESS);
    }
    glBindTexture(GL_TEXTURE_2D, 0);
  }

  // Draws `image` over the frame: its pixels where it has any, and with
  // `withDepth` their depth into the depth buffer.
  void showImage(bool withDepth) {
    if (imageProgram == 0) makeImageProgram();
    if (image.width <= 0 || image.height <= 0) return;
    copyWidth = copyHeight = 0;
    const bool resized = image.width != textureWidth || image.height != textureHeight;
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, colourTexture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    if (resized)
      glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, image.width, image.height, 0, GL_RGBA,
                   GL_UNSIGNED_BYTE, image.rgba.data());
    else
      glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, image.width, image.height, GL_RGBA, GL_UNSIGNED_BYTE,
                      image.rgba.data());
    glActiveTexture(GL_TEXTURE1);
    glBindTexture(GL_TEXTURE_2D, depthTexture);
    if (withDepth) {
      if (resized || depthWidth != image.width || depthHeight != image.height)
        glTexImage2D(GL_TEXTURE_2D, 0, GL_R32UI, image.width, image.height, 0, GL_RED_INTEGER,
                     GL_UNSIGNED_INT, image.depth.data());
      else
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, image.width, image.height, GL_RED_INTEGER,
                        GL_UNSIGNED_INT, image.depth.data());
      depthWidth = image.width;
      depthHeight = image.height;
    }
    textureWidth = image.width;
    textureHeight = image.height;

    const GLboolean blend = glIsEnabled(GL_BLEND);
    glDisable(GL_BLEND);
    if (withDepth) {
      glEnable(GL_DEPTH_TEST);
      glDepthFunc(GL_ALWAYS);
    } else {
      glDisable(GL_DEPTH_TEST);
    }
    glUseProgram(imageProgram);
    glUniform1i(rowsUniform, image.height);
    glUniform1i(depthUniform, withDepth ? 1 : 0);
    glBindVertexArray(imageArray);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    glBindVertexArray(0);
    glUseProgram(0);
    glBindTexture(GL_TEXTURE_2D, 0);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, 0);
    if (withDepth) glDepthFunc(GL_LESS);
    if (blend) glEnable(GL_BLEND);
  }
  int depthWidth = 0, depthHeight = 0;
};

Scene::Scene(Drawing drawing) : impl_(std::make_unique<Impl>(drawing)) {}

Scene::~Scene() {
  // Without a current context these calls do nothing; the names then go
  // with the context.
  Impl& d = *impl_;
  if (d.imageProgram != 0) {
    const GLuint textures[3] = {d.colourTexture, d.depthTexture, d.copyDepthTexture};
    glDeleteTextures(d.copyDepthTexture != 0 ? 3 : 2, textures);
    glDeleteBuffers(1, &d.imageBuffer);
    glDeleteVertexArrays(1, &d.imageArray);
    glDeleteProgram(d.imageProgram);
  }
  if (d.quads.name == 0) return;
  glDeleteBuffers(1, &d.cornerBuffer);
  glDeleteBuffers(1, &d.centreBuffer);
  glDeleteVertexArrays(1, &d.quadArray);
  glDeleteVertexArrays(1, &d.spriteArray);
  glDeleteProgram(d.quads.name);
  glDeleteProgram(d.sprites.name);
}

bool Scene::software() const { return impl_->software; }

void Scene::setFramebuffer(unsigned colour, unsigned depth) {
  impl_->targetColour = colour;
  impl_->targetDepth = depth;
}

void Scene::decide() { impl_->decide(); }

void Scene::drawPoints(const Frame& frame) {
  const int n = static_cast<int>(frame.positions.size());
  std::vector<Colour> colours;
  for (int s = 0; s < n; ++s) colours.push_back(speciesColour(s, n));
  drawPoints(frame, colours, {});
}

void Scene::drawPoints(const Frame& frame, const std::vector<Colour>& speciesColours,
                       const std::vector<bool>& hidden) {
  Impl& d = *impl_;
  d.decide();
  const int n = static_cast<int>(frame.positions.size());
  const auto colourOf = [&](int s) {
    return static_cast<std::size_t>(s) < speciesColours.size() ? speciesColours[s]
                                                               : speciesColour(s, n);
  };
  const auto isHidden = [&](int s) {
    return static_cast<std::size_t>(s) < hidden.size() && hidden[s];
  };
  if (d.software) {
    GLfloat size = 1.0f;
    glGetFloatv(GL_POINT_SIZE, &size);
    GLfloat range[2] = {1.0f, 1.0f};
    glGetFloatv(GL_ALIASED_POINT_SIZE_RANGE, range);
    const RasterView view = Impl::currentView();
    const bool inPlace = d.targetColour != 0;
    if (inPlace) d.fetchFrame(view);
    d.processors().points(frame, speciesColours, hidden, std::clamp(size, range[0], range[1]), view,
                          d.image, inPlace);
    if (inPlace)
      d.storeFrame(false);
    else
      d.showImage(false);
    // Leave the current colour as drawing the last species leaves it.
    for (int s = n - 1; s >= 0; --s) {
      if (isHidden(s) || frame.positions[static_cast<std::size_t>(s)].empty()) continue;
      const Colour c = colourOf(s);
      glColor3f(c.red, c.green, c.blue);
      break;
    }
    return;
  }
  // One vertex array per species. The colour goes with every vertex, as it
  // does in one begin/end pair per molecule; a constant colour for the whole
  // array is rounded differently by some rasterisers (0.5 of orange becomes
  // 127 or 128).
  glEnableClientState(GL_VERTEX_ARRAY);
  glEnableClientState(GL_COLOR_ARRAY);
  for (int s = 0; s < n; ++s) {
    if (isHidden(s)) continue;
    d.fill(frame, static_cast<std::size_t>(s));
    if (d.vertices.empty()) continue;
    const Colour c = colourOf(s);
    std::vector<float>& colours = d.colours;
    colours.resize(d.vertices.size());
    for (std::size_t k = 0; k < colours.size(); k += 3) {
      colours[k] = c.red;
      colours[k + 1] = c.green;
      colours[k + 2] = c.blue;
    }
    glVertexPointer(3, GL_FLOAT, 0, d.vertices.data());
    glColorPointer(3, GL_FLOAT, 0, colours.data());
    glDrawArrays(GL_POINTS, 0, static_cast<GLsizei>(d.vertices.size() / 3));
    // Leave the current colour as one begin/end pair per molecule leaves it.
    glColor3f(c.red, c.green, c.blue);
  }
  glDisableClientState(GL_COLOR_ARRAY);
  glDisableClientState(GL_VERTEX_ARRAY);
}

void Scene::drawSpheres(const Frame& frame, const std::vector<double>& diameters,
                        bool allowSprites) {
  const int n = static_cast<int>(frame.positions.size());
  std::vector<Colour> colours;
  for (int s = 0; s < n; ++s) colours.push_back(speciesColour(s, n));
  drawSpheres(frame, diameters, colours, {}, allowSprites);
}

void Scene::drawSpheres(const Frame& frame, const std::vector<double>& diameters,
                        const std::vector<Colour>& speciesColours, const std::vector<bool>& hidden,
                        bool allowSprites) {
  Impl& d = *impl_;
  d.decide();
  const int n = static_cast<int>(frame.positions.size());
  glClear(GL_DEPTH_BUFFER_BIT);
  if (d.software) {
    const RasterView view = Impl::currentView();
    const bool inPlace = d.targetColour != 0;
    if (inPlace) d.fetchFrame(view);
    d.processors().spheres(frame, speciesColours, hidden, diameters, view, d.image, inPlace);
    if (inPlace)
      d.storeFrame(d.depthAfter);
    else
      d.showImage(true);
    return;
  }
  if (d.quads.name == 0) d.makeSpherePrograms();
  GLint viewport[4] = {0, 0, 1, 1};
  glGetIntegerv(GL_VIEWPORT, viewport);
  GLfloat modelView[16];
  glGetFloatv(GL_MODELVIEW_MATRIX, modelView);
  const float focal = static_cast<float>(focalPixels(viewport[3]));
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LESS);
  glEnable(GL_PROGRAM_POINT_SIZE);
  for (int s = 0; s < n; ++s) {
    if (static_cast<std::size_t>(s) < hidden.size() && hidden[s]) continue;
    const double diameter = static_cast<std::size_t>(s) < diameters.size() ? diameters[s] : 0.0;
    if (!(diameter > 0.0)) continue;  // a species without size has nothing to show
    d.fill(frame, static_cast<std::size_t>(s));
    if (d.vertices.empty()) continue;
    const float r = static_cast<float>(diameter * kSceneScale / 2.0);
    const bool sprites = allowSprites && d.spritesFit(modelView, r, focal);
    const Impl::Program& p = sprites ? d.sprites : d.quads;
    const Colour c = static_cast<std::size_t>(s) < speciesColours.size() ? speciesColours[s]
                                                                         : speciesColour(s, n);
    glUseProgram(p.name);
    glUniform1f(p.radius, r);
    glUniform3f(p.colour, c.red, c.green, c.blue);
    glUniform2f(p.viewport, static_cast<float>(viewport[2]), static_cast<float>(viewport[3]));
    if (sprites) glUniform1f(p.focal, focal);
    glBindVertexArray(sprites ? d.spriteArray : d.quadArray);
    glBindBuffer(GL_ARRAY_BUFFER, d.centreBuffer);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(d.vertices.size() * sizeof(float)),
                 d.vertices.data(), GL_STREAM_DRAW);
    const auto count = static_cast<GLsizei>(d.vertices.size() / 3);
    if (sprites)
      glDrawArrays(GL_POINTS, 0, count);
    else
      glDrawArraysInstanced(GL_TRIANGLE_STRIP, 0, 4, count);
  }
  glDisable(GL_PROGRAM_POINT_SIZE);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  glBindVertexArray(0);
  glUseProgram(0);
}

void Scene::draw(const Frame& frame, const Picture& picture, TextPainter* painter,
                 const Overlay& overlay) {
  const Camera& camera = picture.camera;
  setProjection(picture.width, picture.height, nearPlane(camera), farPlane(camera));
  loadView(lookAt(placeEye(camera, camera.target), camera));
  clear(picture.background, picture.transparent ? 0.0f : 1.0f);
  if (picture.axes) drawAxes();
  std::vector<Colour> colours = picture.colours;
  const int n = static_cast<int>(frame.positions.size());
  for (int s = static_cast<int>(colours.size()); s < n; ++s) colours.push_back(speciesColour(s, n));
  if (picture.style == Style::points) {
    glPointSize(cameraPointSize(camera));
    drawPoints(frame, colours, picture.hidden);
  } else {
    // Nothing after the spheres tests depth but region outlines.
    impl_->depthAfter = !picture.regions.empty();
    drawSpheres(frame, picture.diameters, colours, picture.hidden, picture.sphereSprites);
    impl_->depthAfter = true;
  }
  // Region outlines are hidden where spheres stand in front of them.
  if (!picture.regions.empty()) drawRegions(picture.regions, picture.regionColour);
  glDisable(GL_DEPTH_TEST);
  if (painter != nullptr) {
    if (picture.axes && picture.letters)
      drawAxisLetters(*painter, isLight(picture.background) ? Colour{0.0f, 0.0f, 0.0f}
                                                            : Colour{1.0f, 1.0f, 1.0f});
    drawOverlay(overlay, picture.width, picture.height, *painter);
  }
}

bool hasExtension(const char* name) {
  GLint count = 0;
  glGetIntegerv(GL_NUM_EXTENSIONS, &count);
  for (GLint i = 0; i < count; ++i) {
    const GLubyte* e = glGetStringi(GL_EXTENSIONS, static_cast<GLuint>(i));
    if (e != nullptr && std::strcmp(reinterpret_cast<const char*>(e), name) == 0) return true;
  }
  return false;
}

}  // namespace tavo::scene
