// progress.cpp - the standard-error progress bar.
#include "cli/progress.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace tavo::cli {

namespace {

constexpr int kBarWidth = 30;
constexpr std::size_t kLabelWidth = 40;  // so that label, bar and percentage fit 80 columns

// Module state; any other mutable global here is a bug.
struct State {
  bool silenced = false;  // --quiet
} state;

}  // namespace

void silenceProgress() { state.silenced = true; }

void reportWritten(const std::string& what, std::size_t frames,
                   std::chrono::steady_clock::time_point start) {
  if (state.silenced || isatty(STDERR_FILENO)) return;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::fprintf(stderr, "tavo: wrote %s (%zu frame%s, %.2f s)\n", what.c_str(), frames,
               frames == 1 ? "" : "s", seconds);
}

Progress::Progress(std::string label, std::int64_t total) : label_(std::move(label)) {
  // A line longer than the terminal would wrap, and "\r" would no longer
  // return to its start: long labels keep their end (the file name).
  if (label_.size() > kLabelWidth) label_ = "..." + label_.substr(label_.size() - kLabelWidth + 3);
  setTotal(total);
  shown_ = !state.silenced && isatty(STDERR_FILENO);
  update(0);
}

Progress::~Progress() {
  if (drawn_) {
    std::fputs("\r\033[K", stderr);  // back to the line start, erase to its end
    std::fflush(stderr);
  }
}

void Progress::redraw(std::int64_t done) {
  std::int64_t percent = std::clamp<std::int64_t>(done * 100 / total_, 0, 100);
  int filled = static_cast<int>(percent * kBarWidth / 100);
  char bar[kBarWidth + 1];
  for (int i = 0; i < kBarWidth; ++i) bar[i] = i < filled ? '#' : '.';
  bar[kBarWidth] = '\0';
  std::fprintf(stderr, "\r%s [%s] %3d%%", label_.c_str(), bar, static_cast<int>(percent));
  std::fflush(stderr);
  drawn_ = true;
  // Next redraw at the next whole percent.
  next_ = (percent + 1) * total_;
}

}  // namespace tavo::cli
