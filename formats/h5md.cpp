// h5md.cpp - the H5MD writer, on libhdf5's C interface.
//
// Every HDF5 call is checked; a failure throws Error with the file's name
// and the innermost message of HDF5's error stack, which HDF5 would
// otherwise print on standard error (its printing is turned off while a
// writer lives, and restored after).
//
// Positions are most of the file and compressing them most of the work, so
// their chunks are packed here, on worker threads, and handed to HDF5 whole
// (H5Dwrite_chunk): the bytes HDF5's shuffle and deflate filters would
// store, the deflate stream made with zlib's run-length strategy, which on
// shuffled doubles is about twice as fast as the default one and packs them
// a little tighter. Any reader of the filters reads them. Chunks are written
// in frame order on the calling thread; HDF5 is never called from a worker.
#include "formats/h5md.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <future>
#include <thread>

#include "formats/numbers.h"

#if TAVO_HAVE_HDF5
#include <hdf5.h>
#include <zlib.h>
#endif

namespace tavo::formats {

#if TAVO_HAVE_HDF5

namespace {

// The innermost description on HDF5's error stack.
herr_t keepInnermost(unsigned n, const H5E_error2_t* error, void* data) {
  if (n == 0 && error->desc != nullptr) *static_cast<std::string*>(data) = error->desc;
  return 0;
}

// An HDF5 identifier closed by the function it came with.
class Handle {
 public:
  Handle() = default;
  Handle(hid_t id, herr_t (*closer)(hid_t)) : id_(id), close_(closer) {}
  ~Handle() { reset(); }
  Handle(Handle&& other) noexcept : id_(other.id_), close_(other.close_) { other.id_ = -1; }
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      reset();
      id_ = other.id_;
      close_ = other.close_;
      other.id_ = -1;
    }
    return *this;
  }
  operator hid_t() const { return id_; }  // NOLINT: a handle stands for its id
  // Closes now, reporting whether HDF5 could.
  bool close() {
    const bool ok = id_ < 0 || close_(id_) >= 0;
    id_ = -1;
    return ok;
  }

 private:
  void reset() {
    if (id_ >= 0) close_(id_);
    id_ = -1;
  }
  hid_t id_ = -1;
  herr_t (*close_)(hid_t) = nullptr;
};

// Bytes of position chunks in flight at most: workers times chunk size.
constexpr std::size_t kMaxPackedBytes = std::size_t{1} << 30;

// A chunk as HDF5's shuffle filter, then its deflate filter (level 1),
// leave it: byte k of every element together, then a zlib stream.
std::vector<unsigned char> packChunk(const std::vector<double>& values) {
  constexpr std::size_t size = sizeof(double);
  const std::size_t n = values.size();
  std::vector<unsigned char> shuffled(n * size);
  const auto* in = reinterpret_cast<const unsigned char*>(values.data());
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t k = 0; k < size; ++k) shuffled[k * n + i] = in[i * size + k];
  z_stream z{};
  if (deflateInit2(&z, 1, Z_DEFLATED, 15, 8, Z_RLE) != Z_OK)
    throw Error("cannot start zlib's deflate");
  std::vector<unsigned char> packed(deflateBound(&z, static_cast<uLong>(shuffled.size())));
  z.next_in = shuffled.data();
  z.avail_in = static_cast<uInt>(shuffled.size());
  z.next_out = packed.data();
  z.avail_out = static_cast<uInt>(packed.size());
  const int status = deflate(&z, Z_FINISH);
  packed.resize(z.total_out);
  deflateEnd(&z);
  if (status != Z_STREAM_END) throw Error("zlib's deflate failed");
  return packed;
}

}  // namespace

struct H5mdWriter::Impl {
  std::string path;
  std::size_t frames = 0, slots = 0, species = 0;
  double scale = 1.0;
  H5E_auto2_t savedPrinter = nullptr;
  void* savedPrinterData = nullptr;
  Handle file, position, alive, counts;
  std::vector<std::int32_t> steps;
  std::vector<double> times;
  struct Packing {
    std::size_t frame;
    std::future<std::vector<unsigned char>> chunk;
  };
  std::deque<Packing> packing;  // position chunks being packed, in frame order
  std::size_t workers = 1;      // chunks packed at once

  [[noreturn]] void fail(const std::string& what) {
    std::string why;
    H5Ewalk2(H5E_DEFAULT, H5E_WALK_UPWARD, keepInnermost, &why);
    H5Eclear2(H5E_DEFAULT);
    throw Error(path + ": cannot " + what + (why.empty() ? "" : ": " + why));
  }
  hid_t check(hid_t id, const std::string& what) {
    if (id < 0) fail(what);
    return id;
  }
  void ok(herr_t status, const std::string& what) {
    if (status < 0) fail(what);
  }

