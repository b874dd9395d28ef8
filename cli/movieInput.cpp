// movieInput.cpp - opening and indexing a movie with progress.
#include "cli/movieInput.h"

#include <algorithm>
#include <limits>

#include "cli/arguments.h"
#include "cli/progress.h"

namespace tavo::cli {

namespace {

// Bytes indexed between two progress updates: small enough for a smooth
// bar, large enough that the pieces cost nothing.
constexpr std::int64_t kIndexPiece = std::int64_t{16} << 20;

// Indexes in pieces until the end (or until `enough` frames), calling
// `newFrames` with each piece's frames.
void indexAll(Movie& movie, const std::string& moviePath, std::size_t enough,
              const FramesSeen& newFrames) {
  Progress progress("indexing " + moviePath, 1);
  do {
    std::size_t before = movie.size();
    movie.refresh(kIndexPiece);
    if (newFrames) newFrames(movie, before, movie.size());
    if (!movie.seekable()) movie.forget(movie.size());
    // The text size of a compressed file is known only once read.
    progress.setTotal(std::max(movie.fileBytes(), movie.indexedBytes()));
    progress.update(movie.indexedBytes());
  } while (!movie.complete() && movie.size() < enough);
}

// The movie of a command, opened (not indexed yet): a setup given where the
// movie belongs is refused first.
Movie opened(const std::string& setupPath, const std::string& moviePath) {
  requireSetupFirst(setupPath);
  return Movie(setupPath, moviePath, Movie::Indexing::later);
}

// Runs `index`; an error it throws is first explained by a setup of another
// run, when that is the cause, said plainly.
template <typename Index>
Movie explained(const std::string& setupPath, const std::string& moviePath, Index index) {
  try {
    return index();
  } catch (const Error&) {
    requireSpeciesAgree(setupPath, moviePath);
    throw;
  }
}

}  // namespace

Movie openMovie(const std::string& setupPath, const std::string& moviePath) {
  Movie movie = opened(setupPath, moviePath);
  if (!movie.seekable())
    throw Error(moviePath + ": this command reads frames in any order, which a " + movie.format() +
                " (standard input, a pipe or a device) cannot give; save it to a file first");
  return explained(setupPath, moviePath, [&] {
    indexAll(movie, moviePath, std::numeric_limits<std::size_t>::max(), {});
    return std::move(movie);
  });
}

Movie openMovieOnce(const std::string& setupPath, const std::string& moviePath,
                    const FramesSeen& newFrames) {
  Movie movie = opened(setupPath, moviePath);
  return explained(setupPath, moviePath, [&] {
    indexAll(movie, moviePath, std::numeric_limits<std::size_t>::max(), newFrames);
    return std::move(movie);
  });
}

Movie openMovieForSlice(const std::string& setupPath, const std::string& moviePath,
                        const FrameSlice& slice) {
  Movie movie = opened(setupPath, moviePath);
  if (movie.seekable())
    return explained(setupPath, moviePath, [&] {
      indexAll(movie, moviePath, std::numeric_limits<std::size_t>::max(), {});
      return std::move(movie);
    });
  const bool forward =
      slice.start.value_or(0) >= 0 &&
      (slice.single || (slice.stop.value_or(0) >= 0 && slice.step.value_or(1) == 1));
  if (!forward)
    throw Error(moviePath + ": --frames " + slice.text + " needs the frames in another order " +
                "or counted from the end, which a " + movie.format() +
                " (standard input, a pipe or a device) cannot give; pick START:STOP, or save "
                "the movie to a file first");
  const auto first = static_cast<std::size_t>(slice.start.value_or(0));
  const std::size_t stop = slice.single ? first + 1
                           : slice.stop ? static_cast<std::size_t>(*slice.stop)
                                        : std::numeric_limits<std::size_t>::max();
  Progress progress("indexing " + moviePath, 1);
  do {
    movie.refresh(kIndexPiece);
    movie.forget(std::min(movie.size(), first));
    progress.setTotal(std::max(movie.fileBytes(), movie.indexedBytes()));
    progress.update(movie.indexedBytes());
  } while (!movie.complete() && movie.size() < stop);
  return movie;
}

}  // namespace tavo::cli
