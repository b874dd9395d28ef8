// compressed.cpp - byte sources (plain, gzip, zstd, streams) and the
// seekable writers.
//
// A compressed file is read through cursors: an inflater (or zstd decoder)
// with its input buffer, the text offset it has reached and the last chunk
// of text it produced. A read takes the idle cursor closest behind the
// offset asked for, or starts one at the last checkpoint before it, and
// decodes forward; cursors passing the last checkpoint leave new ones
// behind them. Reading front to back therefore decodes every byte once, and
// a jump decodes at most one checkpoint span.
//
// Locks: `mutex` of a DecodedSource guards its checkpoints and its idle
// cursors; a cursor in use belongs to one read, which decodes without the
// lock.
#include "formats/compressed.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#ifdef TAVO_HAVE_ZLIB
#include <zlib.h>
#endif
#ifdef TAVO_HAVE_ZSTD
#include <zstd.h>
#endif

#include "formats/error.h"
#include "formats/textReader.h"

namespace tavo::formats {

using detail::formatText;

namespace {

constexpr std::size_t kInputBytes = std::size_t{1} << 17;  // compressed bytes read at a time
constexpr std::size_t kWindow = 32768;                     // deflate's history
constexpr std::size_t kIdleCursors = 4;

std::int64_t g_gzipSpan = std::int64_t{4} << 20;  // text between two gzip checkpoints

// ---------------------------------------------------------------------------
// Raw input
// ---------------------------------------------------------------------------

// The file's own bytes: pread() at any offset, or, on a stream, read() in
// order after the bytes taken to tell its kind.
class RawInput {
 public:
  RawInput(int fd, const std::string& path, bool stream, std::string prefix)
      : fd_(fd), path_(path), stream_(stream), prefix_(std::move(prefix)) {}

  std::size_t readAt(std::int64_t at, unsigned char* out, std::size_t n) {
    if (!stream_) return preadFully(at, out, n);
    std::size_t got = 0;
    if (at < static_cast<std::int64_t>(prefix_.size())) {
      got = std::min(n, prefix_.size() - static_cast<std::size_t>(at));
      std::memcpy(out, prefix_.data() + at, got);
    }
    while (got < n) {
      ssize_t r = ::read(fd_, out + got, n - got);
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) fail(errno);
      if (r == 0) break;
      got += static_cast<std::size_t>(r);
      break;  // what the pipe has now
    }
    return got;
  }

  std::size_t preadFully(std::int64_t at, unsigned char* out, std::size_t n) const {
    std::size_t got = 0;
    while (got < n) {
      ssize_t r =
          ::pread(fd_, out + got, n - got, static_cast<off_t>(at) + static_cast<off_t>(got));
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) fail(errno);
      if (r == 0) break;
      got += static_cast<std::size_t>(r);
    }
    return got;
  }

  [[noreturn]] void fail(int err) const {
    throw Error(formatText("%s: cannot read the file (%s)", path_.c_str(), std::strerror(err)),
                err);
  }

  const std::string& path() const { return path_; }

 private:
  int fd_;
  const std::string& path_;
  bool stream_;
  std::string prefix_;
};

// ---------------------------------------------------------------------------
// Cursors
// ---------------------------------------------------------------------------

// Where decoding may start again: a text offset, the file offset of the
// compressed data that produce it, and what the decoder needs beyond that.
struct Checkpoint {
  std::int64_t out = 0;
  std::int64_t in = 0;
  int bits = 0;                       // gzip: bits of the byte before `in` still unread
  bool memberStart = true;            // a gzip member or zstd frame starts at `in`
  std::vector<unsigned char> window;  // gzip inside a member: the text before `out`
};

class DecodedSource;

class Cursor {
 public:
  virtual ~Cursor() = default;
  // Decodes the next chunk of text; returns its size (0: the end of what
  // the file holds so far), the chunk at `chunk`.
  virtual std::size_t produce() = 0;
  virtual void restart(const Checkpoint& at) = 0;

  std::int64_t out = 0;  // text offset after the last chunk
  const unsigned char* chunk = nullptr;
  std::size_t chunkBytes = 0;
  std::int64_t chunkStart() const { return out - static_cast<std::int64_t>(chunkBytes); }

 protected:
  // Input buffer over the file from `inNext_` on.
  bool fill(RawInput& raw) {
    std::size_t got = raw.readAt(inNext_, input_.data(), input_.size());
    inStart_ = inNext_;
    inNext_ += static_cast<std::int64_t>(got);
    inBytes_ = got;
    return got > 0;
  }
  std::vector<unsigned char> input_ = std::vector<unsigned char>(kInputBytes);
  std::int64_t inStart_ = 0;  // file offset of input_[0]
  std::int64_t inNext_ = 0;   // file offset of the next byte to read
  std::size_t inBytes_ = 0;
};

