// movieFile.cpp - the movie file (one text frame per recorded step) and the
// population table: the frame reader the viewer calls once per displayed
// frame, and the two writers a simulator calls once per recorded step.
//
// Both directions are hot paths, so neither goes through fscanf/fprintf: the
// reader scans a module-owned buffer filled with pread(), the writers format
// into a module-owned buffer and hand it to fwrite() in large pieces. The
// results are those of "%s", "%d", "%lf" and "%E": every coordinate read
// equals strtod() of its text, every coordinate written is byte for byte what
// printf("%E") prints.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>

#include "datastore/dataFetcher.h"
#include "textio/inputReader.h"
#include "datastore/storeState.h"

namespace {

using tavo::detail::formatText;

constexpr std::size_t kChunk = std::size_t{1} << 20;  // bytes per read or write call
constexpr std::size_t kMaxNumberText = 1024;          // longest number text accepted
constexpr std::size_t kWordCapacity = 16;             // longer than any keyword, NUL included
constexpr std::size_t kPad = 16;                      // readable bytes past the reader window

// The reusable buffers: allocated on first use, then kept, so that reading
// or writing a frame allocates nothing once warmed up.
struct MovieBuffers {
  std::vector<char> in;   // reader window: kChunk bytes plus room for one token
  std::vector<char> out;  // writer staging area: kChunk bytes plus one entry
} g_buffers;

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool isDigit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// v with its sign bit set when `negative`. The sign of a coordinate is as
// random as the position, so a branch on it would be mispredicted for every
// other number; that costs more than the rest of the conversion.
double withSign(double v, bool negative) {
  return std::bit_cast<double>(std::bit_cast<std::uint64_t>(v) | (std::uint64_t{negative} << 63));
}

// Steps over a leading '+' or '-' at p, without a branch (see withSign);
// `negative` tells which.
char* afterSign(char* p, bool& negative) {
  negative = *p == '-';
  return p + (static_cast<int>(negative) | static_cast<int>(*p == '+'));
}

// The value of the eight decimal digits at s (s[0] most significant), or -1
// when any of them is not a digit. The bytes are checked and combined as one
// word, pairwise, in three multiplications; the word holds s[0] in its
// lowest byte whatever the machine's byte order.
long eightDigits(const char* s) {
  std::uint64_t w = 0;
  std::memcpy(&w, s, 8);
  if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
  std::uint64_t d = w - 0x3030303030303030ULL;
  // A byte below '0' borrows into bit 7 of d; a byte above '9' carries into
  // bit 7 of w + 0x46. Bytes of 0x80 and above have bit 7 set in w itself.
  if ((d | (w + 0x4646464646464646ULL) | w) & 0x8080808080808080ULL) return -1;
  d = (d * 10 + (d >> 8)) & 0x00FF00FF00FF00FFULL;
  d = (d * 100 + (d >> 16)) & 0x0000FFFF0000FFFFULL;
  return static_cast<long>((d * 10000 + (d >> 32)) & 0xFFFFFFFFULL);
}

// Powers of ten that are exact doubles.
constexpr double kExactPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                  1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                  1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// ---------------------------------------------------------------------------
// Reading
// ---------------------------------------------------------------------------

enum class Scan { ok, end, malformed, outOfRange, tooLong };

// Closes a descriptor on every way out, including a throwing error handler.
struct Descriptor {
  int fd;
  explicit Descriptor(int f) : fd(f) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

// Whitespace-separated tokens of a file from a byte offset on, through the
// module's read buffer. A token is always seen whole: before one is scanned
// the window holds at least kMaxNumberText + 1 bytes or reaches the end of
// the file, so the scanning loops need no refills of their own.
class TokenReader {
 public:
  TokenReader(int fd, long long offset, const char* path) : fd_(fd), next_(offset), path_(path) {
    std::vector<char>& b = g_buffers.in;
    // The kPad bytes past the window let the coordinate loop look at the
    // byte at end_ without a bounds test; they are never taken as file data.
    constexpr std::size_t window = kChunk + kMaxNumberText + 1;
    if (b.size() < window + kPad) b.resize(window + kPad);
    base_ = b.data();
    cap_ = window;
    p_ = end_ = base_;
  }

