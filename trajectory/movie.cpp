// movie.cpp - a movie file as a value: an index of its complete frames,
// built by a scan that skips the coordinates, and any frame read on demand
// with the frame parser that readMovie_fromFile uses.
//
// The index holds, per frame, the byte offset and line of its "step" word,
// its step number and the live count of every species: memory in frames x
// species, never in molecules. It grows by appending; refresh() scans only
// the bytes after the last complete frame.
//
// The text comes from a byte source (formats/compressed.h): offsets are
// those of the text, whether the file is plain or compressed. A frame is
// read by fetching its bytes once (the index knows where it ends) and
// parsing them in memory; a large one is fetched and parsed in two halves
// at once.
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
#include <optional>
#include <shared_mutex>
#include <thread>
#include <utility>

#include "formats/compressed.h"
#include "formats/movie.h"
#include "formats/textReader.h"
#include "trajectory/trajectory.h"

namespace tavo {

namespace {

using detail::formatText;

// A frame read in progress: its window and the positions it fills. The
// positions change hands with the caller's Frame once the read succeeds.
struct Scratch {
  std::vector<char> window, backWindow;  // the parser's and the helper's
  std::vector<std::vector<double>> positions;
};

// Frames at least this large, whose last species block holds at least
// kSplitCoordinates numbers, are read by two threads: the helper reads that
// block's end backwards while the parser reads forward.
constexpr std::int64_t kSplitBytes = std::int64_t{2} << 20;
constexpr std::size_t kSplitCoordinates = std::size_t{3} << 15;

// The first bytes of the file itself, which a file rewritten from its start
// changes.
constexpr std::size_t kHeadBytes = 64;

// A live count the frame's bytes cannot hold.
struct CountTooLarge {
  int species, count;
};

// The helper of a frame read by two threads: started at once on the last
// species block's row, joined when the parser meets it (or on the way out).
class Halves final : public detail::FrameSplit {
 public:
  Halves(formats::ByteSource& source, std::int64_t frameEnd, std::int64_t middle, int lastSpecies,
         std::vector<double>& row, std::vector<char>& window)
      : row_(row) {
    species = lastSpecies;
    from = middle;
    helper_ = std::thread([&source, frameEnd, middle, &row, &window, this] {
      try {
        got_ = detail::readWriterBackwards(source, frameEnd, middle, row.data(), row.size(), window,
                                           &lowest_, &highestEnd_);
      } catch (const Error&) {
        got_ = 0;  // the parser reads it all, and meets the fault itself
      }
    });
  }
  ~Halves() { join(); }
  Halves(const Halves&) = delete;
  Halves& operator=(const Halves&) = delete;

  void join() {
    if (helper_.joinable()) helper_.join();
  }
  bool meet(std::size_t coordinates, std::int64_t at, std::int64_t& resume) override {
    join();
    met_ = true;
    if (got_ == 0 || at != lowest_ || coordinates + got_ != row_.size()) return false;
    resume = highestEnd_;
    return true;
  }
  // Whether the helper's numbers are all where they belong: the parser met
  // it (and read again what it did not take), or it read none. False when
  // the parser never reached the helper's part: the frame is not the one
  // indexed, and is read again by one thread.
  bool clean() {
    join();
    return met_ || got_ == 0;
  }
  const std::vector<double>& row() const { return row_; }

 private:
  std::vector<double>& row_;
  std::thread helper_;
  std::size_t got_ = 0;
  std::int64_t lowest_ = 0, highestEnd_ = 0;
  bool met_ = false;
};

class PositionRows final : public detail::FrameSink {
 public:
  PositionRows(std::vector<std::vector<double>>& rows, std::int64_t frameBytes, Halves* halves)
      : rows_(rows), room_(frameBytes / 2), halves_(halves) {}
  double* coordinates(int species, int count) override {
    // A coordinate takes two bytes at least (a character and a blank), so a
    // count the frame cannot hold is refused before room is made for it.
    auto need = 3 * static_cast<std::int64_t>(count);
    if (need > room_) throw CountTooLarge{species, count};
    room_ -= need;
    std::vector<double>& row = rows_[static_cast<std::size_t>(species)];
    // The helper writes into its row: not moved while it may.
    if (halves_ != nullptr && &row == &halves_->row() &&
        static_cast<std::size_t>(need) != row.size())
      halves_->join();
    row.resize(static_cast<std::size_t>(need));
    return row.data();
  }

