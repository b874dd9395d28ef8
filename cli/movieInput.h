// movieInput.h - opening the movie a command works on.
#ifndef TAVO_CLI_MOVIEINPUT_H
#define TAVO_CLI_MOVIEINPUT_H

#include <string>

#include "trajectory/trajectory.h"

namespace tavo::cli {

// Reads the setup, opens the movie and indexes it to its last complete frame,
// with a progress bar for large files. Throws Error naming the file at fault.
Movie openMovie(const std::string& setupPath, const std::string& moviePath);

}  // namespace tavo::cli

#endif  // TAVO_CLI_MOVIEINPUT_H
