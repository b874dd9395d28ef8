// movieInput.cpp - opening and indexing a movie with progress.
#include "cli/movieInput.h"

#include "cli/arguments.h"
#include "cli/progress.h"

namespace tavo::cli {

namespace {

// Bytes indexed between two progress updates: small enough for a smooth
// bar, large enough that the pieces cost nothing.
constexpr std::int64_t kIndexPiece = std::int64_t{16} << 20;

}  // namespace

Movie openMovie(const std::string& setupPath, const std::string& moviePath) {
  requireSetupFirst(setupPath);
  try {
    Movie movie(setupPath, moviePath, Movie::Indexing::later);
    Progress progress("indexing " + moviePath, 1);
    do {
      movie.refresh(kIndexPiece);
      progress.setTotal(movie.fileBytes());
      progress.update(movie.indexedBytes());
    } while (!movie.complete());
    return movie;
  } catch (const Error&) {
    requireSpeciesAgree(setupPath, moviePath);  // the likeliest cause, said plainly
    throw;
  }
}

}  // namespace tavo::cli
