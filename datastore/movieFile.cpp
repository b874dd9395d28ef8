// movieFile.cpp - the movie file (one text frame per recorded step) and the
// population table: the frame reader the viewer calls once per displayed
// frame, and the two writers a simulator calls once per recorded step.
//
// Both directions are hot paths, so neither goes through fscanf/fprintf: the
// reader parses with the frame parser of movieFrame.h through a
// module-owned window, the writers format into a module-owned buffer and
// hand it to fwrite() in large pieces. The results are those of "%s", "%d",
// "%lf" and "%E": every coordinate read equals strtod() of its text, every
// coordinate written is byte for byte what printf("%E") prints.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "datastore/dataFetcher.h"
#include "datastore/errorLog.h"
#include "datastore/storeState.h"
#include "formats/movie.h"

namespace {

using tavo::detail::fatalf;

constexpr std::size_t kChunk = std::size_t{1} << 20;  // bytes per write call

// The reusable buffers: allocated on first use, then kept, so that reading
// or writing a frame allocates nothing once warmed up.
struct MovieBuffers {
  std::vector<char> in;                                    // reader window
  std::vector<std::vector<tavo::detail::Position>> spare;  // a frame being read, per species
  std::vector<int> counts;                                 // its live counts
  std::vector<char> out;  // writer staging area: kChunk bytes plus one entry
} g_buffers;

// ---------------------------------------------------------------------------
// Reading
// ---------------------------------------------------------------------------

// Closes a descriptor on every way out, including a throwing error handler.
struct Descriptor {
  int fd;
  explicit Descriptor(int f) : fd(f) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

// The frame's coordinates go into the spare rows, which are swapped with the
// store's rows once the whole frame has been read: a frame that fails
// halfway leaves the store as the last good frame left it, even when an
// error handler lets the program go on.
class SpareRows final : public tavo::detail::FrameSink {
 public:
  explicit SpareRows(tavo::detail::Store& g) : g_(g) {
    std::vector<std::vector<tavo::detail::Position>>& rows = g_buffers.spare;
    rows.resize(g.mol_pos.size());
    for (std::size_t s = 0; s < rows.size(); ++s)
      if (rows[s].size() != g.mol_pos[s].size()) rows[s].assign(g.mol_pos[s].size(), {});
    counts_.assign(rows.size(), 0);
  }

  double* coordinates(int species, int count) override {
    counts_[static_cast<std::size_t>(species)] = count;
    // A row of positions is a row of doubles, x y z per slot.
    static_assert(sizeof(tavo::detail::Position) == 3 * sizeof(double));
    return reinterpret_cast<double*>(g_buffers.spare[static_cast<std::size_t>(species)].data());
  }

  // Marks slots 0..n-1 of every species alive and the rest dead at the
  // origin, with the frame's positions.
  void publish() {
    for (std::size_t s = 0; s < g_.mol_pos.size(); ++s) {
      std::vector<tavo::detail::Position>& pos = g_buffers.spare[s];
      std::vector<std::uint8_t>& flags = g_.mol_alive[s];
      int n = counts_[s];
      auto live = static_cast<std::ptrdiff_t>(n);
      std::fill(flags.begin(), flags.begin() + live, std::uint8_t{1});
      std::fill(flags.begin() + live, flags.end(), std::uint8_t{0});
      std::fill(pos.begin() + live, pos.end(), tavo::detail::Position{0.0, 0.0, 0.0});
      pos.swap(g_.mol_pos[s]);
      g_.mol_totalAlive[s] = n;
    }
  }

 private:
  tavo::detail::Store& g_;
  std::vector<int>& counts_ = g_buffers.counts;
};

// ---------------------------------------------------------------------------
// Writing
// ---------------------------------------------------------------------------

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// Appends to a file through the module's write buffer; every failure (cannot
// open, short write, full disk, failed close) ends in errorOut().
class Appender {
 public:
  Appender(const char* path, const char* operation, const char* what)
      : path_(path ? path : ""), operation_(operation), what_(what) {
    std::vector<char>& b = g_buffers.out;
    if (b.size() < kChunk + kSlack) b.resize(kChunk + kSlack);
    buf_ = b.data();
    file_.reset(path ? std::fopen(path, "a") : nullptr);
    if (!file_)
      fatalf("(%s) cannot open %s '%s' for appending: %s", operation_, what_, path_,
             std::strerror(errno));
    // The buffer here is large; stdio's own would only add a copy.
    std::setvbuf(file_.get(), nullptr, _IONBF, 0);
  }

