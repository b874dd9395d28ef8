// testSupport.h - shared helpers for the GoogleTest suite: turning fatal
// errors into exceptions, scratch files and captured standard output.
#ifndef TAVO_TESTS_TESTSUPPORT_H
#define TAVO_TESTS_TESTSUPPORT_H

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "datastore/dataFetcher.h"

namespace tavo::test {

// Every test case runs in a folder of its own below the build folder's test
// scratch (TAVO_TEST_WORKDIR, set by CTest per program; the build's own
// scratch when a program is started by hand), so that cases run in parallel
// never share errors.txt or the files they write, and no test writes into
// the folder it was started from.
class PerTestFolder : public ::testing::EmptyTestEventListener {
 public:
  void OnTestStart(const ::testing::TestInfo& info) override {
    if (base_.empty()) {
      const char* scratch = std::getenv("TAVO_TEST_WORKDIR");
      base_ = scratch != nullptr && scratch[0] != '\0' ? scratch : TAVO_TEST_WORKDIR "/by-hand";
      mkdir(base_.c_str(), 0755);
    }
    std::string leaf = std::string(info.test_suite_name()) + "." + info.name();
    for (char& c : leaf)
      if (c == '/') c = '_';  // parameterised names hold slashes
    std::string dir = base_ + "/" + leaf;
    mkdir(dir.c_str(), 0755);
    if (chdir(dir.c_str()) != 0) std::perror(dir.c_str());
  }
  void OnTestEnd(const ::testing::TestInfo&) override {
    if (chdir(base_.c_str()) != 0) std::perror(base_.c_str());
  }

 private:
  std::string base_;
};

inline bool installPerTestFolder() {
  // The listener list takes ownership of the listener.
  ::testing::UnitTest::GetInstance()->listeners().Append(new PerTestFolder);
  return true;
}
inline const bool kPerTestFolderInstalled = installPerTestFolder();

// What errorOut() throws while a FatalErrors guard is alive.
struct FatalError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Installs an error handler that throws FatalError with the message, so a
// test can run many failing calls in one process; restores the previous
// handler on destruction.
class FatalErrors {
 public:
  FatalErrors() : previous_(setErrorHandler(&FatalErrors::raise)) {}
  ~FatalErrors() { setErrorHandler(previous_); }
  FatalErrors(const FatalErrors&) = delete;
  FatalErrors& operator=(const FatalErrors&) = delete;

 private:
  static void raise(const char* message) { throw FatalError(message); }
  ErrorHandler previous_;
};

// Runs `fn`, which must end in a fatal error, and returns its message ("" and
// a test failure if it returned normally). Standard output is swallowed.
template <typename Fn>
std::string fatalMessage(Fn&& fn) {
  FatalErrors guard;
  ::testing::internal::CaptureStdout();
  try {
    fn();
  } catch (const FatalError& e) {
    ::testing::internal::GetCapturedStdout();
    return e.what();
  }
  ::testing::internal::GetCapturedStdout();
  ADD_FAILURE() << "expected a fatal error";
  return "";
}

// Runs `fn` and returns what it printed to standard output.
template <typename Fn>
std::string capturedStdout(Fn&& fn) {
  ::testing::internal::CaptureStdout();
  try {
    fn();
  } catch (...) {
    ::testing::internal::GetCapturedStdout();
    throw;
  }
  return ::testing::internal::GetCapturedStdout();
}

// Writes `text` to `path` (binary, truncating) and returns the path.
inline std::string writeFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return path;
}

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The setup file of the documentation: three species, one forward and one
// reverse reaction.
inline const char* exampleSetup() {
  return "N_species 3\n"
         "specie S0 0 1.0 1.0e-9 1.0e-10 100 50 0\n"
         "specie S1 1 2.0 2.0e-9 1.0e-10 100 50 0\n"
         "specie S2 2 3.0 3.0e-9 1.0e-10 200 0 0\n"
         "N_fwd 1 ;\n"
         "N_rev 1 ;\n"
         "rev_max_mol 2 ;\n"
         "f 0 + 1 = 2 ; kf 12.0 ;\n"
         "r 2 = 0 + 1 ; kr 3.0 ;\n"
         "temperature(K) 300.0\n"
         "viscosity 3.0\n"
         "pH 7.0\n"
         "total_step 300\n"
         "time_step(s) 1.0e-6\n";
}

// Loads `setupText` into the store (releasing any earlier data set), output
// swallowed.
inline void loadSetup(const std::string& setupText, const std::string& path = "setup.Tavosetup") {
  writeFile(path, setupText);
  capturedStdout([&] {
    if (data_initialization_success()) deleteDataStructure();
    initDataStructure_fromFile(path.c_str());
  });
}

}  // namespace tavo::test

#endif  // TAVO_TESTS_TESTSUPPORT_H
