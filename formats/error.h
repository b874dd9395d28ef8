// error.h - the one error type of the code beyond the simulation core.
//
// The trajectory module, the tavo command and the Python module report every
// failure (a file that cannot be opened, a malformed token, a frame cut short)
// by throwing tavo::Error with a one-line message that names the file and,
// where there is one, the frame, byte offset and line. They never end the
// process: an interpreter or a viewer window outlives a bad file. The
// functions of dataFetcher.h, randomNumber.h and geometry.h keep their own
// policy (errorOut ends the process).
#ifndef TAVO_FORMATS_ERROR_H
#define TAVO_FORMATS_ERROR_H

#include <stdexcept>
#include <string>

namespace tavo {

class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message, int errorNumber = 0)
      : std::runtime_error(message), errorNumber_(errorNumber) {}
  explicit Error(const char* message, int errorNumber = 0)
      : std::runtime_error(message), errorNumber_(errorNumber) {}

  // The errno of the system call that failed (ENOENT for a missing file,
  // EACCES for one that may not be read, ...); 0 for a fault of the content.
  int errorNumber() const noexcept { return errorNumber_; }

 private:
  int errorNumber_ = 0;
};

}  // namespace tavo

#endif  // TAVO_FORMATS_ERROR_H
