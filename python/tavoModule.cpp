// tavoModule.cpp - the compiled half of the Python package `tavo` (the
// extension tavo._tavo; tavo/__init__.py re-exports it): setups, movies and
// regions as NumPy arrays.
//
//   tavo.Setup(path)                  species, reactions, environment
//   tavo.Movie(setup, movie_path)     len, steps, times, counts, refresh,
//                                     m[k], m[-1], m[::10], m['S'], iteration,
//                                     padded(), slot_species, close(), with
//   frame.positions(species)          (n, 3) float64 view, no copy
//   frame.all_positions()             (N, 3) float64, species_ids beside it
//   tavo.Regions(path)                regions, contains(), which()
//   tavo.Error                        every failure, a ValueError
//
// A frame's arrays borrow the frame's own vectors: each array holds a
// reference to the Python frame object, which owns its tavo::Frame, so the
// coordinates live as long as any array over them. No Python object is ever
// made per molecule. File work (reading a setup, indexing, reading frames,
// testing points against regions) runs with the GIL released.
//
// Text from the files (species names, paths) reaches Python as str with any
// byte that is not UTF-8 kept as a lone surrogate, as os.fsdecode does, so
// that a name or a path handed back finds the same bytes. Messages are for
// reading: such bytes show as \xNN there.
//
// Sections: state, text and errors, species keys, setup, frames, regions,
// movie, module.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

#include "formats/regions.h"
#include "shapes/shapes.h"
#include "trajectory/trajectory.h"

#ifndef TAVO_VERSION
#define TAVO_VERSION "unknown"
#endif

namespace py = pybind11;

namespace {

// ---------------------------------------------------------------------------
// State
// ---------------------------------------------------------------------------

// Python objects the module keeps for the interpreter's life: the named-tuple
// types that carry a setup's records, the exception type, and the factory of
// file errors that tavo/__init__.py installs. Plain handles, each holding a
// reference that is never given back, so that no destructor runs after the
// interpreter has finalised.
struct State {
  py::handle speciesType;  // tavo.Species
  py::handle forwardType;  // tavo.ForwardReaction
  py::handle reverseType;  // tavo.ReverseReaction
  py::handle error;        // tavo.Error
  py::handle fileError;    // callable (message, errno, filename) -> exception, or null
};
State state;

// ---------------------------------------------------------------------------
// Text and errors
// ---------------------------------------------------------------------------

py::str decoded(const std::string& s, const char* errors) {
  PyObject* o = PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), errors);
  if (o == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(o);
}

// A name or a path from a file, as Python str that gives the same bytes back.
py::str text(const std::string& s) { return decoded(s, "surrogateescape"); }

// The same for reading (messages, reprs).
py::str display(const std::string& s) { return decoded(s, "backslashreplace"); }

// The bytes of a str that text() made, or of bytes.
std::string bytesOf(py::handle o) {
  if (PyBytes_Check(o.ptr())) return o.cast<std::string>();
  py::object b = py::reinterpret_steal<py::object>(
      PyUnicode_AsEncodedString(o.ptr(), "utf-8", "surrogateescape"));
  if (!b) throw py::error_already_set();
  return b.cast<std::string>();
}

// A failure to open `path`: a tavo::Error with the errno of the system call,
// and the path that Python's OSError keeps as `filename`.
struct OpenError : tavo::Error {
  OpenError(const tavo::Error& e, std::string p)
      : tavo::Error(e.what(), e.errorNumber()), path(std::move(p)) {}
  std::string path;
};

// Runs `open`, turning a failed system call into an OpenError naming `path`.
template <typename Open>
auto opening(const std::string& path, Open&& open) {
  try {
    return open();
  } catch (const tavo::Error& e) {
    if (e.errorNumber() != 0 && dynamic_cast<const OpenError*>(&e) == nullptr)
      throw OpenError(e, path);
    throw;
  }
}

// Sets the Python exception for `e`: tavo.Error, or for a failed system call
// the file error that is both tavo.Error and the matching OSError.
void raise(const tavo::Error& e) {
  py::str message = display(e.what());
  if (e.errorNumber() != 0 && state.fileError) {
    try {
      const auto* open = dynamic_cast<const OpenError*>(&e);
      py::object filename = open != nullptr ? py::object(text(open->path)) : py::object(py::none());
      py::object exc = state.fileError(message, e.errorNumber(), filename);
      PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exc.ptr())), exc.ptr());
    } catch (py::error_already_set& failed) {
      failed.restore();
    }
    return;
  }
  PyErr_SetObject(state.error.ptr(), message.ptr());
}

// ---------------------------------------------------------------------------
// Species keys
// ---------------------------------------------------------------------------

// A species given by name (str or bytes) or by ID (an integer), resolved
// against a setup. A name two species share is refused: picking one of them
// would silently read the wrong molecules.
int speciesIndex(const tavo::Setup& setup, py::handle key) {
  const int n = static_cast<int>(setup.species.size());
  if (PyUnicode_Check(key.ptr()) || PyBytes_Check(key.ptr())) {
    const std::string name = bytesOf(key);
    std::vector<int> ids;
    for (const tavo::Species& s : setup.species)
      if (s.name == name) ids.push_back(s.id);
    if (ids.empty()) throw tavo::Error(setup.path + ": no species called '" + name + "'");
    if (ids.size() > 1)
      throw tavo::Error(setup.path + ": species " + std::to_string(ids[0]) + " and " +
                        std::to_string(ids[1]) + " are both called '" + name +
                        "'; give the species ID instead");
    return ids[0];
  }
  if (PyBool_Check(key.ptr()) || !PyIndex_Check(key.ptr()))
    throw py::type_error("a species is a name (str) or an ID (int), not " +
                         std::string(Py_TYPE(key.ptr())->tp_name));
  const auto id = py::reinterpret_steal<py::int_>(PyNumber_Index(key.ptr())).cast<long long>();
  if (id < 0 || id >= n)
    throw tavo::Error(setup.path + ": no species with ID " + std::to_string(id) +
                      " (the setup has " + std::to_string(n) + ")");
  return static_cast<int>(id);
}

py::list speciesNames(const tavo::Setup& setup) {
  py::list names;
  for (const tavo::Species& s : setup.species) names.append(text(s.name));
  return names;
}

// A Python index into `size` items, negative counting from the end.
std::size_t resolveIndex(std::int64_t k, std::size_t size, const char* what = "frame") {
  const auto n = static_cast<std::int64_t>(size);
  const std::int64_t at = k < 0 ? k + n : k;
  if (at < 0 || at >= n)
    throw py::index_error(std::string(what) + " index " + std::to_string(k) + " out of range (" +
                          std::to_string(size) + (std::string(what) == "frame" ? " frames)" : ")"));
  return static_cast<std::size_t>(at);
}