 private:
  std::vector<std::vector<double>>& rows_;
  std::int64_t room_;  // coordinates the rest of the frame can hold
  Halves* halves_;
};

// Line ends in [from, to) of the text: for the line of a fault only.
std::int64_t lineEndsBetween(formats::ByteSource& source, std::int64_t from, std::int64_t to) {
  std::vector<char> buf(std::size_t{1} << 16);
  std::int64_t count = 0;
  try {
    while (from < to) {
      std::size_t want = static_cast<std::size_t>(
          std::min<std::int64_t>(to - from, static_cast<std::int64_t>(buf.size())));
      std::size_t got = source.read(from, buf.data(), want);
      if (got == 0) break;
      count += std::count(buf.data(), buf.data() + got, '\n');
      from += static_cast<std::int64_t>(got);
    }
  } catch (const Error&) {
    // The message still names the byte.
  }
  return count;
}

// Up to `n` (at most kHeadBytes) bytes of the file itself from `at` (fewer
// at its end).
std::string headOf(int fd, std::int64_t at = 0, std::size_t n = kHeadBytes) {
  char buf[kHeadBytes];
  ssize_t got = -1;
  do {
    got = ::pread(fd, buf, std::min(n, sizeof buf), static_cast<off_t>(at));
  } while (got < 0 && errno == EINTR);
  return std::string(buf, got > 0 ? static_cast<std::size_t>(got) : 0);
}

}  // namespace

struct Movie::Impl {
  Setup setup;
  std::string path;
  // Swapped by reopen() under both locks below; a read holds its own
  // reference for as long as it reads.
  std::shared_ptr<formats::ByteSource> source;
  std::vector<int> slots;  // per species
  // The file as opened, to tell it from one put in its place.
  dev_t device = 0;
  ino_t inode = 0;
  std::string head;             // its first bytes (a file only)
  std::int64_t storedSeen = 0;  // its size at the last scan
  std::string lastBytes;        // a plain file's bytes before indexedBytes, as indexed

  // The index, guarded by `indexMutex`.
  mutable std::shared_mutex indexMutex;
  std::vector<std::int64_t> offsets;   // per frame: byte of "step"
  std::vector<std::int64_t> lines;     // per frame: 1-based line of that byte
  std::vector<int> steps;              // per frame
  std::vector<int> counts;             // frames x species live counts
  std::vector<std::size_t> runStarts;  // first frame of each run
  std::int64_t indexedBytes = 0;       // where the next scan starts
  std::int64_t indexedLine = 1;        // line of that byte
  std::int64_t fileBytes = 0;
  bool complete = false;
  std::string damage;        // the message of a damaged frame, once met
  bool fileChanged = false;  // the damage is a file shrunk, replaced or removed

  std::mutex refreshMutex;  // one scan at a time
  std::vector<char> scanWindow;

  mutable std::mutex poolMutex;
  mutable std::vector<std::unique_ptr<Scratch>> pool;  // idle scratch
  mutable std::size_t scratchMade = 0;

  std::size_t speciesCount() const { return slots.size(); }

  // "<file>: frame k (step s), line L, byte B: what" for a fault at byte
  // `at` of frame k, which starts at byte `start` on line `line`.
  std::string place(formats::ByteSource& text, std::size_t k, const int* step, std::int64_t start,
                    std::int64_t line, std::int64_t at, const std::string& what) const {
    if (at > start) line += lineEndsBetween(text, start, at);
    std::string frame =
        step != nullptr ? formatText("frame %zu (step %d)", k, *step) : formatText("frame %zu", k);
    return formatText("%s: %s, line %lld, byte %lld: %s", path.c_str(), frame.c_str(),
                      static_cast<long long>(line), static_cast<long long>(at), what.c_str());
  }

