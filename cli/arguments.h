// arguments.h - command-line pieces shared by the tavo subcommands: the
// SETUP MOVIE pair, --frames, --output and --quiet, declared the same way
// everywhere.
#ifndef TAVO_CLI_ARGUMENTS_H
#define TAVO_CLI_ARGUMENTS_H

#include <CLI/CLI.hpp>
#include <cstddef>
#include <string>
#include <string_view>

#include "cli/frameSlice.h"

namespace tavo::cli {

struct MovieArguments {
  std::string setup;  // setup file path
  std::string movie;  // movie file path
};

// The positional arguments SETUP and MOVIE, both required.
void addMovieArguments(CLI::App& command, MovieArguments& arguments);

// Throws Error saying so when the file at `setupPath` holds a movie, plain
// or compressed ("... looks like a movie; the setup file comes first").
void requireSetupFirst(const std::string& setupPath);

// Throws Error saying so when the first frame of the movie at `moviePath`
// holds another number of species than the setup at `setupPath` ("the movie
// has 4 species, the setup 3"): the movie is not of that setup's run. Does
// nothing when it cannot tell. Meant for a movie that failed to open.
void requireSpeciesAgree(const std::string& setupPath, const std::string& moviePath);

// --frames START:STOP:STEP, checked as it is parsed (a malformed slice is a
// command-line error). `slice` keeps its value when the option is absent.
CLI::Option* addFramesOption(CLI::App& command, FrameSlice& slice);

// --size WxH: a picture or window size, each side from 1 to `largestSide`
// pixels, checked as it is parsed. `width` and `height` keep their values
// when the option is absent.
CLI::Option* addSizeOption(CLI::App& command, int& width, int& height, int largestSide,
                           const std::string& description);

// A number option's check: a finite number (no overflow to infinity, no
// underflow to 0) from `low` to `high`, `low` itself excluded unless
// `lowIncluded`; an infinite `high` is no bound. The message says which
// numbers are taken; CLI11 puts the option's name before it.
CLI::Validator numberIn(double low, double high, bool lowIncluded = true);

// A length factor (--scale): a finite number other than 0.
CLI::Validator lengthFactor();

// -q,--quiet: silences the progress bar.
void addQuietFlag(CLI::App& command);

// Help text broken into lines of at most `width` columns at spaces (line
// breaks already in `text` stay). Option descriptions use kOptionWidth: the
// help prints them beside the option names.
inline constexpr std::size_t kOptionWidth = 50;
inline constexpr std::size_t kTextWidth = 78;
std::string wrap(std::string_view text, std::size_t width = kOptionWidth);

}  // namespace tavo::cli

#endif  // TAVO_CLI_ARGUMENTS_H