std::string absolutePath(const std::filesystem::path& path) {
  std::error_code failed;
  std::filesystem::path whole = std::filesystem::absolute(path, failed);
  return failed ? path.string() : whole.string();
}

// Read-only (n, columns) view of `values`, kept alive by `owner`.
template <typename T>
py::array readOnlyView(const T* values, std::size_t rows, std::size_t columns, py::handle owner) {
  std::vector<py::ssize_t> shape{static_cast<py::ssize_t>(rows)};
  std::vector<py::ssize_t> strides{static_cast<py::ssize_t>(columns * sizeof(T))};
  if (columns > 1) {
    shape.push_back(static_cast<py::ssize_t>(columns));
    strides.push_back(sizeof(T));
  }
  py::array_t<T> view(shape, strides, values, owner);
  py::detail::array_proxy(view.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
  return view;
}

// ---------------------------------------------------------------------------
// Setup
// ---------------------------------------------------------------------------

// A setup as Python holds it: the setup, and its file's absolute path, by
// which it pickles.
struct PySetup : tavo::Setup {
  std::string absolute;
};
using SetupPtr = std::shared_ptr<PySetup>;

SetupPtr readSetup(const std::filesystem::path& path) {
  auto setup = std::make_shared<PySetup>();
  const std::string p = path.string();
  {
    py::gil_scoped_release unlocked;
    static_cast<tavo::Setup&>(*setup) = opening(p, [&] { return tavo::Setup::read(p); });
  }
  setup->absolute = absolutePath(path);
  return setup;
}

py::list speciesRecords(const tavo::Setup& setup) {
  py::list out;
  for (const tavo::Species& s : setup.species)
    out.append(state.speciesType(s.id, text(s.name), s.mass, s.size, s.diffusion, s.slots,
                                 s.initialAlive, s.region));
  return out;
}

py::list forwardRecords(const tavo::Setup& setup) {
  py::list out;
  for (const tavo::ForwardReactionLine& r : setup.forward)
    out.append(state.forwardType(r.reactant1, r.reactant2, r.product, r.kf));
  return out;
}

py::list reverseRecords(const tavo::Setup& setup) {
  py::list out;
  for (const tavo::ReverseReactionLine& r : setup.reverse)
    out.append(state.reverseType(r.reactant, py::tuple(py::cast(r.products)), r.kr));
  return out;
}

py::str setupRepr(const tavo::Setup& setup) {
  return display("<tavo.Setup '" + setup.path + "': " + std::to_string(setup.species.size()) +
                 " species, " + std::to_string(setup.forward.size()) + " forward and " +
                 std::to_string(setup.reverse.size()) + " reverse reactions>");
}

// ---------------------------------------------------------------------------
// Frames
// ---------------------------------------------------------------------------

// A frame as Python sees it: the frame itself and the setup that names its
// species. Held by value inside the Python object, whose lifetime the
// position arrays extend. The whole frame's coordinates in one block, and
// the species of each molecule, are made on first request and kept.
struct PyFrame {
  PyFrame(SetupPtr s, std::string path) : setup(std::move(s)), moviePath(std::move(path)) {}

  tavo::Frame frame;
  SetupPtr setup;
  std::string moviePath;
  bool joined = false;
  std::vector<double> all;           // every species' molecules, species order
  std::vector<std::int32_t> owners;  // the species ID of each
};

// Zero-copy (n, 3) view of one species' coordinates, read-only so that the
// frame stays what the file says.
py::array positionsView(const PyFrame& f, py::handle key) {
  // The Python object that holds `f`: pybind11 hands back the existing one.
  py::object self = py::cast(&f, py::return_value_policy::reference);
  const int id = speciesIndex(*f.setup, key);
  const std::vector<double>& xyz = f.frame.positions[static_cast<std::size_t>(id)];
  return readOnlyView(xyz.data(), xyz.size() / 3, 3, self);
}

void join(PyFrame& f) {
  if (f.joined) return;
  const auto& blocks = f.frame.positions;
  std::size_t n = 0;
  for (const auto& xyz : blocks) n += xyz.size() / 3;
  f.owners.reserve(n);
  for (std::size_t s = 0; s < blocks.size(); ++s)
    f.owners.insert(f.owners.end(), blocks[s].size() / 3, static_cast<std::int32_t>(s));
  // One species: its own block is the whole frame, nothing to copy.
  if (blocks.size() != 1) {
    f.all.reserve(3 * n);
    for (const auto& xyz : blocks) f.all.insert(f.all.end(), xyz.begin(), xyz.end());
  }
  f.joined = true;
}

py::array allPositions(PyFrame& f) {
  py::object self = py::cast(&f, py::return_value_policy::reference);
  join(f);
  const std::vector<double>& xyz = f.frame.positions.size() == 1 ? f.frame.positions[0] : f.all;
  return readOnlyView(xyz.data(), xyz.size() / 3, 3, self);
}

py::array speciesIds(PyFrame& f) {
  py::object self = py::cast(&f, py::return_value_policy::reference);
  join(f);
  return readOnlyView(f.owners.data(), f.owners.size(), 1, self);
}

py::array_t<std::int64_t> frameCounts(const PyFrame& f) {
  py::array_t<std::int64_t> counts(static_cast<py::ssize_t>(f.frame.positions.size()));
  auto out = counts.mutable_unchecked<1>();
  for (std::size_t s = 0; s < f.frame.positions.size(); ++s)
    out(static_cast<py::ssize_t>(s)) = f.frame.count(static_cast<int>(s));
  return counts;
}

py::str frameRepr(const PyFrame& f) {
  std::int64_t molecules = 0;
  for (std::size_t s = 0; s < f.frame.positions.size(); ++s)
    molecules += f.frame.count(static_cast<int>(s));
  return display("<tavo.Frame " + std::to_string(f.frame.index) + " of '" + f.moviePath +
                 "': step " + std::to_string(f.frame.step) + ", time " +
                 py::str("{:.6g}").format(f.frame.time).cast<std::string>() + " s, " +
                 std::to_string(molecules) + " molecules>");
}

// A frame pickles by value: its setup (by path), movie path, place and
// coordinates.
py::tuple frameState(const PyFrame& f) {
  py::list blocks;
  for (const auto& xyz : f.frame.positions)
    blocks.append(
        py::bytes(reinterpret_cast<const char*>(xyz.data()), xyz.size() * sizeof(double)));
  return py::make_tuple(f.setup, text(f.moviePath), f.frame.index, f.frame.step, f.frame.time,
                        blocks);
}

PyFrame frameFromState(const py::tuple& t) {
  if (t.size() != 6) throw tavo::Error("a pickled tavo.Frame holds 6 items");
  PyFrame f(t[0].cast<SetupPtr>(), bytesOf(t[1]));
  f.frame.index = t[2].cast<std::size_t>();
  f.frame.step = t[3].cast<int>();
  f.frame.time = t[4].cast<double>();
  for (py::handle block : t[5].cast<py::list>()) {
    const std::string raw = block.cast<std::string>();
    if (raw.size() % (3 * sizeof(double)) != 0)
      throw tavo::Error("a pickled tavo.Frame holds a partial coordinate");
    std::vector<double> xyz(raw.size() / sizeof(double));
    std::copy(raw.begin(), raw.end(), reinterpret_cast<char*>(xyz.data()));
    f.frame.positions.push_back(std::move(xyz));
  }
  if (f.frame.positions.size() != f.setup->species.size())
    throw tavo::Error(f.setup->path + ": a pickled tavo.Frame does not match the setup's species");
  return f;
}

// ---------------------------------------------------------------------------
// Regions
// ---------------------------------------------------------------------------

using tavo::detail::RegionRow;

// Volume of a region, m^3, from its shape's numbers: the measure of the set
// that its membership test accepts (open shapes; a shell is the set of
// points inside exactly one of its two shapes, so its volume is the two
// volumes less twice their overlap).
double boxVolume(double wx, double wy, double wz) {
  return std::max(wx, 0.0) * std::max(wy, 0.0) * std::max(wz, 0.0);
}
double ballVolume(double r) { return 4.0 / 3.0 * std::numbers::pi * r * r * std::fabs(r); }
double discArea(double r) { return std::numbers::pi * r * r; }

double regionVolume(const RegionRow& row) {
  const auto& p = row.params;
  switch (row.type) {
    case REGION_BOX:
      return boxVolume(p[3], p[4], p[5]);
    case REGION_BOXSHELL: {
      const double overlap =
          boxVolume(std::min(p[3], p[6]), std::min(p[4], p[7]), std::min(p[5], p[8]));
      return boxVolume(p[3], p[4], p[5]) + boxVolume(p[6], p[7], p[8]) - 2.0 * overlap;
    }
    case REGION_SPHERE:
      return std::fabs(ballVolume(p[3]));
    case REGION_SPHERESHELL:
      return std::fabs(std::fabs(ballVolume(p[3])) - std::fabs(ballVolume(p[4])));
    case REGION_CYLINDER:
      return discArea(p[3]) * std::max(p[4], 0.0);
    case REGION_CYLINDERSHELL:
      return std::fabs(discArea(p[3]) - discArea(p[4])) * std::max(p[5], 0.0);
    default:
      return 0.0;
  }
}

// Runs `mark(i, inside)` for each of `n` points (x y z at xyz + 3i) against
// one region, with the library's own membership tests.
template <typename Mark>
void testPoints(const RegionRow& row, const double* xyz, std::size_t n, Mark&& mark) {
  const auto& p = row.params;
  auto each = [&](auto&& inside) {
    for (std::size_t i = 0; i < n; ++i, xyz += 3) mark(i, inside(xyz[0], xyz[1], xyz[2]));
  };
  switch (row.type) {
    case REGION_BOX:
      return each([&](double x, double y, double z) {
        return inBox(p[0], p[1], p[2], p[3], p[4], p[5], x, y, z);
      });
    case REGION_BOXSHELL:
      return each([&](double x, double y, double z) {
        return inBoxShell(p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7], p[8], x, y, z);
      });
    case REGION_SPHERE:
      return each(
          [&](double x, double y, double z) { return inSphere(p[0], p[1], p[2], p[3], x, y, z); });
    case REGION_SPHERESHELL:
      return each([&](double x, double y, double z) {
        return inSphereShell(p[0], p[1], p[2], p[3], p[4], x, y, z);
      });
    case REGION_CYLINDER:
      return each([&](double x, double y, double z) {
        return inCylinder(p[0], p[1], p[2], p[3], p[4], x, y, z);
      });
    case REGION_CYLINDERSHELL:
      return each([&](double x, double y, double z) {
        return inCylinderShell(p[0], p[1], p[2], p[3], p[4], p[5], x, y, z);
      });
    default:
      throw tavo::Error("region of unknown type " + std::to_string(row.type));
  }
}

