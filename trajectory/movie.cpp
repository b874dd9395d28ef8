// movie.cpp - a movie file as a value: an index of its complete frames,
// built by a scan that skips the coordinates, and any frame read on demand
// with the frame parser that readMovie_fromFile uses.
//
// The index holds, per frame, the byte offset and line of its "step" word,
// its step number and the live count of every species: memory in frames x
// species, never in molecules. It grows by appending; refresh() scans only
// the bytes after the last complete frame.
//
// Threads: refresh() calls are serialised by their own mutex and scan
// without holding the index lock; they take it exclusively only to append
// what they found. Queries and read() take it shared, briefly. A read parses
// through a window and into positions leased from the movie's own pool, so
// reads in several threads never share a buffer, and a thread reading frame
// after frame into one Frame allocates nothing once warmed up.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <utility>

#include "formats/movie.h"
#include "formats/textReader.h"
#include "trajectory/trajectory.h"

namespace tavo {

namespace {

using detail::formatText;

// A frame read in progress: its window and the positions it fills. The
// positions change hands with the caller's Frame once the read succeeds.
struct Scratch {
  std::vector<char> window;
  std::vector<std::vector<double>> positions;
};

// A live count the frame's bytes cannot hold.
struct CountTooLarge {
  int species, count;
};

class PositionRows final : public detail::FrameSink {
 public:
  PositionRows(std::vector<std::vector<double>>& rows, std::int64_t frameBytes)
      : rows_(rows), room_(frameBytes / 2) {}
  double* coordinates(int species, int count) override {
    // A coordinate takes two bytes at least (a character and a blank), so a
    // count the frame cannot hold is refused before room is made for it.
    auto need = 3 * static_cast<std::int64_t>(count);
    if (need > room_) throw CountTooLarge{species, count};
    room_ -= need;
    std::vector<double>& row = rows_[static_cast<std::size_t>(species)];
    row.resize(static_cast<std::size_t>(need));
    return row.data();
  }

 private:
  std::vector<std::vector<double>>& rows_;
  std::int64_t room_;  // coordinates the rest of the frame can hold
};

// Line ends in [from, to) of the file: for the line of a fault only.
std::int64_t lineEndsBetween(int fd, std::int64_t from, std::int64_t to) {
  std::vector<char> buf(std::size_t{1} << 16);
  std::int64_t count = 0;
  while (from < to) {
    std::size_t want = static_cast<std::size_t>(
        std::min<std::int64_t>(to - from, static_cast<std::int64_t>(buf.size())));
    ssize_t got = ::pread(fd, buf.data(), want, static_cast<off_t>(from));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    count += std::count(buf.data(), buf.data() + got, '\n');
    from += got;
  }
  return count;
}

}  // namespace

struct Movie::Impl {
  Setup setup;
  std::string path;
  int fd = -1;
  std::vector<int> slots;  // per species

  // The index, guarded by `indexMutex`.
  mutable std::shared_mutex indexMutex;
  std::vector<std::int64_t> offsets;  // per frame: byte of "step"
  std::vector<std::int64_t> lines;    // per frame: 1-based line of that byte
  std::vector<int> steps;             // per frame
  std::vector<int> counts;            // frames x species live counts
  std::int64_t indexedBytes = 0;      // where the next scan starts
  std::int64_t indexedLine = 1;       // line of that byte
  std::int64_t fileBytes = 0;
  bool complete = false;
  std::string damage;  // the message of a damaged frame, once met

  std::mutex refreshMutex;  // one scan at a time
  std::vector<char> scanWindow;

  mutable std::mutex poolMutex;
  mutable std::vector<std::unique_ptr<Scratch>> pool;  // idle scratch
  mutable std::size_t scratchMade = 0;

  ~Impl() {
    if (fd >= 0) ::close(fd);
  }

  std::size_t speciesCount() const { return slots.size(); }

