// allocationCounter.h - counts the program's C++ allocations while asked to.
// It replaces the global operator new, so exactly one source file of a test
// program includes it.
#ifndef TAVO_TESTS_ALLOCATIONCOUNTER_H
#define TAVO_TESTS_ALLOCATIONCOUNTER_H

#include <atomic>
#include <cstdlib>
#include <new>

namespace tavo::test {

inline std::atomic<bool> g_countAllocations{false};
inline std::atomic<long> g_allocations{0};

// Allocations made by `fn`.
template <typename Fn>
long allocationsOf(Fn&& fn) {
  g_allocations = 0;
  g_countAllocations = true;
  fn();
  g_countAllocations = false;
  return g_allocations.load();
}

}  // namespace tavo::test

void* operator new(std::size_t n) {
  if (tavo::test::g_countAllocations) ++tavo::test::g_allocations;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

#endif  // TAVO_TESTS_ALLOCATIONCOUNTER_H