// The source side of a cursor: where it may leave checkpoints.
class CheckpointSink {
 public:
  virtual void offer(Checkpoint point) = 0;
  // Whether a checkpoint at text offset `out` would be kept.
  virtual bool wants(std::int64_t out, bool memberStart) const = 0;

 protected:
  ~CheckpointSink() = default;
};

[[noreturn]] void damaged(const std::string& path, const char* format, std::int64_t at,
                          const char* why) {
  throw Error(formatText("%s: the %s data are damaged near byte %lld of the file (%s)",
                         path.c_str(), format, static_cast<long long>(at), why));
}

#ifdef TAVO_HAVE_ZLIB
class GzipCursor final : public Cursor {
 public:
  GzipCursor(RawInput& raw, CheckpointSink* sink) : raw_(raw), sink_(sink) {
    if (inflateInit2(&z_, 31) != Z_OK) throw Error("cannot start an inflater (out of memory)");
  }
  ~GzipCursor() override { inflateEnd(&z_); }

  void restart(const Checkpoint& at) override {
    out = at.out;
    chunkBytes = 0;
    wpos_ = 0;
    full_ = false;
    inNext_ = at.in;
    inBytes_ = 0;
    z_.avail_in = 0;
    state_ = State::between;
    if (at.memberStart) return;
    inflateReset2(&z_, -15);
    if (at.bits > 0) {
      inNext_ = at.in - 1;
      if (!fill(raw_)) damaged(raw_.path(), "gzip", at.in, "the file is shorter than before");
      inflatePrime(&z_, at.bits, input_[0] >> (8 - at.bits));
      z_.next_in = input_.data() + 1;
      z_.avail_in = static_cast<uInt>(inBytes_ - 1);
    }
    inflateSetDictionary(&z_, at.window.data(), static_cast<uInt>(at.window.size()));
    std::memcpy(window_.data(), at.window.data(), at.window.size());
    wpos_ = at.window.size() % kWindow;
    full_ = at.window.size() == kWindow;
    state_ = State::raw;
  }

  std::size_t produce() override {
    for (;;) {
      if (z_.avail_in == 0) {
        if (!fill(raw_)) return chunkBytes = 0;
        z_.next_in = input_.data();
        z_.avail_in = static_cast<uInt>(inBytes_);
      }
      if (state_ == State::trailer) {
        uInt skip = std::min<uInt>(z_.avail_in, trailerLeft_);
        z_.next_in += skip;
        z_.avail_in -= skip;
        trailerLeft_ -= skip;
        if (trailerLeft_ == 0) state_ = State::between;
        continue;
      }
      if (state_ == State::between) {
        // A member ends here; another may follow. Zero bytes (a tape's
        // padding) end the text; anything else (say, plain text appended to
        // a compressed movie) is not read as if it were not there.
        if (z_.next_in[0] == 0) return chunkBytes = 0;
        if (z_.next_in[0] != 0x1f)
          damaged(raw_.path(), "gzip", inOffset(), "bytes that are not gzip follow a member");
        std::int64_t at = inOffset();
        if (sink_ != nullptr && sink_->wants(out, true)) sink_->offer({out, at, 0, true, {}});
        inflateReset2(&z_, 31);
        state_ = State::member;
      }
      if (wpos_ == kWindow) {
        wpos_ = 0;
        full_ = true;
      }
      z_.next_out = window_.data() + wpos_;
      z_.avail_out = static_cast<uInt>(kWindow - wpos_);
      int ret = inflate(&z_, Z_BLOCK);
      std::size_t got = kWindow - wpos_ - z_.avail_out;
      chunk = window_.data() + wpos_;
      chunkBytes = got;
      wpos_ += got;
      out += static_cast<std::int64_t>(got);
      if (ret == Z_STREAM_END) {
        if (state_ == State::raw) {
          state_ = State::trailer;
          trailerLeft_ = 8;
        } else {
          state_ = State::between;
        }
      } else if (ret == Z_BUF_ERROR && got == 0) {
        if (z_.avail_in != 0) damaged(raw_.path(), "gzip", inOffset(), "no progress");
      } else if (ret != Z_OK) {
        damaged(raw_.path(), "gzip", inOffset(), z_.msg != nullptr ? z_.msg : "inflate failed");
      } else if ((z_.data_type & 128) != 0 && (z_.data_type & 64) == 0 && sink_ != nullptr &&
                 sink_->wants(out, false)) {
        sink_->offer(checkpointHere());
      }
      if (got > 0) return got;
    }
  }

