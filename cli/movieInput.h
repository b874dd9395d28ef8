// movieInput.h - opening the movie a command works on: a plain or
// compressed file, or a stream (standard input as "-", a pipe, a device).
#ifndef TAVO_CLI_MOVIEINPUT_H
#define TAVO_CLI_MOVIEINPUT_H

#include <cstddef>
#include <functional>
#include <string>

#include "cli/frameSlice.h"
#include "trajectory/trajectory.h"

namespace tavo::cli {

// Reads the setup, opens the movie and indexes it to its last complete frame,
// with a progress bar for large files. A stream is refused: the commands
// that open a movie this way read frames in any order. Throws Error naming
// the file at fault.
Movie openMovie(const std::string& setupPath, const std::string& moviePath);

// The same for a command that reads the movie once, front to back: a
// stream is accepted, and its frames are let go as soon as `newFrames`
// (when given) has seen them; it is called with each run of frames indexed,
// [first, last).
using FramesSeen = std::function<void(const Movie&, std::size_t first, std::size_t last)>;
Movie openMovieOnce(const std::string& setupPath, const std::string& moviePath,
                    const FramesSeen& newFrames = {});

// For an export of the frames `slice` picks: a stream is accepted when the
// slice walks forward from a frame counted from the start (no negative
// index, no step other than 1); it is then read only up to the slice's
// end, holding the bytes of the frames picked.
Movie openMovieForSlice(const std::string& setupPath, const std::string& moviePath,
                        const FrameSlice& slice);

}  // namespace tavo::cli

#endif  // TAVO_CLI_MOVIEINPUT_H