  // File offset of the first byte not consumed yet.
  long long offset() const { return next_ - static_cast<long long>(end_ - p_); }

  // Skips white space and makes the next token visible whole; false at the
  // end of the file.
  bool startToken() {
    for (;;) {
      while (p_ < end_ && isSpace(*p_)) ++p_;
      if (p_ < end_) {
        if (static_cast<std::size_t>(end_ - p_) <= kMaxNumberText && !eof_) {
          refill();
          continue;  // the refill may have brought only more white space
        }
        return true;
      }
      if (eof_ || !refill()) return false;
    }
  }

  // "%s" with a bound: the whole word is consumed, at most cap - 1 chars
  // are kept. A word holding a NUL byte is malformed: it is no keyword.
  Scan readWord(char* out, std::size_t cap) {
    out[0] = '\0';
    if (!startToken()) return Scan::end;
    std::size_t n = 0;
    bool tooLong = false, hasNul = false;
    for (;;) {
      while (p_ < end_ && !isSpace(*p_)) {
        if (*p_ == '\0') hasNul = true;
        if (n + 1 < cap)
          out[n++] = *p_;
        else
          tooLong = true;
        ++p_;
      }
      if (p_ < end_ || eof_ || !refill()) break;
    }
    out[n] = '\0';
    if (tooLong) return Scan::tooLong;
    return hasNul ? Scan::malformed : Scan::ok;
  }

  // "%d": optional sign and decimal digits, ending the token.
  Scan readInt(int& out) {
    if (!startToken()) return Scan::end;
    char* q = p_;
    bool negative = false;
    if (*q == '+' || *q == '-') negative = *q++ == '-';
    long long value = 0;
    const char* digits = q;
    while (q < end_ && isDigit(*q)) {
      if (value <= 2147483648LL) value = value * 10 + (*q - '0');
      ++q;
    }
    if (q == digits || !endsToken(q)) return Scan::malformed;
    if (negative) value = -value;
    if (value < -2147483648LL || value > 2147483647LL) return Scan::outOfRange;
    out = static_cast<int>(value);
    p_ = q;
    return Scan::ok;
  }

  // "%lf": a real exactly as strtod converts it. The token must be a number
  // as a whole ("1.5.3" is not two numbers).
  Scan readReal(double& out) {
    if (!startToken()) return Scan::end;
    bool negative = false;
    char* q = afterSign(p_, negative);
    if (char* next = readWriterForm(q, negative, out)) {
      p_ = next;
      return Scan::ok;
    }
    // Plain decimal form: digits, point, digits, exponent. Up to 19 digits
    // fit the mantissa without loss.
    std::uint64_t mantissa = 0;
    int digits = 0, fraction = 0;
    while (q < end_ && isDigit(*q)) {
      mantissa = mantissa * 10 + static_cast<unsigned>(*q++ - '0');
      ++digits;
    }
    if (q < end_ && *q == '.') {
      ++q;
      while (q < end_ && isDigit(*q)) {
        mantissa = mantissa * 10 + static_cast<unsigned>(*q++ - '0');
        ++digits;
        ++fraction;
      }
    }
    if (digits == 0) return readRealSlow(out);  // inf, nan, hex, or no number
    long exponent = 0;
    if (q < end_ && (*q == 'e' || *q == 'E')) {
      char* e = q + 1;
      bool negExp = false;
      if (e < end_ && (*e == '+' || *e == '-')) negExp = *e++ == '-';
      if (e == end_ || !isDigit(*e)) return readRealSlow(out);
      while (e < end_ && isDigit(*e)) {
        if (exponent < 100000) exponent = exponent * 10 + (*e - '0');
        ++e;
      }
      exponent = negExp ? -exponent : exponent;
      q = e;
    }
    if (!endsToken(q)) return readRealSlow(out);
    // Exact fast path: the mantissa and the power of ten are both exact
    // doubles, so one multiplication or division rounds once, exactly as a
    // correctly rounded conversion does.
    long scale = exponent - fraction;
    if (digits <= 19 && mantissa <= (std::uint64_t{1} << 53) && scale >= -22 && scale <= 22) {
      double v = static_cast<double>(mantissa);
      v = scale < 0 ? v / kExactPow10[-scale] : v * kExactPow10[scale];
      out = withSign(v, negative);
      p_ = q;
      return Scan::ok;
    }
    // Any other decimal: from_chars is exact too; it takes no '+', and it
    // reports overflow and underflow, which strtod resolves to inf or to a
    // subnormal or zero.
    const char* first = (*p_ == '+') ? p_ + 1 : p_;
    double v = 0.0;
    std::from_chars_result r = std::from_chars(first, q, v, std::chars_format::general);
    if (r.ec != std::errc() || r.ptr != q) return readRealSlow(out);
    out = v;
    p_ = q;
    return Scan::ok;
  }

