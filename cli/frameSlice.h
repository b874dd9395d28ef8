// frameSlice.h - the --frames selection: Python's slice syntax over frame
// indices.
//
//   START:STOP:STEP   frames START, START+STEP, ... before STOP
//   5:   ::10   :-1   any part may be left out
//   -1                one frame; negative numbers count from the end
//
// As in Python, a slice never fails for indices beyond the movie (it picks
// fewer frames, maybe none), a negative STEP walks backwards, and a lone
// index must name an existing frame.
#ifndef TAVO_CLI_FRAMESLICE_H
#define TAVO_CLI_FRAMESLICE_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavo::cli {

struct FrameSlice {
  std::string text;  // as given, for messages
  std::optional<std::int64_t> start, stop, step;
  bool single = false;  // a lone index: start alone, no colon
};

// Parses the text of --frames; throws Error with a one-line reason.
FrameSlice parseFrameSlice(std::string_view text);

// The indices that `slice` picks among `frames` frames, in the order given.
// A lone index outside the movie throws Error naming `moviePath`.
std::vector<std::size_t> selectFrames(const FrameSlice& slice, std::size_t frames,
                                      const std::string& moviePath);

}  // namespace tavo::cli

#endif  // TAVO_CLI_FRAMESLICE_H