// One region of a region file, as a value.
struct PyRegion {
  int id = 0;
  RegionRow row;
  double volume = 0.0;
};

// A region file: its regions in ID order, its path (absolute too, by which it
// pickles), and the regions from the smallest to the largest (which()).
struct PyRegions {
  std::string path;
  std::string absolute;
  std::vector<PyRegion> regions;
  std::vector<std::size_t> smallestFirst;
};
using RegionsPtr = std::shared_ptr<PyRegions>;

RegionsPtr readRegions(const std::filesystem::path& path) {
  auto r = std::make_shared<PyRegions>();
  r->path = path.string();
  std::vector<RegionRow> rows;
  {
    py::gil_scoped_release unlocked;
    rows = opening(r->path, [&] { return tavo::formats::readRegions(r->path); });
  }
  r->absolute = absolutePath(path);
  for (std::size_t i = 0; i < rows.size(); ++i)
    r->regions.push_back({static_cast<int>(i), rows[i], regionVolume(rows[i])});
  r->smallestFirst.resize(rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) r->smallestFirst[i] = i;
  std::stable_sort(
      r->smallestFirst.begin(), r->smallestFirst.end(),
      [&](std::size_t a, std::size_t b) { return r->regions[a].volume < r->regions[b].volume; });
  return r;
}

// Points as an (..., 3) float64 array, C order (converted when given
// otherwise); the shape of one answer per point.
using Points = py::array_t<double, py::array::c_style | py::array::forcecast>;

std::vector<py::ssize_t> pointShape(const Points& points) {
  if (points.ndim() < 1 || points.shape(points.ndim() - 1) != 3)
    throw py::value_error("points must be an array of shape (..., 3)");
  return {points.shape(), points.shape() + points.ndim() - 1};
}

py::array_t<bool> containsPoints(const RegionRow& row, const Points& points) {
  py::array_t<bool> inside(pointShape(points));
  const std::size_t n = static_cast<std::size_t>(inside.size());
  bool* out = inside.mutable_data();
  const double* xyz = points.data();
  py::gil_scoped_release unlocked;
  testPoints(row, xyz, n, [out](std::size_t i, bool in) { out[i] = in; });
  return inside;
}

