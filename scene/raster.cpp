// raster.cpp - points and sphere impostors drawn on the processors.
//
// Points follow Mesa's software rasterisers step by step, in single
// precision as they compute: clip coordinates from the product of the
// projection and model-view matrices (multiplied as Mesa multiplies them),
// one rounded operation at a time; the clip-volume test on the centre; the
// perspective divide by multiplying with 1/w; the viewport transform as a
// fused multiply-add where the processor has one (the rasteriser's code is
// compiled for the processor it runs on); the window's rows turned over, as
// Mesa keeps them top-down; the centre snapped to 1/256 pixel, rounding
// halves up; the size rounded to a whole number of pixels the same way, at
// least 1. A pixel is covered when its centre lies in the half-open square
// (lo, hi] along both axes of the turned-over window.
//
// Each drawing is done in two passes over the molecules: the workers first
// project one share of the molecules each, then each fills its band of rows
// with all of them, in file order, so later molecules cover earlier ones
// as they do in OpenGL.
#include "scene/raster.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <limits>
#include <mutex>
#include <thread>

namespace tavo::scene {

namespace {

// Sub-pixel precision of the rasteriser's fixed-point positions.
constexpr int kSubpixelBits = 8;
constexpr int kOne = 1 << kSubpixelBits;
constexpr int kHalf = kOne / 2;
// Far value of a 24-bit depth buffer.
constexpr std::uint32_t kFarDepth = 0xFFFFFF;
// A point not drawn: outside the clip volume.
constexpr std::int16_t kCulled = std::numeric_limits<std::int16_t>::min();

int snap(float v) { return static_cast<int>(std::floor(v * static_cast<float>(kOne) + 0.5f)); }

// ---------------------------------------------------------------------------
// Workers
// ---------------------------------------------------------------------------

// Threads that stay for the life of the rasteriser and run one job at a
// time, part k of n on worker k (the caller is worker 0).
class Workers {
 public:
  explicit Workers(int count) : count_(std::max(count, 1)) {
    for (int k = 1; k < count_; ++k) threads_.emplace_back([this, k] { serve(k); });
  }
  ~Workers() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    start_.notify_all();
    for (std::thread& t : threads_) t.join();
  }
  int count() const { return count_; }

  // Runs job(k) for k = 0 .. count - 1 and returns when all are done.
  void run(const std::function<void(int)>& job) {
    if (count_ == 1) {
      job(0);
      return;
    }
    {
      std::lock_guard lock(mutex_);
      job_ = &job;
      running_ = count_ - 1;
      ++generation_;
    }
    start_.notify_all();
    job(0);
    std::unique_lock lock(mutex_);
    done_.wait(lock, [this] { return running_ == 0; });
    job_ = nullptr;
  }

 private:
  void serve(int k) {
    std::uint64_t seen = 0;
    for (;;) {
      const std::function<void(int)>* job = nullptr;
      {
        std::unique_lock lock(mutex_);
        start_.wait(lock, [&] { return stop_ || generation_ != seen; });
        if (stop_) return;
        seen = generation_;
        job = job_;
      }
      (*job)(k);
      {
        std::lock_guard lock(mutex_);
        --running_;
      }
      done_.notify_one();
    }
  }