  // The hot loop of a frame: reads coordinates of molecules [k, n) of pos,
  // from axis `axis` of molecule k on, for as long as they are in the
  // writer's form and whole in the window. It stops at the first one it
  // cannot take (another form, the end of the window or of the data), with
  // k and axis naming it; the caller reads that one with readReal(), which
  // also refills the window, and calls again.
  void readWriterRun(tavo::detail::Position* pos, int n, int& k, int& axis) {
    char* p = p_;
    char* done = p_;  // end of the last number taken
    int i = k, a = axis;
    for (; i < n; ++i, a = 0) {
      for (; a < 3; ++a) {
        while (p < end_ && isSpace(*p)) ++p;
        // At p == end_ this reads the window's padding; the form check then
        // fails on the length.
        bool negative = false;
        char* s = afterSign(p, negative);
        char* next = readWriterForm(s, negative, pos[i][static_cast<std::size_t>(a)]);
        if (next == nullptr) {
          p_ = p;
          k = i;
          axis = a;
          return;
        }
        done = next;
        p = next + 1;  // the blank after it is checked already
      }
    }
    p_ = done;  // the frame's end is right after its last number, as with fscanf
    k = n;
    axis = 0;
  }

  // The next token (up to 40 printable chars), for messages; consumes nothing.
  std::string peek() {
    if (!startToken()) return "the end of the file";
    std::string t = "'";
    char* q = p_;
    while (q < end_ && !isSpace(*q) && t.size() < 41) {
      unsigned char c = static_cast<unsigned char>(*q++);
      t.push_back(c >= 32 && c < 127 ? static_cast<char>(c) : '?');
    }
    if (q < end_ && !isSpace(*q)) t += "...";
    return t + "'";
  }

 private:
  bool endsToken(const char* q) const { return q < end_ ? isSpace(*q) : eof_; }

  // The writer's own form "d.ddddddE+dd" (sign already taken, two exponent
  // digits, white space after it), read at fixed offsets. Seven digits and
  // a power of ten up to 1e22 are exact doubles, so the one division or
  // multiplication rounds exactly as strtod does.
  //
  // The digits are read as one word, "d.dddddd" with the point replaced by
  // '0': its value is d*10^7 + dddddd, from which the mantissa d*10^6 +
  // dddddd follows. Returns the end of the number, or null (nothing
  // stored) when the text is not in this form.
  char* readWriterForm(char* s, bool negative, double& out) const {
    if (end_ - s < 13 || s[1] != '.' || s[8] != 'E' || !isSpace(s[12])) return nullptr;
    if ((s[9] != '-' && s[9] != '+') || !isDigit(s[10]) || !isDigit(s[11])) return nullptr;
    char digits[8];
    std::memcpy(digits, s, 8);
    digits[1] = '0';
    long withPoint = eightDigits(digits);
    if (withPoint < 0) return nullptr;
    long mantissa = withPoint - 9000000L * (s[0] - '0');
    int exponent = (s[10] - '0') * 10 + (s[11] - '0');
    int scale = (s[9] == '-' ? -exponent : exponent) - 6;
    if (scale < -22 || scale > 22) return nullptr;
    double v = static_cast<double>(mantissa);
    v = scale < 0 ? v / kExactPow10[-scale] : v * kExactPow10[scale];
    out = withSign(v, negative);
    return s + 12;
  }