const PyRegion& regionAt(const PyRegions& r, py::handle region) {
  if (py::isinstance<PyRegion>(region)) return region.cast<const PyRegion&>();
  if (PyBool_Check(region.ptr()) || !PyIndex_Check(region.ptr()))
    throw py::type_error("a region is a Region or a region ID (int)");
  const auto k = py::reinterpret_steal<py::int_>(PyNumber_Index(region.ptr())).cast<std::int64_t>();
  return r.regions[resolveIndex(k, r.regions.size(), "region")];
}

// For each point, the ID of the smallest region that holds it, -1 for none.
py::array_t<std::int32_t> whichRegion(const PyRegions& r, const Points& points) {
  py::array_t<std::int32_t> which(pointShape(points));
  const std::size_t n = static_cast<std::size_t>(which.size());
  std::int32_t* out = which.mutable_data();
  const double* xyz = points.data();
  py::gil_scoped_release unlocked;
  std::fill(out, out + n, -1);
  // Largest first, each smaller region overwriting: the smallest holder wins,
  // and among equal volumes the lowest ID (stable order, walked backwards).
  for (auto it = r.smallestFirst.rbegin(); it != r.smallestFirst.rend(); ++it) {
    const PyRegion& region = r.regions[*it];
    testPoints(region.row, xyz, n, [&](std::size_t i, bool in) {
      if (in) out[i] = region.id;
    });
  }
  return which;
}

py::str regionRepr(const PyRegion& region) {
  const char* type = tavo::detail::regionTypeName(region.row.type);
  std::string numbers;
  for (int j = 3; j < NparamType[region.row.type]; ++j)
    numbers +=
        (j > 3 ? ", " : "") +
        py::repr(py::float_(region.row.params[static_cast<std::size_t>(j)])).cast<std::string>();
  const auto& c = region.row.params;
  return py::str("<tavo.Region {}: {} centre ({!r}, {!r}, {!r}) parameters ({}) volume {:.6g} m^3>")
      .format(region.id, type != nullptr ? type : "?", c[0], c[1], c[2], numbers, region.volume);
}

// ---------------------------------------------------------------------------
// Movie
// ---------------------------------------------------------------------------

// What a Python Movie and every selection and iterator of it share. The C++
// movie lets one thread index while others read; two refreshes at once are
// kept apart here, since Python threads may call refresh() together. close()
// lets the movie go: reads already under way finish on their own reference,
// and the file is closed when the last of them ends.
struct MovieShare : std::enable_shared_from_this<MovieShare> {
  MovieShare(std::shared_ptr<tavo::Movie> m, SetupPtr s, std::string p, std::string abs)
      : setup(std::move(s)), path(std::move(p)), absolute(std::move(abs)), open(std::move(m)) {}

  std::shared_ptr<tavo::Movie> movie() const {
    std::lock_guard<std::mutex> one(guard);
    if (!open) throw tavo::Error(path + ": the movie is closed");
    return open;
  }
  void close() {
    std::shared_ptr<tavo::Movie> gone;
    std::lock_guard<std::mutex> one(guard);
    gone.swap(open);
  }
  bool closed() const {
    std::lock_guard<std::mutex> one(guard);
    return !open;
  }

  SetupPtr setup;
  std::string path;
  std::string absolute;
  std::mutex refreshing;

 private:
  mutable std::mutex guard;  // guards `open`
  std::shared_ptr<tavo::Movie> open;
};
using MoviePtr = std::shared_ptr<MovieShare>;

MoviePtr openMovie(SetupPtr setup, const std::filesystem::path& moviePath) {
  const std::string p = moviePath.string();
  std::shared_ptr<tavo::Movie> movie;
  {
    py::gil_scoped_release unlocked;
    movie = opening(p, [&] { return std::make_shared<tavo::Movie>(*setup, p); });
  }
  return std::make_shared<MovieShare>(std::move(movie), std::move(setup), p,
                                      absolutePath(moviePath));
}

std::size_t refreshMovie(MovieShare& m, std::int64_t maxBytes) {
  auto movie = m.movie();
  py::gil_scoped_release unlocked;
  std::lock_guard<std::mutex> one(m.refreshing);
  return movie->refresh(maxBytes);
}

// An arithmetic run of frame indices, as a slice of a movie picks them.
struct FrameRange {
  std::size_t start = 0;
  std::int64_t stride = 1;
  std::size_t length = 0;

  std::size_t at(std::size_t i) const {
    return static_cast<std::size_t>(static_cast<std::int64_t>(start) +
                                    static_cast<std::int64_t>(i) * stride);
  }
  FrameRange slice(const py::slice& s) const {
    py::ssize_t first = 0, stop = 0, step = 0, n = 0;
    if (!s.compute(static_cast<py::ssize_t>(length), &first, &stop, &step, &n))
      throw py::error_already_set();
    // An empty run keeps a start in bounds; it is never read.
    return {n > 0 ? at(static_cast<std::size_t>(first)) : start, stride * step,
            static_cast<std::size_t>(n)};
  }
};

// Frames of one movie: the whole movie as indexed now, or a selection of it
// (m[::10]). Frames are read when asked for, one at a time.
struct FrameRun {
  MoviePtr movie;
  FrameRange range;
};

FrameRun runOf(const MovieShare& m) {
  return {std::const_pointer_cast<MovieShare>(m.shared_from_this()), {0, 1, m.movie()->size()}};
}
FrameRun runOf(const FrameRun& r) { return r; }

// The share behind a movie or a selection, open or closed.
const MovieShare& shareOf(const MovieShare& m) { return m; }
const MovieShare& shareOf(const FrameRun& r) { return *r.movie; }

// Iterates over a fixed run of frames, reading each when it is reached.
struct FrameIterator {
  FrameRun run;
  std::size_t next = 0;
};

PyFrame readFrame(const FrameRun& r, std::size_t i) {
  PyFrame f(r.movie->setup, r.movie->path);
  const std::size_t k = r.range.at(i);
  auto movie = r.movie->movie();
  py::gil_scoped_release unlocked;
  movie->read(k, f.frame);
  return f;
}

// The movie positions of the frames `frames` picks out of run `r`: all of
// them (None), a slice, or a sequence of indices (negative from the end).
std::vector<std::size_t> pickFrames(const FrameRun& r, const py::object& frames) {
  FrameRange range = r.range;
  std::vector<std::size_t> picked;
  if (py::isinstance<py::slice>(frames)) {
    range = range.slice(frames.cast<py::slice>());
  } else if (!frames.is_none()) {
    for (py::handle k : frames) {
      if (PyBool_Check(k.ptr()) || !PyIndex_Check(k.ptr()))
        throw py::type_error("frames: a slice or a sequence of frame indices");
      const auto i = py::reinterpret_steal<py::int_>(PyNumber_Index(k.ptr())).cast<std::int64_t>();
      picked.push_back(range.at(resolveIndex(i, range.length)));
    }
    return picked;
  }
  picked.reserve(range.length);
  for (std::size_t i = 0; i < range.length; ++i) picked.push_back(range.at(i));
  return picked;
}

