// arguments.cpp - shared command-line pieces.
#include "cli/arguments.h"

#include <cstdio>

#include "cli/progress.h"
#include "formats/error.h"

namespace tavo::cli {

void addMovieArguments(CLI::App& command, MovieArguments& arguments) {
  command.add_option("SETUP", arguments.setup, "setup file of the run (.Tavosetup)")
      ->required()
      ->type_name("");
  command.add_option("MOVIE", arguments.movie, "movie file of the run (.Tavomovie)")
      ->required()
      ->type_name("");
}

CLI::Option* addFramesOption(CLI::App& command, FrameSlice& slice) {
  return command
      .add_option_function<std::string>(
          "--frames",
          [&slice](const std::string& text) {
            try {
              slice = parseFrameSlice(text);
            } catch (const Error& e) {
              throw CLI::ValidationError(e.what());
            }
          },
          wrap("frames to take, as a Python slice of frame indices: START:STOP:STEP with any "
               "part left out (5:  ::10  -3:), or one index (-1: the last frame); negative "
               "numbers count from the end; default: all complete frames"))
      ->type_name("START:STOP:STEP");
}

CLI::Option* addSizeOption(CLI::App& command, int& width, int& height, int largestSide,
                           const std::string& description) {
  return command
      .add_option_function<std::string>(
          "--size",
          [&width, &height, largestSide](const std::string& text) {
            long long w = 0, h = 0;
            char x = 0, tail = 0;
            if (std::sscanf(text.c_str(), "%lld%c%lld%c", &w, &x, &h, &tail) != 3 ||
                (x != 'x' && x != 'X'))
              throw CLI::ValidationError("--size: " + text +
                                         " is not WIDTHxHEIGHT, such as 1920x1080");
            if (w <= 0 || h <= 0 || w > largestSide || h > largestSide)
              throw CLI::ValidationError("--size: " + text + ": each side must be from 1 to " +
                                         std::to_string(largestSide) + " pixels");
            width = static_cast<int>(w);
            height = static_cast<int>(h);
          },
          description)
      ->type_name("WxH");
}

CLI::Option* addSphereScaleOption(CLI::App& command, double& scale) {
  return command
      .add_option("--sphere-scale", scale,
                  wrap("draw spheres S times their species' size; default 1"))
      ->type_name("S")
      ->check(CLI::PositiveNumber);
}

void addQuietFlag(CLI::App& command) {
  command.add_flag_callback(
      "-q,--quiet", [] { silenceProgress(); },
      wrap("no progress bar (it is shown only when standard error "
           "is a terminal)"));
}

std::string wrap(std::string_view text, std::size_t width) {
  std::string out;
  while (!text.empty()) {
    // One line of the text: its leading blanks are kept, and the
    // continuation lines of an indented line hang two columns further in.
    std::size_t eol = text.find('\n');
    std::string_view line = text.substr(0, eol);
    text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
    std::size_t lead = line.find_first_not_of(' ');
    if (lead == std::string_view::npos) lead = line.size();
    std::string indent(lead, ' ');
    out += indent;
    if (lead > 0) indent += "  ";
    std::size_t column = lead;
    line.remove_prefix(lead);
    bool first = true;
    while (!line.empty()) {
      std::size_t end = line.find(' ');
      std::string_view word = line.substr(0, end);
      if (!first && column + 1 + word.size() > width) {
        out += "\n" + indent;
        column = indent.size();
      } else if (!first) {
        out += ' ';
        ++column;
      }
      out += word;
      column += word.size();
      first = false;
      line.remove_prefix(end == std::string_view::npos ? line.size() : end + 1);
    }
    if (eol != std::string_view::npos) out += '\n';
  }
  return out;
}

}  // namespace tavo::cli
