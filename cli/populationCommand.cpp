// populationCommand.cpp - tavo population: the population table of a movie.
#include <unistd.h>

#include <chrono>
#include <memory>
#include <optional>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/movieInput.h"
#include "cli/movieTables.h"
#include "cli/progress.h"

namespace tavo::cli {

using formats::Output;
using formats::OutputFile;

void addPopulationCommand(CLI::App& app) {
  struct Options {
    MovieArguments files;
    std::string output;
  };
  auto options = std::make_shared<Options>();
  CLI::App* command =
      app.add_subcommand("population", "Write the live molecules of each species per frame");
  addMovieArguments(*command, options->files);
  command
      ->add_option("-o,--output", options->output,
                   wrap("write the table to PATH instead of standard output (replaced "
                        "only once it is complete; never one of the inputs)"))
      ->type_name("PATH");
  addQuietFlag(*command);
  command->footer(
      wrap("The table is the one a simulation writes beside its movie: the header line \"step:\" "
           "and the species names, then one line per complete frame with its step and the live "
           "molecules of each species, every field followed by a tab; the header again before each "
           "later frame of step 0 (a simulation started again, appending). Only the frame index "
           "is read. MOVIE may be plain, gzip or zstd, or - for standard input.\n\n"
           "Examples:\n"
           "  tavo population run.Tavosetup run.Tavomovie\n"
           "  tavo population run.Tavosetup run.Tavomovie --output run.population",
           kTextWidth));
  command->callback([options] {
    const auto start = std::chrono::steady_clock::now();
    const MovieArguments& files = options->files;
    if (!options->output.empty())
      formats::requireNotInput(options->output, {files.setup, files.movie});
    Movie movie = openMovieOnce(files.setup, files.movie);
    if (options->output.empty()) {
      Output out(STDOUT_FILENO, "standard output");
      writePopulation(movie, out);
      out.flush();
    } else {
      OutputFile out(options->output, {.inputs = {files.setup, files.movie}});
      writePopulation(movie, out);
      out.commit();
    }
    reportWritten(options->output.empty() ? "standard output" : options->output, movie.size(),
                  start);
  });
}

}  // namespace tavo::cli
