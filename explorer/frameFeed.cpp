// frameFeed.cpp - index and read-ahead threads of the explorer.
#include "explorer/frameFeed.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <exception>
#include <utility>

namespace tavo::explorer {

namespace {

// Bytes indexed per slice: small enough that the first frames of a huge
// file are on screen at once and that progress shows, large enough that the
// slices cost nothing extra.
constexpr std::int64_t kIndexSlice = 16 << 20;

using Clock = std::chrono::steady_clock;

bool contains(const std::vector<std::size_t>& v, std::size_t k) {
  return std::find(v.begin(), v.end(), k) != v.end();
}

}  // namespace

FrameFeed::FrameFeed(Movie& movie, std::chrono::milliseconds poll, bool restart)
    : movie_(movie),
      poll_(poll),
      restart_(restart),
      wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (wakeFd_ < 0) throw Error("cannot make an event descriptor for the movie reader");
  {
    std::lock_guard lock(mutex_);
    snapshot();
  }
  indexer_ = std::thread([this] { indexLoop(); });
  reader_ = std::thread([this] { readLoop(); });
}

FrameFeed::~FrameFeed() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  work_.notify_all();
  changed_.notify_all();
  indexer_.join();
  reader_.join();
  close(wakeFd_);
}

void FrameFeed::notifyChange() {
  ++generation_;
  changed_.notify_all();
  const std::uint64_t one = 1;
  // A full counter is still readable: nothing is lost when this fails.
  [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

void FrameFeed::drainWake() {
  std::uint64_t count = 0;
  [[maybe_unused]] const ssize_t n = ::read(wakeFd_, &count, sizeof count);
}

void FrameFeed::snapshot() {
  index_.frames = movie_.size();
  index_.indexedBytes = movie_.indexedBytes();
  index_.fileBytes = movie_.fileBytes();
  index_.reachedEnd = movie_.complete();
  index_.runStarts.clear();
  for (const Run& r : movie_.runs())
    if (r.firstFrame > 0) index_.runStarts.push_back(r.firstFrame);
  index_.restarts = epoch_;
}

IndexView FrameFeed::index() const {
  std::lock_guard lock(mutex_);
  return index_;
}

std::string FrameFeed::indexError() const {
  std::lock_guard lock(mutex_);
  return indexError_;
}

// ---------------------------------------------------------------------------
// Index thread
// ---------------------------------------------------------------------------

void FrameFeed::indexLoop() {
  for (;;) {
    std::string failure;
    try {
      movie_.refresh(kIndexSlice);
    } catch (const std::exception& e) {
      // The frames before the damage stay indexed; the index grows no more.
      failure = e.what();
    }
    if (!failure.empty() && restart_ && movie_.fileChanged()) {
      if (restartMovie(failure)) continue;
      // Removed and not there yet: looked for again after a pause.
      std::unique_lock lock(mutex_);
      work_.wait_for(lock, poll_, [this] { return stop_; });
      if (stop_) return;
      continue;
    }
    std::unique_lock lock(mutex_);
    const IndexView before = index_;
    snapshot();
    if (!failure.empty()) {
      index_.failed = true;
      indexError_ = failure;
    }
    if (index_.frames != before.frames || index_.indexedBytes != before.indexedBytes ||
        index_.fileBytes != before.fileBytes || index_.failed || !before.reachedEnd)
      notifyChange();
    if (index_.failed) return;
    if (index_.reachedEnd) work_.wait_for(lock, poll_, [this] { return stop_; });
    if (stop_) return;
  }
}

// The file was replaced, shrank or went: the new one from its start. The
// frames read ahead from the old file are dropped, and so is any frame the
// reader is reading now. False when there is no file to open yet.
bool FrameFeed::restartMovie(const std::string& why) {
  try {
    movie_.reopen();
  } catch (const Error&) {
    return false;
  }
  std::lock_guard lock(mutex_);
  ++epoch_;
  for (Slot& slot : ready_) spare_.push_back(std::move(slot.data));
  ready_.clear();
  indexError_ = "movie restarted (" + why + ")";
  snapshot();
  notifyChange();
  return true;
}

// ---------------------------------------------------------------------------
// Reader thread
// ---------------------------------------------------------------------------

std::optional<std::size_t> FrameFeed::nextToRead() const {
  for (std::size_t k : wanted_) {
    const bool have =
        std::any_of(ready_.begin(), ready_.end(), [k](const Slot& s) { return s.frame == k; });
    if (!have && reading_ != k) return k;
  }
  return std::nullopt;
}

Frame FrameFeed::spareFrame() {
  if (spare_.empty()) return Frame{};
  Frame f = std::move(spare_.back());
  spare_.pop_back();
  return f;
}

void FrameFeed::readLoop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    work_.wait(lock, [this] { return stop_ || nextToRead().has_value(); });
    if (stop_) return;
    const std::size_t k = *nextToRead();
    reading_ = k;
    const std::uint64_t epoch = epoch_;
    Slot slot{k, "", spareFrame()};
    lock.unlock();
    const auto start = Clock::now();
    try {
      movie_.read(k, slot.data);
    } catch (const std::exception& e) {
      slot.error = e.what();
    }
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    lock.lock();
    reading_.reset();
    ++framesRead_;
    readMilliseconds_ += ms;
    if (contains(wanted_, k) && epoch == epoch_)
      ready_.push_back(std::move(slot));
    else
      spare_.push_back(std::move(slot.data));
    notifyChange();
  }
}

