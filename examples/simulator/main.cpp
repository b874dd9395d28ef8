// main.cpp - command line of the example simulator tavosim.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "simulator.h"

namespace {

const char* kUsage =
    "Usage: tavosim [options] SETUP REGIONS\n"
    "\n"
    "Brownian-dynamics reaction-diffusion run of the setup file SETUP in the\n"
    "regions of the region file REGIONS. Simulates total_step states (0 is the\n"
    "initial placement) of time_step seconds each.\n"
    "\n"
    "Options:\n"
    "  --movie FILE       movie file to write (default movie.Tavomovie; replaced)\n"
    "  --population FILE  population table to write (default population.txt; replaced)\n"
    "  --every N          record every N-th state, N >= 1 (default 1); the last\n"
    "                     state is always recorded\n"
    "  --seed S           random seed, 0 to 4294967295 (default: from the clock)\n"
    "  --quiet            no progress bar\n"
    "  --help             show this text\n"
    "\n"
    "inverse3DGaussian.function is read from the working directory when there is\n"
    "one there; otherwise the library's built-in table is used.\n";

[[noreturn]] void usageError(const std::string& what) {
  std::fprintf(stderr, "tavosim: %s\n\n%s", what.c_str(), kUsage);
  std::exit(2);
}

// Parses all of `text` as a decimal integer in [lo, hi].
bool parseInteger(const char* text, long long lo, long long hi, long long* out) {
  if (*text == '\0' || *text == ' ' || *text == '+') return false;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(text, &end, 10);
  if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
  *out = v;
  return true;
}

tavosim::RunOptions parseCommandLine(int argc, char** argv) {
  tavosim::RunOptions options;
  std::string positional[2];
  int positionals = 0;
  for (int k = 1; k < argc; ++k) {
    const std::string arg = argv[k];
    auto value = [&]() -> const char* {
      if (k + 1 >= argc) usageError("option " + arg + " needs a value");
      return argv[++k];
    };
    long long n = 0;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else if (arg == "--movie") {
      options.moviePath = value();
    } else if (arg == "--population") {
      options.populationPath = value();
    } else if (arg == "--every") {
      const char* v = value();
      if (!parseInteger(v, 1, INT_MAX, &n))
        usageError(std::string("--every needs an integer >= 1, not '") + v + "'");
      options.every = static_cast<int>(n);
    } else if (arg == "--seed") {
      const char* v = value();
      if (!parseInteger(v, 0, UINT_MAX, &n))
        usageError(std::string("--seed needs an integer from 0 to 4294967295, not '") + v + "'");
      options.seed = static_cast<unsigned int>(n);
      options.seedGiven = true;
    } else if (arg == "--quiet") {
      options.progress = false;
    } else if (arg.size() > 1 && arg[0] == '-') {
      usageError("unknown option " + arg);
    } else {
      if (positionals == 2) usageError("unexpected argument '" + arg + "'");
      positional[positionals++] = arg;
    }
  }
  if (positionals < 2) usageError("need a setup file and a region file");
  options.setupPath = positional[0];
  options.regionPath = positional[1];
  const std::string clash = tavosim::outputClash(options);
  if (!clash.empty()) usageError(clash);
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  const tavosim::RunOptions options = parseCommandLine(argc, argv);
  const tavosim::RunResult result = tavosim::run(options);
  std::printf("\nSeed %u: %d steps in %.3f s (%.1f steps/s), %d frames written to %s and %s\n",
              result.seed, result.stepsSimulated, result.seconds,
              result.seconds > 0 ? result.stepsSimulated / result.seconds : 0.0,
              result.framesWritten, options.moviePath.c_str(), options.populationPath.c_str());
  std::printf(
      "Moves %lld (rejected at a boundary %lld), unimolecular reactions %lld, "
      "bimolecular reactions %lld, reactions refused by a product's region %lld\n",
      static_cast<long long>(result.counts.moves),
      static_cast<long long>(result.counts.rejectedMoves),
      static_cast<long long>(result.counts.unimolecular),
      static_cast<long long>(result.counts.bimolecular),
      static_cast<long long>(result.counts.blockedByRegion));
  return 0;
}
