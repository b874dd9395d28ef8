// arguments.cpp - shared command-line pieces.
#include "cli/arguments.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "cli/progress.h"
#include "formats/error.h"
#include "formats/numbers.h"
#include "formats/setup.h"

namespace tavo::cli {

namespace {

// Longest stretch of a movie read to find its first frame's species.
constexpr std::int64_t kFirstFrameScan = std::int64_t{256} << 20;

bool isRegularFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Whitespace-separated words of a file, read in pieces.
class Words {
 public:
  explicit Words(const std::string& path) : in_(path, std::ios::binary) {}
  // The next word, false at the end or after `limit` bytes.
  bool next(std::string& word, std::int64_t limit) {
    word.clear();
    for (;;) {
      if (at_ == end_) {
        if (read_ >= limit || !in_) return !word.empty();
        in_.read(buffer_, sizeof buffer_);
        end_ = static_cast<std::size_t>(in_.gcount());
        read_ += static_cast<std::int64_t>(end_);
        at_ = 0;
        if (end_ == 0) return !word.empty();
      }
      const char c = buffer_[at_++];
      if (std::isspace(static_cast<unsigned char>(c))) {
        if (!word.empty()) return true;
      } else if (word.size() < 64) {
        word += c;
      }
    }
  }

 private:
  std::ifstream in_;
  char buffer_[1 << 16];
  std::size_t at_ = 0, end_ = 0;
  std::int64_t read_ = 0;
};

// Reads a finite number, the whole text; returns why it is none ("" when it
// is one): not a number, not finite, or beyond what a double holds (an
// overflow to infinity or an underflow to 0).
std::string readNumber(const std::string& text, double& value) {
  char* end = nullptr;
  errno = 0;
  value = std::strtod(text.c_str(), &end);
  if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])) ||
      end != text.c_str() + text.size())
    return text + " is not a number";
  if (std::isnan(value)) return text + " is not a number";
  if (std::isinf(value) && errno != ERANGE) return text + " is not a finite number";
  if (errno == ERANGE) return text + " is beyond the range of numbers";
  return "";
}

}  // namespace

void requireSetupFirst(const std::string& setupPath) {
  if (!isRegularFile(setupPath)) return;
  std::ifstream in(setupPath, std::ios::binary);
  unsigned char magic[4] = {0, 0, 0, 0};
  in.read(reinterpret_cast<char*>(magic), sizeof magic);
  const bool gzip = magic[0] == 0x1f && magic[1] == 0x8b;
  const bool zstd = magic[0] == 0x28 && magic[1] == 0xb5 && magic[2] == 0x2f && magic[3] == 0xfd;
  std::string word;
  Words words(setupPath);
  if (gzip || zstd || (words.next(word, 4096) && word == "step"))
    throw Error(setupPath + " looks like a movie; the setup file comes first");
}

void requireSpeciesAgree(const std::string& setupPath, const std::string& moviePath) {
  if (!isRegularFile(setupPath) || !isRegularFile(moviePath)) return;
  std::size_t setupSpecies = 0;
  try {
    setupSpecies = Setup::read(setupPath).species.size();
  } catch (const Error&) {
    return;
  }
  // The "specie" blocks of the first frame: up to the second "step".
  Words words(moviePath);
  std::string word;
  if (!words.next(word, kFirstFrameScan) || word != "step") return;
  std::size_t movieSpecies = 0;
  while (words.next(word, kFirstFrameScan) && word != "step")
    if (word == "specie") ++movieSpecies;
  if (movieSpecies > 0 && movieSpecies != setupSpecies)
    throw Error(moviePath + ": the movie has " + std::to_string(movieSpecies) +
                " species, the setup " + std::to_string(setupSpecies) + " (" + setupPath +
                "): the movie is not of that setup's run");
}

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

CLI::Validator numberIn(double low, double high, bool lowIncluded) {
  return CLI::Validator(
      [low, high, lowIncluded](std::string& text) -> std::string {
        double value = 0;
        if (std::string why = readNumber(text, value); !why.empty()) return why;
        if (value < low || (!lowIncluded && value == low) || value > high) {
          std::string range =
              lowIncluded ? "from " + formats::shortest(low) : "above " + formats::shortest(low);
          if (!std::isinf(high))
            range += (lowIncluded ? " to " : " and at most ") + formats::shortest(high);
          return text + " is out of range: a number " + range;
        }
        return "";
      },
      "");
}

CLI::Validator lengthFactor() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        double value = 0;
        if (std::string why = readNumber(text, value); !why.empty()) return why;
        if (value == 0) return "0 would put every molecule at the origin";
        return "";
      },
      "");
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
