// output.cpp - path identity, buffered output, files written aside then
// renamed, streams written in place, and the cleanup an interrupting signal
// does.
//
// The cleanup lists (temporaries, folders made, child processes) are read by
// a signal handler, which may run on any thread. A thread changing a list
// holds the cleanup signals back on itself and marks the lists busy; a
// handler that finds them busy (on another thread) only records its signal,
// and the changing thread delivers it again once the change is done. So no
// handler ever walks a list half-updated.
#include "formats/output.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>

#include "formats/error.h"

namespace fs = std::filesystem;

namespace tavo::formats {

namespace {

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

enum ListGuard : int { kIdle, kChanging, kCleaning };

// Module state; any other mutable global here is a bug.
struct State {
  std::atomic<int> guard{kIdle};         // who holds the lists
  std::atomic<int> pending{0};           // a signal that arrived while they were busy
  std::vector<std::string> temporaries;  // temporaries and scratch files not yet renamed or removed
  std::vector<std::string> folders;      // folders made for outputs, outermost first
  std::vector<pid_t> children;           // processes writing outputs
  bool handlersInstalled = false;
  unsigned long counter = 0;  // makes temporary names unique within the process
} state;

// Runs on a signal, or on a thread that met one recorded: ends the children,
// removes what outputs left, and lets the signal end the process.
void endBySignal(int signal) {
  for (pid_t pid : state.children) {
    kill(pid, SIGKILL);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  for (const std::string& name : state.temporaries) unlink(name.c_str());
  for (auto folder = state.folders.rbegin(); folder != state.folders.rend(); ++folder)
    rmdir(folder->c_str());  // only an empty folder goes
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  raise(signal);
}

void onSignal(int signal) {
  const int savedErrno = errno;
  int expected = kIdle;
  if (state.guard.compare_exchange_strong(expected, kCleaning)) {
    endBySignal(signal);  // delivered once this handler returns
  } else if (expected == kChanging) {
    state.pending.store(signal);
  }
  // kCleaning: another thread is ending the process already.
  errno = savedErrno;
}

// Runs `change` on the lists with the cleanup signals held back on this
// thread and the lists marked busy for the others.
template <typename Fn>
void changeList(Fn change) {
  sigset_t block, old;
  sigemptyset(&block);
  for (int s : kCleanupSignals) sigaddset(&block, s);
  pthread_sigmask(SIG_BLOCK, &block, &old);
  int expected = kIdle;
  while (!state.guard.compare_exchange_weak(expected, kChanging)) {
    expected = kIdle;
    sched_yield();  // another thread changes the lists, or is ending the process
  }
  struct Release {
    sigset_t old;
    ~Release() {
      const int signal = state.pending.exchange(0);
      state.guard.store(signal != 0 ? kCleaning : kIdle);
      pthread_sigmask(SIG_SETMASK, &old, nullptr);
      if (signal != 0) endBySignal(signal);
    }
  } release{old};
  if (!state.handlersInstalled) {
    for (int s : kCleanupSignals) {
      struct sigaction current {};
      sigaction(s, nullptr, &current);
      if (current.sa_handler != SIG_DFL) continue;  // ignored or handled by someone else
      struct sigaction action {};
      action.sa_handler = onSignal;
      sigemptyset(&action.sa_mask);
      sigaction(s, &action, nullptr);
    }
    state.handlersInstalled = true;
  }
  change();
}

template <typename T>
void eraseValue(std::vector<T>& list, const T& value) {
  auto found = std::find(list.begin(), list.end(), value);
  if (found != list.end()) list.erase(found);
}

void forgetTemporary(const std::string& name, bool remove) {
  changeList([&] {
    if (remove) unlink(name.c_str());
    eraseValue(state.temporaries, name);
  });
}

std::string describeErrno(int error) { return std::strerror(error); }

// Creates a new file "<folder>/.<leaf>.tmp<pid>.<n><suffix>" and lists it
// for removal; returns its name and descriptor, or "" with errno set.
std::string createTemporary(const fs::path& folder, const std::string& leaf,
                            const std::string& suffix, int& fd) {
  // Built piece by piece: GCC 12 warns falsely about "." + string.
  std::string stem = ".";
  stem += leaf;
  stem += ".tmp" + std::to_string(getpid()) + ".";
  std::string created;
  int error = 0;
  changeList([&] {
    for (;;) {
      std::string name = (folder / (stem + std::to_string(state.counter++) + suffix)).string();
      fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd >= 0) {
        state.temporaries.push_back(name);
        created = name;
        return;
      }
      if (errno != EEXIST) {
        error = errno;
        return;
      }
    }
  });
  errno = error;
  return created;
}

// The absolute path with symbolic links resolved in its folder; the last
// part kept as written (it may not exist yet).
fs::path resolvedFolderAndName(const std::string& path) {
  std::error_code ec;
  fs::path absolute = fs::absolute(path, ec).lexically_normal();
  if (ec) return fs::path(path).lexically_normal();
  fs::path name = absolute.filename();
  if (name.empty()) {  // "dir/" or "/"
    absolute = absolute.parent_path();
    name = absolute.filename();
  }
  fs::path folder = fs::weakly_canonical(absolute.parent_path(), ec);
  if (ec) folder = absolute.parent_path();
  return folder / name;
}

fs::path resolved(const std::string& path) {
  std::error_code ec;
  fs::path absolute = fs::absolute(path, ec);
  if (ec) return fs::path(path).lexically_normal();
  fs::path canonical = fs::weakly_canonical(absolute, ec);
  return ec ? absolute.lexically_normal() : canonical;
}

// A descriptor number written in full, or -1.
int descriptorNumber(const std::string& text) {
  int n = -1;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
  return error == std::errc() && end == text.data() + text.size() && n >= 0 ? n : -1;
}

}  // namespace

// ---------------------------------------------------------------------------
// Paths
// ---------------------------------------------------------------------------

bool samePath(const std::string& a, const std::string& b) {
  struct stat sa {};
  struct stat sb {};
  bool aExists = stat(a.c_str(), &sa) == 0;
  bool bExists = stat(b.c_str(), &sb) == 0;
  if (aExists && bExists) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  if (aExists != bExists) return false;
  return resolvedFolderAndName(a) == resolvedFolderAndName(b);
}

bool isInside(const std::string& path, const std::string& folder) {
  fs::path p = resolved(path);
  fs::path f = resolved(folder);
  if (f.filename().empty()) f = f.parent_path();  // "dir/" names dir
  auto pi = p.begin();
  for (const fs::path& part : f) {
    if (pi == p.end() || *pi != part) return false;
    ++pi;
  }
  for (; pi != p.end(); ++pi)
    if (!pi->empty()) return true;
  return false;
}

void requireNotInput(const std::string& output, const std::vector<std::string>& inputs) {
  for (const std::string& input : inputs)
    if (samePath(output, input))
      throw Error(output + ": is an input of this command (" + input + "); not overwriting it");
}

int ownDescriptor(const std::string& path) {
  const std::string self = "/proc/" + std::to_string(getpid()) + "/fd";
  std::string p = path;
  for (int depth = 0; depth < 40; ++depth) {  // the system's own bound on a chain of links
    std::error_code ec;
    const fs::path absolute = fs::absolute(p, ec).lexically_normal();
    if (ec) return -1;
    fs::path folder = fs::weakly_canonical(absolute.parent_path(), ec);
    if (ec) folder = absolute.parent_path();
    const std::string name = absolute.filename().string();
    if (folder == "/dev") {
      if (name == "stdin") return 0;
      if (name == "stdout") return 1;
      if (name == "stderr") return 2;
    }
    if (folder == self || folder == "/proc/self/fd" || folder == "/dev/fd")
      return descriptorNumber(name);
    struct stat st {};
    if (lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return -1;
    std::vector<char> target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
    const ssize_t n = readlink(p.c_str(), target.data(), target.size());
    if (n < 0 || static_cast<std::size_t>(n) >= target.size()) return -1;
    const fs::path next(std::string(target.data(), static_cast<std::size_t>(n)));
    p = (next.is_absolute() ? next : absolute.parent_path() / next).string();
  }
  return -1;
}

// ---------------------------------------------------------------------------
// Buffered output
// ---------------------------------------------------------------------------

Output::Output(int fd, std::string name)
    : fd_(fd), name_(std::move(name)), buffer_(std::make_unique_for_overwrite<char[]>(kBuffer)) {}

void Output::text(std::string_view s) {
  while (!s.empty()) {
    std::size_t n = s.size() < kBuffer ? s.size() : kBuffer;
    char* p = room(n);
    std::memcpy(p, s.data(), n);
    advance(p + n);
    s.remove_prefix(n);
  }
}

void Output::drain() {
  const char* p = buffer_.get();
  std::size_t left = used_;
  while (left > 0) {
    ssize_t n = ::write(fd_, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      int error = errno;
      used_ = 0;
      throw Error(name_ + ": cannot write: " + describeErrno(error), error);
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  used_ = 0;
}

void Output::flush() { drain(); }

// ---------------------------------------------------------------------------
// Output files
// ---------------------------------------------------------------------------

OutputFile::OutputFile(const std::string& path, const OutputRules& rules)
    : Output(-1, path), target_(path) {
  struct stat st {};
  const bool isLink = lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
  // A link at a name the command made is replaced, so its target is safe.
  if (!(rules.madeName && isLink)) requireNotInput(path, rules.inputs);

  const int own = ownDescriptor(path);
  if (own >= 0) {
    const int flags = fcntl(own, F_GETFL);
    if (flags < 0)
      throw Error(path + ": descriptor " + std::to_string(own) + " is not open", EBADF);
    if ((flags & O_ACCMODE) == O_RDONLY)
      throw Error(path + ": descriptor " + std::to_string(own) + " is not open for writing", EBADF);
    const int fd = fcntl(own, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) throw Error(path + ": cannot write: " + describeErrno(errno), errno);
    openStream(fd, rules.byName);
    return;
  }
  if (!rules.madeName && isLink) {
    std::error_code ec;
    fs::path real = fs::weakly_canonical(fs::absolute(path), ec);
    if (!ec) target_ = real.string();
  }
  const bool exists =
      (rules.madeName ? lstat(target_.c_str(), &st) : stat(target_.c_str(), &st)) == 0;
  if (exists && S_ISDIR(st.st_mode)) throw Error(path + ": is a folder", EISDIR);
  if (exists && !rules.madeName && !S_ISREG(st.st_mode)) {
    // A device, pipe or socket (/dev/null, a named pipe) cannot be replaced:
    // it is written in place.
    const int fd = open(target_.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) throw Error(path + ": cannot open: " + describeErrno(errno), errno);
    openStream(fd, rules.byName);
    return;
  }
  openAside(path);
  // A replaced file keeps its permissions.
  if (exists && S_ISREG(st.st_mode) && fd_ >= 0) fchmod(fd_, st.st_mode & 07777);
  if (rules.byName && fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
    releaseBuffer();
  }
}

void OutputFile::openStream(int fd, bool byName) {
  stream_ = true;
  if (!byName) {
    fd_ = fd;
    return;
  }
  // A library that writes by name needs a file it can seek in: it writes a
  // scratch file, copied into the stream once complete.
  streamFd_ = fd;
  std::error_code ec;
  fs::path folder = fs::temp_directory_path(ec);
  if (ec) folder = "/tmp";
  int scratchFd = -1;
  scratch_ = createTemporary(folder, "tavo-output", "", scratchFd);
  if (scratch_.empty())
    throw Error(
        name() + ": cannot make a scratch file in " + folder.string() + ": " + describeErrno(errno),
        errno);
  ::close(scratchFd);
  releaseBuffer();
}

void OutputFile::openAside(const std::string& path) {
  fs::path target(target_);
  fs::path folder = target.parent_path();
  struct stat st {};
  const std::string shown = folder.empty() ? "." : folder.string();
  if (stat(shown.c_str(), &st) != 0) {
    const int error = errno;
    if (error == ENOENT || error == ENOTDIR)
      throw Error(path + ": folder " + shown + " does not exist", error);
    throw Error(path + ": folder " + shown + ": " + describeErrno(error), error);
  }
  if (!S_ISDIR(st.st_mode)) throw Error(path + ": " + shown + " is not a folder", ENOTDIR);
  scratch_ = createTemporary(folder, target.filename().string(), "", fd_);
  if (scratch_.empty()) throw Error(path + ": cannot create: " + describeErrno(errno), errno);
}

OutputFile::~OutputFile() {
  if (fd_ >= 0) ::close(fd_);
  if (streamFd_ >= 0) ::close(streamFd_);
  if (!scratch_.empty()) forgetTemporary(scratch_, true);
}

void OutputFile::close() {
  if (fd_ < 0) return;
  flush();
  releaseBuffer();
  int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) throw Error(name() + ": cannot write: " + describeErrno(errno), errno);
}

void OutputFile::commit() {
  close();
  if (scratch_.empty()) return;
  if (stream_) {
    // The scratch file of a by-name writer, into the stream.
    const int in = open(scratch_.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
      throw Error(name() + ": cannot read back " + scratch_ + ": " + describeErrno(errno));
    Output copy(streamFd_, name());
    for (;;) {
      char* p = copy.room(Output::kBuffer);
      const ssize_t n = ::read(in, p, Output::kBuffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        const int error = n < 0 ? errno : 0;
        ::close(in);
        if (error != 0)
          throw Error(name() + ": cannot read back " + scratch_ + ": " + describeErrno(error));
        break;
      }
      copy.advance(p + n);
    }
    copy.flush();
    forgetTemporary(scratch_, true);
    scratch_.clear();
    return;
  }
  int error = 0;
  changeList([&] {
    if (std::rename(scratch_.c_str(), target_.c_str()) != 0) {
      error = errno;
      return;
    }
    eraseValue(state.temporaries, scratch_);
    scratch_.clear();
  });
  if (error)
    throw Error(name() + ": cannot rename the finished file into place: " + describeErrno(error),
                error);
}

// ---------------------------------------------------------------------------
// Folders, scratch files and children
// ---------------------------------------------------------------------------

MadeFolders::~MadeFolders() {
  if (made_.empty()) return;
  changeList([&] {
    for (auto folder = made_.rbegin(); folder != made_.rend(); ++folder) {
      rmdir(folder->c_str());
      eraseValue(state.folders, *folder);
    }
  });
}

void MadeFolders::make(const std::string& folder) {
  fs::path prefix;
  for (const fs::path& part : fs::path(folder).lexically_normal()) {
    prefix /= part;
    if (part.empty()) continue;
    const std::string name = prefix.string();
    struct stat st {};
    if (stat(name.c_str(), &st) == 0) {
      if (!S_ISDIR(st.st_mode)) throw Error(name + ": exists and is not a folder", ENOTDIR);
      continue;
    }
    int error = 0;
    changeList([&] {
      if (mkdir(name.c_str(), 0777) != 0) {
        error = errno;
        return;
      }
      state.folders.push_back(name);
      made_.push_back(name);
    });
    if (error == EEXIST && stat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
    if (error != 0) throw Error(name + ": cannot make the folder: " + describeErrno(error), error);
  }
}

void MadeFolders::keep() {
  changeList([&] {
    for (const std::string& folder : made_) eraseValue(state.folders, folder);
  });
  made_.clear();
}

ScratchFile::ScratchFile(const std::string& near, const std::string& suffix) {
  fs::path target(near);
  int fd = -1;
  path_ = createTemporary(target.parent_path(), target.filename().string(), suffix, fd);
  if (path_.empty())
    throw Error(near + ": cannot make a scratch file beside it: " + describeErrno(errno), errno);
  ::close(fd);
}

ScratchFile::~ScratchFile() { forgetTemporary(path_, true); }

void watchChild(pid_t pid) {
  changeList([&] { state.children.push_back(pid); });
}

void forgetChild(pid_t pid) {
  changeList([&] { eraseValue(state.children, pid); });
}

}  // namespace tavo::formats