  // Any form strtod accepts (signs, inf, nan, hexadecimal), taken only when
  // it covers the whole token.
  Scan readRealSlow(double& out) {
    char text[kMaxNumberText + 1];
    std::size_t n = 0;
    while (p_ + n < end_ && !isSpace(p_[n]) && n < kMaxNumberText) {
      text[n] = p_[n];
      ++n;
    }
    if (n == kMaxNumberText && !endsToken(p_ + n)) return Scan::tooLong;
    text[n] = '\0';
    char* stop = nullptr;
    double v = std::strtod(text, &stop);
    if (stop == text || static_cast<std::size_t>(stop - text) != n) return Scan::malformed;
    out = v;
    p_ += n;
    return Scan::ok;
  }

  // Keeps the unread bytes, appends what the file has next; false when
  // nothing was added.
  bool refill() {
    std::size_t keep = static_cast<std::size_t>(end_ - p_);
    if (p_ != base_) std::memmove(base_, p_, keep);
    p_ = base_;
    end_ = base_ + keep;
    std::size_t room = cap_ - keep;
    for (;;) {
      ssize_t got = ::pread(fd_, end_, room, static_cast<off_t>(next_));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0)
        errorOut(
            formatText("cannot read movie file! (%s: %s)", path_, std::strerror(errno)).c_str());
      if (got == 0) {
        eof_ = true;
        return false;
      }
      end_ += got;
      next_ += got;
      return true;
    }
  }

  int fd_;
  long long next_;  // file offset of the byte after end_
  const char* path_;
  char* base_ = nullptr;
  std::size_t cap_ = 0;
  char* p_ = nullptr;    // first unread byte
  char* end_ = nullptr;  // end of the bytes read
  bool eof_ = false;
};

// Where a coordinate was expected, for messages.
[[noreturn]] void badCoordinate(TokenReader& in, Scan status, int step, int s, int k, int axis) {
  static const char* const kAxis[] = {"x", "y", "z"};
  std::string found = in.peek();
  if (status == Scan::end)
    errorOut(formatText("movie format incorrect: the frame of step %d ends inside the coordinates "
                        "of specie %d (molecule %d, %s expected, found the end of the file)",
                        step, s, k, kAxis[axis])
                 .c_str());
  if (status == Scan::tooLong) found = "a number longer than 1024 characters";
  errorOut(formatText("movie format incorrect: coordinate %s of molecule %d of specie %d in the "
                      "frame of step %d is not a number (found %s)",
                      kAxis[axis], k, s, step, found.c_str())
               .c_str());
}

// Marks slots 0..n-1 of species s alive and the rest dead at the origin.
void publishSpecies(tavo::detail::Store& g, std::size_t s, int n) {
  std::vector<std::uint8_t>& flags = g.mol_alive[s];
  std::vector<tavo::detail::Position>& pos = g.mol_pos[s];
  std::size_t live = static_cast<std::size_t>(n);
  std::fill(flags.begin(), flags.begin() + static_cast<std::ptrdiff_t>(live), std::uint8_t{1});
  std::fill(flags.begin() + static_cast<std::ptrdiff_t>(live), flags.end(), std::uint8_t{0});
  std::fill(pos.begin() + static_cast<std::ptrdiff_t>(live), pos.end(),
            tavo::detail::Position{0.0, 0.0, 0.0});
  g.mol_totalAlive[s] = n;
}

// ---------------------------------------------------------------------------
// Writing
// ---------------------------------------------------------------------------

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// Appends to a file through the module's write buffer; every failure (cannot
// open, short write, full disk, failed close) ends in errorOut().
class Appender {
 public:
  Appender(const char* path, const char* operation, const char* what)
      : path_(path ? path : ""), operation_(operation), what_(what) {
    std::vector<char>& b = g_buffers.out;
    if (b.size() < kChunk + kSlack) b.resize(kChunk + kSlack);
    buf_ = b.data();
    file_.reset(path ? std::fopen(path, "a") : nullptr);
    if (!file_)
      errorOut(formatText("(%s) cannot open %s '%s' for appending: %s", operation_, what_, path_,
                          std::strerror(errno))
                   .c_str());
    // The buffer here is large; stdio's own would only add a copy.
    std::setvbuf(file_.get(), nullptr, _IONBF, 0);
  }