// The picked frames in the padded layout: every slot of every species in
// setup order, read by the C++ reader straight into the NumPy arrays.
py::tuple paddedFrames(const FrameRun& r, const py::object& frames) {
  const std::vector<std::size_t> picked = pickFrames(r, frames);
  auto movie = r.movie->movie();
  const auto slots = static_cast<py::ssize_t>(movie->slotCount());
  const auto count = static_cast<py::ssize_t>(picked.size());
  py::array_t<double> positions({count, slots, py::ssize_t{3}});
  py::array_t<bool> alive({count, slots});
  double* xyz = positions.mutable_data();
  auto* live = reinterpret_cast<std::uint8_t*>(alive.mutable_data());
  static_assert(sizeof(bool) == sizeof(std::uint8_t));
  {
    py::gil_scoped_release unlocked;
    tavo::Frame scratch;
    const auto perFrame = static_cast<std::size_t>(slots);
    for (std::size_t i = 0; i < picked.size(); ++i)
      movie->readPadded(picked[i], scratch, xyz + 3 * perFrame * i, live + perFrame * i);
  }
  return py::make_tuple(positions, alive);
}

py::array_t<std::int32_t> slotSpecies(const MovieShare& m) {
  const std::vector<int> ids = m.movie()->slotSpecies();
  py::array_t<std::int32_t> out(static_cast<py::ssize_t>(ids.size()));
  std::copy(ids.begin(), ids.end(), out.mutable_data());
  return out;
}

py::array_t<std::int64_t> runSteps(const FrameRun& r) {
  py::array_t<std::int64_t> steps(static_cast<py::ssize_t>(r.range.length));
  std::int64_t* out = steps.mutable_data();
  auto movie = r.movie->movie();
  py::gil_scoped_release unlocked;
  for (std::size_t i = 0; i < r.range.length; ++i) out[i] = movie->step(r.range.at(i));
  return steps;
}

// Times as the frames give them: step x time step, in double.
py::array_t<double> runTimes(const FrameRun& r) {
  py::array_t<double> times(static_cast<py::ssize_t>(r.range.length));
  double* out = times.mutable_data();
  const double dt = r.movie->setup->timeStep;
  auto movie = r.movie->movie();
  py::gil_scoped_release unlocked;
  for (std::size_t i = 0; i < r.range.length; ++i)
    out[i] = static_cast<double>(movie->step(r.range.at(i))) * dt;
  return times;
}

py::array_t<std::int64_t> runCounts(const FrameRun& r) {
  const std::size_t species = r.movie->setup->species.size();
  py::array_t<std::int64_t> counts(
      {static_cast<py::ssize_t>(r.range.length), static_cast<py::ssize_t>(species)});
  std::int64_t* out = counts.mutable_data();
  auto movie = r.movie->movie();
  py::gil_scoped_release unlocked;
  for (std::size_t i = 0; i < r.range.length; ++i)
    for (std::size_t s = 0; s < species; ++s)
      out[i * species + s] = movie->count(r.range.at(i), static_cast<int>(s));
  return counts;
}

// One species' live molecules in every frame of the run.
py::array_t<std::int64_t> runSpeciesCounts(const FrameRun& r, py::handle key) {
  const int species = speciesIndex(*r.movie->setup, key);
  py::array_t<std::int64_t> counts(static_cast<py::ssize_t>(r.range.length));
  std::int64_t* out = counts.mutable_data();
  auto movie = r.movie->movie();
  py::gil_scoped_release unlocked;
  for (std::size_t i = 0; i < r.range.length; ++i) out[i] = movie->count(r.range.at(i), species);
  return counts;
}

py::array_t<std::int64_t> runIndices(const FrameRun& r) {
  py::array_t<std::int64_t> indices(static_cast<py::ssize_t>(r.range.length));
  std::int64_t* out = indices.mutable_data();
  for (std::size_t i = 0; i < r.range.length; ++i)
    out[i] = static_cast<std::int64_t>(r.range.at(i));
  return indices;
}

py::str movieRepr(const MovieShare& m) {
  if (m.closed()) return display("<tavo.Movie '" + m.path + "': closed>");
  return display("<tavo.Movie '" + m.path + "': " + std::to_string(m.movie()->size()) +
                 " frames, " + std::to_string(m.setup->species.size()) + " species>");
}

// ---------------------------------------------------------------------------
// Module
// ---------------------------------------------------------------------------

void defineRecords(py::module_& m) {
  py::object namedtuple = py::module_::import("collections").attr("namedtuple");
  py::object species =
      namedtuple("Species", py::make_tuple("id", "name", "mass", "size", "diffusion", "slots",
                                           "initial_alive", "region"));
  species.attr("__doc__") =
      "A species of a setup: ID, name, atomic mass, size (diameter, m), diffusion\n"
      "constant (m^2/s), slots (the most live molecules a frame may hold), live\n"
      "molecules at the start, and the ID of the region it lives in.";
  py::object forward =
      namedtuple("ForwardReaction", py::make_tuple("reactant1", "reactant2", "product", "kf"));
  forward.attr("__doc__") =
      "A bimolecular reaction reactant1 + reactant2 -> product with rate constant kf.";
  py::object reverse = namedtuple("ReverseReaction", py::make_tuple("reactant", "products", "kr"));
  reverse.attr("__doc__") =
      "A unimolecular reaction reactant -> products (a tuple of IDs) with rate constant kr.";
  for (py::object* type : {&species, &forward, &reverse}) type->attr("__module__") = "tavo";
  m.attr("Species") = species;
  m.attr("ForwardReaction") = forward;
  m.attr("ReverseReaction") = reverse;
  state.speciesType = species.release();
  state.forwardType = forward.release();
  state.reverseType = reverse.release();
}

void defineErrors(py::module_& m) {
  py::object error = py::reinterpret_steal<py::object>(
      PyErr_NewExceptionWithDoc("tavo.Error",
                                "Every failure of the module: a file that cannot be read, a "
                                "malformed one, an unknown species. A ValueError; a file that "
                                "cannot be opened raises a subclass that is an OSError too.",
                                PyExc_ValueError, nullptr));
  if (!error) throw py::error_already_set();
  m.attr("Error") = error;
  state.error = error.release();
  m.def(
      "_set_file_error", [](py::object factory) { state.fileError = factory.release(); },
      "Installs the factory of file errors: (message, errno, filename) -> exception.");
  py::register_exception_translator([](std::exception_ptr failure) {
    try {
      if (failure) std::rethrow_exception(failure);
    } catch (const tavo::Error& e) {
      raise(e);
    }
  });
}