  // "<file>: frame k (step s), line L, byte B: what" for a fault at byte
  // `at` of frame k, which starts at byte `start` on line `line`.
  std::string place(std::size_t k, const int* step, std::int64_t start, std::int64_t line,
                    std::int64_t at, const std::string& what) const {
    if (at > start) line += lineEndsBetween(fd, start, at);
    std::string frame =
        step != nullptr ? formatText("frame %zu (step %d)", k, *step) : formatText("frame %zu", k);
    return formatText("%s: %s, line %lld, byte %lld: %s", path.c_str(), frame.c_str(),
                      static_cast<long long>(line), static_cast<long long>(at), what.c_str());
  }

  std::string place(std::size_t k, std::int64_t start, std::int64_t line,
                    const detail::FrameError& e) const {
    const detail::FrameFaultInfo& f = e.info();
    return place(k, f.stepKnown ? &f.step : nullptr, start, line, f.offset, e.description());
  }

  void checkFrame(std::size_t k) const {
    if (k >= offsets.size())
      throw Error(formatText("%s: frame %zu is not in the index, which holds %zu frames",
                             path.c_str(), k, offsets.size()));
  }
  void checkSpecies(int s) const {
    if (s < 0 || static_cast<std::size_t>(s) >= speciesCount())
      throw Error(
          formatText("%s: no specie %d; the setup has %zu", path.c_str(), s, speciesCount()));
  }

  // Hands out a scratch for one read and takes it back.
  class Lease {
   public:
    explicit Lease(const Impl& m) : m_(m) {
      std::lock_guard<std::mutex> lock(m_.poolMutex);
      if (m_.pool.empty()) {
        // Room to take every scratch back, so that giving one back never
        // allocates (and never throws).
        m_.pool.reserve(++m_.scratchMade);
        s_ = std::make_unique<Scratch>();
      } else {
        s_ = std::move(m_.pool.back());
        m_.pool.pop_back();
      }
    }
    ~Lease() {
      std::lock_guard<std::mutex> lock(m_.poolMutex);
      m_.pool.push_back(std::move(s_));
    }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    Scratch& operator*() const { return *s_; }

