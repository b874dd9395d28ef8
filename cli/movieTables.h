// movieTables.h - what a movie's frame index tells without reading a
// coordinate: the summary of `tavo info` and the population table.
#ifndef TAVO_CLI_MOVIETABLES_H
#define TAVO_CLI_MOVIETABLES_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "formats/output.h"
#include "trajectory/trajectory.h"

namespace tavo::cli {

using formats::Output;

struct SpeciesSummary {
  int id = 0;
  std::string name;
  int first = 0, min = 0, max = 0, last = 0;  // live molecules; 0 without frames
};

struct MovieSummary {
  std::string setupPath, moviePath;
  std::size_t frames = 0;           // complete frames
  int firstStep = 0, lastStep = 0;  // 0 without frames
  double timeStep = 0.0;            // seconds per step
  std::int64_t bytes = 0;           // text size (the file's, when it is plain)
  std::int64_t partialBytes = 0;    // after the last complete frame, never read
  std::string format;               // Movie::format()
  std::int64_t storedBytes = -1;    // the file's own size; -1 for a stream
  std::vector<Run> runs;
  std::vector<SpeciesSummary> species;
};

MovieSummary summarize(const Movie& movie);

// Human-readable summary.
void writeSummaryText(const MovieSummary& summary, Output& out);
// One JSON object with the keys frames, first_step, last_step, time_step,
// bytes, partial_bytes, runs (first_frame, frames, first_step, last_step),
// species (id, name, first, min, max, last), format and file_bytes; the
// steps and counts are null when the movie has no complete frame.
void writeSummaryJson(const MovieSummary& summary, Output& out);

// Reads every complete frame (or those in [first, last)), coordinates
// included; throws the Error of the first malformed token.
void checkFrames(const Movie& movie);
void checkFrames(const Movie& movie, std::size_t first, std::size_t last);

// The population table of the movie's frames: the header "step:" and the
// species names, then per frame its step and the live count of each species,
// every field followed by a tab; the header again before each later frame
// of step 0, where a run of the simulation started again.
void writePopulation(const Movie& movie, Output& out);

}  // namespace tavo::cli

#endif  // TAVO_CLI_MOVIETABLES_H
