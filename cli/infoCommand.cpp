// infoCommand.cpp - tavo info: what a movie holds, from its frame index.
#include <unistd.h>

#include <memory>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/movieInput.h"
#include "cli/movieTables.h"

namespace tavo::cli {

using formats::Output;

void addInfoCommand(CLI::App& app) {
  struct Options {
    MovieArguments files;
    bool json = false;
    bool check = false;
  };
  auto options = std::make_shared<Options>();
  CLI::App* command = app.add_subcommand("info", "Summarise a movie: frames, steps, time, species");
  addMovieArguments(*command, options->files);
  command->add_flag("--json", options->json,
                    wrap("print one JSON object with the keys frames, first_step, last_step, "
                         "time_step, bytes (of the text), partial_bytes, runs (a list of objects "
                         "with first_frame, frames, first_step and last_step), species (a list "
                         "of objects with id, name, first, min, max and last), format (plain, "
                         "gzip, zstd, seekable zstd, or a stream) and file_bytes (the file's own "
                         "size, null for a stream); steps and counts are null when the movie has "
                         "no complete frame"));
  command->add_flag("--check", options->check,
                    wrap("also read every coordinate of every complete frame, and fail (exit "
                         "1) at the first malformed token, naming its frame, species, molecule, "
                         "byte offset and line"));
  addQuietFlag(*command);
  command->footer(
      wrap("Prints the number of complete frames, the first and last step, the time they span "
           "(step x the setup's time step), the file size and the partial frame at its end if any, "
           "and per species the live molecules at the first frame, their minimum, maximum and the "
           "count at the last frame. Only the frame index is read, unless --check is given. A "
           "frame still being written, or cut short, after the last complete one is reported as "
           "partial bytes and never read. A step equal to or below the one before starts a new "
           "run (a simulation started again, appending to its movie); the runs are listed when "
           "there are several.\n\n"
           "MOVIE may be plain text, gzip or zstd (told by its first bytes, whatever its name), "
           "or - for standard input, a pipe or a device, read once.\n\n"
           "Examples:\n"
           "  tavo info run.Tavosetup run.Tavomovie\n"
           "  tavo info --json --check run.Tavosetup run.Tavomovie\n"
           "  tavo info run.Tavosetup run.Tavomovie.gz\n"
           "  zstd -dc run.Tavomovie.zst | tavo info run.Tavosetup -",
           kTextWidth));
  command->callback([options] {
    FramesSeen check;
    if (options->check)
      check = [](const Movie& m, std::size_t first, std::size_t last) {
        checkFrames(m, first, last);
      };
    Movie movie = openMovieOnce(options->files.setup, options->files.movie, check);
    MovieSummary summary = summarize(movie);
    Output out(STDOUT_FILENO, "standard output");
    if (options->json)
      writeSummaryJson(summary, out);
    else
      writeSummaryText(summary, out);
    out.flush();
  });
}

}  // namespace tavo::cli