  // Room for one more entry of up to kSlack bytes.
  char* room() {
    if (len_ >= kChunk) flush();
    return buf_ + len_;
  }
  void advance(char* to) { len_ = static_cast<std::size_t>(to - buf_); }
  void text(const char* s) {
    std::size_t n = std::strlen(s);
    while (n > 0) {
      std::size_t part = std::min(n, kSlack);
      char* p = room();
      std::memcpy(p, s, part);
      advance(p + part);
      s += part;
      n -= part;
    }
  }
  void integer(int v, char after) {
    char* p = room();
    p = std::to_chars(p, p + 16, v).ptr;
    *p++ = after;
    advance(p);
  }

  // Writes what is left and closes; a failure of either is reported.
  void finish() {
    flush();
    std::FILE* f = file_.release();
    if (std::fclose(f) != 0) fail();
  }

  static constexpr std::size_t kSlack = 256;  // largest single entry

 private:
  void flush() {
    if (len_ > 0 && std::fwrite(buf_, 1, len_, file_.get()) != len_) fail();
    len_ = 0;
  }
  [[noreturn]] void fail() {
    int err = errno;
    len_ = 0;
    errorOut(formatText("(%s) cannot write %s '%s': %s", operation_, what_, path_,
                        err ? std::strerror(err) : "write error")
                 .c_str());
  }

  std::unique_ptr<std::FILE, FileCloser> file_;
  const char* path_;
  const char* operation_;
  const char* what_;
  char* buf_ = nullptr;
  std::size_t len_ = 0;
};

// printf("%E ") of v at p; returns the end. to_chars is correctly rounded
// like glibc's printf; only the letters differ in case.
char* putScientific(char* p, double v) {
  char* start = p;
  p = std::to_chars(p, p + 64, v, std::chars_format::scientific, 6).ptr;
  if (std::isfinite(v)) {
    start[std::signbit(v) ? 9 : 8] = 'E';  // "-d.dddddde+XX": the 'e' is fixed
  } else {
    for (char* c = start; c < p; ++c)
      if (*c >= 'a' && *c <= 'z') *c = static_cast<char>(*c - 'a' + 'A');
  }
  *p++ = ' ';
  return p;
}

}  // namespace

// ---------------------------------------------------------------------------
// Public operations
// ---------------------------------------------------------------------------