 private:
  enum class State { between, member, raw, trailer };

  std::int64_t inOffset() const {
    return inStart_ + static_cast<std::int64_t>(z_.next_in - input_.data());
  }

  // At the end of a deflate block: the bit position and the last 32 KiB.
  Checkpoint checkpointHere() const {
    Checkpoint c;
    c.out = out;
    c.in = inOffset();
    c.bits = z_.data_type & 7;
    c.memberStart = false;
    std::size_t have = full_ ? kWindow : wpos_;
    c.window.resize(have);
    // Oldest first: the bytes after wpos_ (when the window has wrapped),
    // then those before it.
    std::size_t tail = have - wpos_;
    std::memcpy(c.window.data(), window_.data() + wpos_ % kWindow, tail);
    std::memcpy(c.window.data() + tail, window_.data(), wpos_);
    return c;
  }

  RawInput& raw_;
  CheckpointSink* sink_;
  z_stream z_{};
  State state_ = State::between;
  unsigned trailerLeft_ = 0;
  std::vector<unsigned char> window_ = std::vector<unsigned char>(kWindow);
  std::size_t wpos_ = 0;
  bool full_ = false;
};
#endif

#ifdef TAVO_HAVE_ZSTD
class ZstdCursor final : public Cursor {
 public:
  ZstdCursor(RawInput& raw, CheckpointSink* sink) : raw_(raw), sink_(sink) {
    ds_ = ZSTD_createDStream();
    if (ds_ == nullptr) throw Error("cannot start a zstd decoder (out of memory)");
    // Text windows as large as zstd --long and --ultra make them.
    ZSTD_DCtx_setParameter(ds_, ZSTD_d_windowLogMax, 31);
  }
  ~ZstdCursor() override { ZSTD_freeDStream(ds_); }

  void restart(const Checkpoint& at) override {
    out = at.out;
    chunkBytes = 0;
    inNext_ = at.in;
    inBytes_ = 0;
    in_ = {input_.data(), 0, 0};
    ZSTD_DCtx_reset(ds_, ZSTD_reset_session_only);
    atFrameStart_ = true;
  }

  std::size_t produce() override {
    for (;;) {
      if (in_.pos == in_.size) {
        if (!fill(raw_)) return chunkBytes = 0;
        in_ = {input_.data(), inBytes_, 0};
      }
      if (atFrameStart_ && sink_ != nullptr && sink_->wants(out, true))
        sink_->offer({out, inStart_ + static_cast<std::int64_t>(in_.pos), 0, true, {}});
      atFrameStart_ = false;
      ZSTD_outBuffer o{buffer_.data(), buffer_.size(), 0};
      std::size_t r = ZSTD_decompressStream(ds_, &o, &in_);
      if (ZSTD_isError(r))
        damaged(raw_.path(), "zstd", inStart_ + static_cast<std::int64_t>(in_.pos),
                ZSTD_getErrorName(r));
      atFrameStart_ = r == 0;
      chunk = buffer_.data();
      chunkBytes = o.pos;
      out += static_cast<std::int64_t>(o.pos);
      if (o.pos > 0) return o.pos;
    }
  }

 private:
  RawInput& raw_;
  CheckpointSink* sink_;
  ZSTD_DStream* ds_ = nullptr;
  ZSTD_inBuffer in_{nullptr, 0, 0};
  std::vector<unsigned char> buffer_ = std::vector<unsigned char>(std::size_t{1} << 17);
  bool atFrameStart_ = true;
};
#endif

std::unique_ptr<Cursor> makeCursor(ByteSource::Kind kind, RawInput& raw, CheckpointSink* sink) {
#ifdef TAVO_HAVE_ZLIB
  if (kind == ByteSource::Kind::gzip) return std::make_unique<GzipCursor>(raw, sink);
#endif
#ifdef TAVO_HAVE_ZSTD
  if (kind == ByteSource::Kind::zstd) return std::make_unique<ZstdCursor>(raw, sink);
#endif
  (void)raw;
  (void)sink;
  throw Error(formatText("%s: this build reads no %s files", raw.path().c_str(),
                         kind == ByteSource::Kind::gzip ? "gzip" : "zstd"));
}

// ---------------------------------------------------------------------------
// Sources
// ---------------------------------------------------------------------------

