// scratchFolder.h - for the measuring programs that write files where they
// run: a folder of the process's own below the system's temporary folder,
// made the working folder and removed when the process ends, whatever folder
// the program was started from.
#ifndef TAVO_TESTS_SCRATCHFOLDER_H
#define TAVO_TESTS_SCRATCHFOLDER_H

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace tavo::test {

inline std::string& scratchFolder() {
  static std::string folder;
  return folder;
}

// Makes a folder "<prefix>-XXXXXX" in the temporary folder the working
// folder; false (with a message) when it cannot.
inline bool enterScratchFolder(const char* prefix) {
  std::string pattern =
      (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr || chdir(pattern.c_str()) != 0) {
    std::perror(pattern.c_str());
    return false;
  }
  scratchFolder() = pattern;
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(scratchFolder(), ignored);
  });
  return true;
}

}  // namespace tavo::test

#endif  // TAVO_TESTS_SCRATCHFOLDER_H
