// movie.h - the movie file: a frame as a value (tavo::Frame), the one frame
// parser, shared by readMovie_fromFile (which publishes a frame into the data
// store) and the trajectory module (which indexes a movie and reads frames
// into values), and the writer's number form.
//
// A frame is read through a MovieInput, a bounded token reader over a file
// descriptor, into buffers the caller owns; nothing here touches the data
// store or any process-wide buffer, so any number of frames may be read at
// once from any number of threads. Faults are thrown as FrameError, which
// carries both the movie reader's own message and the place of the fault.
#ifndef TAVO_FORMATS_MOVIE_H
#define TAVO_FORMATS_MOVIE_H

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "formats/error.h"

namespace tavo::formats {
class ByteSource;
}

namespace tavo {

// ---------------------------------------------------------------------------
// Frames
// ---------------------------------------------------------------------------

// One frame: per species, the live molecules' coordinates in file order as
// contiguous doubles x0 y0 z0 x1 y1 z1 ... (metres, as written).
struct Frame {
  std::size_t index = 0;  // position of the frame in the movie
  int step = 0;
  double time = 0.0;  // step x the setup's time step, seconds
  std::vector<std::vector<double>> positions;

  int count(int species) const {
    return static_cast<int>(positions[static_cast<std::size_t>(species)].size() / 3);
  }
};

}  // namespace tavo

namespace tavo::detail {

constexpr std::size_t kMaxNumberText = 1024;  // longest number text accepted

// Bytes asked of each read call (smaller in fuzz builds, so that they reach
// every refill path with short inputs).
std::size_t movieReadBytes();

// Whether coordinates in the writer's form are read 16 bytes at a time
// (where the processor can); turning it off gives the byte-wise reading,
// for tests and benchmarks that compare the two. Returns the setting before.
bool useWideNumbers(bool on);

// ---------------------------------------------------------------------------
// Faults
// ---------------------------------------------------------------------------

enum class FrameFault {
  io,                 // the file could not be read
  stepWord,           // the frame's first word is missing or not "step"
  stepNumber,         // the step number is not an integer
  specie,             // "specie" missing, or its ID not the next one
  aliveWord,          // "alive" missing
  aliveCount,         // the live count is not an integer
  aliveTooMany,       // the live count exceeds the species' slots (or an int)
  aliveNegative,      // the live count is negative
  coordinateEnd,      // the data end inside the coordinates
  coordinate,         // a coordinate that is not a number
  coordinateTooLong,  // a coordinate longer than kMaxNumberText characters
  cut,                // the frame's last token runs into the end of the data
};

struct FrameFaultInfo {
  FrameFault fault = FrameFault::io;
  std::string path;  // the movie file
  bool stepKnown = false;
  int step = 0;
  int species = -1;         // -1: before the first species block
  bool idAtFault = false;   // "specie" was read, its ID is wrong
  int molecule = -1;        // for coordinates
  int axis = -1;            // 0, 1, 2 for x, y, z
  long long count = 0;      // the live count read (aliveNegative, aliveTooMany)
  int slots = 0;            // the species' slots (aliveTooMany)
  std::int64_t offset = 0;  // byte offset of the token at fault, or of the end of the data
  // At the end of the data, or at a token that runs into it: a frame still
  // being written (or cut short by a crash) rather than a damaged one.
  bool atEnd = false;
  std::string found;    // the token at fault, quoted, or "the end of the file"
  int errorNumber = 0;  // errno of a failed read
};

// what() is readMovie_fromFile's message; description() the same fault in the
// words of the trajectory module, which adds the file, frame and line.
class FrameError : public Error {
 public:
  explicit FrameError(FrameFaultInfo info);
  const FrameFaultInfo& info() const { return info_; }
  std::string description() const;

 private:
  FrameFaultInfo info_;
};

// The first '\n' or 's' in [p, end), or end: how a coordinate line is
// skipped. `wide`: with the machine's vector instructions where it has them.
char* findLineEndOrS(char* p, char* end, bool wide = true);

// ---------------------------------------------------------------------------
// Token input
// ---------------------------------------------------------------------------

// Whitespace-separated tokens of a file from a byte offset on, read with
// pread() through a caller's buffer. A token of up to kMaxNumberText
// characters is always seen whole: before one is scanned the window holds at
// least kMaxNumberText + 1 bytes or reaches the end of the file, so the
// scanning loops need no refills of their own.
class MovieInput {
 public:
  enum class Scan { ok, end, malformed, outOfRange, tooLong };

  // Reads `fd` (not owned) from `offset` on through `buffer`, which it sizes
  // on first use; `path` names the file in messages.
  MovieInput(int fd, std::int64_t offset, std::vector<char>& buffer, const char* path);
  // The same over the text of a byte source (not owned).
  MovieInput(formats::ByteSource& source, std::int64_t offset, std::vector<char>& buffer);
  std::int64_t offset() const { return next_ - static_cast<std::int64_t>(end_ - p_); }
  void seek(std::int64_t offset);
  // Reads no further than `bytes` past `from`, throwing Error there: an
  // input that never ends (a device, a stream) must hold a frame within a
  // bounded stretch. Negative: no bound.
  void limitReads(std::int64_t from, std::int64_t bytes) {
    limitFrom_ = from;
    limitBytes_ = bytes;
  }
  // A frame read by two threads: reads go no further than a few KiB past
  // byte `meet`, where the other thread's part starts, until the input is
  // past it; the parser needs no more to meet the other thread there.
  void readNoFurtherThanNear(std::int64_t meet) { pause_ = meet + 4 * kMaxNumberText; }
  // A source that fails (compressed data that do not decode) ends the
  // input there instead of throwing, so that what came before is still
  // read; the failure is kept in sourceError().
  void endAtSourceErrors() { soft_ = true; }
  const std::string& sourceError() const { return sourceError_; }
  // Adds the line ends consumed from now on to *lines (null: no count).
  void countLines(std::int64_t* lines) { lines_ = lines; }
  std::int64_t* lineCounter() const { return lines_; }
  // How far into the file the reads have gone: its size once the end is met.
  std::int64_t bytesSeen() const { return next_; }
  const char* path() const { return path_; }

