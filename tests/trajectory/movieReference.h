// movieReference.h - the plainest possible reading of a whole movie text,
// token by token with strtod, for comparing the index and the frame reader
// against. Shared by the trajectory tests and the trajectory fuzzer.
#ifndef TAVO_TESTS_TRAJECTORY_MOVIEREFERENCE_H
#define TAVO_TESTS_TRAJECTORY_MOVIEREFERENCE_H

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "formats/setup.h"

namespace tavo::test {

struct ReferenceFrame {
  std::int64_t offset = 0;  // byte of "step"
  std::int64_t line = 0;    // 1-based
  int step = 0;
  std::vector<int> counts;
  std::vector<std::vector<double>> positions;  // x y z per molecule, per species
};

struct ReferenceMovie {
  enum class End { clean, partial, damaged };
  std::vector<ReferenceFrame> frames;  // the complete frames before the end
  End end = End::clean;
  bool damagedNumber = false;     // the damage is the text of a coordinate
  std::int64_t indexedBytes = 0;  // end of the last complete frame and its white space
};

// A setup of species S0, S1, ... with the given slots and a time step of
// 0.5 s, for movies written by hand.
inline tavo::Setup setupOf(const std::vector<int>& slots) {
  tavo::Setup setup;
  setup.path = "hand-made";
  for (std::size_t i = 0; i < slots.size(); ++i) {
    tavo::Species s;
    s.id = static_cast<int>(i);
    s.name = "S" + std::to_string(i);
    s.slots = slots[i];
    setup.species.push_back(s);
  }
  setup.timeStep = 0.5;
  return setup;
}

// Whether two rows of numbers hold the same bits (NaNs included).
inline bool sameBits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

inline ReferenceMovie referenceParse(std::string_view text, const std::vector<int>& slots) {
  struct Token {
    std::int64_t offset, line;
    std::string text;
    bool touchesEnd;  // no white space after it, and short enough to be one being written
  };
  auto space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  std::vector<Token> tokens;
  std::int64_t line = 1;
  for (std::size_t i = 0; i < text.size();) {
    if (space(text[i])) {
      line += text[i++] == '\n';
      continue;
    }
    std::size_t j = i;
    while (j < text.size() && !space(text[j])) ++j;
    // A token longer than any number or keyword cannot be one still being
    // written: it is damage wherever it ends.
    tokens.push_back({static_cast<std::int64_t>(i), line, std::string(text.substr(i, j - i)),
                      j == text.size() && j - i <= 1024});
    i = j;
  }
  auto integer = [](const std::string& t, int& out) {
    std::size_t i = (t[0] == '+' || t[0] == '-') ? 1 : 0;
    if (i == t.size() || t.size() > 1024) return false;
    for (std::size_t j = i; j < t.size(); ++j)
      if (t[j] < '0' || t[j] > '9') return false;
    errno = 0;
    long long v = std::strtoll(t.c_str(), nullptr, 10);
    if (errno != 0 || v < INT_MIN || v > INT_MAX) return false;
    out = static_cast<int>(v);
    return true;
  };

  ReferenceMovie movie;
  std::size_t t = 0;
  for (;;) {
    movie.indexedBytes =
        t < tokens.size() ? tokens[t].offset : static_cast<std::int64_t>(text.size());
    if (t == tokens.size()) return movie;
    // A fault at the end of the data, or at a token that runs into it, may
    // be a frame still being written.
    auto fault = [&](std::size_t at, bool number) {
      bool partial = at >= tokens.size() || tokens[at].touchesEnd;
      movie.end = partial ? ReferenceMovie::End::partial : ReferenceMovie::End::damaged;
      movie.damagedNumber = !partial && number;
      return movie;
    };
    ReferenceFrame f;
    f.offset = tokens[t].offset;
    f.line = tokens[t].line;
    if (tokens[t].text != "step") return fault(t, false);
    if (++t == tokens.size() || !integer(tokens[t].text, f.step)) return fault(t, false);
    ++t;
    for (std::size_t s = 0; s < slots.size(); ++s) {
      int id = -1, n = -1;
      if (t >= tokens.size() || tokens[t].text != "specie") return fault(t, false);
      if (++t >= tokens.size() || !integer(tokens[t].text, id) || id != static_cast<int>(s))
        return fault(t, false);
      if (++t >= tokens.size() || tokens[t].text != "alive") return fault(t, false);
      if (++t >= tokens.size() || !integer(tokens[t].text, n) || n < 0 || n > slots[s])
        return fault(t, false);
      ++t;
      f.counts.push_back(n);
      std::vector<double> xyz;
      for (int k = 0; k < 3 * n; ++k, ++t) {
        if (t >= tokens.size()) return fault(t, true);
        const std::string& c = tokens[t].text;
        char* stop = nullptr;
        double v = std::strtod(c.c_str(), &stop);
        if (c.size() > 1024 || stop != c.c_str() + c.size()) return fault(t, true);
        xyz.push_back(v);
      }
      f.positions.push_back(std::move(xyz));
    }
    if (tokens[t - 1].touchesEnd) return fault(t - 1, false);
    movie.frames.push_back(std::move(f));
  }
}

}  // namespace tavo::test

#endif  // TAVO_TESTS_TRAJECTORY_MOVIEREFERENCE_H