  int count_;
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable start_, done_;
  const std::function<void(int)>* job_ = nullptr;
  std::uint64_t generation_ = 0;
  int running_ = 0;
  bool stop_ = false;
};

// Part k of n of the range [0, total).
std::size_t partBegin(std::size_t total, int k, int n) {
  return total * static_cast<std::size_t>(k) / static_cast<std::size_t>(n);
}

// ---------------------------------------------------------------------------
// Projection of points
// ---------------------------------------------------------------------------

// Mesa's product of two column-major matrices: p = a b, each element summed
// left to right.
void multiply(float* p, const float* a, const float* b) {
  for (int i = 0; i < 4; ++i) {
    const float a0 = a[i], a1 = a[4 + i], a2 = a[8 + i], a3 = a[12 + i];
    for (int j = 0; j < 4; ++j)
      p[4 * j + i] = a0 * b[4 * j] + a1 * b[4 * j + 1] + a2 * b[4 * j + 2] + a3 * b[4 * j + 3];
  }
}

// What projecting a point needs besides the point.
struct PointSetup {
  float mvp[16];
  float scaleX, offsetX, scaleY, offsetY;  // viewport, rows turned over
  int halfWidth;                           // half the point's width, fixed point
  // A colour some of whose channels lie within rounding of a half level
  // (the viewer's orange is 127.5 green): the rasteriser's perspective
  // interpolation, colour times 1/w times w, tips them one way or the
  // other point by point, so these points get their colour computed the
  // same way. Null for the other colours.
  const float* tippingColour;
};

// Channels of `c` that lie within rounding of a half level.
bool tips(const Colour& c) {
  for (const float v : {c.red, c.green, c.blue}) {
    const float level = std::clamp(v, 0.0f, 1.0f) * 255.0f;
    if (std::fabs(level - std::floor(level) - 0.5f) < 1e-3f) return true;
  }
  return false;
}

// Top-left pixel (column, row from the top) of the point at scene position
// (x, y, z), or x = kCulled. `Fused` mirrors a rasteriser compiled with
// fused multiply-add.
template <bool Fused>
[[gnu::always_inline]] inline void projectPoint(const PointSetup& s, float x, float y, float z,
                                                std::int16_t* out, std::uint32_t* colour) {
  const float* m = s.mvp;
  float c[4];
  for (int r = 0; r < 4; ++r) {
    float t = x * m[r];
    t = y * m[4 + r] + t;
    t = z * m[8 + r] + t;
    c[r] = m[12 + r] + t;
  }
  const float w = c[3];
  // Inside the clip volume, written so that NaN fails too.
  if (!(w > 0.0f && c[0] >= -w && c[0] <= w && c[1] >= -w && c[1] <= w && c[2] >= -w &&
        c[2] <= w)) {
    out[0] = kCulled;
    return;
  }
  const float inverse = 1.0f / w;
  const float nx = c[0] * inverse, ny = c[1] * inverse;
  if (s.tippingColour != nullptr) {
    const float back = 1.0f / inverse;
    std::uint32_t packed = 0xFFu << 24;
    for (int i = 0; i < 3; ++i) {
      const float v = std::clamp(s.tippingColour[i], 0.0f, 1.0f) * inverse * back;
      packed |= static_cast<std::uint32_t>(std::lrint(std::min(v, 1.0f) * 255.0f)) << (8 * i);
    }
    *colour = packed;
  }
  float wx, wy;
  if constexpr (Fused) {
    wx = std::fma(nx, s.scaleX, s.offsetX);
    wy = std::fma(ny, s.scaleY, s.offsetY);
  } else {
    wx = nx * s.scaleX + s.offsetX;
    wy = ny * s.scaleY + s.offsetY;
  }
  // A point all but at the eye (w below the smallest normal float) projects
  // to no number at all: nothing to draw.
  if (!(std::fabs(wx) < 1e6f && std::fabs(wy) < 1e6f)) {
    out[0] = kCulled;
    return;
  }
  const int px = snap(wx), py = snap(wy);
  // First column whose centre is past lo along x; first row whose centre is
  // at or past lo down the turned-over window.
  out[0] = static_cast<std::int16_t>(((px - s.halfWidth - kHalf) >> kSubpixelBits) + 1);
  out[1] = static_cast<std::int16_t>((py - s.halfWidth - kHalf + kOne - 1) >> kSubpixelBits);
}

template <bool Fused>
[[gnu::always_inline]] inline void projectRange(const PointSetup& s, const double* p, std::size_t n,
                                                std::int16_t* out, std::uint32_t* colours) {
  for (std::size_t k = 0; k < n; ++k, p += 3, out += 2)
    projectPoint<Fused>(s, static_cast<float>(p[0] * kSceneScale),
                        static_cast<float>(p[1] * kSceneScale),
                        static_cast<float>(p[2] * kSceneScale), out, colours + k);
}

[[gnu::target("avx2,fma")]] void projectFused(const PointSetup& s, const double* p, std::size_t n,
                                              std::int16_t* out, std::uint32_t* colours) {
  projectRange<true>(s, p, n, out, colours);
}

void projectPlain(const PointSetup& s, const double* p, std::size_t n, std::int16_t* out,
                  std::uint32_t* colours) {
  projectRange<false>(s, p, n, out, colours);
}

bool haveFma() {
  static const bool have = __builtin_cpu_supports("fma") && __builtin_cpu_supports("avx2");
  return have;
}

// ---------------------------------------------------------------------------
// Spheres
// ---------------------------------------------------------------------------

// A colour as an 8-bit framebuffer stores it (packColour).
[[gnu::always_inline]] inline std::uint32_t pack(Colour c) {
  const auto channel = [](float v) {
    return static_cast<std::uint32_t>(std::lrint(std::clamp(v, 0.0f, 1.0f) * 255.0f));
  };
  return channel(c.red) | channel(c.green) << 8 | channel(c.blue) << 16 | 0xFFu << 24;
}

// A sphere to shade: its centre in eye space and the rectangle of pixels its
// outline may cover (rows from the top, inclusive).
struct SphereItem {
  float x, y, z;
  int left, right, top, bottom;
  int species;
};

}  // namespace

