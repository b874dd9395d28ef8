// movie_fuzzer.cpp - the movie reader on arbitrary bytes, frame after frame.
// Every frame read must leave the store consistent, must hold exactly the
// numbers strtod reads from the frame's text, and must come back unchanged
// through the writer: writing it, reading that back and writing again gives
// the same bytes. A frame refused (the error handler throws, so the program
// goes on) must leave the store exactly as the frame before left it.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "datastore/dataFetcher.h"
#include "formats/textReader.h"

namespace {

struct Rejected {};

void rejectByThrowing(const char*) { throw Rejected{}; }

std::string g_moviePath, g_copyPath, g_againPath;

// Three species with 3, 1 and 5 slots.
const char* kSetup =
    "N_species 3\n"
    "specie A 0 1.0 1.0e-9 1.0e-10 3 0 0\n"
    "specie B 1 1.0 1.0e-9 1.0e-10 1 0 0\n"
    "specie C 2 1.0 1.0e-9 1.0e-10 5 0 0\n"
    "N_fwd 0 ;\nN_rev 0 ;\nrev_max_mol 0 ;\n"
    "temperature(K) 300.0\nviscosity 3.0\npH 7.0\ntotal_step 10\ntime_step(s) 1.0e-6\n";

void writeAll(const std::string& path, const void* data, std::size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) __builtin_trap();
  if (size > 0 && std::fwrite(data, 1, size, f) != size) __builtin_trap();
  std::fclose(f);
}

std::string readAll(const std::string& path) {
  std::string text;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) __builtin_trap();
  char buf[4096];
  std::size_t got;
  while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, got);
  std::fclose(f);
  return text;
}

// The store after a read: counts in range, alive exactly slots 0..n-1.
void checkStore() {
  for (int s = 0; s < numSpecies(); ++s) {
    int n = alivePopulation(s);
    if (n < 0 || n > speciePopulation(s)) __builtin_trap();
    for (int i = 0; i < speciePopulation(s); ++i)
      if (alive(s, i) != (i < n)) __builtin_trap();
  }
}

// The frame's text from `from` to `to`, split at white space the way the
// reader splits it, must be the frame the store now holds: every coordinate
// is the whole of its token, and strtod of that token gives its bits.
void checkAgainstStrtod(const std::uint8_t* data, long long from, long long to) {
  std::vector<std::string> tokens;
  std::string token;
  for (long long i = from; i <= to; ++i) {
    char c = i < to ? static_cast<char>(data[i]) : ' ';
    if (c == ' ' || (c >= '\t' && c <= '\r')) {
      if (!token.empty()) tokens.push_back(token);
      token.clear();
    } else {
      token.push_back(c);
    }
  }
  std::size_t t = 2;  // after "step N"
  for (int s = 0; s < numSpecies(); ++s) {
    t += 4;  // "specie s alive n"
    for (int i = 0; i < alivePopulation(s); ++i) {
      double xyz[3];
      position(s, i, &xyz[0], &xyz[1], &xyz[2]);
      for (double got : xyz) {
        if (t >= tokens.size()) __builtin_trap();
        const std::string& text = tokens[t++];
        char* end = nullptr;
        double want = std::strtod(text.c_str(), &end);
        if (end != text.c_str() + text.size()) __builtin_trap();
        if (std::memcmp(&got, &want, sizeof got) != 0) __builtin_trap();
      }
    }
  }
  if (t != tokens.size()) __builtin_trap();
}

// What a read may change: step, counts, flags and positions of every slot.
struct Snapshot {
  int step = 0;
  std::vector<int> counts;
  std::vector<int> flags;
  std::vector<double> positions;
};

Snapshot snapshot() {
  Snapshot s;
  s.step = readCurrentStep();
  for (int i = 0; i < numSpecies(); ++i) {
    s.counts.push_back(alivePopulation(i));
    for (int k = 0; k < speciePopulation(i); ++k) {
      double xyz[3];
      position(i, k, &xyz[0], &xyz[1], &xyz[2]);
      s.flags.push_back(alive(i, k));
      s.positions.insert(s.positions.end(), xyz, xyz + 3);
    }
  }
  return s;
}

// Writes the store, reads it back, writes again: both writes must agree.
void checkRoundTrip() {
  std::remove(g_copyPath.c_str());
  std::remove(g_againPath.c_str());
  int step = readCurrentStep();
  createMovie_toFile(g_copyPath.c_str(), step);
  long long position = 0;
  readMovie_fromFile(g_copyPath.c_str(), &position);
  createMovie_toFile(g_againPath.c_str(), step);
  if (readAll(g_copyPath) != readAll(g_againPath)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::freopen("/dev/null", "w", stdout);
  setErrorHandler(&rejectByThrowing);
  tavo::detail::setTableMemoryBudget(64 << 20);
  std::string base = "/tmp/tavo_movie_fuzz_" + std::to_string(getpid());
  g_moviePath = base + ".Tavomovie";
  g_copyPath = base + "_copy.Tavomovie";
  g_againPath = base + "_again.Tavomovie";
  std::string setupPath = base + ".Tavosetup";
  writeAll(setupPath, kSetup, std::strlen(kSetup));
  initDataStructure_fromFile(setupPath.c_str());
  std::remove(setupPath.c_str());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  writeAll(g_moviePath, data, size);
  long long position = 0;
  for (int frame = 0; frame < 8; ++frame) {
    Snapshot last = snapshot();
    try {
      long long before = position;
      readMovie_fromFile(g_moviePath.c_str(), &position);
      if (position <= before || position > static_cast<long long>(size)) __builtin_trap();
      checkAgainstStrtod(data, before, position);
    } catch (const Rejected&) {
      // Positions compare by value: a NaN read earlier stays unequal.
      Snapshot now = snapshot();
      if (now.step != last.step || now.counts != last.counts || now.flags != last.flags ||
          std::memcmp(now.positions.data(), last.positions.data(),
                      now.positions.size() * sizeof(double)) != 0)
        __builtin_trap();
      break;
    }
    checkStore();
    try {
      checkRoundTrip();
    } catch (const Rejected&) {
      __builtin_trap();  // what the writer writes, the reader must read
    }
  }
  return 0;
}