  // -- Building blocks ------------------------------------------------------

  Handle group(hid_t parent, const char* name) {
    Handle gcpl(check(H5Pcreate(H5P_GROUP_CREATE), "create a group"), H5Pclose);
    ok(H5Pset_obj_track_times(gcpl, false), "create a group");
    return Handle(check(H5Gcreate2(parent, name, H5P_DEFAULT, gcpl, H5P_DEFAULT),
                        std::string("create the group ") + name),
                  H5Gclose);
  }

  Handle stringType() {
    Handle type(check(H5Tcopy(H5T_C_S1), "make a string type"), H5Tclose);
    ok(H5Tset_size(type, H5T_VARIABLE), "make a string type");
    ok(H5Tset_cset(type, H5T_CSET_UTF8), "make a string type");
    return type;
  }

  void attribute(hid_t object, const char* name, hid_t type, const void* value,
                 std::size_t count = 0) {
    const hsize_t dims[1] = {count};
    Handle space(check(count == 0 ? H5Screate(H5S_SCALAR) : H5Screate_simple(1, dims, nullptr),
                       "make a space"),
                 H5Sclose);
    Handle attr(check(H5Acreate2(object, name, type, space, H5P_DEFAULT, H5P_DEFAULT),
                      std::string("create the attribute ") + name),
                H5Aclose);
    ok(H5Awrite(attr, type, value), "write an attribute");
  }
  void text(hid_t object, const char* name, const std::string& value) {
    const char* p = value.c_str();
    attribute(object, name, stringType(), &p);
  }
  void texts(hid_t object, const char* name, const std::vector<std::string>& values) {
    std::vector<const char*> p;
    for (const std::string& v : values) p.push_back(v.c_str());
    attribute(object, name, stringType(), p.data(), p.size());
  }

  // A dataset of `rank` dimensions; chunked a frame at a time and
  // compressed when `perFrame`, written whole by `data` unless it is null.
  Handle dataset(hid_t parent, const char* name, hid_t type, int rank, const hsize_t* dims,
                 bool perFrame, const void* data) {
    hsize_t most[3], chunk[3];
    for (int k = 0; k < rank; ++k) {
      most[k] = H5S_UNLIMITED;  // so that a chunk may exceed an empty side
      chunk[k] = dims[k] > 0 ? dims[k] : 1;
    }
    Handle dcpl(check(H5Pcreate(H5P_DATASET_CREATE), "create a dataset"), H5Pclose);
    ok(H5Pset_obj_track_times(dcpl, false), "create a dataset");
    Handle space;
    if (perFrame) {
      chunk[0] = 1;
      ok(H5Pset_chunk(dcpl, rank, chunk), "chunk a dataset");
      ok(H5Pset_shuffle(dcpl), "compress a dataset");
      ok(H5Pset_deflate(dcpl, 1), "compress a dataset");
      space = Handle(check(H5Screate_simple(rank, dims, most), "make a space"), H5Sclose);
    } else {
      space = Handle(check(H5Screate_simple(rank, dims, nullptr), "make a space"), H5Sclose);
    }
    Handle set(check(H5Dcreate2(parent, name, type, space, H5P_DEFAULT, dcpl, H5P_DEFAULT),
                     std::string("create the dataset ") + name),
               H5Dclose);
    if (data != nullptr && H5Sget_simple_extent_npoints(space) > 0)
      ok(H5Dwrite(set, type, H5S_ALL, H5S_ALL, H5P_DEFAULT, data),
         "write the dataset " + std::string(name));
    return set;
  }

  // Row `i` of a per-frame dataset: a hyperslab of one frame.
  void writeRow(hid_t set, hid_t type, std::size_t i, const void* data) {
    Handle space(check(H5Dget_space(set), "select a frame"), H5Sclose);
    hsize_t dims[3] = {0, 0, 0};
    const int rank = H5Sget_simple_extent_dims(space, dims, nullptr);
    if (rank < 1) fail("select a frame");
    hsize_t start[3] = {i, 0, 0}, count[3] = {1, dims[1], dims[2]};
    ok(H5Sselect_hyperslab(space, H5S_SELECT_SET, start, nullptr, count, nullptr),
       "select a frame");
    Handle memory(check(H5Screate_simple(rank, count, nullptr), "select a frame"), H5Sclose);
    hssize_t points = H5Sget_simple_extent_npoints(memory);
    if (points > 0) ok(H5Dwrite(set, type, memory, space, H5P_DEFAULT, data), "write a frame");
  }

  // -- The file -------------------------------------------------------------

