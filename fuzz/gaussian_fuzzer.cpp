// gaussian_fuzzer.cpp - the Gaussian table loader on arbitrary data files.
//
// The loader reads a fixed name in the working directory, so the fuzzer works
// in a private temporary folder. Relative corpus folders on the command line
// are made absolute first, and crash artifacts go to the folder the fuzzer was
// started in (unless -artifact_prefix says otherwise). The first input byte picks the layout: an
// odd byte appends 10001 valid numbers after the rest of the input, so that
// short inputs also reach complete tables and the lookups behind them. A
// table that loads must hold what a plain whole-token reading finds.
#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "datastore/dataFetcher.h"
#include "formats/textReader.h"
#include "fuzz/referenceTokens.h"
#include "sampling/drawSource.h"
#include "sampling/randomNumber.h"

namespace {

struct Fatal : std::runtime_error {
  using std::runtime_error::runtime_error;
};

void raise(const char* message) { throw Fatal(message); }

char g_folder[] = "/tmp/tavo_gaussian_fuzz_XXXXXX";
const char* kTableFile = "inverse3DGaussian.function";

void cleanUp() {
  std::remove(kTableFile);
  std::remove("errors.txt");
  rmdir(g_folder);
}

// Rewrites the arguments for the change of folder: relative paths that are
// not flags become absolute, and an artifact prefix is added when absent.
void keepPathsAfterChdir(int* argc, char*** argv) {
  static std::vector<std::string> args;
  static std::vector<char*> pointers;
  char cwd[PATH_MAX];
  if (getcwd(cwd, sizeof cwd) == nullptr) std::abort();
  bool prefixGiven = false;
  for (int i = 0; i < *argc; ++i) {
    std::string arg = (*argv)[i];
    if (arg.rfind("-artifact_prefix=", 0) == 0) prefixGiven = true;
    if (i > 0 && !arg.empty() && arg[0] != '-' && arg[0] != '/') arg = std::string(cwd) + "/" + arg;
    args.push_back(arg);
  }
  if (!prefixGiven) args.push_back(std::string("-artifact_prefix=") + cwd + "/");
  for (std::string& arg : args) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  *argc = static_cast<int>(args.size());
  *argv = pointers.data();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  keepPathsAfterChdir(argc, argv);
  if (mkdtemp(g_folder) == nullptr || chdir(g_folder) != 0) std::abort();
  std::atexit(cleanUp);
  std::freopen("/dev/null", "w", stdout);
  setErrorHandler(&raise);
  tavo::detail::setTableMemoryBudget(64 << 20);
  tavo::detail::setGaussianTableFallbacks(false);  // only the file written here
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  bool pad = size > 0 && (data[0] & 1) != 0;
  if (pad) {
    text.erase(0, 1);
    text += '\n';
    for (int i = 0; i <= 10000; ++i) text += "0.5 ";
  }
  if (std::FILE* f = std::fopen(kTableFile, "wb")) {
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
  try {
    init_inverse_3DGaussian();
    // The table holds the first 10001 numbers as a plain whole-token
    // reading of the file finds them.
    tavo::fuzz::ReferenceTokens reference(text);
    for (int i = 0; i <= 10000; ++i) {
      double v = 0;
      if (!reference.real(v) || inverse_3DGaussian(i < 10000 ? (i + 0.5) / 10000.0 : 1.0) != v)
        __builtin_trap();
    }
    for (double x : {0.0, 0.00005, 0.5, 0.99999, 1.0}) (void)inverse_3DGaussian(x);
    (void)random_radius_3Dgaussian(1.0, 1.0);
    (void)inverse_3DGaussian(1.5);  // always refused
  } catch (const Fatal&) {
  }
  return 0;
}