  // Skips white space and makes the next token visible whole; false at the
  // end of the file.
  bool startToken();
  // "%s" with a bound: the whole word is consumed, at most cap - 1 chars are
  // kept. A word holding a NUL byte is malformed: it is no keyword.
  Scan readWord(char* out, std::size_t cap);
  // "%d": optional sign and decimal digits, ending the token.
  Scan readInt(int& out);
  // "%lf": a real exactly as strtod converts it, the whole token.
  Scan readReal(double& out);
  // The hot loop of a frame: reads coordinates k, axis on into out[3k+axis]
  // for as long as they are in the writer's form and whole in the window.
  // Stops before a token that starts at or after byte `limit` (negative:
  // no limit).
  void readWriterRun(double* out, int n, int& k, int& axis, std::int64_t limit = -1);

  // Scanning without converting: `count` tokens (returns how many there
  // were before the end of the file); the rest of a line when it holds no
  // 's' (no keyword can hide in it); whether a white space byte follows the
  // last token consumed; whether the next token is `word`.
  long long skipTokens(long long count);
  enum class Line { skipped, keyword, end };
  Line skipLine();
  bool followedBySpace();
  bool nextIs(const char* word);

  // The token at byte `at`, quoted for a message, and whether it runs into
  // the end of the file. Reads the file again; meant for messages only.
  std::string tokenAt(std::int64_t at, bool* reachesEnd) const;

 private:
  bool endsToken(const char* q) const;
  char* readWriterForm(char* s, bool negative, double& out) const;
  Scan readRealSlow(double& out);
  bool refill();
  std::size_t fetch(std::int64_t at, char* out, std::size_t n) const;

  int fd_;
  formats::ByteSource* source_ = nullptr;
  std::int64_t limitFrom_ = 0, limitBytes_ = -1;
  std::int64_t pause_ = -1;  // see readNoFurtherThanNear
  bool soft_ = false;
  std::string sourceError_;
  std::int64_t next_;  // file offset of the byte after end_
  const char* path_;
  char* base_ = nullptr;
  std::size_t cap_ = 0;
  char* p_ = nullptr;    // first unread byte
  char* end_ = nullptr;  // end of the bytes read
  bool eof_ = false;
  std::int64_t* lines_ = nullptr;
};

// ---------------------------------------------------------------------------
// Frames
// ---------------------------------------------------------------------------

// Where a frame's coordinates go: asked once per species block, in order,
// once its live count is read and checked; returns room for 3 * count
// doubles, x y z per molecule.
class FrameSink {
 public:
  virtual double* coordinates(int species, int count) = 0;

 protected:
  ~FrameSink() = default;
};

// A frame read by two threads: a helper reads the coordinates at the end of
// the frame, backwards (readWriterBackwards), into the block of species
// `species`, down to the first that starts at or after byte `from`. The
// parser reads forward; in that block, at the first coordinate at or after
// `from`, it calls meet() with the coordinates it has read there and that
// coordinate's byte: true when the helper read exactly the rest, the parser
// then going on at `resume` (the end of the block's last number). Otherwise
// it reads the whole block again itself, the helper having finished: the
// results, and the faults, are those of one thread.
class FrameSplit {
 public:
  int species = -1;
  std::int64_t from = 0;
  virtual bool meet(std::size_t coordinates, std::int64_t at, std::int64_t& resume) = 0;

 protected:
  ~FrameSplit() = default;
};

// Reads the frame at the input's position for species with the given slot
// capacities and returns its step number; the input is left right after the
// frame's last token. Throws FrameError on any fault; what the sink received
// is then incomplete. `split`: see FrameSplit.
int readFrame(MovieInput& in, std::span<const int> slots, FrameSink& sink,
              FrameSplit* split = nullptr);

// Coordinates in the writer's form read backwards from byte `end` (white
// space may come first) into out[count - 1], out[count - 2], ..., as long as
// they are in that form, start at or after byte `from`, and fill fewer than
// `count`; returns how many were read, the start of the lowest at *lowest
// and the end of the highest at *highestEnd. `window` is reused scratch.
std::size_t readWriterBackwards(formats::ByteSource& source, std::int64_t end, std::int64_t from,
                                double* out, std::size_t count, std::vector<char>& window,
                                std::int64_t* lowest, std::int64_t* highestEnd);

// The structure of the frame at the input's position (step, live counts,
// where it ends) without converting its coordinates: each coordinate line is
// skipped whole where the layout allows it, token by token where it does
// not. Returns false, the position then undefined, when the data end before
// the frame is complete (its last token must be followed by white space). A
// damaged frame throws FrameError.
bool scanFrame(MovieInput& in, std::span<const int> slots, int& step, std::span<int> counts);

// ---------------------------------------------------------------------------
// Writing
// ---------------------------------------------------------------------------

// Writes `v` at `p` as printf("%E ") does (at most kMaxScientificChars
// characters) and returns the end.
inline constexpr std::size_t kMaxScientificChars = 64;
char* putScientific(char* p, double v);

}  // namespace tavo::detail

#endif  // TAVO_FORMATS_MOVIE_H
