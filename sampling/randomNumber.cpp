// randomNumber.cpp - the process-wide generator and the random primitives.
//
// The generator is PCG32 (a 64-bit linear congruential state with a permuted
// 32-bit output); each draw keeps the top 15 bits of one output, so draws are
// uniform over 0..32767 and a seed gives the same sequence on every machine.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "datastore/dataFetcher.h"
#include "sampling/drawSource.h"
#include "sampling/randomNumber.h"

namespace {

struct Generator {
  std::uint64_t state = 0;
  std::uint64_t increment = 1442695040888963407ULL;
  tavo::detail::DrawSource source = nullptr;  // test seam; nullptr = the generator
  unsigned long long draws = 0;
};
Generator g_rng;

std::uint32_t pcg32() {
  std::uint64_t old = g_rng.state;
  g_rng.state = old * 6364136223846793005ULL + g_rng.increment;
  auto xorshifted = static_cast<std::uint32_t>(((old >> 18u) ^ old) >> 27u);
  auto rot = static_cast<std::uint32_t>(old >> 59u);
  return (xorshifted >> rot) | (xorshifted << ((32u - rot) & 31u));
}

void seed(unsigned int value) {
  g_rng.state = 0;
  pcg32();
  g_rng.state += value;
  pcg32();
}

// Without a seed the generator behaves as if seeded with 1, the same
// sequence on every run.
const bool g_defaultSeeded = (seed(1), true);

}  // namespace

int tavo::detail::nextDraw() {
  ++g_rng.draws;
  if (g_rng.source != nullptr) return g_rng.source();
  return static_cast<int>(pcg32() >> 17);  // top 15 bits
}

tavo::detail::DrawSource tavo::detail::setDrawSource(DrawSource source) {
  DrawSource previous = g_rng.source;
  g_rng.source = source;
  return previous;
}

unsigned long long tavo::detail::drawCount() { return g_rng.draws; }

void initRand() {
  std::printf("\nInitializing random number generator...");
  seed(static_cast<unsigned int>(std::time(nullptr)));
  std::printf("DONE\n");
}

void initRand_fromSeed(unsigned int value) {
  std::printf("\nInitializing random number generator...");
  seed(value);
  std::printf("DONE\n");
}

double random_number(double a, double b) {
  double r = tavo::detail::nextDraw();
  double d = b - a;
  double t = r * d;
  t = t / 32767.0;
  return t + a;
}

int random_integer(int a, int b) {
  // b = a - 1 would divide by zero; a wider reversed range is as meaningless.
  if (b < a)
    errorOut("(random_integer) upper bound below lower bound, cannot draw from an empty range!");
  long long span = static_cast<long long>(b) - a + 1;
  return static_cast<int>(a + tavo::detail::nextDraw() % span);
}
