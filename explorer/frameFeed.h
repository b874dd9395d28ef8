// frameFeed.h - the explorer's movie in the background. One thread builds
// the index, a slice at a time so that the first frames can be shown at
// once, and then looks a few times a second for frames appended to a growing
// file; another reads ahead the frames that playback will want next, so that
// the window's thread only draws.
//
// Frames travel by swapping buffers: a frame taken from the feed gives the
// feed the buffers of the frame it replaces, so that once every buffer has
// grown to the largest frame nothing more is allocated.
#ifndef TAVO_EXPLORER_FRAMEFEED_H
#define TAVO_EXPLORER_FRAMEFEED_H

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "explorer/controls.h"
#include "trajectory/trajectory.h"

namespace tavo::explorer {

class FrameFeed {
 public:
  // Starts both threads on `movie`, which must outlive the feed and not be
  // indexed by anyone else meanwhile. `poll` is the pause between looks for
  // appended frames once the index has reached the end of the file.
  // `restart`: a file that shrinks or is replaced (a simulation started
  // again) is opened again and indexed from its start, and indexError()
  // says "movie restarted"; otherwise the index stops there.
  explicit FrameFeed(Movie& movie, std::chrono::milliseconds poll = std::chrono::milliseconds(250),
                     bool restart = false);
  ~FrameFeed();  // stops and joins both threads
  FrameFeed(const FrameFeed&) = delete;
  FrameFeed& operator=(const FrameFeed&) = delete;

  IndexView index() const;
  // Why the index stops before the end of the file, or "".
  std::string indexError() const;

  // The frames to read ahead, soonest first. Frames read ahead that are no
  // longer wanted give their buffers back.
  void ahead(const std::vector<std::size_t>& frames);

  enum class Take {
    shown,    // the frame is in `shown`
    pending,  // not read yet
    failed,   // it cannot be read: `error` says why
  };
  // Frame k, if it has been read ahead.
  Take take(std::size_t k, Frame& shown, std::string& error);

  // Frame k now, for a jump: the frame read ahead, or the one the reader is
  // at, or else read on the calling thread. Throws Error when it cannot be
  // read; `shown` is then unchanged.
  void fetch(std::size_t k, Frame& shown);

  // Waits at most `timeout` for a frame to be read or the index to change.
  void wait(std::chrono::milliseconds timeout);
  // A descriptor that polls readable after such a change, for an event loop
  // that waits on other descriptors too; drainWake() makes it quiet again.
  int wakeFd() const { return wakeFd_; }
  void drainWake();

  // Frames read by the feed so far and the milliseconds they took.
  std::size_t framesRead() const;
  double readMilliseconds() const;

 private:
  struct Slot {
    std::size_t frame = 0;
    std::string error;  // "" for a frame read
    Frame data;
  };

  void indexLoop();
  bool restartMovie(const std::string& why);
  void readLoop();
  void snapshot();      // index view from the movie; mutex held
  void notifyChange();  // mutex held
  std::optional<std::size_t> nextToRead() const;
  Frame spareFrame();
  bool takeReady(std::size_t k, Frame& shown, std::string& error);

  Movie& movie_;
  const std::chrono::milliseconds poll_;
  const bool restart_;

  mutable std::mutex mutex_;
  std::condition_variable work_;     // the reader and the indexer wait here
  std::condition_variable changed_;  // the window's thread waits here
  bool stop_ = false;
  std::uint64_t generation_ = 0;  // counts changes, for wait()
  int wakeFd_ = -1;

  IndexView index_;
  std::string indexError_;

  std::vector<std::size_t> wanted_;
  std::vector<Slot> ready_;
  std::optional<std::size_t> reading_;
  std::uint64_t epoch_ = 0;  // counts restarts: a frame read before one is dropped
  std::vector<Frame> spare_;
  std::size_t framesRead_ = 0;
  double readMilliseconds_ = 0.0;

  std::thread indexer_;
  std::thread reader_;
};

}  // namespace tavo::explorer

#endif  // TAVO_EXPLORER_FRAMEFEED_H