void defineSetup(py::module_& m) {
  py::class_<PySetup, SetupPtr>(m, "Setup", R"doc(
A setup file read into plain Python values.

Parameters
----------
path : str, bytes or os.PathLike
    The setup file.

Attributes
----------
species : list of Species
    In ID order: id, name, mass, size, diffusion, slots, initial_alive, region.
forward, reverse : list of ForwardReaction, list of ReverseReaction
    The reaction lines in file order.
temperature, viscosity, pH : float
total_step : int
    Number of simulation steps.
time_step : float
    Seconds per step.

A Setup pickles by its file's absolute path and is read again on loading.

Raises
------
tavo.Error
    When the file is malformed; the message names the file. A file that
    cannot be opened raises tavo.FileNotFoundError, tavo.PermissionError, ...:
    each both a tavo.Error and the matching OSError.
)doc")
      .def(py::init(&readSetup), py::arg("path"))
      .def_property_readonly(
          "path", [](const PySetup& s) { return text(s.path); }, "The setup file's path.")
      .def_property_readonly(
          "species", [](const PySetup& s) { return speciesRecords(s); },
          "The species, in ID order (list of Species).")
      .def_property_readonly(
          "species_names", [](const PySetup& s) { return speciesNames(s); },
          "The species names, in ID order.")
      .def_property_readonly(
          "forward", [](const PySetup& s) { return forwardRecords(s); },
          "Forward reactions, in file order.")
      .def_property_readonly(
          "reverse", [](const PySetup& s) { return reverseRecords(s); },
          "Reverse reactions, in file order.")
      .def_readonly("temperature", &tavo::Setup::temperature, "Temperature, K.")
      .def_readonly("viscosity", &tavo::Setup::viscosity, "Viscosity.")
      .def_readonly("pH", &tavo::Setup::pH, "pH.")
      .def_readonly("total_step", &tavo::Setup::totalStep, "Number of simulation steps.")
      .def_readonly("time_step", &tavo::Setup::timeStep, "Seconds per step.")
      .def(
          "species_id", [](const PySetup& s, py::object name) { return speciesIndex(s, name); },
          py::arg("name"),
          "ID of the species called `name`; tavo.Error when there is none, or when two "
          "species share the name.")
      .def(
          "region_of",
          [](const PySetup& s, py::object species) {
            return s.species[static_cast<std::size_t>(speciesIndex(s, species))].region;
          },
          py::arg("species"),
          "ID of the region a species (name or ID) lives in: an index into tavo.Regions.")
      .def("__repr__", [](const PySetup& s) { return setupRepr(s); })
      .def(py::pickle(
          [](const PySetup& s) { return py::make_tuple(text(s.absolute)); },
          [](const py::tuple& t) { return readSetup(t[0].cast<std::filesystem::path>()); }));
}

void defineFrame(py::module_& m) {
  py::class_<PyFrame>(m, "Frame", R"doc(
One frame of a movie: its step, time and every species' live molecules.

Frames come from a Movie (``m[k]``, iteration); they hold their coordinates
and stay valid after the movie is gone. A frame pickles by value.

Attributes
----------
index : int
    Position of the frame in the movie.
step : int
time : float
    step x the setup's time step, seconds.
counts : numpy.ndarray of int64
    Live molecules of each species, in ID order.
species : list of str
    The species names, in ID order.
species_ids : numpy.ndarray of int32
    The species ID of each row of ``all_positions()``.
setup : Setup
)doc")
      .def_property_readonly(
          "index", [](const PyFrame& f) { return f.frame.index; },
          "Position of the frame in the movie.")
      .def_property_readonly(
          "step", [](const PyFrame& f) { return f.frame.step; }, "Simulation step of the frame.")
      .def_property_readonly(
          "time", [](const PyFrame& f) { return f.frame.time; },
          "step x the setup's time step, seconds.")
      .def_property_readonly("counts", &frameCounts, "Live molecules of each species, in ID order.")
      .def_property_readonly(
          "species", [](const PyFrame& f) { return speciesNames(*f.setup); },
          "The species names, in ID order.")
      .def_property_readonly(
          "setup", [](const PyFrame& f) { return f.setup; }, "The Setup of the frame's movie.")
      .def_property_readonly("species_ids", &speciesIds,
                             "Species ID of each row of all_positions() (int32, read-only).")
      .def("positions", &positionsView, py::arg("species"),
           R"doc(Live molecules' coordinates of one species.

Parameters
----------
species : str or int
    Species name or ID.

Returns
-------
numpy.ndarray
    Shape (n, 3), float64, metres, in file order; a read-only view of the
    frame's own data (no copy). Use ``.copy()`` for an array to modify.

Notes
-----
Molecules are listed afresh in every frame: the i-th molecule of one frame is
not necessarily the i-th of the next once molecules of the species have been
made or consumed.

Raises
------
tavo.Error
    When the setup has no such species, or two species share the name.
)doc")
      .def("all_positions", &allPositions, R"doc(Every live molecule's coordinates.

Returns
-------
numpy.ndarray
    Shape (N, 3), float64, metres: species 0's molecules in file order, then
    species 1's, ...; ``species_ids`` gives each row's species. Read-only;
    made once per frame (a view of the frame's own data when the setup has a
    single species).
)doc")
      .def("__repr__", &frameRepr)
      .def(py::pickle(&frameState, &frameFromState));
}