class PlainSource final : public ByteSource {
 public:
  PlainSource(int fd, const std::string& path) : ByteSource(Kind::plain, fd, path) {}
  std::string describe() const override { return "plain"; }
  std::size_t read(std::int64_t offset, char* out, std::size_t n) override {
    RawInput raw(fd(), path(), false, {});
    return raw.preadFully(offset, reinterpret_cast<unsigned char*>(out), n);
  }
};

class DecodedSource final : public ByteSource, public CheckpointSink {
 public:
  DecodedSource(Kind kind, int fd, const std::string& path)
      : ByteSource(kind, fd, path), raw_(fd, this->path(), false, {}) {
    points_.push_back({});  // the text starts with the file
  }

  std::string describe() const override {
    return kind() == Kind::gzip ? "gzip" : seekable_ ? "seekable zstd" : "zstd";
  }

  // Takes the frames of a zstd seek table as checkpoints.
  void useSeekTable(std::vector<Checkpoint> points) {
    points_ = std::move(points);
    seekable_ = true;
  }

  std::size_t read(std::int64_t offset, char* out, std::size_t n) override {
#ifdef TAVO_HAVE_ZSTD
    if (seekable_) return readFrames(offset, out, n);
#endif
    return readThroughCursor(offset, out, n);
  }

 private:
  std::size_t readThroughCursor(std::int64_t offset, char* out, std::size_t n) {
    std::unique_ptr<Cursor> c = take(offset);
    std::size_t copied = 0;
    try {
      while (copied < n) {
        std::int64_t at = offset + static_cast<std::int64_t>(copied);
        if (c->chunkBytes > 0 && at >= c->chunkStart() && at < c->out) {
          std::size_t from = static_cast<std::size_t>(at - c->chunkStart());
          std::size_t k = std::min(n - copied, c->chunkBytes - from);
          std::memcpy(out + copied, c->chunk + from, k);
          copied += k;
          continue;
        }
        if (c->produce() == 0) break;
      }
    } catch (const Error&) {
      // The cursor is dropped with its unknown state. The text before the
      // fault is still given; the next read, starting at the fault, throws.
      if (copied == 0) throw;
      return copied;
    }
    give(std::move(c));
    return copied;
  }

#ifdef TAVO_HAVE_ZSTD
  // A seekable file: the zstd frames that lie whole in [offset, offset + n)
  // are decoded in one call each, straight into `out`; the text before the
  // first and after the last goes through the cursors.
  std::size_t readFrames(std::int64_t offset, char* out, std::size_t n) {
    const std::int64_t end = offset + static_cast<std::int64_t>(n);
    auto byOut = [](const Checkpoint& p, std::int64_t o) { return p.out < o; };
    // points_ does not change once the seek table is in.
    auto first = std::lower_bound(points_.begin(), points_.end(), offset, byOut);
    auto last = std::upper_bound(points_.begin(), points_.end(), end,
                                 [](std::int64_t o, const Checkpoint& p) { return o < p.out; });
    if (first == points_.end() || last == points_.begin() || first >= last - 1)
      return readThroughCursor(offset, out, n);
    --last;  // the last frame boundary at or before `end`
    std::size_t copied = 0;
    if (first->out > offset) {
      const std::size_t head = static_cast<std::size_t>(first->out - offset);
      copied = readThroughCursor(offset, out, head);
      if (copied < head) return copied;
    }
    try {
      for (auto p = first; p != last; ++p) {
        decodeFrame(*p, *(p + 1), out + (p->out - offset));
        copied = static_cast<std::size_t>((p + 1)->out - offset);
      }
    } catch (const Error&) {
      // The text before the fault is still given; the next read, starting
      // at the fault, throws.
      if (copied == 0) throw;
      return copied;
    }
    if (copied < n && last + 1 != points_.end())
      copied += readThroughCursor(last->out, out + copied, n - copied);
    return copied;
  }

