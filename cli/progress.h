// progress.h - the progress bar of long work, on standard error.
//
// Drawn only when standard error is a terminal and --quiet was not given, so
// that logs and pipes never receive it. The bar redraws when the shown
// percentage changes and is erased when the work ends, leaving the line
// clean for whatever follows.
#ifndef TAVO_CLI_PROGRESS_H
#define TAVO_CLI_PROGRESS_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace tavo::cli {

// --quiet: no progress bar, and no closing line, from now on.
void silenceProgress();

// The line a command ends with when standard error is not a terminal (the
// log of a batch job), where no progress bar was shown: what it wrote, the
// frames and the seconds since `start`, e.g.
//   tavo: wrote run.xyz (300 frames, 1.25 s)
void reportWritten(const std::string& what, std::size_t frames,
                   std::chrono::steady_clock::time_point start);

class Progress {
 public:
  // `label` leads the bar ("indexing demo.Tavomovie"); `total` is the amount
  // that update() counts towards.
  Progress(std::string label, std::int64_t total);
  ~Progress();  // erases the bar
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void update(std::int64_t done) {
    if (shown_ && done * 100 >= next_) redraw(done);
  }
  void setTotal(std::int64_t total) { total_ = total > 0 ? total : 1; }

 private:
  void redraw(std::int64_t done);

  std::string label_;
  std::int64_t total_ = 1;
  std::int64_t next_ = 0;  // redraw when done * 100 reaches this
  bool shown_ = false;
  bool drawn_ = false;
};

}  // namespace tavo::cli

#endif  // TAVO_CLI_PROGRESS_H
