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

// --frames START:STOP:STEP, checked as it is parsed (a malformed slice is a
// command-line error). `slice` keeps its value when the option is absent.
CLI::Option* addFramesOption(CLI::App& command, FrameSlice& slice);

// --size WxH: a picture or window size, each side from 1 to `largestSide`
// pixels, checked as it is parsed. `width` and `height` keep their values
// when the option is absent.
CLI::Option* addSizeOption(CLI::App& command, int& width, int& height, int largestSide,
                           const std::string& description);

// --sphere-scale S: spheres drawn S times their species' size (positive;
// `scale` keeps its value, 1, when the option is absent). Molecules of a few
// nanometres in a cell of micrometres are below a pixel at their own size.
CLI::Option* addSphereScaleOption(CLI::App& command, double& scale);

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