void defineRegions(py::module_& m) {
  py::class_<PyRegion>(m, "Region", R"doc(
One region of a region file.

Attributes
----------
id : int
type : str
    box, boxshell, sphere, sphereshell, cylinder or cylindershell.
centre : tuple of float
    x, y, z, metres.
parameters : tuple of float
    The type's numbers after the centre, as in the file: widths x, y, z (box;
    a box shell has two boxes), radius (sphere), radii r1 r2 (sphere shell),
    radius and length (cylinder, axis along x), radii and length (cylinder
    shell).
volume : float
    m^3: the volume of the points the region holds (a shell's: the points
    inside exactly one of its two shapes).
)doc")
      .def_readonly("id", &PyRegion::id)
      .def_property_readonly(
          "type",
          [](const PyRegion& r) { return std::string(tavo::detail::regionTypeName(r.row.type)); })
      .def_property_readonly("centre",
                             [](const PyRegion& r) {
                               return py::make_tuple(r.row.params[0], r.row.params[1],
                                                     r.row.params[2]);
                             })
      .def_property_readonly("parameters",
                             [](const PyRegion& r) {
                               py::list out;
                               for (int j = 3; j < NparamType[r.row.type]; ++j)
                                 out.append(r.row.params[static_cast<std::size_t>(j)]);
                               return py::tuple(out);
                             })
      .def_readonly("volume", &PyRegion::volume)
      .def(
          "contains",
          [](const PyRegion& r, const Points& points) { return containsPoints(r.row, points); },
          py::arg("points"), "Whether each point of an (..., 3) array lies in the region (bool).")
      .def("__repr__", &regionRepr);

  py::class_<PyRegions, RegionsPtr>(m, "Regions", R"doc(
A region file: a sequence of Region, in ID order.

Parameters
----------
path : str, bytes or os.PathLike
    The region file.

``len(regions)``, ``regions[k]`` (negative from the end), iteration.
Membership uses the library's own tests, the ones the simulator places and
keeps molecules with: open shapes (a point on a boundary is outside), and a
shell holds the points inside exactly one of its two shapes. A Regions
pickles by its file's absolute path.

Raises
------
tavo.Error
    When the file is malformed (tavo.FileNotFoundError, ... when it cannot be
    opened).

Examples
--------
>>> regions = tavo.Regions("demo.regions")
>>> cell = regions[setup.region_of("S")]
>>> inside = regions.contains(frame.all_positions(), cell)
)doc")
      .def(py::init(&readRegions), py::arg("path"))
      .def_property_readonly(
          "path", [](const PyRegions& r) { return text(r.path); }, "The region file's path.")
      .def("__len__", [](const PyRegions& r) { return r.regions.size(); })
      .def(
          "__getitem__",
          [](const PyRegions& r, std::int64_t k) {
            return r.regions[resolveIndex(k, r.regions.size(), "region")];
          },
          py::arg("k"))
      .def("__iter__", [](const PyRegions& r) { return py::iter(py::cast(r.regions)); })
      .def_property_readonly(
          "volumes",
          [](const PyRegions& r) {
            py::array_t<double> out(static_cast<py::ssize_t>(r.regions.size()));
            for (std::size_t i = 0; i < r.regions.size(); ++i)
              out.mutable_data()[i] = r.regions[i].volume;
            return out;
          },
          "Every region's volume, m^3, in ID order.")
      .def(
          "contains",
          [](const PyRegions& r, const Points& points, py::handle region) {
            return containsPoints(regionAt(r, region).row, points);
          },
          py::arg("points"), py::arg("region"),
          R"doc(Whether each point lies in a region.

Parameters
----------
points : array_like, shape (..., 3)
    Coordinates, metres (converted to float64 when given otherwise).
region : int or Region
    A region ID (negative from the end) or a Region.

Returns
-------
numpy.ndarray of bool, shape (...)
)doc")
      .def("which", &whichRegion, py::arg("points"),
           R"doc(The region each point lies in.

Returns
-------
numpy.ndarray of int32, shape (...)
    For each point the ID of the smallest region (by volume) that holds it,
    the lower ID among regions of equal volume; -1 where no region does. With
    nested regions (a nucleus in a cell) that is the innermost.
)doc")
      .def("__repr__",
           [](const PyRegions& r) {
             return display("<tavo.Regions '" + r.path + "': " + std::to_string(r.regions.size()) +
                            " regions>");
           })
      .def(py::pickle(
          [](const PyRegions& r) { return py::make_tuple(text(r.absolute)); },
          [](const py::tuple& t) { return readRegions(t[0].cast<std::filesystem::path>()); }));
}

// The sequence protocol and the index arrays, alike for a Movie and for a
// selection of its frames.
template <typename Class>
void defineFrameSequence(Class& cls) {
  using T = typename Class::type;
  cls.def("__len__", [](const T& x) { return runOf(x).range.length; })
      .def(
          "__getitem__",
          [](const T& x, std::int64_t k) {
            const FrameRun r = runOf(x);
            return readFrame(r, resolveIndex(k, r.range.length));
          },
          py::arg("k"), "Frame k; negative k counts from the end.")
      .def(
          "__getitem__",
          [](const T& x, const py::slice& s) {
            FrameRun r = runOf(x);
            r.range = r.range.slice(s);
            return r;
          },
          py::arg("frames"), "A selection of frames (a Frames), read lazily.")
      .def(
          "__getitem__",
          [](const T& x, const py::str& species) { return runSpeciesCounts(runOf(x), species); },
          py::arg("species"),
          "Live molecules of one species in every frame (int64), from the index.")
      .def(
          "__iter__", [](const T& x) { return FrameIterator{runOf(x)}; },
          "Iterate over the frames (those indexed when the iteration starts).")
      .def_property_readonly(
          "steps", [](const T& x) { return runSteps(runOf(x)); },
          "Step of every frame, from the index (int64).")
      .def_property_readonly(
          "times", [](const T& x) { return runTimes(runOf(x)); },
          "step x the setup's time step of every frame, seconds (float64).")
      .def_property_readonly(
          "counts", [](const T& x) { return runCounts(runOf(x)); },
          "Live molecules, shape (frames, species), from the index (int64).")
      .def_property_readonly(
          "indices", [](const T& x) { return runIndices(runOf(x)); },
          "Positions of the frames in the movie (int64).")
      .def_property_readonly(
          "setup", [](const T& x) { return shareOf(x).setup; }, "The Setup of the movie.")
      .def_property_readonly(
          "slot_species", [](const T& x) { return slotSpecies(shareOf(x)); },
          "The species ID of every slot of padded(), in setup order (int32).")
      .def(
          "padded",
          [](const T& x, const py::object& frames) { return paddedFrames(runOf(x), frames); },
          py::arg("frames") = py::none(),
          R"doc(Frames in the padded layout: every slot of every species.

Parameters
----------
frames : slice or sequence of int, optional
    The frames to read (all when omitted); negative indices count from the
    end.

Returns
-------
positions : numpy.ndarray of float64, shape (frames, slots, 3)
    Metres. Each species has as many slots as its setup line gives, in setup
    order (``slot_species``); a species' live molecules fill its first slots
    in file order, and empty slots hold NaN.
alive : numpy.ndarray of bool, shape (frames, slots)
    True where a slot holds a live molecule.

Notes
-----
Slot i of a species is its i-th live molecule in that frame, not the same
molecule over time: molecules are listed afresh in every frame. The frames
are read by the C++ reader straight into the arrays, with the GIL released.
)doc");
}

