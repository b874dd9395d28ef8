// drawScript.h - scripted generator values for tests that need exact draws.
#ifndef TAVO_TESTS_GEOMETRY_DRAWSCRIPT_H
#define TAVO_TESTS_GEOMETRY_DRAWSCRIPT_H

#include <cstddef>
#include <initializer_list>
#include <vector>

#include "sampling/drawSource.h"

namespace tavo::test {

// While alive, the generator returns the scripted values in turn, cycling
// when they run out; the real generator comes back on destruction.
class DrawScript {
 public:
  DrawScript(std::initializer_list<int> values) {
    values_() = values;
    next_() = 0;
    previous_ = tavo::detail::setDrawSource(&DrawScript::draw);
  }
  ~DrawScript() { tavo::detail::setDrawSource(previous_); }
  DrawScript(const DrawScript&) = delete;
  DrawScript& operator=(const DrawScript&) = delete;

 private:
  static std::vector<int>& values_() {
    static std::vector<int> v;
    return v;
  }
  static std::size_t& next_() {
    static std::size_t n = 0;
    return n;
  }
  static int draw() {
    int v = values_()[next_() % values_().size()];
    ++next_();
    return v;
  }
  tavo::detail::DrawSource previous_;
};

}  // namespace tavo::test

#endif  // TAVO_TESTS_GEOMETRY_DRAWSCRIPT_H