   private:
    const Impl& m_;
    std::unique_ptr<Scratch> s_;
  };
};

// ---------------------------------------------------------------------------
// Opening
// ---------------------------------------------------------------------------

Movie::Movie(Setup setup, const std::string& moviePath, Indexing indexing)
    : impl_(std::make_unique<Impl>()) {
  Impl& m = *impl_;
  m.setup = std::move(setup);
  m.path = moviePath;
  for (const Species& s : m.setup.species) m.slots.push_back(std::max(s.slots, 0));
  m.fd = ::open(moviePath.c_str(), O_RDONLY | O_CLOEXEC);
  int err = m.fd < 0 ? errno : 0;
  struct stat st {};
  if (err == 0 && ::fstat(m.fd, &st) == 0 && S_ISDIR(st.st_mode)) err = EISDIR;
  if (err != 0)
    throw Error(formatText("%s: cannot open the movie (%s)", moviePath.c_str(), std::strerror(err)),
                err);
  if (indexing == Indexing::now) refresh();
}

Movie::Movie(const std::string& setupPath, const std::string& moviePath, Indexing indexing)
    : Movie(Setup::read(setupPath), moviePath, indexing) {}

Movie::~Movie() = default;
Movie::Movie(Movie&&) noexcept = default;
Movie& Movie::operator=(Movie&&) noexcept = default;

const Setup& Movie::setup() const { return impl_->setup; }
const std::string& Movie::path() const { return impl_->path; }

// ---------------------------------------------------------------------------
// The index
// ---------------------------------------------------------------------------

std::size_t Movie::size() const {
  std::shared_lock<std::shared_mutex> lock(impl_->indexMutex);
  return impl_->offsets.size();
}

std::int64_t Movie::offset(std::size_t k) const {
  std::shared_lock<std::shared_mutex> lock(impl_->indexMutex);
  impl_->checkFrame(k);
  return impl_->offsets[k];
}

std::int64_t Movie::line(std::size_t k) const {
  std::shared_lock<std::shared_mutex> lock(impl_->indexMutex);
  impl_->checkFrame(k);
  return impl_->lines[k];
}

int Movie::step(std::size_t k) const {
  std::shared_lock<std::shared_mutex> lock(impl_->indexMutex);
  impl_->checkFrame(k);
  return impl_->steps[k];
}

int Movie::count(std::size_t k, int species) const {
  std::shared_lock<std::shared_mutex> lock(impl_->indexMutex);
  impl_->checkFrame(k);
  impl_->checkSpecies(species);
  return impl_->counts[k * impl_->speciesCount() + static_cast<std::size_t>(species)];
}

std::vector<int> Movie::counts(std::size_t k) const {
  std::shared_lock<std::shared_mutex> lock(impl_->indexMutex);
  impl_->checkFrame(k);
  auto first = impl_->counts.begin() + static_cast<std::ptrdiff_t>(k * impl_->speciesCount());
  return std::vector<int>(first, first + static_cast<std::ptrdiff_t>(impl_->speciesCount()));
}

std::int64_t Movie::indexedBytes() const {
  std::shared_lock<std::shared_mutex> lock(impl_->indexMutex);
  return impl_->indexedBytes;
}

std::int64_t Movie::fileBytes() const {
  std::shared_lock<std::shared_mutex> lock(impl_->indexMutex);
  return impl_->fileBytes;
}

std::int64_t Movie::partialBytes() const {
  std::shared_lock<std::shared_mutex> lock(impl_->indexMutex);
  return impl_->complete ? impl_->fileBytes - impl_->indexedBytes : 0;
}

bool Movie::complete() const {
  std::shared_lock<std::shared_mutex> lock(impl_->indexMutex);
  return impl_->complete;
}

std::size_t Movie::refresh(std::int64_t maxBytes) {
  Impl& m = *impl_;
  std::lock_guard<std::mutex> scanning(m.refreshMutex);
  const std::size_t nSpecies = m.speciesCount();

  // Where the last scan stopped. Only this thread changes the index, so the
  // values stay true while it scans without the lock.
  std::int64_t start = 0, startLine = 1;
  std::size_t known = 0;
  bool havePrevious = false;
  int previousStep = 0;
  {
    std::shared_lock<std::shared_mutex> lock(m.indexMutex);
    if (!m.damage.empty()) throw Error(m.damage);
    start = m.indexedBytes;
    startLine = m.indexedLine;
    known = m.offsets.size();
    havePrevious = known > 0;
    if (havePrevious) previousStep = m.steps.back();
  }
  struct stat st {};
  std::int64_t sizeAtStart = ::fstat(m.fd, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : 0;

  // New frames, appended to the index at the end.
  std::vector<std::int64_t> offsets, lines;
  std::vector<int> steps, counts, frameCounts(nSpecies);
  std::int64_t lineEnds = startLine - 1;  // line ends before the scan position
  detail::MovieInput in(m.fd, start, m.scanWindow, m.path.c_str());
  in.countLines(&lineEnds);
  std::int64_t indexed = start, indexedLine = startLine;
  bool reachedEnd = false;
  std::string damage;
  for (;;) {
    if (!in.startToken()) {  // white space to the end: every frame is complete
      reachedEnd = true;
      indexed = in.offset();
      indexedLine = lineEnds + 1;
      break;
    }
    const std::int64_t frameStart = in.offset();
    const std::int64_t frameLine = lineEnds + 1;
    indexed = frameStart;
    indexedLine = frameLine;
    if (maxBytes >= 0 && !offsets.empty() && frameStart - start >= maxBytes) break;
    const std::size_t k = known + offsets.size();
    int step = 0;
    try {
      if (!detail::scanFrame(in, m.slots, step, frameCounts)) {
        reachedEnd = true;  // a frame still being written, or cut short
        break;
      }
    } catch (const detail::FrameError& e) {
      damage = m.place(k, frameStart, frameLine, e);
      break;
    }
    if (havePrevious && step < previousStep) {
      damage = m.place(k, &step, frameStart, frameLine, frameStart,
                       formatText("step %d follows step %d; step numbers must not go backwards",
                                  step, previousStep));
      break;
    }
    havePrevious = true;
    previousStep = step;
    offsets.push_back(frameStart);
    lines.push_back(frameLine);
    steps.push_back(step);
    counts.insert(counts.end(), frameCounts.begin(), frameCounts.end());
  }

  {
    std::unique_lock<std::shared_mutex> lock(m.indexMutex);
    m.offsets.insert(m.offsets.end(), offsets.begin(), offsets.end());
    m.lines.insert(m.lines.end(), lines.begin(), lines.end());
    m.steps.insert(m.steps.end(), steps.begin(), steps.end());
    m.counts.insert(m.counts.end(), counts.begin(), counts.end());
    m.indexedBytes = indexed;
    m.indexedLine = indexedLine;
    m.fileBytes = std::max({sizeAtStart, in.bytesSeen(), indexed});
    m.complete = reachedEnd && damage.empty();
    m.damage = damage;
  }
  if (!damage.empty()) throw Error(damage);
  return offsets.size();
}

// ---------------------------------------------------------------------------
// Frames
// ---------------------------------------------------------------------------

void Movie::read(std::size_t k, Frame& into) const {
  const Impl& m = *impl_;
  const std::size_t nSpecies = m.speciesCount();
  std::int64_t start = 0, end = 0, line = 0;
  int indexedStep = 0;
  {
    std::shared_lock<std::shared_mutex> lock(m.indexMutex);
    m.checkFrame(k);
    start = m.offsets[k];
    end = k + 1 < m.offsets.size() ? m.offsets[k + 1] : m.indexedBytes;
    line = m.lines[k];
    indexedStep = m.steps[k];
  }

  Impl::Lease lease(m);
  Scratch& s = *lease;
  s.positions.resize(nSpecies);
  PositionRows rows(s.positions, end - start);
  detail::MovieInput in(m.fd, start, s.window, m.path.c_str());
  int step = 0;
  try {
    step = detail::readFrame(in, m.slots, rows);
  } catch (const detail::FrameError& e) {
    throw Error(m.place(k, start, line, e));
  } catch (const CountTooLarge& e) {
    throw Error(m.place(k, &indexedStep, start, line, start,
                        formatText("alive count %d of specie %d does not fit in the frame's "
                                   "%lld bytes",
                                   e.count, e.species, static_cast<long long>(end - start))));
  }

  {
    // The frame must be the one the scan saw: a file rewritten in place
    // since is not read as if it were.
    std::shared_lock<std::shared_mutex> lock(m.indexMutex);
    bool same = m.steps[k] == step;
    for (std::size_t i = 0; same && i < nSpecies; ++i)
      same = static_cast<std::size_t>(m.counts[k * nSpecies + i]) * 3 == s.positions[i].size();
    if (!same)
      throw Error(m.place(k, &step, start, line, start,
                          "the frame differs from the one indexed; the file has been rewritten"));
  }
  into.positions.swap(s.positions);
  into.index = k;
  into.step = step;
  into.time = step * m.setup.timeStep;
}

Frame Movie::read(std::size_t k) const {
  Frame frame;
  read(k, frame);
  return frame;
}

// ---------------------------------------------------------------------------
// The padded layout
// ---------------------------------------------------------------------------

std::size_t Movie::slotCount() const {
  std::size_t n = 0;
  for (int s : impl_->slots) n += static_cast<std::size_t>(s);
  return n;
}

std::vector<int> Movie::slotSpecies() const {
  std::vector<int> ids;
  ids.reserve(slotCount());
  for (std::size_t s = 0; s < impl_->slots.size(); ++s)
    ids.insert(ids.end(), static_cast<std::size_t>(impl_->slots[s]), static_cast<int>(s));
  return ids;
}

void Movie::readPadded(std::size_t k, Frame& scratch, double* positions,
                       std::uint8_t* alive) const {
  read(k, scratch);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (std::size_t s = 0; s < impl_->slots.size(); ++s) {
    const auto slots = static_cast<std::size_t>(impl_->slots[s]);
    const std::vector<double>& xyz = scratch.positions[s];
    const std::size_t live = xyz.size() / 3;
    std::copy(xyz.begin(), xyz.end(), positions);
    std::fill(positions + xyz.size(), positions + 3 * slots, nan);
    std::fill(alive, alive + live, std::uint8_t{1});
    std::fill(alive + live, alive + slots, std::uint8_t{0});
    positions += 3 * slots;
    alive += slots;
  }
}

}  // namespace tavo