  // The text of the zstd frame from `at` to `next` into `out`, in one call.
  void decodeFrame(const Checkpoint& at, const Checkpoint& next, char* out) {
    Decoder d;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!decoders_.empty()) {
        d = std::move(decoders_.back());
        decoders_.pop_back();
      }
    }
    if (d.dctx == nullptr) d.dctx.reset(ZSTD_createDCtx());
    if (d.dctx == nullptr) throw Error("cannot start a zstd decoder (out of memory)");
    const std::size_t size = static_cast<std::size_t>(next.in - at.in);
    const std::size_t text = static_cast<std::size_t>(next.out - at.out);
    if (d.input.size() < size) d.input.resize(size);
    if (raw_.preadFully(at.in, d.input.data(), size) != size)
      damaged(path(), "zstd", at.in, "the file is shorter than before");
    const std::size_t r = ZSTD_decompressDCtx(d.dctx.get(), out, text, d.input.data(), size);
    if (ZSTD_isError(r)) damaged(path(), "zstd", at.in, ZSTD_getErrorName(r));
    if (r != text)
      damaged(path(), "zstd", at.in, "a frame holds less text than the seek table says");
    std::lock_guard<std::mutex> lock(mutex_);
    if (decoders_.size() < kIdleCursors) decoders_.push_back(std::move(d));
  }
#endif

 public:
  std::size_t indexMemory() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    std::size_t bytes = points_.capacity() * sizeof(Checkpoint);
    for (const Checkpoint& p : points_) bytes += p.window.capacity();
    return bytes;
  }

  std::size_t readBytesHint() const override { return seekable_ ? std::size_t{4} << 20 : 0; }

  std::int64_t cheapCutNear(std::int64_t offset, std::int64_t lo, std::int64_t hi) const override {
    std::lock_guard<std::mutex> lock(mutex_);
    auto after = std::lower_bound(points_.begin(), points_.end(), offset,
                                  [](const Checkpoint& p, std::int64_t o) { return p.out < o; });
    std::int64_t best = offset;
    std::int64_t distance = -1;
    auto consider = [&](std::int64_t at) {
      std::int64_t d = at > offset ? at - offset : offset - at;
      if (at >= lo && at <= hi && (distance < 0 || d < distance)) {
        best = at;
        distance = d;
      }
    };
    if (after != points_.end()) consider(after->out);
    if (after != points_.begin()) consider((after - 1)->out);
    return best;
  }

  bool wants(std::int64_t out, bool memberStart) const override {
    if (seekable_) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    std::int64_t last = points_.back().out;
    // Member starts cost no window: they are kept 16 times as densely.
    return out - last >= (memberStart ? g_gzipSpan / 16 : g_gzipSpan);
  }

  void offer(Checkpoint point) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (point.out > points_.back().out) points_.push_back(std::move(point));
  }

 private:
  // The idle cursor closest behind `offset`, or one started at the last
  // checkpoint before it, whichever has less to decode.
  std::unique_ptr<Cursor> take(std::int64_t offset) {
    std::unique_ptr<Cursor> c;
    Checkpoint start;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto after = std::upper_bound(points_.begin(), points_.end(), offset,
                                    [](std::int64_t o, const Checkpoint& p) { return o < p.out; });
      const Checkpoint& point = *(after - 1);
      std::size_t best = idle_.size();
      for (std::size_t i = 0; i < idle_.size(); ++i) {
        const Cursor& k = *idle_[i];
        std::int64_t from = k.chunkBytes > 0 ? k.chunkStart() : k.out;
        if (from <= offset && from >= point.out &&
            (best == idle_.size() || from > idle_[best]->chunkStart()))
          best = i;
      }
      if (best < idle_.size()) {
        c = std::move(idle_[best]);
        idle_.erase(idle_.begin() + static_cast<std::ptrdiff_t>(best));
        return c;
      }
      if (!idle_.empty()) {
        c = std::move(idle_.front());
        idle_.erase(idle_.begin());
      }
      start = point;
    }
    if (c == nullptr) c = makeCursor(kind(), raw_, this);
    c->restart(start);
    return c;
  }

  void give(std::unique_ptr<Cursor> c) {
    std::lock_guard<std::mutex> lock(mutex_);
    idle_.push_back(std::move(c));
    if (idle_.size() > kIdleCursors) idle_.erase(idle_.begin());
  }

  RawInput raw_;
  mutable std::mutex mutex_;
  std::vector<Checkpoint> points_;  // by text offset, from 0
  std::vector<std::unique_ptr<Cursor>> idle_;
  bool seekable_ = false;
#ifdef TAVO_HAVE_ZSTD
  // Whole-frame decoders of a seekable file, with their input buffers.
  struct FreeDecoder {
    void operator()(ZSTD_DCtx* d) const { ZSTD_freeDCtx(d); }
  };
  struct Decoder {
    std::unique_ptr<ZSTD_DCtx, FreeDecoder> dctx;
    std::vector<unsigned char> input;
  };
  std::vector<Decoder> decoders_;
#endif
};

