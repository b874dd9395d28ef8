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

class Movie {
 public:
  enum class Indexing {
    now,    // the constructor indexes the whole file
    later,  // the caller calls refresh(), in pieces if it likes
  };

  // Opens a movie of `setup`. With Indexing::now the file is indexed to its
  // last complete frame; a damaged frame throws.
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

  // -- The index: complete frames only. -------------------------------------
  std::size_t size() const;                  // frames indexed
  std::int64_t offset(std::size_t k) const;  // byte offset of frame k's "step"
  std::int64_t line(std::size_t k) const;    // 1-based line of that byte
  int step(std::size_t k) const;
  int count(std::size_t k, int species) const;   // live molecules of a species
  std::vector<int> counts(std::size_t k) const;  // live molecules of every species

  std::int64_t indexedBytes() const;  // end of the last complete frame
  std::int64_t fileBytes() const;     // file size seen by the last scan
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
  // calls throw the same error again. So does a frame whose step number is
  // below the one before it.
  std::size_t refresh(std::int64_t maxBytes = -1);

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
