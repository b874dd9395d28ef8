// compressed.h - the text of a file, whatever holds it, and the writers of
// compressed files that keep random access.
//
// Reading: a ByteSource gives the bytes of a text at offsets of the text
// itself, so that an index built on a gzip or zstd file holds the same
// offsets as on the plain file. The kind is told by the first bytes, never
// by the name:
//   plain  a regular file, read with pread();
//   gzip   any gzip file (one member or many, BGZF included): inflated
//          forward, with a checkpoint (the bit position and the 32 KiB of
//          text before it) left every few MiB of text as the inflater
//          passes, and at every member start, so that any offset is reached
//          by inflating at most one checkpoint span;
//   zstd   any zstd file: each zstd frame is a checkpoint; a file in the
//          seekable layout (independent frames, their sizes in a seek table
//          in a skippable frame at the end) has them all from the start,
//          and the frames a read covers whole are decoded in one call each
//          straight into the reader's buffer;
//   stream standard input ("-"), a pipe or a device, plain or compressed:
//          read once, front to back, holding only the bytes not yet
//          released.
// A source may be read from several threads at once: each read takes an
// inflater of its own from a small pool.
//
// Writing: a SeekableWriter cuts the text it is given into blocks of at most
// a chosen size, ending them where the caller marks a boundary when it can,
// and compresses each one independently: gzip members in the BGZF layout
// (the block size in the header's extra field, the 28-byte empty member at
// the end), or zstd frames followed by the seek table. `gzip -dc` and
// `zstd -dc` give back the text exactly.
#ifndef TAVO_FORMATS_COMPRESSED_H
#define TAVO_FORMATS_COMPRESSED_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tavo::formats {

// ---------------------------------------------------------------------------
// Reading
// ---------------------------------------------------------------------------

class ByteSource {
 public:
  enum class Kind { plain, gzip, zstd, stream };

  virtual ~ByteSource();
  ByteSource(const ByteSource&) = delete;
  ByteSource& operator=(const ByteSource&) = delete;

  Kind kind() const { return kind_; }
  // What holds the text, for messages: "plain", "gzip", "zstd", "seekable
  // zstd", and for a stream "stream" or "gzip stream", "zstd stream".
  virtual std::string describe() const = 0;
  const std::string& path() const { return path_; }
  int fd() const { return fd_; }  // owned by the source

  // Copies up to `n` bytes of the text from `offset` into `out` and returns
  // how many: fewer than `n` only at the end of the text the file holds so
  // far. Safe from several threads at once. Throws Error when the file
  // cannot be read, its compressed data are damaged, or (on a stream) the
  // bytes asked for were released.
  virtual std::size_t read(std::int64_t offset, char* out, std::size_t n) = 0;

  // On a stream: the bytes before `offset` are not asked for again. A no-op
  // on a file.
  virtual void release(std::int64_t /*offset*/) {}

  // Bytes held for random access: checkpoints' windows, the seek table.
  virtual std::size_t indexMemory() const { return 0; }

  // How many bytes a reader does best to ask for at a time; 0: any number.
  // A seekable zstd file decodes the frames a read covers whole straight
  // into the reader's buffer, so larger reads copy less.
  virtual std::size_t readBytesHint() const { return 0; }

  // The offset in [lo, hi] closest to `offset` from which a read decodes
  // nothing before it (a checkpoint of a compressed file), or `offset`
  // itself where there is none in the range or every offset is as cheap.
  // Two threads reading a range cut there decode no byte twice.
  virtual std::int64_t cheapCutNear(std::int64_t offset, std::int64_t /*lo*/,
                                    std::int64_t /*hi*/) const {
    return offset;
  }

  // The size of the file itself (compressed bytes for a compressed file) as
  // fstat() tells it now; -1 for a stream.
  std::int64_t fileBytes() const;

 protected:
  ByteSource(Kind kind, int fd, std::string path) : kind_(kind), fd_(fd), path_(std::move(path)) {}

 private:
  Kind kind_;
  int fd_;
  std::string path_;
};

// Opens `path` ("-" for standard input, read as a stream, as is anything
// that is not a regular file) and tells its kind by its first bytes. Throws
// Error naming the path when it cannot be opened, or is a folder.
std::unique_ptr<ByteSource> openByteSource(const std::string& path);

// Text checkpoints kept every `bytes` of gzip text (4 MiB unless changed;
// for tests).
void setGzipCheckpointSpan(std::int64_t bytes);

// ---------------------------------------------------------------------------
// Writing
// ---------------------------------------------------------------------------

class SeekableWriter {
 public:
  enum class Format { bgzf, zstdSeekable };

  // Compresses at `level` (zlib's 1-9 for bgzf, zstd's 1-22); blocks of at
  // most `blockBytes` of text (bgzf takes at most 65280, so that a block
  // that does not shrink still fits a member).
  SeekableWriter(Format format, int level, std::size_t blockBytes = 0);
  ~SeekableWriter();
  SeekableWriter(const SeekableWriter&) = delete;
  SeekableWriter& operator=(const SeekableWriter&) = delete;

  // Takes more text; `boundary`: a block may end after it.
  void add(std::string_view text, bool boundary);
  // Compressed bytes ready to be written; take them with take().
  std::string& ready() { return ready_; }
  // Ends the last block and appends the end of the file (bgzf's empty
  // member, zstd's seek table) to ready().
  void finish();

  static std::size_t defaultBlockBytes(Format format);
  // zstd 1: on movie text it compresses as well as 3 (better, on the
  // demo), twice as fast, and decodes faster; gzip 6, zlib's own default.
  static int defaultLevel(Format format) { return format == Format::bgzf ? 6 : 1; }

 private:
  void flushBlock();

  Format format_;
  int level_;
  std::size_t blockBytes_;
  std::string pending_;                   // text not yet compressed
  std::size_t boundary_ = 0;              // end of the last boundary in pending_
  std::string ready_;                     // compressed bytes
  std::vector<std::uint32_t> seekTable_;  // zstd: compressed, text size per frame
  struct Codec;
  std::unique_ptr<Codec> codec_;
};

}  // namespace tavo::formats

#endif  // TAVO_FORMATS_COMPRESSED_H