  // Room for one more entry of up to kSlack bytes.
  char* room() {
    if (len_ >= kChunk) flush();
    return buf_ + len_;
  }
  void advance(char* to) { len_ = static_cast<std::size_t>(to - buf_); }
  void text(const char* s) {
    std::size_t n = std::strlen(s);
    while (n > 0) {
      std::size_t part = std::min(n, kSlack);
      char* p = room();
      std::memcpy(p, s, part);
      advance(p + part);
      s += part;
      n -= part;
    }
  }
  void integer(int v, char after) {
    char* p = room();
    p = std::to_chars(p, p + 16, v).ptr;
    *p++ = after;
    advance(p);
  }

  // Writes what is left and closes; a failure of either is reported.
  void finish() {
    flush();
    std::FILE* f = file_.release();
    if (std::fclose(f) != 0) fail();
  }

  static constexpr std::size_t kSlack = 256;  // largest single entry

 private:
  void flush() {
    if (len_ > 0 && std::fwrite(buf_, 1, len_, file_.get()) != len_) fail();
    len_ = 0;
  }
  [[noreturn]] void fail() {
    int err = errno;
    len_ = 0;
    fatalf("(%s) cannot write %s '%s': %s", operation_, what_, path_,
           err ? std::strerror(err) : "write error");
  }

  std::unique_ptr<std::FILE, FileCloser> file_;
  const char* path_;
  const char* operation_;
  const char* what_;
  char* buf_ = nullptr;
  std::size_t len_ = 0;
};

}  // namespace

// ---------------------------------------------------------------------------
// Public operations
// ---------------------------------------------------------------------------

void readMovie_fromFile(const char* path, long long* position) {
  tavo::detail::Store& g = tavo::detail::store();
  if (!g.data_init_success)
    errorOut("initDataStructure_fromFile required before calling readMovie_fromFile");
  if (position == nullptr) errorOut("(readMovie_fromFile) no file position given");
  if (*position < 0) fatalf("(readMovie_fromFile) movie file position %lld is negative", *position);
  Descriptor file(path ? ::open(path, O_RDONLY | O_CLOEXEC) : -1);
  if (file.fd < 0) errorOut("cannot read movie file!");
  tavo::detail::MovieInput in(file.fd, *position, g_buffers.in, path);
  SpareRows rows(g);
  int step = 0;
  try {
    step = tavo::detail::readFrame(in, g.mol_total, rows);
  } catch (const tavo::detail::FrameError& e) {
    errorOut(e.what());
  }
  rows.publish();
  g.current_step = step;
  *position = in.offset();
}

void createMovie_toFile(const char* path, int step) {
  tavo::detail::Store& g = tavo::detail::store();
  Appender out(path, "createMovie_toFile", "movie file");
  out.text("step ");
  out.integer(step, '\n');
  for (int i = 0; i < g.N_species; ++i) {
    std::size_t s = static_cast<std::size_t>(i);
    out.text("specie ");
    out.integer(i, '\n');
    out.text("alive ");
    out.integer(g.mol_totalAlive[s], '\n');
    const std::uint8_t* flags = g.mol_alive[s].data();
    const tavo::detail::Position* pos = g.mol_pos[s].data();
    std::size_t slots = g.mol_alive[s].size();
    for (std::size_t j = 0; j < slots; ++j) {
      if (!flags[j]) continue;
      char* p = out.room();
      using tavo::detail::putScientific;
      p = putScientific(p, pos[j][0]);
      p = putScientific(p, pos[j][1]);
      p = putScientific(p, pos[j][2]);
      out.advance(p);
    }
    out.text("\n");
  }
  out.finish();
}

void createData_toFile(const char* path, int step) {
  tavo::detail::Store& g = tavo::detail::store();
  Appender out(path, "createData_toFile", "population file");
  if (step == 0) {
    out.text("step:\t");
    for (int i = 0; i < g.N_species; ++i) {
      out.text(g.mol_name[static_cast<std::size_t>(i)].data());
      out.text("\t");
    }
    out.text("\n");
  }
  out.integer(step, '\t');
  for (int i = 0; i < g.N_species; ++i)
    out.integer(g.mol_totalAlive[static_cast<std::size_t>(i)], '\t');
  out.text("\n");
  out.finish();
}