// ---------------------------------------------------------------------------
// The window's side
// ---------------------------------------------------------------------------

void FrameFeed::ahead(const std::vector<std::size_t>& frames) {
  std::lock_guard lock(mutex_);
  wanted_ = frames;
  for (auto it = ready_.begin(); it != ready_.end();) {
    if (contains(wanted_, it->frame)) {
      ++it;
    } else {
      spare_.push_back(std::move(it->data));
      it = ready_.erase(it);
    }
  }
  work_.notify_all();
}

bool FrameFeed::takeReady(std::size_t k, Frame& shown, std::string& error) {
  const auto it =
      std::find_if(ready_.begin(), ready_.end(), [k](const Slot& s) { return s.frame == k; });
  if (it == ready_.end()) return false;
  error = it->error;
  if (error.empty()) {
    std::swap(shown, it->data);
    spare_.push_back(std::move(it->data));
    ready_.erase(it);
  }
  // A frame that failed stays, so that it is not read again while wanted.
  return true;
}

FrameFeed::Take FrameFeed::take(std::size_t k, Frame& shown, std::string& error) {
  std::lock_guard lock(mutex_);
  if (!takeReady(k, shown, error)) return Take::pending;
  return error.empty() ? Take::shown : Take::failed;
}

void FrameFeed::fetch(std::size_t k, Frame& shown) {
  Frame scratch;
  {
    std::unique_lock lock(mutex_);
    // The reader is at this frame already: waiting costs less than reading.
    changed_.wait(lock, [&] { return stop_ || reading_ != k; });
    std::string error;
    if (takeReady(k, shown, error)) {
      if (!error.empty()) throw Error(error);
      return;
    }
    scratch = spareFrame();
  }
  try {
    movie_.read(k, scratch);
  } catch (...) {
    std::lock_guard lock(mutex_);
    spare_.push_back(std::move(scratch));
    throw;
  }
  std::swap(shown, scratch);
  std::lock_guard lock(mutex_);
  spare_.push_back(std::move(scratch));
}

void FrameFeed::wait(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  const std::uint64_t seen = generation_;
  changed_.wait_for(lock, timeout, [&] { return stop_ || generation_ != seen; });
}

std::size_t FrameFeed::framesRead() const {
  std::lock_guard lock(mutex_);
  return framesRead_;
}

double FrameFeed::readMilliseconds() const {
  std::lock_guard lock(mutex_);
  return readMilliseconds_;
}

}  // namespace tavo::explorer