// A stream: one cursor (or the plain bytes) read in order, and the bytes
// not yet released.
class StreamSource final : public ByteSource {
 public:
  StreamSource(Kind inner, int fd, const std::string& path, std::string prefix)
      : ByteSource(Kind::stream, fd, path), inner_(inner), raw_(fd, this->path(), true, prefix) {
    if (inner_ != Kind::plain) {
      cursor_ = makeCursor(inner_, raw_, nullptr);
      cursor_->restart({});
    }
  }

  std::string describe() const override {
    return inner_ == Kind::gzip ? "gzip stream" : inner_ == Kind::zstd ? "zstd stream" : "stream";
  }

  std::size_t read(std::int64_t offset, char* out, std::size_t n) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (offset < heldFrom_)
      throw Error(
          formatText("%s: byte %lld of the stream has gone by; a stream is read once, "
                     "front to back",
                     path().c_str(), static_cast<long long>(offset)));
    std::int64_t want = offset + static_cast<std::int64_t>(n);
    while (end() < want && !ended_) more(static_cast<std::size_t>(want - end()));
    if (offset >= end()) return 0;
    std::size_t k = static_cast<std::size_t>(std::min(want, end()) - offset);
    std::memcpy(out, held_.data() + first_ + static_cast<std::size_t>(offset - heldFrom_), k);
    return k;
  }

  void release(std::int64_t offset) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (offset <= heldFrom_) return;
    std::size_t drop = static_cast<std::size_t>(std::min(offset, end()) - heldFrom_);
    first_ += drop;
    heldFrom_ += static_cast<std::int64_t>(drop);
    if (first_ > held_.size() / 2) {
      held_.erase(0, first_);
      first_ = 0;
    }
  }

 private:
  std::int64_t end() const { return heldFrom_ + static_cast<std::int64_t>(held_.size() - first_); }

  // Appends what the stream gives next, about `want` bytes.
  void more(std::size_t want) {
    if (inner_ == Kind::plain) {
      std::size_t n = std::max<std::size_t>(want, std::size_t{1} << 16);
      std::size_t old = held_.size();
      held_.resize(old + n);
      std::size_t got =
          raw_.readAt(rawNext_, reinterpret_cast<unsigned char*>(held_.data() + old), n);
      held_.resize(old + got);
      rawNext_ += static_cast<std::int64_t>(got);
      ended_ = got == 0;
      return;
    }
    std::size_t got = cursor_->produce();
    ended_ = got == 0;
    held_.append(reinterpret_cast<const char*>(cursor_->chunk), got);
  }

  Kind inner_;
  RawInput raw_;
  std::unique_ptr<Cursor> cursor_;
  std::mutex mutex_;
  std::string held_;  // bytes from heldFrom_ on, after first_
  std::size_t first_ = 0;
  std::int64_t heldFrom_ = 0;
  std::int64_t rawNext_ = 0;  // plain: next byte of the stream
  bool ended_ = false;
};

ByteSource::Kind kindOf(const unsigned char* head, std::size_t n) {
  if (n >= 2 && head[0] == 0x1f && head[1] == 0x8b) return ByteSource::Kind::gzip;
  if (n >= 4 && head[0] == 0x28 && head[1] == 0xb5 && head[2] == 0x2f && head[3] == 0xfd)
    return ByteSource::Kind::zstd;
  // A zstd file may open with a skippable frame.
  if (n >= 4 && (head[0] & 0xf0) == 0x50 && head[1] == 0x2a && head[2] == 0x4d && head[3] == 0x18)
    return ByteSource::Kind::zstd;
  return ByteSource::Kind::plain;
}

