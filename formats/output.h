// output.h - writing output files safely.
//
// Output is buffered and written to a temporary file beside its target; only
// a complete file is renamed onto the target, so a failed or interrupted
// command never leaves a partial file, and an old file of the same name
// stays intact until the new one is whole. Outputs are checked against the
// command's inputs first: writing aside and renaming would otherwise replace
// an input that is still being read.
#ifndef TAVO_FORMATS_OUTPUT_H
#define TAVO_FORMATS_OUTPUT_H

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tavo::formats {

// ---------------------------------------------------------------------------
// Paths
// ---------------------------------------------------------------------------

// Whether `a` and `b` name one file: the same device and inode when both
// exist (so "./x", "x", symbolic and hard links all match), otherwise the
// same resolved folder and name.
bool samePath(const std::string& a, const std::string& b);

// Whether `path` lies below `folder` (at any depth), after resolving
// symbolic links in whatever part of either exists.
bool isInside(const std::string& path, const std::string& folder);

// Throws Error unless `output` is none of `inputs`.
void requireNotInput(const std::string& output, const std::vector<std::string>& inputs);

// ---------------------------------------------------------------------------
// Buffered output
// ---------------------------------------------------------------------------

// Buffered writing to a file descriptor; a failed write throws Error naming
// the output.
class Output {
 public:
  Output(int fd, std::string name);  // does not own the descriptor
  virtual ~Output() = default;       // does not flush: callers flush or commit
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  // At least `n` writable bytes (n at most kBuffer); hand back the end of
  // what was written with advance().
  char* room(std::size_t n) {
    if (kBuffer - used_ < n) drain();
    return buffer_.get() + used_;
  }
  void advance(char* end) { used_ = static_cast<std::size_t>(end - buffer_.get()); }
  void text(std::string_view s);
  void flush();

  const std::string& name() const { return name_; }

  static constexpr std::size_t kBuffer = std::size_t{1} << 20;

 protected:
  void drain();  // writes the buffer out
  void releaseBuffer() { buffer_.reset(); }
  int fd_;

 private:
  std::string name_;
  std::unique_ptr<char[]> buffer_;
  std::size_t used_ = 0;
};

// A file written under a temporary name beside `path` and renamed onto it by
// commit(). Destroyed uncommitted, it removes the temporary. Replacing a
// file keeps that file's permissions; writing to a symbolic link replaces
// the file it points to; a device or pipe (/dev/stdout) is written directly.
class OutputFile : public Output {
 public:
  explicit OutputFile(const std::string& path);
  ~OutputFile() override;
  OutputFile(OutputFile&&) = delete;

  // Flushes and closes the temporary; the target is not touched yet. Lets a
  // caller finish many files before making any of them visible.
  void close();
  // close(), then renames the temporary onto the target.
  void commit();

 private:
  std::string target_;     // where the file ends up (symbolic links resolved)
  std::string temporary_;  // empty once renamed
};

}  // namespace tavo::formats

#endif  // TAVO_FORMATS_OUTPUT_H