std::uint32_t packColour(Colour c) { return pack(c); }

struct Rasteriser::Impl {
  explicit Impl(int threads) : workers(threads) {}
  Workers workers;
  // Per-molecule scratch of the first pass, kept from frame to frame.
  std::vector<std::int16_t> corners;     // points: column, row
  std::vector<std::uint32_t> colours;    // points of tipping colours: their colour
  std::vector<SphereItem> spheres;       // spheres in view
  std::vector<std::size_t> sphereCount;  // spheres found per worker
  std::vector<std::size_t> offsets;      // first molecule of each species

  void prepare(const Frame& frame, const RasterView& view, RasterImage& image) {
    offsets.assign(frame.positions.size() + 1, 0);
    for (std::size_t s = 0; s < frame.positions.size(); ++s)
      offsets[s + 1] = offsets[s] + frame.positions[s].size() / 3;
    image.width = std::max(view.width, 0);
    image.height = std::max(view.height, 0);
    image.rgba.resize(static_cast<std::size_t>(image.width) * image.height);
  }

  // Calls fn(species, first, count) for the molecules of part k of n, in
  // order, species by species.
  template <typename Fn>
  void forShare(int k, int n, Fn fn) const {
    const std::size_t total = offsets.back();
    const std::size_t begin = partBegin(total, k, n), end = partBegin(total, k + 1, n);
    for (std::size_t s = 0; s + 1 < offsets.size(); ++s) {
      const std::size_t from = std::max(begin, offsets[s]), to = std::min(end, offsets[s + 1]);
      if (from < to) fn(s, from - offsets[s], to - from);
    }
  }
};

Rasteriser::Rasteriser(int threads)
    : impl_(std::make_unique<Impl>(
          threads > 0 ? threads
                      : std::max(1, static_cast<int>(std::thread::hardware_concurrency())))) {}

Rasteriser::~Rasteriser() = default;

int Rasteriser::threads() const { return impl_->workers.count(); }