std::uint32_t le32(const unsigned char* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

void putLe32(std::string& s, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

// A BGZF member's header: gzip with an extra field holding the 'BC'
// subfield, the size of the whole member less one.
std::string bgzfHeader(std::size_t memberBytes) {
  std::string h("\x1f\x8b\x08\x04\0\0\0\0\0\xff\x06\0BC\x02\0", 16);
  h.push_back(static_cast<char>((memberBytes - 1) & 0xff));
  h.push_back(static_cast<char>((memberBytes - 1) >> 8));
  return h;
}

constexpr std::uint32_t kSkippableSeekMagic = 0x184D2A5E;
constexpr std::uint32_t kSeekableMagic = 0x8F92EAB1;

// The frames of a zstd file in the seekable layout, as checkpoints (with
// one more at the end of the text); empty when the file has no valid seek
// table.
std::vector<Checkpoint> readSeekTable(int fd, const std::string& path, std::int64_t fileBytes) {
  RawInput raw(fd, path, false, {});
  unsigned char foot[9];
  if (fileBytes < 17 || raw.preadFully(fileBytes - 9, foot, 9) != 9) return {};
  if (le32(foot + 5) != kSeekableMagic || (foot[4] & 0x7c) != 0) return {};
  const std::uint64_t frames = le32(foot);
  const std::uint64_t entry = (foot[4] & 0x80) != 0 ? 12 : 8;
  const std::uint64_t tableBytes = frames * entry + 9 + 8;
  if (tableBytes > static_cast<std::uint64_t>(fileBytes)) return {};
  std::vector<unsigned char> table(tableBytes);
  std::int64_t tableAt = fileBytes - static_cast<std::int64_t>(tableBytes);
  if (raw.preadFully(tableAt, table.data(), table.size()) != table.size()) return {};
  if (le32(table.data()) != kSkippableSeekMagic || le32(table.data() + 4) != tableBytes - 8)
    return {};
  std::vector<Checkpoint> points;
  std::int64_t in = 0, out = 0;
  for (std::uint64_t i = 0; i < frames; ++i) {
    const unsigned char* e = table.data() + 8 + i * entry;
    points.push_back({out, in, 0, true, {}});
    in += le32(e);
    out += le32(e + 4);
  }
  if (in != tableAt) return {};  // the frames must fill the file up to the table
  points.push_back({out, in, 0, true, {}});
  return points;
}

}  // namespace

// ---------------------------------------------------------------------------
// Opening
// ---------------------------------------------------------------------------

ByteSource::~ByteSource() {
  if (fd_ > STDERR_FILENO) ::close(fd_);
}

std::int64_t ByteSource::fileBytes() const {
  struct stat st {};
  if (kind_ == Kind::stream || ::fstat(fd_, &st) != 0) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

void setGzipCheckpointSpan(std::int64_t bytes) { g_gzipSpan = std::max<std::int64_t>(bytes, 1); }

std::unique_ptr<ByteSource> openByteSource(const std::string& path) {
  const bool standardInput = path == "-";
  int fd = standardInput ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  int err = fd < 0 ? errno : 0;
  struct stat st {};
  if (err == 0 && ::fstat(fd, &st) != 0) err = errno;
  if (err == 0 && S_ISDIR(st.st_mode)) err = EISDIR;
  if (err != 0) {
    if (fd > STDERR_FILENO) ::close(fd);
    throw Error(formatText("%s: cannot open the movie (%s)", path.c_str(), std::strerror(err)),
                err);
  }
  const std::string name = standardInput ? std::string("standard input") : path;
  try {
    unsigned char head[4] = {};
    // Standard input is read once even where it is a file: the commands
    // that read "-" are those that read front to back.
    if (standardInput || !S_ISREG(st.st_mode)) {
      // The first bytes are kept for the reader.
      RawInput raw(fd, name, true, {});
      std::size_t n = 0;
      while (n < sizeof head) {
        std::size_t got = raw.readAt(static_cast<std::int64_t>(n), head + n, sizeof head - n);
        if (got == 0) break;
        n += got;
      }
      return std::make_unique<StreamSource>(kindOf(head, n), fd, name,
                                            std::string(reinterpret_cast<char*>(head), n));
    }
    RawInput raw(fd, name, false, {});
    const std::size_t n = raw.preadFully(0, head, sizeof head);
    const ByteSource::Kind kind = kindOf(head, n);
    if (kind == ByteSource::Kind::plain) return std::make_unique<PlainSource>(fd, name);
    auto source = std::make_unique<DecodedSource>(kind, fd, name);
    if (kind == ByteSource::Kind::zstd) {
      std::vector<Checkpoint> points = readSeekTable(fd, name, st.st_size);
      if (!points.empty()) source->useSeekTable(std::move(points));
    }
    return source;
  } catch (...) {
    if (fd > STDERR_FILENO) ::close(fd);
    throw;
  }
}

// ---------------------------------------------------------------------------
// Writing
// ---------------------------------------------------------------------------

struct SeekableWriter::Codec {
#ifdef TAVO_HAVE_ZSTD
  ZSTD_CCtx* cctx = nullptr;
  ~Codec() { ZSTD_freeCCtx(cctx); }
#endif
};

std::size_t SeekableWriter::defaultBlockBytes(Format format) {
  return format == Format::bgzf ? 65280 : std::size_t{1} << 20;
}

SeekableWriter::SeekableWriter(Format format, int level, std::size_t blockBytes)
    : format_(format), level_(level), blockBytes_(blockBytes), codec_(std::make_unique<Codec>()) {
  if (blockBytes_ == 0) blockBytes_ = defaultBlockBytes(format);
  if (format == Format::bgzf) {
#ifndef TAVO_HAVE_ZLIB
    throw Error("this build writes no gzip files");
#endif
    blockBytes_ = std::min<std::size_t>(blockBytes_, 65280);
  } else {
#ifdef TAVO_HAVE_ZSTD
    codec_->cctx = ZSTD_createCCtx();
    if (codec_->cctx == nullptr) throw Error("cannot start a zstd encoder (out of memory)");
    ZSTD_CCtx_setParameter(codec_->cctx, ZSTD_c_compressionLevel, level_);
    ZSTD_CCtx_setParameter(codec_->cctx, ZSTD_c_checksumFlag, 1);
#else
    throw Error("this build writes no zstd files");
#endif
  }
}

SeekableWriter::~SeekableWriter() = default;

void SeekableWriter::add(std::string_view text, bool boundary) {
  pending_.append(text);
  while (pending_.size() >= blockBytes_) {
    // A block ends at the last boundary it holds, or where it is full.
    std::size_t cut = boundary_ > 0 && boundary_ <= blockBytes_ ? boundary_ : blockBytes_;
    std::string rest = pending_.substr(cut);
    pending_.resize(cut);
    flushBlock();
    pending_ = std::move(rest);
    boundary_ = 0;
  }
  if (boundary) boundary_ = pending_.size();
}

void SeekableWriter::flushBlock() {
  if (pending_.empty()) return;
  const std::size_t n = pending_.size();
  if (format_ == Format::bgzf) {
#ifdef TAVO_HAVE_ZLIB
    std::string member(18 + compressBound(static_cast<uLong>(n)) + 64, '\0');
    auto deflateAt = [&](int level) {
      z_stream z{};
      if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw Error("cannot start a deflater (out of memory)");
      z.next_in = reinterpret_cast<Bytef*>(pending_.data());
      z.avail_in = static_cast<uInt>(n);
      z.next_out = reinterpret_cast<Bytef*>(member.data() + 18);
      z.avail_out = static_cast<uInt>(member.size() - 18);
      int ret = deflate(&z, Z_FINISH);
      std::size_t size = z.total_out;
      deflateEnd(&z);
      if (ret != Z_STREAM_END) throw Error("deflate failed");
      return size;
    };
    std::size_t size = deflateAt(level_);
    if (size + 26 > 65536) size = deflateAt(0);  // stored: the block fits whatever it holds
    const std::size_t total = size + 26;
    const std::string header = bgzfHeader(total);
    std::memcpy(member.data(), header.data(), header.size());
    member.resize(18 + size);
    uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(pending_.data()), static_cast<uInt>(n));
    putLe32(member, static_cast<std::uint32_t>(crc));
    putLe32(member, static_cast<std::uint32_t>(n));
    ready_ += member;
#endif
  } else {
#ifdef TAVO_HAVE_ZSTD
    std::size_t bound = ZSTD_compressBound(n);
    std::size_t old = ready_.size();
    ready_.resize(old + bound);
    std::size_t size = ZSTD_compress2(codec_->cctx, ready_.data() + old, bound, pending_.data(), n);
    if (ZSTD_isError(size))
      throw Error(formatText("zstd compression failed (%s)", ZSTD_getErrorName(size)));
    ready_.resize(old + size);
    seekTable_.push_back(static_cast<std::uint32_t>(size));
    seekTable_.push_back(static_cast<std::uint32_t>(n));
#endif
  }
  pending_.clear();
}

void SeekableWriter::finish() {
  flushBlock();
  boundary_ = 0;
  if (format_ == Format::bgzf) {
    // The empty member that ends a BGZF file: no text, an empty deflate
    // block, a zero CRC and size.
    ready_ += bgzfHeader(28) + std::string("\x03\0\0\0\0\0\0\0\0\0", 10);
    return;
  }
  // The seek table: a skippable frame of (compressed, text) sizes per frame
  // and the footer (frames, descriptor, magic).
  const std::uint32_t frames = static_cast<std::uint32_t>(seekTable_.size() / 2);
  putLe32(ready_, kSkippableSeekMagic);
  putLe32(ready_, frames * 8 + 9);
  for (std::uint32_t v : seekTable_) putLe32(ready_, v);
  putLe32(ready_, frames);
  ready_.push_back('\0');
  putLe32(ready_, kSeekableMagic);
  seekTable_.clear();
}

}  // namespace tavo::formats