void defineMovie(py::module_& m) {
  py::class_<FrameIterator>(m, "FrameIterator", "Iterator over frames, each read when reached.")
      .def("__iter__", [](py::object self) { return self; })
      .def("__next__", [](FrameIterator& it) {
        if (it.next >= it.run.range.length) throw py::stop_iteration();
        return readFrame(it.run, it.next++);
      });

  py::class_<FrameRun> frames(m, "Frames", R"doc(
A selection of a movie's frames, such as ``m[::10]``: a sequence read lazily.

Supports ``len``, indexing (negative too), slicing, ``f['S']`` and iteration,
and has ``steps``, ``times``, ``counts``, ``indices`` (positions in the movie)
and ``padded()`` like a Movie. It pickles as its movie (by path) and its
frame indices.
)doc");
  defineFrameSequence(frames);
  // A selection pickles as its movie (by path) and its run of indices.
  frames.def(py::pickle(
      [](const FrameRun& r) {
        return py::make_tuple(r.movie, r.range.start, r.range.stride, r.range.length);
      },
      [](const py::tuple& t) {
        return FrameRun{
            t[0].cast<MoviePtr>(),
            {t[1].cast<std::size_t>(), t[2].cast<std::int64_t>(), t[3].cast<std::size_t>()}};
      }));
  frames.def("__repr__", [](const FrameRun& r) {
    return display("<tavo.Frames of '" + r.movie->path + "': " + std::to_string(r.range.length) +
                   " frames>");
  });

  py::class_<MovieShare, MoviePtr> movie(m, "Movie", R"doc(
A movie file of a setup: frames indexed once, each read on demand.

Parameters
----------
setup : str, bytes, os.PathLike or Setup
    The setup the movie was written for (a path, or a Setup already read).
movie_path : str, bytes or os.PathLike
    The movie file: plain text, gzip or zstd (told by its first bytes). It is
    indexed to its last complete frame; bytes after it (a frame still being
    written) are left for ``refresh()``.

A Movie is a sequence of Frame: ``len(m)``, ``m[k]``, ``m[-1]``, ``m[::10]``
(a lazy Frames selection) and ``for frame in m``; ``m['S']`` is one species'
live count in every frame. ``padded()`` reads a range of frames into
(frames, slots, 3) arrays. Any number of movies may be open at once. Reading
releases the GIL.

``with tavo.Movie(...) as m:`` closes the file at the end of the block, as
``m.close()`` does; a closed movie raises tavo.Error when used. A Movie
pickles by its files' absolute paths and is opened (and indexed) again on
loading, so that it can be handed to multiprocessing workers.

Attributes
----------
steps : numpy.ndarray of int64
    Step of every frame, from the index.
times : numpy.ndarray of float64
    step x time step, seconds.
counts : numpy.ndarray of int64, shape (frames, species)
    Live molecules per frame and species, from the index (no frame read).
indices : numpy.ndarray of int64
    0 .. len - 1 (as for a selection).
slot_species : numpy.ndarray of int32
    The species ID of each slot of ``padded()``.
species : list of str
    The species names, in ID order.
setup : Setup
partial_bytes : int
    Bytes after the last complete frame, waiting for ``refresh()``.
runs : list of Run
    Run(first_frame, frames, first_step, last_step) of each run: a step equal
    to or below the one before starts a new one.

Raises
------
tavo.Error
    When a frame is damaged; the message names the file, and the frame and
    byte offset where there is one. A file that cannot be opened raises
    tavo.FileNotFoundError, tavo.PermissionError, ...: each both a tavo.Error
    and the matching OSError.

Examples
--------
>>> m = tavo.Movie("demo.Tavosetup", "demo.Tavomovie")
>>> last = m[-1]
>>> xyz = last.positions("S")   # (n, 3) float64, no copy
>>> positions, alive = m.padded(slice(0, 100))
)doc");
  movie.def(py::init(&openMovie), py::arg("setup"), py::arg("movie_path"))
      .def(py::init(
               [](const std::filesystem::path& setupPath, const std::filesystem::path& moviePath) {
                 return openMovie(readSetup(setupPath), moviePath);
               }),
           py::arg("setup"), py::arg("movie_path"))
      .def_property_readonly(
          "path", [](const MovieShare& mv) { return text(mv.path); }, "The movie file's path.")
      .def_property_readonly(
          "species", [](const MovieShare& mv) { return speciesNames(*mv.setup); },
          "The species names, in ID order.")
      .def_property_readonly(
          "partial_bytes", [](const MovieShare& mv) { return mv.movie()->partialBytes(); },
          "Bytes after the last complete frame (a frame still being written).")
      .def_property_readonly(
          "runs",
          [](const MovieShare& mv) {
            py::object run =
                py::module_::import("collections")
                    .attr("namedtuple")(
                        "Run", py::make_tuple("first_frame", "frames", "first_step", "last_step"));
            py::list runs;
            for (const tavo::Run& r : mv.movie()->runs())
              runs.append(run(r.firstFrame, r.frames, r.firstStep, r.lastStep));
            return runs;
          },
          "The runs, a list of Run(first_frame, frames, first_step, last_step): a step equal to "
          "or below the one before starts a new run (a simulation started again, appending).")
      .def_property_readonly("closed", &MovieShare::closed, "Whether close() was called.")
      .def("close", &MovieShare::close,
           "Closes the movie file (once reads under way have ended). Frames already read "
           "stay valid.")
      .def("__enter__", [](py::object self) { return self; })
      .def("__exit__",
           [](MovieShare& mv, const py::args&) {
             mv.close();
             return false;
           })
      .def("refresh", &refreshMovie, py::arg("max_bytes") = -1,
           R"doc(Index the frames appended since the last scan.

Parameters
----------
max_bytes : int, optional
    Scan at most about this many bytes (all when negative), to index a large
    file in pieces.

Returns
-------
int
    Number of frames added.

Raises
------
tavo.Error
    When an appended frame is damaged (the frames before it stay indexed),
    or when the file shrank or was replaced since it was indexed.
)doc")
      .def("__repr__", &movieRepr)
      .def(py::pickle(
          [](const MovieShare& mv) {
            return py::make_tuple(text(mv.setup->absolute), text(mv.absolute));
          },
          [](const py::tuple& t) {
            return openMovie(readSetup(t[0].cast<std::filesystem::path>()),
                             t[1].cast<std::filesystem::path>());
          }));
  defineFrameSequence(movie);
}

}  // namespace

PYBIND11_MODULE(_tavo, m) {
  m.doc() = "The compiled half of the tavo package; import tavo.";
  m.attr("__version__") = TAVO_VERSION;
  defineErrors(m);
  defineRecords(m);
  defineSetup(m);
  defineFrame(m);
  defineRegions(m);
  defineMovie(m);
  // The classes present themselves (and pickle) as tavo.X.
  for (const char* name :
       {"Setup", "Frame", "Region", "Regions", "Frames", "FrameIterator", "Movie"})
    m.attr(name).attr("__module__") = "tavo";
}