  std::string place(formats::ByteSource& text, std::size_t k, std::int64_t start, std::int64_t line,
                    const detail::FrameError& e) const {
    const detail::FrameFaultInfo& f = e.info();
    return place(text, k, f.stepKnown ? &f.step : nullptr, start, line, f.offset, e.description());
  }

  std::int64_t lastBytesAt() const {
    return std::max<std::int64_t>(indexedBytes - static_cast<std::int64_t>(kHeadBytes), 0);
  }

  std::shared_ptr<formats::ByteSource> current() const {
    std::shared_lock<std::shared_mutex> lock(indexMutex);
    return source;
  }

  // Opens the file at `path`, noting what tells it from another put there.
  void open() {
    std::shared_ptr<formats::ByteSource> opened = formats::openByteSource(path);
    struct stat st {};
    device = 0;
    inode = 0;
    head.clear();
    storedSeen = 0;
    if (opened->kind() != formats::ByteSource::Kind::stream && ::fstat(opened->fd(), &st) == 0) {
      device = st.st_dev;
      inode = st.st_ino;
      head = headOf(opened->fd());
      storedSeen = static_cast<std::int64_t>(st.st_size);
    }
    source = std::move(opened);
  }

  // Why the file can no longer be read as the one indexed: removed,
  // replaced by another, rewritten from its start, or shrunk below what was
  // seen; empty when it is the same file, grown or not.
  std::string changed(std::int64_t sizeNow) const {
    if (source->kind() == formats::ByteSource::Kind::stream) return {};
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
      return formatText("%s: the file was removed (%s)", path.c_str(), std::strerror(errno));
    if (st.st_dev != device || st.st_ino != inode)
      return formatText("%s: the file was replaced", path.c_str());
    if (sizeNow < storedSeen)
      return formatText("%s: the file shrank from %lld to %lld bytes since it was indexed",
                        path.c_str(), static_cast<long long>(storedSeen),
                        static_cast<long long>(sizeNow));
    std::string now = headOf(source->fd());
    // Written again from its start, maybe beyond the old size: its first
    // bytes, or those before the end of the index, differ.
    if (now.compare(0, head.size(), head) != 0 ||
        (!lastBytes.empty() && headOf(source->fd(), lastBytesAt(), lastBytes.size()) != lastBytes))
      return formatText("%s: the file was replaced", path.c_str());
    return {};
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
  m.open();
  if (indexing == Indexing::now) refresh();
}

Movie::Movie(const std::string& setupPath, const std::string& moviePath, Indexing indexing)
    : Movie(Setup::read(setupPath), moviePath, indexing) {}

Movie::~Movie() = default;
Movie::Movie(Movie&&) noexcept = default;
Movie& Movie::operator=(Movie&&) noexcept = default;

const Setup& Movie::setup() const { return impl_->setup; }
const std::string& Movie::path() const { return impl_->path; }
std::string Movie::format() const { return impl_->source->describe(); }
bool Movie::seekable() const { return impl_->source->kind() != formats::ByteSource::Kind::stream; }
std::int64_t Movie::storedBytes() const { return impl_->source->fileBytes(); }
std::size_t Movie::accessMemory() const { return impl_->source->indexMemory(); }

std::size_t Movie::readText(std::int64_t offset, char* out, std::size_t n) const {
  return impl_->current()->read(offset, out, n);
}

bool Movie::fileChanged() const {
  std::shared_lock<std::shared_mutex> lock(impl_->indexMutex);
  return impl_->fileChanged;
}

void Movie::reopen() {
  Impl& m = *impl_;
  std::lock_guard<std::mutex> scanning(m.refreshMutex);
  Impl fresh;
  fresh.path = m.path;
  fresh.open();
  std::unique_lock<std::shared_mutex> lock(m.indexMutex);
  m.source = std::move(fresh.source);
  m.device = fresh.device;
  m.inode = fresh.inode;
  m.head = std::move(fresh.head);
  m.storedSeen = fresh.storedSeen;
  m.lastBytes.clear();
  m.offsets.clear();
  m.lines.clear();
  m.steps.clear();
  m.counts.clear();
  m.runStarts.clear();
  m.indexedBytes = 0;
  m.indexedLine = 1;
  m.fileBytes = 0;
  m.complete = false;
  m.damage.clear();
  m.fileChanged = false;
}

void Movie::forget(std::size_t k) {
  std::shared_lock<std::shared_mutex> lock(impl_->indexMutex);
  const Impl& m = *impl_;
  m.source->release(k < m.offsets.size() ? m.offsets[k] : m.indexedBytes);
}

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

std::vector<Run> Movie::runs() const {
  std::shared_lock<std::shared_mutex> lock(impl_->indexMutex);
  const Impl& m = *impl_;
  std::vector<Run> runs;
  for (std::size_t r = 0; r < m.runStarts.size(); ++r) {
    std::size_t first = m.runStarts[r];
    std::size_t end = r + 1 < m.runStarts.size() ? m.runStarts[r + 1] : m.steps.size();
    runs.push_back({first, end - first, m.steps[first], m.steps[end - 1]});
  }
  return runs;
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
  std::int64_t sizeAtStart = m.source->fileBytes();
  if (std::string change = m.changed(sizeAtStart); !change.empty()) {
    std::unique_lock<std::shared_mutex> lock(m.indexMutex);
    m.damage = change;
    m.fileChanged = true;
    m.complete = false;
    throw Error(change);
  }
  const bool plain = m.source->kind() == formats::ByteSource::Kind::plain;

  // New frames, appended to the index at the end.
  std::vector<std::int64_t> offsets, lines;
  std::vector<int> steps, counts, frameCounts(nSpecies);
  std::vector<std::size_t> runStarts;
  std::int64_t lineEnds = startLine - 1;  // line ends before the scan position
  detail::MovieInput in(*m.source, start, m.scanWindow);
  in.endAtSourceErrors();
  // A stream may never end (a device): a frame must come, and end, within
  // what the setup's slots allow, with room for generous white space.
  const bool stream = m.source->kind() == formats::ByteSource::Kind::stream;
  std::int64_t frameLimit = std::int64_t{16} << 20;
  for (int s : m.slots)
    frameLimit += 64 + 3 * static_cast<std::int64_t>(s) * (detail::kMaxNumberText + 1);
  if (stream) in.limitReads(start, frameLimit);
  in.countLines(&lineEnds);
  std::int64_t indexed = start, indexedLine = startLine;
  bool reachedEnd = false;
  std::string damage;
  // Compressed data that do not decode, a read that fails, an endless
  // input: the frames before stay indexed, as before a damaged frame.
  try {
    for (;;) {
      if (!in.startToken()) {  // white space to the end: every frame is complete
        reachedEnd = true;
        indexed = in.offset();
        indexedLine = lineEnds + 1;
        break;
      }
      const std::int64_t frameStart = in.offset();
      if (stream) in.limitReads(frameStart, frameLimit);
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
        damage = m.place(*m.source, k, frameStart, frameLine, e);
        break;
      }
      if (!havePrevious || step <= previousStep) runStarts.push_back(k);
      havePrevious = true;
      previousStep = step;
      offsets.push_back(frameStart);
      lines.push_back(frameLine);
      steps.push_back(step);
      counts.insert(counts.end(), frameCounts.begin(), frameCounts.end());
    }
  } catch (const Error& e) {
    damage = e.what();
  }
  if (damage.empty() && !in.sourceError().empty()) {
    damage = in.sourceError();  // after the frames that came before it
    reachedEnd = false;
  }