  void create(const Setup& setup, const H5mdCreator& creator) {
    for (const Species& s : setup.species) slots += static_cast<std::size_t>(s.slots);
    species = setup.species.size();
    Handle fapl(check(H5Pcreate(H5P_FILE_ACCESS), "create the file"), H5Pclose);
#if H5_VERSION_GE(1, 10, 7)
    // Cluster file systems often take no locks: write without one there.
    ok(H5Pset_file_locking(fapl, true, true), "create the file");
#endif
    file =
        Handle(check(H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, fapl), "create the file"),
               H5Fclose);
    const std::string unit = lengthUnit(scale);

    Handle h5md = group(file, "h5md");
    const std::int32_t version[2] = {1, 1};
    attribute(h5md, "version", H5T_NATIVE_INT32, version, 2);
    text(group(h5md, "author"), "name", creator.author);
    Handle made = group(h5md, "creator");
    text(made, "name", creator.program);
    text(made, "version", creator.version);

    Handle particles = group(file, "particles");
    Handle all = group(particles, "all");
    Handle box = group(all, "box");
    const std::int32_t three = 3;
    attribute(box, "dimension", H5T_NATIVE_INT32, &three);
    texts(box, "boundary", {"none", "none", "none"});

    std::vector<std::int32_t> slotSpecies;
    for (const Species& s : setup.species)
      slotSpecies.insert(slotSpecies.end(), static_cast<std::size_t>(s.slots), s.id);
    const hsize_t slotDims[1] = {slots};
    dataset(all, "species", H5T_NATIVE_INT32, 1, slotDims, false, slotSpecies.data());

    Handle positionGroup = group(all, "position");
    const hsize_t positionDims[3] = {frames, slots, 3};
    position = dataset(positionGroup, "value", H5T_NATIVE_DOUBLE, 3, positionDims, true, nullptr);
    text(position, "unit", unit);
    const hsize_t frameDims[1] = {frames};
    Handle step = dataset(positionGroup, "step", H5T_NATIVE_INT32, 1, frameDims, false, nullptr);
    Handle time = dataset(positionGroup, "time", H5T_NATIVE_DOUBLE, 1, frameDims, false, nullptr);
    text(time, "unit", "s");

    Handle aliveGroup = group(all, "alive");
    const hsize_t aliveDims[2] = {frames, slots};
    alive = dataset(aliveGroup, "value", H5T_NATIVE_INT8, 2, aliveDims, true, nullptr);
    link(aliveGroup);

    Handle observables = group(file, "observables");
    Handle countsGroup = group(observables, "counts");
    const hsize_t countDims[2] = {frames, species};
    counts = dataset(countsGroup, "value", H5T_NATIVE_INT32, 2, countDims, true, nullptr);
    link(countsGroup);

    Handle parameters = group(file, "parameters");
    attribute(parameters, "temperature", H5T_NATIVE_DOUBLE, &setup.temperature);
    attribute(parameters, "viscosity", H5T_NATIVE_DOUBLE, &setup.viscosity);
    attribute(parameters, "pH", H5T_NATIVE_DOUBLE, &setup.pH);
    const std::int32_t totalStep = setup.totalStep;
    attribute(parameters, "total_step", H5T_NATIVE_INT32, &totalStep);
    attribute(parameters, "time_step", H5T_NATIVE_DOUBLE, &setup.timeStep);
    Handle table = group(parameters, "species");
    std::vector<const char*> names;
    std::vector<double> sizes, masses, diffusion;
    std::vector<std::int32_t> capacity;
    for (const Species& s : setup.species) {
      names.push_back(s.name.c_str());
      sizes.push_back(s.size * scale);
      masses.push_back(s.mass);
      diffusion.push_back(s.diffusion);
      capacity.push_back(s.slots);
    }
    const hsize_t speciesDims[1] = {species};
    dataset(table, "name", stringType(), 1, speciesDims, false, names.data());
    text(dataset(table, "size", H5T_NATIVE_DOUBLE, 1, speciesDims, false, sizes.data()), "unit",
         unit);
    dataset(table, "mass", H5T_NATIVE_DOUBLE, 1, speciesDims, false, masses.data());
    text(dataset(table, "diffusion", H5T_NATIVE_DOUBLE, 1, speciesDims, false, diffusion.data()),
         "unit", "m2 s-1");
    dataset(table, "slots", H5T_NATIVE_INT32, 1, speciesDims, false, capacity.data());
  }

  // Writes packed position chunks in order until at most `left` are in
  // flight.
  void writePacked(std::size_t left) {
#if H5_VERSION_GE(1, 10, 3)
    while (packing.size() > left) {
      const std::vector<unsigned char> chunk = packing.front().chunk.get();
      const hsize_t offset[3] = {packing.front().frame, 0, 0};
      packing.pop_front();
      ok(H5Dwrite_chunk(position, H5P_DEFAULT, 0, offset, chunk.size(), chunk.data()),
         "write a frame");
    }
#else
    (void)left;
#endif
  }

  // The step and time of a time-dependent element: those of position.
  void link(hid_t element) {
    ok(H5Lcreate_hard(file, "/particles/all/position/step", element, "step", H5P_DEFAULT,
                      H5P_DEFAULT),
       "link a step");
    ok(H5Lcreate_hard(file, "/particles/all/position/time", element, "time", H5P_DEFAULT,
                      H5P_DEFAULT),
       "link a time");
  }
};

