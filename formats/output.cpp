// output.cpp - path identity, buffered output, and files written aside
// then renamed.
//
// Temporaries are listed so that an interrupting signal (Ctrl-C, a kill)
// removes them too: the handler unlinks every listed name, then lets the
// signal end the process as it would have. The list is only changed with
// those signals blocked, so the handler never sees it half-updated.
#include "formats/output.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>

#include "formats/error.h"

namespace fs = std::filesystem;

namespace tavo::formats {

namespace {

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Module state; any other mutable global here is a bug.
struct State {
  std::set<std::string> temporaries;  // temporaries not yet renamed or removed
  bool handlersInstalled = false;
  unsigned long counter = 0;  // makes temporary names unique within the process
} state;

void removeTemporaries(int signal) {
  for (const std::string& name : state.temporaries) unlink(name.c_str());
  ::signal(signal, SIG_DFL);
  raise(signal);
}

// Runs `change` on the list with the cleanup signals held back.
template <typename Fn>
void changeList(Fn change) {
  sigset_t block, old;
  sigemptyset(&block);
  for (int s : kCleanupSignals) sigaddset(&block, s);
  sigprocmask(SIG_BLOCK, &block, &old);
  if (!state.handlersInstalled) {
    for (int s : kCleanupSignals) {
      struct sigaction current {};
      sigaction(s, nullptr, &current);
      if (current.sa_handler != SIG_DFL) continue;  // ignored or handled by someone else
      struct sigaction action {};
      action.sa_handler = removeTemporaries;
      sigemptyset(&action.sa_mask);
      sigaction(s, &action, nullptr);
    }
    state.handlersInstalled = true;
  }
  change();
  sigprocmask(SIG_SETMASK, &old, nullptr);
}

std::string describeErrno(int error) { return std::strerror(error); }

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
      throw Error(name_ + ": cannot write: " + describeErrno(error));
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  used_ = 0;
}

void Output::flush() { drain(); }

// ---------------------------------------------------------------------------
// Files written aside
// ---------------------------------------------------------------------------

OutputFile::OutputFile(const std::string& path) : Output(-1, path), target_(path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    std::error_code ec;
    fs::path real = fs::weakly_canonical(fs::absolute(path), ec);
    if (!ec) target_ = real.string();
  }
  bool replacing = stat(target_.c_str(), &st) == 0;
  if (replacing && S_ISDIR(st.st_mode)) throw Error(path + ": is a folder");
  if (replacing && !S_ISREG(st.st_mode)) {
    // A device, pipe or socket (/dev/null, /dev/stdout) cannot be replaced:
    // it is written in place.
    fd_ = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd_ < 0) throw Error(path + ": cannot open: " + describeErrno(errno));
    return;
  }

  fs::path target(target_);
  fs::path folder = target.parent_path();
  // Built piece by piece: GCC 12 warns falsely about "." + string.
  std::string stem = ".";
  stem += target.filename().string();
  stem += ".tmp" + std::to_string(getpid()) + ".";
  int error = 0;
  changeList([&] {
    for (;;) {
      std::string name = (folder / (stem + std::to_string(state.counter++))).string();
      fd_ = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd_ >= 0) {
        temporary_ = name;
        state.temporaries.insert(name);
        return;
      }
      if (errno != EEXIST) {
        error = errno;
        return;
      }
    }
  });
  if (fd_ < 0) throw Error(path + ": cannot create: " + describeErrno(error));
  if (replacing) fchmod(fd_, st.st_mode & 07777);
}

OutputFile::~OutputFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!temporary_.empty())
    changeList([&] {
      unlink(temporary_.c_str());
      state.temporaries.erase(temporary_);
    });
}

void OutputFile::close() {
  if (fd_ < 0) return;
  flush();
  releaseBuffer();
  int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) throw Error(name() + ": cannot write: " + describeErrno(errno));
}

void OutputFile::commit() {
  close();
  if (temporary_.empty()) return;
  int error = 0;
  changeList([&] {
    if (std::rename(temporary_.c_str(), target_.c_str()) != 0) {
      error = errno;
      return;
    }
    state.temporaries.erase(temporary_);
    temporary_.clear();
  });
  if (error)
    throw Error(name() + ": cannot rename the finished file into place: " + describeErrno(error));
}

}  // namespace tavo::formats