void Rasteriser::points(const Frame& frame, const std::vector<Colour>& colours,
                        const std::vector<bool>& hidden, float pointSize, const RasterView& view,
                        RasterImage& image, bool over) {
  Impl& d = *impl_;
  d.prepare(frame, view, image);
  PointSetup setup;
  multiply(setup.mvp, view.projection, view.modelView);
  setup.scaleX = static_cast<float>(image.width) * 0.5f;
  setup.offsetX = setup.scaleX;
  setup.scaleY = -static_cast<float>(image.height) * 0.5f;
  setup.offsetY = static_cast<float>(image.height) * 0.5f;
  const int width = std::max(1, (snap(pointSize) + kHalf - 1) >> kSubpixelBits);
  setup.halfWidth = width * kHalf;
  setup.tippingColour = nullptr;
  d.corners.resize(d.offsets.back() * 2);
  const bool fused = haveFma();

  std::vector<Colour> species(frame.positions.size(), Colour{1.0f, 1.0f, 1.0f});
  std::vector<std::uint32_t> packed(frame.positions.size());
  std::vector<bool> tipping(frame.positions.size());
  for (std::size_t s = 0; s < packed.size(); ++s) {
    if (s < colours.size()) species[s] = colours[s];
    packed[s] = pack(species[s]);
    tipping[s] = tips(species[s]);
  }
  if (std::find(tipping.begin(), tipping.end(), true) != tipping.end())
    d.colours.resize(d.offsets.back());
  const auto isHidden = [&](std::size_t s) { return s < hidden.size() && hidden[s]; };

  const int n = d.workers.count();
  d.workers.run([&](int k) {
    PointSetup mine = setup;
    d.forShare(k, n, [&](std::size_t s, std::size_t first, std::size_t count) {
      if (isHidden(s)) return;
      const float channels[3] = {species[s].red, species[s].green, species[s].blue};
      mine.tippingColour = tipping[s] ? channels : nullptr;
      const double* p = frame.positions[s].data() + 3 * first;
      std::int16_t* out = d.corners.data() + 2 * (d.offsets[s] + first);
      std::uint32_t* out2 = tipping[s] ? d.colours.data() + d.offsets[s] + first : nullptr;
      if (fused)
        projectFused(mine, p, count, out, out2);
      else
        projectPlain(mine, p, count, out, out2);
    });
  });

  const int w = image.width, h = image.height;
  d.workers.run([&](int k) {
    const int rowBegin = static_cast<int>(partBegin(static_cast<std::size_t>(h), k, n));
    const int rowEnd = static_cast<int>(partBegin(static_cast<std::size_t>(h), k + 1, n));
    std::uint32_t* rows = image.rgba.data() + static_cast<std::size_t>(rowBegin) * w;
    if (!over) std::fill(rows, rows + static_cast<std::size_t>(rowEnd - rowBegin) * w, 0u);
    for (std::size_t s = 0; s + 1 < d.offsets.size(); ++s) {
      if (isHidden(s)) continue;
      std::uint32_t colour = packed[s];
      const std::uint32_t* own = tipping[s] ? d.colours.data() + d.offsets[s] : nullptr;
      const std::int16_t* c = d.corners.data() + 2 * d.offsets[s];
      const std::int16_t* end = d.corners.data() + 2 * d.offsets[s + 1];
      for (; c != end; c += 2) {
        if (own != nullptr) colour = *own++;
        if (c[0] == kCulled) continue;
        const int top = std::max<int>(c[1], rowBegin), bottom = std::min(c[1] + width, rowEnd);
        if (top >= bottom) continue;
        const int left = std::max<int>(c[0], 0), right = std::min(c[0] + width, w);
        for (int y = top; y < bottom; ++y) {
          std::uint32_t* row = image.rgba.data() + static_cast<std::size_t>(y) * w;
          for (int x = left; x < right; ++x) row[x] = colour;
        }
      }
    }
  });
}