bool H5mdWriter::available() { return true; }

H5mdWriter::H5mdWriter(const std::string& path, const Setup& setup, std::size_t frames,
                       double scale, const H5mdCreator& creator)
    : impl_(std::make_unique<Impl>()) {
  Impl& d = *impl_;
  d.path = path;
  d.frames = frames;
  d.scale = scale;
  H5Eget_auto2(H5E_DEFAULT, &d.savedPrinter, &d.savedPrinterData);
  H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
  try {
    d.create(setup, creator);
  } catch (...) {
    H5Eset_auto2(H5E_DEFAULT, d.savedPrinter, d.savedPrinterData);
    throw;
  }
  d.steps.reserve(frames);
  d.times.reserve(frames);
  const std::size_t chunkBytes = std::max<std::size_t>(1, 3 * d.slots * sizeof(double));
  d.workers = std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 4);
  d.workers = std::clamp<std::size_t>(kMaxPackedBytes / chunkBytes, 1, d.workers);
}

H5mdWriter::~H5mdWriter() {
  if (!impl_) return;
  Impl& d = *impl_;
  d.packing.clear();  // waits for the workers
  d.position = Handle();
  d.alive = Handle();
  d.counts = Handle();
  d.file = Handle();
  H5Eset_auto2(H5E_DEFAULT, d.savedPrinter, d.savedPrinterData);
}

void H5mdWriter::write(std::size_t i, int step, double time, const double* positions,
                       const std::uint8_t* alive, const std::vector<int>& counts) {
  Impl& d = *impl_;
  if (i >= d.frames || counts.size() != d.species)
    throw Error(d.path + ": frame " + std::to_string(i) + " does not fit the file");
  std::vector<double> scaled(positions, positions + 3 * d.slots);
  for (double& v : scaled) v *= d.scale;
#if H5_VERSION_GE(1, 10, 3)
  if (d.slots > 0) {
    d.writePacked(d.workers - 1);
    d.packing.push_back({i, std::async(std::launch::async, [values = std::move(scaled)] {
                           return packChunk(values);
                         })});
  }
#else
  d.writeRow(d.position, H5T_NATIVE_DOUBLE, i, scaled.data());
#endif
  d.writeRow(d.alive, H5T_NATIVE_UINT8, i, alive);
  static_assert(sizeof(int) == sizeof(std::int32_t));
  d.writeRow(d.counts, H5T_NATIVE_INT, i, counts.data());
  if (d.steps.size() <= i) {
    d.steps.resize(i + 1);
    d.times.resize(i + 1);
  }
  d.steps[i] = step;
  d.times[i] = time;
}

void H5mdWriter::close() {
  Impl& d = *impl_;
  d.writePacked(0);
  d.steps.resize(d.frames);
  d.times.resize(d.frames);
  if (d.frames > 0) {
    Handle step(
        d.check(H5Dopen2(d.file, "/particles/all/position/step", H5P_DEFAULT), "write steps"),
        H5Dclose);
    d.ok(H5Dwrite(step, H5T_NATIVE_INT32, H5S_ALL, H5S_ALL, H5P_DEFAULT, d.steps.data()),
         "write the steps");
    Handle time(
        d.check(H5Dopen2(d.file, "/particles/all/position/time", H5P_DEFAULT), "write times"),
        H5Dclose);
    d.ok(H5Dwrite(time, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, d.times.data()),
         "write the times");
  }
  const bool closed = d.position.close() && d.alive.close() && d.counts.close();
  if (!closed) d.fail("write the frames");
  d.ok(H5Fflush(d.file, H5F_SCOPE_GLOBAL), "write the file");
  if (!d.file.close()) d.fail("write the file");
}

#else  // no libhdf5

struct H5mdWriter::Impl {};

bool H5mdWriter::available() { return false; }

H5mdWriter::H5mdWriter(const std::string& path, const Setup&, std::size_t, double,
                       const H5mdCreator&) {
  throw Error(path +
              ": this build writes no H5MD files: it was built without libhdf5 (Debian package "
              "libhdf5-dev)");
}

H5mdWriter::~H5mdWriter() = default;

void H5mdWriter::write(std::size_t, int, double, const double*, const std::uint8_t*,
                       const std::vector<int>&) {}

void H5mdWriter::close() {}

#endif

}  // namespace tavo::formats
