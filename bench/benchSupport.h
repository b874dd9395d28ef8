// benchSupport.h - helpers shared by the benchmark programs.
#ifndef TAVO_BENCH_BENCHSUPPORT_H
#define TAVO_BENCH_BENCHSUPPORT_H

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace tavo::bench {

// Runs `fn` with standard output sent to /dev/null (the loaders' progress).
template <typename Fn>
void quietly(Fn fn) {
  std::fflush(stdout);
  int saved = dup(1);
  int null = open("/dev/null", O_WRONLY);
  dup2(null, 1);
  close(null);
  fn();
  std::fflush(stdout);
  dup2(saved, 1);
  close(saved);
}

}  // namespace tavo::bench

#endif  // TAVO_BENCH_BENCHSUPPORT_H