void Rasteriser::spheres(const Frame& frame, const std::vector<Colour>& colours,
                         const std::vector<bool>& hidden, const std::vector<double>& diameters,
                         const RasterView& view, RasterImage& image, bool over) {
  Impl& d = *impl_;
  d.prepare(frame, view, image);
  image.depth.resize(image.rgba.size());
  const int w = image.width, h = image.height;
  const float* mv = view.modelView;
  const float* pr = view.projection;
  const std::size_t species = frame.positions.size();
  std::vector<float> radius(species, 0.0f);
  std::vector<Colour> base(species, Colour{1.0f, 1.0f, 1.0f});
  for (std::size_t s = 0; s < species; ++s) {
    const double diameter = s < diameters.size() ? diameters[s] : 0.0;
    const bool shown = !(s < hidden.size() && hidden[s]) && diameter > 0.0;
    radius[s] = shown ? static_cast<float>(diameter * kSceneScale / 2.0) : 0.0f;
    if (s < colours.size())
      base[s] =
          Colour{std::clamp(colours[s].red, 0.0f, 1.0f), std::clamp(colours[s].green, 0.0f, 1.0f),
                 std::clamp(colours[s].blue, 0.0f, 1.0f)};
  }
  // Pixels per eye-space unit at distance 1, and the projection's planes.
  const float focal = static_cast<float>(h) * 0.5f * pr[5];
  const float nearPlane = pr[14] / (pr[10] - 1.0f), farPlane = pr[14] / (pr[10] + 1.0f);
  const int n = d.workers.count();

  // First pass: eye-space centres and the rectangles the outlines may
  // cover, each worker's share stored from its own start.
  d.spheres.resize(d.offsets.back());
  d.sphereCount.assign(static_cast<std::size_t>(n), 0);
  d.workers.run([&](int k) {
    SphereItem* out = d.spheres.data() + partBegin(d.offsets.back(), k, n);
    std::size_t found = 0;
    d.forShare(k, n, [&](std::size_t s, std::size_t first, std::size_t count) {
      const float r = radius[s];
      if (!(r > 0.0f)) return;
      const double* p = frame.positions[s].data() + 3 * first;
      for (std::size_t m = 0; m < count; ++m, p += 3) {
        const float x = static_cast<float>(p[0] * kSceneScale);
        const float y = static_cast<float>(p[1] * kSceneScale);
        const float z = static_cast<float>(p[2] * kSceneScale);
        SphereItem item;
        item.x = mv[0] * x + mv[4] * y + mv[8] * z + mv[12];
        item.y = mv[1] * x + mv[5] * y + mv[9] * z + mv[13];
        item.z = mv[2] * x + mv[6] * y + mv[10] * z + mv[14];
        item.species = static_cast<int>(s);
        const float dist = std::sqrt(item.x * item.x + item.y * item.y + item.z * item.z);
        if (!(dist > r * 1.0001f)) continue;  // the eye inside: nothing to draw
        // A centre before the near plane or past the far one: OpenGL
        // clips the sphere's square away.
        if (!(-item.z >= nearPlane && -item.z <= farPlane)) continue;
        item.left = 0, item.right = w - 1, item.top = 0, item.bottom = h - 1;
        const float depth = -item.z;
        if (depth > r * 1.0001f) {
          // The outline's reach across the line of sight, stretched by up
          // to d / depth off the axis of view, as the sprite is sized.
          const float reach = r * dist / std::sqrt(dist * dist - r * r);
          // Pixels whose centres may lie inside the outline, with half a
          // pixel to spare.
          const float half = focal * reach / depth * (dist / depth) + 0.5f;
          const float cx = (pr[0] * item.x / depth + 1.0f) * 0.5f * static_cast<float>(w) - 0.5f;
          const float cy = (1.0f - pr[5] * item.y / depth) * 0.5f * static_cast<float>(h) - 0.5f;
          if (!(cx + half >= 0.0f && cx - half < static_cast<float>(w) && cy + half >= 0.0f &&
                cy - half < static_cast<float>(h)))
            continue;
          item.left = std::max(0, static_cast<int>(std::ceil(cx - half)));
          item.right = std::min(w - 1, static_cast<int>(std::floor(cx + half)));
          item.top = std::max(0, static_cast<int>(std::ceil(cy - half)));
          item.bottom = std::min(h - 1, static_cast<int>(std::floor(cy + half)));
        }
        out[found++] = item;
      }
    });
    d.sphereCount[static_cast<std::size_t>(k)] = found;
  });

  // Second pass: each worker shades its band of rows, casting each pixel's
  // ray at the spheres whose rectangles reach it, nearest hit kept.
  const float light[3] = {0.4f / std::sqrt(1.52f), 0.6f / std::sqrt(1.52f),
                          1.0f / std::sqrt(1.52f)};
  // Each fragment's ray before normalising, (across, up, -1): the centre in
  // normalised device coordinates over the projection's scale.
  std::vector<float> across(static_cast<std::size_t>(w)), up(static_cast<std::size_t>(h));
  for (int col = 0; col < w; ++col)
    across[static_cast<std::size_t>(col)] =
        ((static_cast<float>(col) + 0.5f) / static_cast<float>(w) * 2.0f - 1.0f) / pr[0];
  for (int row = 0; row < h; ++row)
    up[static_cast<std::size_t>(row)] =
        ((static_cast<float>(h - 1 - row) + 0.5f) / static_cast<float>(h) * 2.0f - 1.0f) / pr[5];
  d.workers.run([&](int k) {
    const int rowBegin = static_cast<int>(partBegin(static_cast<std::size_t>(h), k, n));
    const int rowEnd = static_cast<int>(partBegin(static_cast<std::size_t>(h), k + 1, n));
    const std::size_t first = static_cast<std::size_t>(rowBegin) * w;
    const std::size_t last = static_cast<std::size_t>(rowEnd) * w;
    if (!over)
      std::fill(image.rgba.begin() + static_cast<long>(first),
                image.rgba.begin() + static_cast<long>(last), 0u);
    std::fill(image.depth.begin() + static_cast<long>(first),
              image.depth.begin() + static_cast<long>(last), kFarDepth);
    for (int part = 0; part < n; ++part) {
      const SphereItem* item = d.spheres.data() + partBegin(d.offsets.back(), part, n);
      const SphereItem* end = item + d.sphereCount[static_cast<std::size_t>(part)];
      for (; item != end; ++item) {
        const int top = std::max(item->top, rowBegin), bottom = std::min(item->bottom, rowEnd - 1);
        if (top > bottom) continue;
        const float r = radius[static_cast<std::size_t>(item->species)];
        const Colour& c = base[static_cast<std::size_t>(item->species)];
        const float centre2 = item->x * item->x + item->y * item->y + item->z * item->z;
        // Misses found before normalising the ray, in double precision (the
        // test subtracts two near squares), with room for the roundings of
        // the exact test in single precision.
        const double slack = 1e-6 * centre2;
        const double cx = item->x, cy = item->y, cz = item->z;
        const double exact2 = cx * cx + cy * cy + cz * cz - double{r} * r;
        for (int row = top; row <= bottom; ++row) {
          const float ry = up[static_cast<std::size_t>(row)];
          std::uint32_t* colourRow = image.rgba.data() + static_cast<std::size_t>(row) * w;
          std::uint32_t* depthRow = image.depth.data() + static_cast<std::size_t>(row) * w;
          for (int col = item->left; col <= item->right; ++col) {
            const float rx = across[static_cast<std::size_t>(col)];
            const double length2 = double{rx} * rx + double{ry} * ry + 1.0;
            const double along = rx * cx + ry * cy - cz;
            if (along * along - length2 * exact2 < -slack * length2) continue;
            const float scale = 1.0f / std::sqrt(rx * rx + ry * ry + 1.0f);
            const float ray[3] = {rx * scale, ry * scale, -scale};
            // As the shader does: from the centre to the ray's nearest
            // point, then back along the ray to the surface.
            const float b = ray[0] * item->x + ray[1] * item->y + ray[2] * item->z;
            const float offset[3] = {ray[0] * b - item->x, ray[1] * b - item->y,
                                     ray[2] * b - item->z};
            const float disc =
                r * r - (offset[0] * offset[0] + offset[1] * offset[1] + offset[2] * offset[2]);
            if (disc < 0.0f) continue;
            const float root = std::sqrt(disc);
            const float t = b - root;
            const float hit[3] = {ray[0] * t, ray[1] * t, ray[2] * t};
            const float clipZ = pr[10] * hit[2] + pr[14];
            const float clipW = pr[11] * hit[2] + pr[15];
            const float z = std::clamp(clipZ / clipW * 0.5f + 0.5f, 0.0f, 1.0f);
            const auto depth =
                static_cast<std::uint32_t>(std::lrint(z * static_cast<float>(kFarDepth)));
            if (depth >= depthRow[col]) continue;
            const float normal[3] = {(offset[0] - ray[0] * root) / r,
                                     (offset[1] - ray[1] * root) / r,
                                     (offset[2] - ray[2] * root) / r};
            const float lit = normal[0] * light[0] + normal[1] * light[1] + normal[2] * light[2];
            const float diffuse = std::max(lit, 0.0f);
            // reflect(-light, normal) against the way back to the eye.
            float back = 0.0f;
            for (int i = 0; i < 3; ++i) back -= (2.0f * lit * normal[i] - light[i]) * ray[i];
            float highlight = std::max(back, 0.0f);
            const float h2 = highlight * highlight, h4 = h2 * h2, h8 = h4 * h4;
            const float h16 = h8 * h8, h32 = h16 * h16;
            highlight = h32 * h8;  // to the power 40
            const float shade = 0.22f + 0.78f * diffuse, glow = 0.3f * highlight;
            depthRow[col] = depth;
            colourRow[col] =
                pack(Colour{c.red * shade + glow, c.green * shade + glow, c.blue * shade + glow});
          }
        }
      }
    }
  });
}

}  // namespace tavo::scene
