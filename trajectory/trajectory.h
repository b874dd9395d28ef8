// trajectory.h - setups and movies as values: any number of movies open at
// once, a frame index built by a scan that skips the coordinates, any frame
// read on demand, growing and cut-off movies.
//
// Nothing here touches the process-wide data store of dataFetcher.h, and
// nothing here ends the process: every failure throws tavo::Error with a
// one-line message naming the file and, where there is one, the frame,
// species, molecule, byte offset and line.
//
// A Movie may be used from several threads at once: one thread may extend
// the index (refresh) while others read frames and query the index.
#ifndef TAVO_TRAJECTORY_TRAJECTORY_H
#define TAVO_TRAJECTORY_TRAJECTORY_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "formats/error.h"
#include "formats/movie.h"  // Frame
#include "formats/setup.h"  // Setup, Species

namespace tavo {

// ---------------------------------------------------------------------------
// Movie
// ---------------------------------------------------------------------------

// A run: frames whose steps rise from one to the next. A step equal to or
// below the one before starts a new run, as when a simulation is started
// again and appends to the movie it left.
struct Run {
  std::size_t firstFrame = 0;
  std::size_t frames = 0;
  int firstStep = 0;
  int lastStep = 0;
};

class Movie {
 public:
  enum class Indexing {
    now,    // the constructor indexes the whole file
    later,  // the caller calls refresh(), in pieces if it likes
  };

  // Opens a movie of `setup`: a plain, gzip or zstd file (told by its first
  // bytes), or "-" (standard input), a pipe or a device, read as a stream.
  // With Indexing::now the file is indexed to its last complete frame; a
  // damaged frame throws.
  Movie(Setup setup, const std::string& moviePath, Indexing indexing = Indexing::now);
  Movie(const std::string& setupPath, const std::string& moviePath,
        Indexing indexing = Indexing::now);
  ~Movie();
  Movie(Movie&&) noexcept;
  Movie& operator=(Movie&&) noexcept;
  Movie(const Movie&) = delete;
  Movie& operator=(const Movie&) = delete;

  const Setup& setup() const;
  const std::string& path() const;
  // What holds the text: "plain", "gzip", "zstd", "seekable zstd", "stream",
  // "gzip stream" or "zstd stream".
  std::string format() const;
  // Whether frames can be read in any order: false on a stream, which is
  // read once, front to back.
  bool seekable() const;
  // The size of the file itself (compressed bytes where it is compressed);
  // -1 on a stream.
  std::int64_t storedBytes() const;
  // Memory held for random access into a compressed file, in bytes.
  std::size_t accessMemory() const;

  // -- The index: complete frames only. -------------------------------------
  std::size_t size() const;                  // frames indexed
  std::int64_t offset(std::size_t k) const;  // byte offset of frame k's "step"
  std::int64_t line(std::size_t k) const;    // 1-based line of that byte
  int step(std::size_t k) const;
  int count(std::size_t k, int species) const;   // live molecules of a species
  std::vector<int> counts(std::size_t k) const;  // live molecules of every species
  std::vector<Run> runs() const;                 // in file order; empty without frames

  // Offsets, sizes and lines are those of the text, the same in a
  // compressed file as in the plain one.
  std::int64_t indexedBytes() const;  // end of the last complete frame
  std::int64_t fileBytes() const;     // text size seen by the last scan
  // Bytes after the last complete frame: a frame still being written, or cut
  // short by a crash. They are never read as a frame. Counted once a scan has
  // reached the end of the file (complete()); 0 before.
  std::int64_t partialBytes() const;
  bool complete() const;  // whether the last scan reached the end of the file

  // Extends the index over bytes appended since the last scan, reading only
  // those (and the partial frame left last time). Scans at most about
  // `maxBytes` (all when negative; at least one frame), so that a caller can
  // index a large file in pieces. Returns the number of frames added. A
  // damaged frame throws Error; the frames before it stay indexed, and later
  // calls throw the same error again. So does a file that shrank below what
  // was indexed ("<file>: the file shrank from N to M bytes since it was
  // indexed"), or that was replaced by another file, or rewritten from its
  // start ("<file>: the file was replaced"); reopen it to read the new one.
  std::size_t refresh(std::int64_t maxBytes = -1);

  // Whether refresh() stopped because the file shrank, was replaced or
  // removed (rather than at a damaged frame).
  bool fileChanged() const;
  // Opens the file at path() again and empties the index (runs included);
  // the next refresh() indexes the new file. Reads meanwhile throw or read
  // the new file, never a mix of the two. Throws Error (the index then kept)
  // when the file cannot be opened.
  void reopen();

  // On a stream: frames before k will not be read, and their bytes are let
  // go (a stream holds the bytes of every frame not forgotten). A no-op on
  // a file.
  void forget(std::size_t k);

  // Copies up to `n` bytes of the text from `offset` on into `out`, as they
  // are in the file; returns how many (fewer at the end of the text). On a
  // stream, only bytes not let go by forget() can be read.
  std::size_t readText(std::int64_t offset, char* out, std::size_t n) const;

  // -- The padded layout: every slot of every species, in setup order. ------
  // Molecules are compacted in a movie, so slot i of a species in a frame is
  // its i-th live molecule there, not one molecule's identity over time.
  std::size_t slotCount() const;         // the sum of the species' slots
  std::vector<int> slotSpecies() const;  // the species ID of each slot

  // Reads frame k into slotCount() x 3 doubles at `positions` (x y z per
  // slot; NaN in empty slots) and slotCount() bytes at `alive` (1 for a live
  // molecule, 0 for an empty slot). `scratch` is a Frame to read through,
  // reused from call to call. Throws as read() does; the outputs are then
  // unspecified.
  void readPadded(std::size_t k, Frame& scratch, double* positions, std::uint8_t* alive) const;

  // -- Frames. --------------------------------------------------------------
  // Reads frame k (negative k is not accepted here; callers resolve it).
  // Every coordinate equals strtod of its text. A read that throws leaves
  // `into` as it was. Buffers are reused, so reading frame after frame into
  // one Frame allocates nothing once warmed up.
  void read(std::size_t k, Frame& into) const;
  Frame read(std::size_t k) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tavo

#endif  // TAVO_TRAJECTORY_TRAJECTORY_H
