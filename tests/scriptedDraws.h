// scriptedDraws.h - replaces the generator by a fixed list of draws for the
// lifetime of a ScriptedDraws object, so that tests can give exact draws.
// A strict script fails the test when more draws are taken than listed; a
// cycling one starts over.
#ifndef TAVO_TESTS_SCRIPTEDDRAWS_H
#define TAVO_TESTS_SCRIPTEDDRAWS_H

#include <gtest/gtest.h>

#include <cstddef>
#include <utility>
#include <vector>

#include "sampling/drawSource.h"

namespace tavo::test {

class ScriptedDraws {
 public:
  enum Mode { strict, cycling };
  explicit ScriptedDraws(std::vector<int> draws, Mode mode = strict) {
    state().draws = std::move(draws);
    state().next = 0;
    state().cycle = mode == cycling;
    previous_ = tavo::detail::setDrawSource(&draw);
  }
  ~ScriptedDraws() { tavo::detail::setDrawSource(previous_); }
  ScriptedDraws(const ScriptedDraws&) = delete;
  ScriptedDraws& operator=(const ScriptedDraws&) = delete;

  std::size_t used() const { return state().next; }  // draws consumed so far

 private:
  struct State {
    std::vector<int> draws;
    std::size_t next = 0;
    bool cycle = false;
  };
  static State& state() {
    static State s;
    return s;
  }
  static int draw() {
    State& s = state();
    if (s.cycle && !s.draws.empty()) return s.draws[s.next++ % s.draws.size()];
    if (s.next >= s.draws.size()) {
      ADD_FAILURE() << "more draws than scripted";
      return 0;
    }
    return s.draws[s.next++];
  }
  tavo::detail::DrawSource previous_;
};

}  // namespace tavo::test

#endif  // TAVO_TESTS_SCRIPTEDDRAWS_H
