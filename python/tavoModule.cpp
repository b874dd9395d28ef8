// tavoModule.cpp - the Python module `tavo`: setups and movies as NumPy
// arrays.
//
//   tavo.Setup(path)                  species, reactions, environment
//   tavo.Movie(setup, movie_path)     len, steps, times, counts, refresh,
//                                     m[k], m[-1], m[::10], iteration
//   frame.positions(species)          (n, 3) float64 view, no copy
//   tavo.Error                        every failure, a ValueError
//
// A frame's arrays borrow the frame's own vectors: each array holds a
// reference to the Python frame object, which owns its tavo::Frame, so the
// coordinates live as long as any array over them. No Python object is ever
// made per molecule. File work (reading a setup, indexing, reading a frame)
// runs with the GIL released.
//
// Sections: state, helpers, setup, frames, movie, module.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "trajectory/trajectory.h"

namespace py = pybind11;

namespace {

// ---------------------------------------------------------------------------
// State
// ---------------------------------------------------------------------------

// The named-tuple types that carry a setup's records to Python. Made once
// when the module loads; the module keeps them alive for the interpreter's
// life, so plain handles suffice (no destructor runs after finalisation).
struct State {
  py::handle speciesType;  // tavo.Species
  py::handle forwardType;  // tavo.ForwardReaction
  py::handle reverseType;  // tavo.ReverseReaction
};
State state;

// ---------------------------------------------------------------------------
// Helpers
// ---------------------------------------------------------------------------

// A species given by name or by ID, resolved against a setup.
using SpeciesKey = std::variant<int, std::string>;

int speciesIndex(const tavo::Setup& setup, const SpeciesKey& key) {
  const int n = static_cast<int>(setup.species.size());
  if (const int* id = std::get_if<int>(&key)) {
    if (*id < 0 || *id >= n)
      throw tavo::Error(setup.path + ": no species with ID " + std::to_string(*id) +
                        " (the setup has " + std::to_string(n) + ")");
    return *id;
  }
  const std::string& name = std::get<std::string>(key);
  const int id = setup.speciesId(name);
  if (id < 0) throw tavo::Error(setup.path + ": no species called '" + name + "'");
  return id;
}

py::list speciesNames(const tavo::Setup& setup) {
  py::list names;
  for (const tavo::Species& s : setup.species) names.append(s.name);
  return names;
}

// A Python index into `size` frames, negative counting from the end.
std::size_t resolveIndex(std::int64_t k, std::size_t size) {
  const auto n = static_cast<std::int64_t>(size);
  const std::int64_t at = k < 0 ? k + n : k;
  if (at < 0 || at >= n)
    throw py::index_error("frame index " + std::to_string(k) + " out of range (" +
                          std::to_string(size) + " frames)");
  return static_cast<std::size_t>(at);
}

// ---------------------------------------------------------------------------
// Setup
// ---------------------------------------------------------------------------

using SetupPtr = std::shared_ptr<tavo::Setup>;

SetupPtr readSetup(const std::string& path) {
  py::gil_scoped_release unlocked;
  return std::make_shared<tavo::Setup>(tavo::Setup::read(path));
}

py::list speciesRecords(const tavo::Setup& setup) {
  py::list out;
  for (const tavo::Species& s : setup.species)
    out.append(state.speciesType(s.id, s.name, s.mass, s.size, s.diffusion, s.slots, s.initialAlive,
                                 s.region));
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

std::string setupRepr(const tavo::Setup& setup) {
  return "<tavo.Setup '" + setup.path + "': " + std::to_string(setup.species.size()) +
         " species, " + std::to_string(setup.forward.size()) + " forward and " +
         std::to_string(setup.reverse.size()) + " reverse reactions>";
}

// ---------------------------------------------------------------------------
// Frames
// ---------------------------------------------------------------------------

// A frame as Python sees it: the frame itself and the setup that names its
// species. Held by value inside the Python object, whose lifetime the
// position arrays extend.
struct PyFrame {
  tavo::Frame frame;
  SetupPtr setup;
  std::string moviePath;
};

// Zero-copy (n, 3) view of one species' coordinates, read-only so that the
// frame stays what the file says.
py::array positionsView(const PyFrame& f, const SpeciesKey& key) {
  // The Python object that holds `f`: pybind11 hands back the existing one.
  py::object self = py::cast(&f, py::return_value_policy::reference);
  const int id = speciesIndex(*f.setup, key);
  const std::vector<double>& xyz = f.frame.positions[static_cast<std::size_t>(id)];
  const auto n = static_cast<py::ssize_t>(xyz.size() / 3);
  py::array_t<double> view({n, py::ssize_t{3}},
                           {py::ssize_t{3 * sizeof(double)}, py::ssize_t{sizeof(double)}},
                           xyz.data(), self);
  py::detail::array_proxy(view.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
  return view;
}

py::array_t<std::int64_t> frameCounts(const PyFrame& f) {
  py::array_t<std::int64_t> counts(static_cast<py::ssize_t>(f.frame.positions.size()));
  auto out = counts.mutable_unchecked<1>();
  for (std::size_t s = 0; s < f.frame.positions.size(); ++s)
    out(static_cast<py::ssize_t>(s)) = f.frame.count(static_cast<int>(s));
  return counts;
}

std::string frameRepr(const PyFrame& f) {
  std::int64_t molecules = 0;
  for (std::size_t s = 0; s < f.frame.positions.size(); ++s)
    molecules += f.frame.count(static_cast<int>(s));
  return "<tavo.Frame " + std::to_string(f.frame.index) + " of '" + f.moviePath + "': step " +
         std::to_string(f.frame.step) + ", time " +
         py::str("{:.6g}").format(f.frame.time).cast<std::string>() + " s, " +
         std::to_string(molecules) + " molecules>";
}

// ---------------------------------------------------------------------------
// Movie
// ---------------------------------------------------------------------------

// What a Python Movie and every selection and iterator of it share. The C++
// movie lets one thread index while others read; two refreshes at once are
// kept apart here, since Python threads may call refresh() together.
struct MovieShare : std::enable_shared_from_this<MovieShare> {
  MovieShare(tavo::Movie m, SetupPtr s) : movie(std::move(m)), setup(std::move(s)) {}
  tavo::Movie movie;
  SetupPtr setup;
  std::mutex refreshing;
};
using MoviePtr = std::shared_ptr<MovieShare>;

MoviePtr openMovie(SetupPtr setup, const std::string& moviePath) {
  py::gil_scoped_release unlocked;
  return std::make_shared<MovieShare>(tavo::Movie(*setup, moviePath), std::move(setup));
}

std::size_t refreshMovie(MovieShare& m, std::int64_t maxBytes) {
  py::gil_scoped_release unlocked;
  std::lock_guard<std::mutex> one(m.refreshing);
  return m.movie.refresh(maxBytes);
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
  return {std::const_pointer_cast<MovieShare>(m.shared_from_this()), {0, 1, m.movie.size()}};
}
FrameRun runOf(const FrameRun& r) { return r; }

// Iterates over a fixed run of frames, reading each when it is reached.
struct FrameIterator {
  FrameRun run;
  std::size_t next = 0;
};

PyFrame readFrame(const FrameRun& r, std::size_t i) {
  PyFrame f{{}, r.movie->setup, r.movie->movie.path()};
  const std::size_t k = r.range.at(i);
  py::gil_scoped_release unlocked;
  r.movie->movie.read(k, f.frame);
  return f;
}

py::array_t<std::int64_t> runSteps(const FrameRun& r) {
  py::array_t<std::int64_t> steps(static_cast<py::ssize_t>(r.range.length));
  std::int64_t* out = steps.mutable_data();
  py::gil_scoped_release unlocked;
  for (std::size_t i = 0; i < r.range.length; ++i) out[i] = r.movie->movie.step(r.range.at(i));
  return steps;
}

// Times as the frames give them: step x time step, in double.
py::array_t<double> runTimes(const FrameRun& r) {
  py::array_t<double> times(static_cast<py::ssize_t>(r.range.length));
  double* out = times.mutable_data();
  const double dt = r.movie->setup->timeStep;
  py::gil_scoped_release unlocked;
  for (std::size_t i = 0; i < r.range.length; ++i)
    out[i] = static_cast<double>(r.movie->movie.step(r.range.at(i))) * dt;
  return times;
}

py::array_t<std::int64_t> runCounts(const FrameRun& r) {
  const std::size_t species = r.movie->setup->species.size();
  py::array_t<std::int64_t> counts(
      {static_cast<py::ssize_t>(r.range.length), static_cast<py::ssize_t>(species)});
  std::int64_t* out = counts.mutable_data();
  py::gil_scoped_release unlocked;
  for (std::size_t i = 0; i < r.range.length; ++i)
    for (std::size_t s = 0; s < species; ++s)
      out[i * species + s] = r.movie->movie.count(r.range.at(i), static_cast<int>(s));
  return counts;
}

py::array_t<std::int64_t> runIndices(const FrameRun& r) {
  py::array_t<std::int64_t> indices(static_cast<py::ssize_t>(r.range.length));
  std::int64_t* out = indices.mutable_data();
  for (std::size_t i = 0; i < r.range.length; ++i)
    out[i] = static_cast<std::int64_t>(r.range.at(i));
  return indices;
}

std::string movieRepr(const MovieShare& m) {
  return "<tavo.Movie '" + m.movie.path() + "': " + std::to_string(m.movie.size()) + " frames, " +
         std::to_string(m.setup->species.size()) + " species>";
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
      "molecules at the start, and the region it lives in.";
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
  state = {species.release(), forward.release(), reverse.release()};
}

void defineSetup(py::module_& m) {
  py::class_<tavo::Setup, SetupPtr>(m, "Setup", R"doc(
A setup file read into plain Python values.

Parameters
----------
path : str or os.PathLike
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

Raises
------
tavo.Error
    When the file cannot be read or is malformed; the message names the file.
)doc")
      .def(py::init([](const std::filesystem::path& path) { return readSetup(path.string()); }),
           py::arg("path"))
      .def_property_readonly(
          "path", [](const tavo::Setup& s) { return s.path; }, "The setup file's path.")
      .def_property_readonly("species", &speciesRecords,
                             "The species, in ID order (list of Species).")
      .def_property_readonly("species_names", &speciesNames, "The species names, in ID order.")
      .def_property_readonly("forward", &forwardRecords, "Forward reactions, in file order.")
      .def_property_readonly("reverse", &reverseRecords, "Reverse reactions, in file order.")
      .def_readonly("temperature", &tavo::Setup::temperature, "Temperature, K.")
      .def_readonly("viscosity", &tavo::Setup::viscosity, "Viscosity.")
      .def_readonly("pH", &tavo::Setup::pH, "pH.")
      .def_readonly("total_step", &tavo::Setup::totalStep, "Number of simulation steps.")
      .def_readonly("time_step", &tavo::Setup::timeStep, "Seconds per step.")
      .def(
          "species_id",
          [](const tavo::Setup& s, const std::string& name) { return speciesIndex(s, name); },
          py::arg("name"), "ID of the species called `name`; tavo.Error when there is none.")
      .def("__repr__", &setupRepr);
}

void defineFrame(py::module_& m) {
  py::class_<PyFrame>(m, "Frame", R"doc(
One frame of a movie: its step, time and every species' live molecules.

Frames come from a Movie (``m[k]``, iteration); they hold their coordinates
and stay valid after the movie is gone.

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
    When the setup has no such species.
)doc")
      .def("__repr__", &frameRepr);
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
          "Positions of the frames in the movie (int64).");
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

Supports ``len``, indexing (negative too), slicing and iteration, and has
``steps``, ``times``, ``counts`` and ``indices`` (positions in the movie) like
a Movie.
)doc");
  defineFrameSequence(frames);
  frames.def("__repr__", [](const FrameRun& r) {
    return "<tavo.Frames of '" + r.movie->movie.path() + "': " + std::to_string(r.range.length) +
           " frames>";
  });

  py::class_<MovieShare, MoviePtr> movie(m, "Movie", R"doc(
A movie file of a setup: frames indexed once, each read on demand.

Parameters
----------
setup : str, os.PathLike or Setup
    The setup the movie was written for (a path, or a Setup already read).
movie_path : str or os.PathLike
    The movie file: plain text, gzip or zstd (told by its first bytes). It is
    indexed to its last complete frame; bytes after it (a frame still being
    written) are left for ``refresh()``.

A Movie is a sequence of Frame: ``len(m)``, ``m[k]``, ``m[-1]``, ``m[::10]``
(a lazy Frames selection) and ``for frame in m``. Any number of movies may
be open at once. Reading releases the GIL.

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
    When a file cannot be read or a frame is damaged; the message names the
    file, and the frame and byte offset where there is one.

Examples
--------
>>> m = tavo.Movie("demo.Tavosetup", "demo.Tavomovie")
>>> last = m[-1]
>>> xyz = last.positions("S")   # (n, 3) float64, no copy
)doc");
  movie
      .def(py::init([](const SetupPtr& setup, const std::filesystem::path& moviePath) {
             return openMovie(setup, moviePath.string());
           }),
           py::arg("setup"), py::arg("movie_path"))
      .def(py::init(
               [](const std::filesystem::path& setupPath, const std::filesystem::path& moviePath) {
                 return openMovie(readSetup(setupPath.string()), moviePath.string());
               }),
           py::arg("setup"), py::arg("movie_path"))
      .def_property_readonly(
          "path", [](const MovieShare& mv) { return mv.movie.path(); }, "The movie file's path.")
      .def_property_readonly(
          "setup", [](const MovieShare& mv) { return mv.setup; }, "The Setup of the movie.")
      .def_property_readonly(
          "species", [](const MovieShare& mv) { return speciesNames(*mv.setup); },
          "The species names, in ID order.")
      .def_property_readonly(
          "partial_bytes", [](const MovieShare& mv) { return mv.movie.partialBytes(); },
          "Bytes after the last complete frame (a frame still being written).")
      .def_property_readonly(
          "runs",
          [](const MovieShare& mv) {
            py::object run =
                py::module_::import("collections")
                    .attr("namedtuple")(
                        "Run", py::make_tuple("first_frame", "frames", "first_step", "last_step"));
            py::list runs;
            for (const tavo::Run& r : mv.movie.runs())
              runs.append(run(r.firstFrame, r.frames, r.firstStep, r.lastStep));
            return runs;
          },
          "The runs, a list of Run(first_frame, frames, first_step, last_step): a step equal to "
          "or below the one before starts a new run (a simulation started again, appending).")
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
      .def("__repr__", &movieRepr);
  defineFrameSequence(movie);
}

}  // namespace

PYBIND11_MODULE(tavo, m) {
  m.doc() = R"doc(Setups and movies of particle-based reaction-diffusion simulations, as NumPy.

Setup(path)                the species, reactions and environment of a setup
Movie(setup, movie_path)   a movie's frames: steps, times, counts, m[k], slices
Frame.positions(species)   (n, 3) float64 coordinates, a view without copy
Error                      every failure (a ValueError), naming the file
)doc";
  py::register_exception<tavo::Error>(m, "Error", PyExc_ValueError);
  defineRecords(m);
  defineSetup(m);
  defineFrame(m);
  defineMovie(m);
}
