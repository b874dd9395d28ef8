// output.h - writing output files safely.
//
// Every file the tools write goes through here. A regular file is written
// under a temporary name beside its target and renamed onto it only when
// complete, so a failed or interrupted command never leaves a partial file,
// and an old file of the same name stays intact (permissions included) until
// the new one is whole. A stream cannot be replaced and is written in place:
// a device, a pipe, and any name standing for one of the process's own
// descriptors (/dev/stdout, /dev/fd/N), which is written through that very
// descriptor, so that a shell's ">>" keeps appending and ">" keeps its
// offset. Outputs are checked against the command's inputs first: writing
// aside and renaming would otherwise replace an input still being read.
//
// An interrupting signal (SIGINT, SIGTERM, SIGHUP) ends the child processes
// writing outputs, removes every temporary and scratch file, and removes the
// folders made for outputs that are still empty; then the signal ends the
// process as it would have.
#ifndef TAVO_FORMATS_OUTPUT_H
#define TAVO_FORMATS_OUTPUT_H

#include <sys/types.h>

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

// The descriptor `path` stands for when it names one of the process's own
// (/dev/stdin, /dev/stdout, /dev/stderr, /dev/fd/N, /proc/self/fd/N, or a
// symbolic link to one of them); -1 for any other name.
int ownDescriptor(const std::string& path);

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

// How an OutputFile may be written.
struct OutputRules {
  // Files the command reads: the output may be none of them.
  std::vector<std::string> inputs;
  // The command made the name (a picture of a sequence, a frame file, a
  // screenshot); the user did not give it. A symbolic link already sitting
  // there is replaced itself, never written through.
  bool madeName = false;
  // A library or program that opens files by name writes the file (libpng,
  // libhdf5, ffmpeg): it writes to fileName(), not through the buffer.
  bool byName = false;
};

// An output file. A regular file (or a new one) is written under a temporary
// name beside its target and renamed onto it by commit(); destroyed
// uncommitted, the temporary is removed. A user's name that is a symbolic
// link replaces the file the link points to. A stream is written in place;
// with rules.byName, into a scratch file in the temporary folder that
// commit() copies into the stream. Throws Error naming the output when its
// folder does not exist ("folder ... does not exist"), when it is a folder,
// or when it is an input.
class OutputFile : public Output {
 public:
  explicit OutputFile(const std::string& path, const OutputRules& rules = {});
  ~OutputFile() override;
  OutputFile(OutputFile&&) = delete;

  // The name a by-name writer writes to.
  const std::string& fileName() const { return scratch_; }
  // Whether the output is written in place (a device, a pipe, a descriptor).
  bool isStream() const { return stream_; }

  // Flushes and closes the temporary; the target is not touched yet. Lets a
  // caller finish many files before making any of them visible.
  void close();
  // close(), then renames the temporary onto the target (or copies the
  // scratch file into the stream).
  void commit();

 private:
  void openStream(int fd, bool byName);
  void openAside(const std::string& path);

  std::string target_;   // where the file ends up (symbolic links resolved)
  std::string scratch_;  // temporary or scratch file; empty once renamed
  bool stream_ = false;
  int streamFd_ = -1;  // the stream a scratch file is copied into
};

// ---------------------------------------------------------------------------
// What else an output leaves behind
// ---------------------------------------------------------------------------

// Folders made for outputs. Destroyed without keep(), it removes the folders
// it made that are still empty, innermost first; so does an interrupting
// signal.
class MadeFolders {
 public:
  MadeFolders() = default;
  ~MadeFolders();
  MadeFolders(const MadeFolders&) = delete;
  MadeFolders& operator=(const MadeFolders&) = delete;

  // Makes `folder` and whichever folders above it are missing. Throws Error
  // naming the folder when it cannot, or when a part exists and is no folder.
  void make(const std::string& folder);
  // The outputs are in place: the folders stay.
  void keep();

 private:
  std::vector<std::string> made_;  // outermost first
};

// A scratch file beside `near` (a program's log): a unique name, created
// empty, removed at destruction or by an interrupting signal.
class ScratchFile {
 public:
  ScratchFile(const std::string& near, const std::string& suffix);
  ~ScratchFile();
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A child process writing an output (an encoder): an interrupting signal
// kills and reaps it before the temporaries are removed, so that it cannot
// write them again. Forget it once it has been waited for.
void watchChild(pid_t pid);
void forgetChild(pid_t pid);

}  // namespace tavo::formats

#endif  // TAVO_FORMATS_OUTPUT_H