  {
    std::unique_lock<std::shared_mutex> lock(m.indexMutex);
    m.offsets.insert(m.offsets.end(), offsets.begin(), offsets.end());
    m.lines.insert(m.lines.end(), lines.begin(), lines.end());
    m.steps.insert(m.steps.end(), steps.begin(), steps.end());
    m.counts.insert(m.counts.end(), counts.begin(), counts.end());
    m.runStarts.insert(m.runStarts.end(), runStarts.begin(), runStarts.end());
    m.indexedBytes = indexed;
    m.indexedLine = indexedLine;
    m.fileBytes = std::max({plain ? sizeAtStart : 0, in.bytesSeen(), indexed});
    m.storedSeen = std::max(m.storedSeen, sizeAtStart);
    // Only bytes of complete frames: the partial frame after them may still
    // be being written.
    if (plain)
      m.lastBytes = headOf(m.source->fd(), m.lastBytesAt(),
                           static_cast<std::size_t>(m.indexedBytes - m.lastBytesAt()));
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
  int indexedStep = 0, lastCount = 0;
  std::shared_ptr<formats::ByteSource> source;
  {
    std::shared_lock<std::shared_mutex> lock(m.indexMutex);
    m.checkFrame(k);
    source = m.source;
    start = m.offsets[k];
    end = k + 1 < m.offsets.size() ? m.offsets[k + 1] : m.indexedBytes;
    line = m.lines[k];
    indexedStep = m.steps[k];
    lastCount = nSpecies > 0 ? m.counts[k * nSpecies + nSpecies - 1] : 0;
  }

  Impl::Lease lease(m);
  Scratch& s = *lease;
  s.positions.resize(nSpecies);
  std::optional<Halves> halves;
  if (nSpecies > 0 && end - start >= kSplitBytes &&
      source->kind() != formats::ByteSource::Kind::stream &&
      3 * static_cast<std::size_t>(lastCount) >= kSplitCoordinates) {
    std::vector<double>& row = s.positions[nSpecies - 1];
    row.resize(3 * static_cast<std::size_t>(lastCount));
    // A compressed frame is cut where decoding can start, so that neither
    // thread decodes the other's half; the helper reads from two bytes
    // before its first token (the blank before it).
    const std::int64_t quarter = (end - start) / 4;
    std::int64_t middle = start + (end - start) / 2;
    const std::int64_t cut = source->cheapCutNear(middle, start + quarter, end - quarter);
    if (cut != middle) middle = cut + 2;
    halves.emplace(*source, end, middle, static_cast<int>(nSpecies - 1), row, s.backWindow);
  }
  int step = 0;
  try {
    PositionRows rows(s.positions, end - start, halves ? &*halves : nullptr);
    detail::MovieInput in(*source, start, s.window);
    if (halves) in.readNoFurtherThanNear(halves->from);
    step = detail::readFrame(in, m.slots, rows, halves ? &*halves : nullptr);
    if (halves && !halves->clean()) {
      PositionRows again(s.positions, end - start, nullptr);
      detail::MovieInput from(*source, start, s.window);
      step = detail::readFrame(from, m.slots, again);
    }
  } catch (const detail::FrameError& e) {
    throw Error(m.place(*source, k, start, line, e));
  } catch (const CountTooLarge& e) {
    throw Error(m.place(*source, k, &indexedStep, start, line, start,
                        formatText("alive count %d of specie %d does not fit in the frame's "
                                   "%lld bytes",
                                   e.count, e.species, static_cast<long long>(end - start))));
  }
  halves.reset();

  {
    // The frame must be the one the scan saw: a file rewritten in place
    // since is not read as if it were.
    std::shared_lock<std::shared_mutex> lock(m.indexMutex);
    bool same = m.source == source && k < m.steps.size() && m.steps[k] == step;
    for (std::size_t i = 0; same && i < nSpecies; ++i)
      same = static_cast<std::size_t>(m.counts[k * nSpecies + i]) * 3 == s.positions[i].size();
    if (!same)
      throw Error(m.place(*source, k, &step, start, line, start,
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