void readMovie_fromFile(const char* path, long long* position) {
  tavo::detail::Store& g = tavo::detail::store();
  if (!g.data_init_success)
    errorOut("initDataStructure_fromFile required before calling readMovie_fromFile");
  if (position == nullptr) errorOut("(readMovie_fromFile) no file position given");
  if (*position < 0)
    errorOut(
        formatText("(readMovie_fromFile) movie file position %lld is negative", *position).c_str());
  Descriptor file(path ? ::open(path, O_RDONLY | O_CLOEXEC) : -1);
  if (file.fd < 0) errorOut("cannot read movie file!");
  TokenReader in(file.fd, *position, path);

  char word[kWordCapacity];
  if (in.readWord(word, sizeof word) != Scan::ok || std::strcmp(word, "step") != 0)
    errorOut("movie format incorrect!");
  int step = 0;
  Scan st = in.readInt(step);
  if (st != Scan::ok)
    errorOut(formatText("movie format incorrect: the step number is not an integer (found %s)",
                        in.peek().c_str())
                 .c_str());

  for (int i = 0; i < g.N_species; ++i) {
    std::size_t s = static_cast<std::size_t>(i);
    int id = -1;
    if (in.readWord(word, sizeof word) != Scan::ok || std::strcmp(word, "specie") != 0 ||
        in.readInt(id) != Scan::ok || id != i)
      errorOut("movie format incorrect or specie ID overflow");
    if (in.readWord(word, sizeof word) != Scan::ok || std::strcmp(word, "alive") != 0)
      errorOut("movie format incorrect or alive>total for a specie");
    int n = 0;
    st = in.readInt(n);
    if (st == Scan::outOfRange || (st == Scan::ok && n > g.mol_total[s]))
      errorOut("movie format incorrect or alive>total for a specie");
    if (st != Scan::ok)
      errorOut(formatText("movie format incorrect: the alive count of specie %d is not an "
                          "integer (found %s)",
                          i, in.peek().c_str())
                   .c_str());
    if (n < 0)
      errorOut(formatText("movie format incorrect: negative alive count %d for specie %d", n, i)
                   .c_str());
    // Coordinates go straight into the store's rows; the flags and the
    // count follow once the species is complete, so they always agree.
    tavo::detail::Position* pos = g.mol_pos[s].data();
    int k = 0, axis = 0;
    for (;;) {
      in.readWriterRun(pos, n, k, axis);
      if (k == n) break;
      st = in.readReal(pos[k][static_cast<std::size_t>(axis)]);
      if (st != Scan::ok) badCoordinate(in, st, step, i, k, axis);
      if (++axis == 3) {
        axis = 0;
        ++k;
      }
    }
    publishSpecies(g, s, n);
  }
  g.current_step = step;
  *position = in.offset();
}

void createMovie_toFile(const char* path, int step) {
  tavo::detail::Store& g = tavo::detail::store();
  Appender out(path, "createMovie_toFile", "movie file");
  out.text("step ");
  out.integer(step, '\n');
  for (int i = 0; i < g.N_species; ++i) {
    std::size_t s = static_cast<std::size_t>(i);
    out.text("specie ");
    out.integer(i, '\n');
    out.text("alive ");
    out.integer(g.mol_totalAlive[s], '\n');
    const std::uint8_t* flags = g.mol_alive[s].data();
    const tavo::detail::Position* pos = g.mol_pos[s].data();
    std::size_t slots = g.mol_alive[s].size();
    for (std::size_t j = 0; j < slots; ++j) {
      if (!flags[j]) continue;
      char* p = out.room();
      p = putScientific(p, pos[j][0]);
      p = putScientific(p, pos[j][1]);
      p = putScientific(p, pos[j][2]);
      out.advance(p);
    }
    out.text("\n");
  }
  out.finish();
}

void createData_toFile(const char* path, int step) {
  tavo::detail::Store& g = tavo::detail::store();
  Appender out(path, "createData_toFile", "population file");
  if (step == 0) {
    out.text("step:\t");
    for (int i = 0; i < g.N_species; ++i) {
      out.text(g.mol_name[static_cast<std::size_t>(i)].data());
      out.text("\t");
    }
    out.text("\n");
  }
  out.integer(step, '\t');
  for (int i = 0; i < g.N_species; ++i)
    out.integer(g.mol_totalAlive[static_cast<std::size_t>(i)], '\t');
  out.text("\n");
  out.finish();
}
