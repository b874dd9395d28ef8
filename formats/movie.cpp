// movie.cpp - the movie frame parser: token input, number conversion,
// the frame's grammar, and its two uses (reading a frame, scanning one for
// an index).
//
// Reading is a hot path, so it does not go through fscanf: it scans a
// window filled with pread(). The results are those of "%s", "%d" and "%lf":
// every coordinate read equals strtod() of its text.
#include "formats/movie.h"

#include <unistd.h>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <atomic>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>
#include <utility>

#include "formats/compressed.h"
#include "formats/textReader.h"

namespace tavo::detail {

namespace {

constexpr std::size_t kReadBytes = configuredReadBytes(std::size_t{1} << 20);

constexpr std::size_t kWordCapacity = 16;  // longer than any keyword, NUL included
constexpr std::size_t kPad = 16;           // readable bytes past the window

using Scan = MovieInput::Scan;

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

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
// findLineEndOrS with AVX2: one pass for both bytes, 64 at a time.
__attribute__((target("avx2"))) char* lineEndOrSWide(char* p, char* end) {
  const __m256i nl = _mm256_set1_epi8('\n'), s = _mm256_set1_epi8('s');
  for (; end - p >= 64; p += 64) {
    __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
    __m256i hits =
        _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi8(a, nl), _mm256_cmpeq_epi8(a, s)),
                        _mm256_or_si256(_mm256_cmpeq_epi8(b, nl), _mm256_cmpeq_epi8(b, s)));
    if (!_mm256_testz_si256(hits, hits)) break;
  }
  while (p < end && *p != '\n' && *p != 's') ++p;
  return p;
}
#endif

// The writer's own form "d.ddddddE+dd" (sign already taken, two exponent
// digits, white space after it), read at fixed offsets. Seven digits and a
// power of ten up to 1e22 are exact doubles, so the one division or
// multiplication rounds exactly as strtod does.
//
// The digits are read as one word, "d.dddddd" with the point replaced by
// '0': its value is d*10^7 + dddddd, from which the mantissa d*10^6 + dddddd
// follows. Returns the end of the number, or null (nothing stored) when the
// text is not in this form.
inline char* writerForm(char* s, const char* end, bool negative, double& out) {
  if (end - s < 13 || s[1] != '.' || s[8] != 'E' || !isSpace(s[12])) return nullptr;
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

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TAVO_WIDE_FORM 1
// The same form read as one 16-byte vector: each byte checked against its
// place (digit, '.', 'E', exponent sign, blank), the seven mantissa digits
// and the two exponent digits gathered and combined pairwise in four
// multiply-adds. Null where the scalar form must decide: any other text, or
// a blank other than ' ' after the number. s[13..15] are read but not
// looked at (the window has padding past its end).
__attribute__((target("ssse3"))) inline char* writerFormWide(char* s, const char* end,
                                                             bool negative, double& out) {
  if (end - s < 13) return nullptr;
  const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
  const __m128i t = _mm_sub_epi8(x, _mm_set1_epi8('0'));
  const __m128i digit = _mm_cmpeq_epi8(_mm_min_epu8(t, _mm_set1_epi8(9)), t);
  const __m128i marks =
      _mm_cmpeq_epi8(x, _mm_setr_epi8(0, '.', 0, 0, 0, 0, 0, 0, 'E', '-', 0, 0, ' ', 0, 0, 0));
  const __m128i plus = _mm_cmpeq_epi8(x, _mm_set1_epi8('+'));
  const unsigned digitLanes = static_cast<unsigned>(_mm_movemask_epi8(digit));
  const unsigned markLanes = static_cast<unsigned>(_mm_movemask_epi8(marks));
  const unsigned plusLanes = static_cast<unsigned>(_mm_movemask_epi8(plus));
  // Digits at 0, 2-7, 10 and 11; '.', 'E', '-' and ' ' at 1, 8, 9 and 12; or '+' at 9.
  if (((digitLanes & 0x0CFDu) | (markLanes & 0x1302u) | (plusLanes & 0x0200u)) != 0x1FFFu)
    return nullptr;
  // [0 d0 d2 .. d7] and [0 0 0 0 0 0 d10 d11]: the mantissa and the exponent.
  const __m128i d = _mm_shuffle_epi8(
      t, _mm_setr_epi8(-128, 0, 2, 3, 4, 5, 6, 7, -128, -128, -128, -128, -128, -128, 10, 11));
  const __m128i pairs = _mm_maddubs_epi16(d, _mm_set1_epi16(0x010A));       // 10, 1 per byte pair
  const __m128i fours = _mm_madd_epi16(pairs, _mm_set1_epi32(0x00010064));  // 100, 1
  const __m128i eights = _mm_madd_epi16(_mm_packs_epi32(fours, fours),
                                        _mm_set1_epi32(0x00012710));  // 10000, 1
  const int mantissa = _mm_cvtsi128_si32(eights);
  const int exponent = _mm_cvtsi128_si32(_mm_srli_si128(eights, 4));
  const int scale = ((markLanes & 0x0200u) != 0 ? -exponent : exponent) - 6;
  if (scale < -22 || scale > 22) return nullptr;
  double v = static_cast<double>(mantissa);
  v = scale < 0 ? v / kExactPow10[-scale] : v * kExactPow10[scale];
  out = withSign(v, negative);
  return s + 12;
}
#endif

// The writer's form by the widest way the build has; `kWide` only where the
// caller is compiled for it.
template <bool kWide>
[[gnu::always_inline]] inline char* writerFormAny(char* s, const char* end, bool negative,
                                                  double& out) {
#ifdef TAVO_WIDE_FORM
  if constexpr (kWide) {
    if (char* next = writerFormWide(s, end, negative, out)) return next;
  }
#endif
  return writerForm(s, end, negative, out);
}

// Whether the processor runs the wide form, and whether it is used: where
// the processor runs it, unless turned off.
bool processorHasWideForm() {
#ifdef TAVO_WIDE_FORM
  return __builtin_cpu_supports("ssse3") != 0;
#else
  return false;
#endif
}
std::atomic<bool>& wideForm() {
  static std::atomic<bool> on{processorHasWideForm()};
  return on;
}
bool haveWideForm() { return wideForm().load(std::memory_order_relaxed); }

const char* axisName(int axis) {
  static const char* const kAxis[] = {"x", "y", "z"};
  return axis >= 0 && axis < 3 ? kAxis[axis] : "?";
}

// The movie reader's own messages, kept word for word.
std::string readerMessage(const FrameFaultInfo& f) {
  const char* found = f.found.c_str();
  switch (f.fault) {
    case FrameFault::io:
      return formatText("cannot read movie file! (%s: %s)", f.path.c_str(),
                        std::strerror(f.errorNumber));
    case FrameFault::stepWord:
      return "movie format incorrect!";
    case FrameFault::stepNumber:
      return formatText("movie format incorrect: the step number is not an integer (found %s)",
                        found);
    case FrameFault::specie:
      return "movie format incorrect or specie ID overflow";
    case FrameFault::aliveWord:
    case FrameFault::aliveTooMany:
      return "movie format incorrect or alive>total for a specie";
    case FrameFault::aliveCount:
      return formatText(
          "movie format incorrect: the alive count of specie %d is not an integer (found %s)",
          f.species, found);
    case FrameFault::aliveNegative:
      return formatText("movie format incorrect: negative alive count %lld for specie %d", f.count,
                        f.species);
    case FrameFault::coordinateEnd:
      return formatText(
          "movie format incorrect: the frame of step %d ends inside the coordinates of specie %d "
          "(molecule %d, %s expected, found the end of the file)",
          f.step, f.species, f.molecule, axisName(f.axis));
    case FrameFault::coordinate:
    case FrameFault::coordinateTooLong:
      return formatText(
          "movie format incorrect: coordinate %s of molecule %d of specie %d in the frame of "
          "step %d is not a number (found %s)",
          axisName(f.axis), f.molecule, f.species, f.step,
          f.fault == FrameFault::coordinate ? found : "a number longer than 1024 characters");
    case FrameFault::cut:
      return formatText("movie format incorrect: the frame of step %d is cut short", f.step);
  }
  return "movie format incorrect!";
}

}  // namespace

std::size_t movieReadBytes() { return kReadBytes; }

bool useWideNumbers(bool on) { return wideForm().exchange(on && processorHasWideForm()); }

// ---------------------------------------------------------------------------
// Faults
// ---------------------------------------------------------------------------

FrameError::FrameError(FrameFaultInfo info) : Error(readerMessage(info)), info_(std::move(info)) {}

std::string FrameError::description() const {
  const FrameFaultInfo& f = info_;
  const char* found = f.found.c_str();
  switch (f.fault) {
    case FrameFault::io:
      return formatText("cannot read the file (%s)", std::strerror(f.errorNumber));
    case FrameFault::stepWord:
      return formatText("'step' expected, found %s", found);
    case FrameFault::stepNumber:
      return formatText("the step number is not an integer (found %s)", found);
    case FrameFault::specie:
      return formatText("'specie %d' expected, found %s%s", f.species,
                        f.idAtFault ? "'specie' followed by " : "", found);
    case FrameFault::aliveWord:
      return formatText("'alive' expected in the block of specie %d, found %s", f.species, found);
    case FrameFault::aliveCount:
      return formatText("the alive count of specie %d is not an integer (found %s)", f.species,
                        found);
    case FrameFault::aliveTooMany:
      return formatText("alive count %s of specie %d exceeds its %d slots", found, f.species,
                        f.slots);
    case FrameFault::aliveNegative:
      return formatText("negative alive count %lld for specie %d", f.count, f.species);
    case FrameFault::coordinateEnd:
      return formatText(
          "the file ends inside the coordinates of specie %d (molecule %d, %s expected)", f.species,
          f.molecule, axisName(f.axis));
    case FrameFault::coordinate:
    case FrameFault::coordinateTooLong:
      return formatText(
          "coordinate %s of molecule %d of specie %d is not a number (found %s)", axisName(f.axis),
          f.molecule, f.species,
          f.fault == FrameFault::coordinate ? found : "a number longer than 1024 characters");
    case FrameFault::cut:
      return "the frame's last number runs into the end of the file";
  }
  return what();
}

// ---------------------------------------------------------------------------
// Token input
// ---------------------------------------------------------------------------

MovieInput::MovieInput(int fd, std::int64_t offset, std::vector<char>& buffer, const char* path)
    : fd_(fd), next_(offset), path_(path ? path : "") {
  // The kPad bytes past the window let the coordinate loop look at the byte
  // at end_ without a bounds test; they are never taken as file data.
  const std::size_t window = kReadBytes + kMaxNumberText + 1;
  if (buffer.size() < window + kPad) buffer.resize(window + kPad);
  base_ = buffer.data();
  cap_ = window;
  p_ = end_ = base_;
}

MovieInput::MovieInput(formats::ByteSource& source, std::int64_t offset, std::vector<char>& buffer)
    : MovieInput(-1, offset, buffer, source.path().c_str()) {
  source_ = &source;
  // A source that reads best in larger pieces (whole compressed blocks)
  // gets a window of up to four times the usual size.
  const std::size_t wanted = std::min(source.readBytesHint(), 4 * kReadBytes);
  if (wanted > kReadBytes) {
    const std::size_t window = wanted + kMaxNumberText + 1;
    if (buffer.size() < window + kPad) buffer.resize(window + kPad);
    base_ = buffer.data();
    cap_ = window;
    p_ = end_ = base_;
  }
}

void MovieInput::seek(std::int64_t offset) {
  next_ = offset;
  p_ = end_ = base_;
  eof_ = false;
}

bool MovieInput::startToken() {
  for (;;) {
    if (lines_ == nullptr) {
      while (p_ < end_ && isSpace(*p_)) ++p_;
    } else {
      for (; p_ < end_ && isSpace(*p_); ++p_) *lines_ += *p_ == '\n';
    }
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

Scan MovieInput::readWord(char* out, std::size_t cap) {
  out[0] = '\0';
  if (!startToken()) return Scan::end;
  std::size_t n = 0, seen = 0;
  bool tooLong = false, hasNul = false;
  for (;;) {
    while (p_ < end_ && !isSpace(*p_)) {
      if (*p_ == '\0') hasNul = true;
      if (n + 1 < cap)
        out[n++] = *p_;
      else
        tooLong = true;
      ++p_;
      // A word longer than any token the reader takes is no keyword; it is
      // not followed to its end, which an endless input never reaches.
      if (++seen > kMaxNumberText) {
        out[n] = '\0';
        return Scan::tooLong;
      }
    }
    if (p_ < end_ || eof_ || !refill()) break;
  }
  out[n] = '\0';
  if (tooLong) return Scan::tooLong;
  return hasNul ? Scan::malformed : Scan::ok;
}

Scan MovieInput::readInt(int& out) {
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
  // A token longer than kMaxNumberText is refused wherever it lies, whether
  // or not the window happens to hold it whole.
  if (q == digits || !endsToken(q) || static_cast<std::size_t>(q - p_) > kMaxNumberText)
    return Scan::malformed;
  if (negative) value = -value;
  if (value < -2147483648LL || value > 2147483647LL) return Scan::outOfRange;
  out = static_cast<int>(value);
  p_ = q;
  return Scan::ok;
}

Scan MovieInput::readReal(double& out) {
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
  // The same bound as for every other form: the verdict on a long number
  // must not depend on where the read window happens to end.
  if (static_cast<std::size_t>(q - p_) > kMaxNumberText) return Scan::tooLong;
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

namespace {

// The loop of readWriterRun from p, molecule i, axis a on. Returns where it
// stopped (the token it could not take), with i and a naming it, or null
// when all were taken; `done` is then the end of the last number.
template <bool kWide>
[[gnu::always_inline]] inline char* writerRunLoop(char* p, char* end, const char* limit,
                                                  double* out, int n, int& i, int& a, char*& done) {
  for (; i < n; ++i, a = 0) {
    double* row = out + 3 * static_cast<std::size_t>(i);
    for (; a < 3; ++a) {
      while (p < end && isSpace(*p)) ++p;
      if (p >= limit) return p;
      // At p == end this reads the window's padding; the form check then
      // fails on the length.
      bool negative = false;
      char* s = afterSign(p, negative);
      char* next = writerFormAny<kWide>(s, end, negative, row[a]);
      if (next == nullptr) return p;
      done = next;
      p = next + 1;  // the blank after it is checked already
    }
  }
  return nullptr;
}

char* writerRunNarrow(char* p, char* end, const char* limit, double* out, int n, int& i, int& a,
                      char*& done) {
  return writerRunLoop<false>(p, end, limit, out, n, i, a, done);
}

#ifdef TAVO_WIDE_FORM
__attribute__((target("ssse3"))) char* writerRunWide(char* p, char* end, const char* limit,
                                                     double* out, int n, int& i, int& a,
                                                     char*& done) {
  return writerRunLoop<true>(p, end, limit, out, n, i, a, done);
}
#endif

}  // namespace

// Reads coordinates of molecules [k, n) into out, from axis `axis` of
// molecule k on, for as long as they are in the writer's form and whole in
// the window. It stops at the first one it cannot take (another form, the
// end of the window or of the data), with k and axis naming it; the caller
// reads that one with readReal(), which also refills the window, and calls
// again.
void MovieInput::readWriterRun(double* out, int n, int& k, int& axis, std::int64_t limitAt) {
  // The limit as a place in the window (past its end when beyond it).
  const std::int64_t windowAt = next_ - (end_ - base_);
  const char* limit = limitAt < 0 || limitAt - windowAt > end_ - base_ ? end_ + 1
                      : limitAt <= windowAt                            ? base_
                                            : base_ + (limitAt - windowAt);
  int i = k, a = axis;
  char* done = p_;
#ifdef TAVO_WIDE_FORM
  char* stop = haveWideForm() ? writerRunWide(p_, end_, limit, out, n, i, a, done)
                              : writerRunNarrow(p_, end_, limit, out, n, i, a, done);
#else
  char* stop = writerRunNarrow(p_, end_, limit, out, n, i, a, done);
#endif
  if (stop != nullptr) {
    p_ = stop;
    k = i;
    axis = a;
    return;
  }
  p_ = done;  // the frame's end is right after its last number, as with fscanf
  k = n;
  axis = 0;
}

long long MovieInput::skipTokens(long long count) {
  for (long long j = 0; j < count; ++j) {
    if (!startToken()) return j;
    for (;;) {
      while (p_ < end_ && !isSpace(*p_)) ++p_;
      if (p_ < end_ || eof_ || !refill()) break;
    }
  }
  return count;
}

// The index scan spends most of its time here, after the copy out of the
// page cache: where the machine has AVX2 one pass looks for both bytes;
// elsewhere two memchr() passes do, which still run at memory speed.
char* findLineEndOrS(char* p, char* end, bool wide) {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
  static const bool kWide = __builtin_cpu_supports("avx2");
  if (wide && kWide) return lineEndOrSWide(p, end);
#endif
  (void)wide;
  auto* nl = static_cast<char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
  char* stop = nl != nullptr ? nl : end;
  auto* s = static_cast<char*>(std::memchr(p, 's', static_cast<std::size_t>(stop - p)));
  return s != nullptr ? s : stop;
}

MovieInput::Line MovieInput::skipLine() {
  for (;;) {
    char* hit = findLineEndOrS(p_, end_);
    if (hit < end_) {
      if (*hit == 's') return Line::keyword;
      p_ = hit + 1;
      if (lines_ != nullptr) ++*lines_;
      return Line::skipped;
    }
    p_ = end_;
    if (eof_ || !refill()) return Line::end;
  }
}

bool MovieInput::followedBySpace() {
  if (p_ == end_ && !eof_) refill();
  return p_ < end_ && isSpace(*p_);
}

bool MovieInput::nextIs(const char* word) {
  std::size_t n = std::strlen(word);
  if (static_cast<std::size_t>(end_ - p_) < n || std::memcmp(p_, word, n) != 0) return false;
  return p_ + n < end_ ? isSpace(p_[n]) : eof_;
}

std::string MovieInput::tokenAt(std::int64_t at, bool* reachesEnd) const {
  char text[kMaxNumberText + 2];
  std::size_t n = 0;
  try {
    n = fetch(at, text, sizeof text);
  } catch (const Error&) {
    n = 0;  // the message names the fault without the token
  }
  std::size_t len = 0;
  while (len < n && !isSpace(text[len])) ++len;
  // A token longer than any the reader takes can never become part of a
  // frame, however the file goes on: it is damage, not a frame still being
  // written, wherever it ends.
  if (reachesEnd != nullptr) *reachesEnd = len == n && len <= kMaxNumberText;
  if (len == 0) return "the end of the file";
  std::string t = "'";
  for (std::size_t i = 0; i < len && i < 40; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    t.push_back(c >= 32 && c < 127 ? static_cast<char>(c) : '?');
  }
  if (len > 40) t += "...";
  return t + "'";
}

// Bytes at `at` for a message, wherever the input takes them from.
std::size_t MovieInput::fetch(std::int64_t at, char* out, std::size_t n) const {
  if (source_ != nullptr) return source_->read(at, out, n);
  ssize_t got = -1;
  do {
    got = ::pread(fd_, out, n, static_cast<off_t>(at));
  } while (got < 0 && errno == EINTR);
  return got > 0 ? static_cast<std::size_t>(got) : 0;
}

bool MovieInput::endsToken(const char* q) const { return q < end_ ? isSpace(*q) : eof_; }

inline char* MovieInput::readWriterForm(char* s, bool negative, double& out) const {
  return writerForm(s, end_, negative, out);
}

// Any form strtod accepts (signs, inf, nan, hexadecimal), taken only when it
// covers the whole token.
Scan MovieInput::readRealSlow(double& out) {
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

// Keeps the unread bytes, appends what the file has next; false when nothing
// was added.
bool MovieInput::refill() {
  std::size_t keep = static_cast<std::size_t>(end_ - p_);
  if (p_ != base_) std::memmove(base_, p_, keep);
  p_ = base_;
  end_ = base_ + keep;
  std::size_t room = cap_ - keep;
  if (pause_ > next_) room = std::min(room, static_cast<std::size_t>(pause_ - next_));
  if (limitBytes_ >= 0 && next_ - limitFrom_ >= limitBytes_)
    throw Error(
        formatText("%s: no complete frame within the %lld bytes from byte %lld; it does "
                   "not read as a movie",
                   path_, static_cast<long long>(limitBytes_), static_cast<long long>(limitFrom_)));
  if (source_ != nullptr) {
    std::size_t got = 0;
    try {
      got = source_->read(next_, end_, room);
    } catch (const Error& e) {
      if (!soft_) throw;
      sourceError_ = e.what();
    }
    if (got == 0) {
      eof_ = true;
      return false;
    }
    end_ += got;
    next_ += static_cast<std::int64_t>(got);
    return true;
  }
  for (;;) {
    ssize_t got = ::pread(fd_, end_, room, static_cast<off_t>(next_));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      FrameFaultInfo f;
      f.fault = FrameFault::io;
      f.path = path_;
      f.errorNumber = errno;
      f.offset = next_;
      throw FrameError(std::move(f));
    }
    if (got == 0) {
      eof_ = true;
      return false;
    }
    end_ += got;
    next_ += got;
    return true;
  }
}

// ---------------------------------------------------------------------------
// Frames
// ---------------------------------------------------------------------------

namespace {

enum class Mode {
  read,        // convert every coordinate
  scanLines,   // skip each coordinate line whole; false where the layout does not allow it
  scanTokens,  // skip the coordinates token by token
};

// Throws the fault described by `where` at byte `at`. `atEnd`: the fault
// is the end of the data itself.
[[noreturn]] void fail(const MovieInput& in, FrameFaultInfo where, FrameFault fault,
                       std::int64_t at, bool atEnd) {
  where.fault = fault;
  where.path = in.path();
  where.offset = at;
  bool reachesEnd = false;
  where.found = in.tokenAt(at, &reachesEnd);
  where.atEnd = atEnd || reachesEnd;
  throw FrameError(std::move(where));
}

// The frame's grammar, with the checks and the order of the movie reader:
// "step" and its number, then for each species in turn "specie" with its
// ID, "alive" with its count, and 3 x count coordinates.
template <Mode mode>
bool frameGrammar(MovieInput& in, std::span<const int> slots, FrameSink* sink, int& stepOut,
                  int* counts, FrameSplit* split = nullptr) {
  constexpr bool kFast = mode == Mode::scanLines;
  FrameFaultInfo where;
  char word[kWordCapacity];
  auto tokenStart = [&in] {
    in.startToken();
    return in.offset();
  };

  // Reads the keyword `w`; where another token stands, false in the fast
  // mode and the fault otherwise.
  auto keyword = [&](const char* w, FrameFault fault) {
    std::int64_t at = tokenStart();
    Scan st = in.readWord(word, sizeof word);
    if (st == Scan::ok && std::strcmp(word, w) == 0) return true;
    if constexpr (kFast) return false;
    fail(in, where, fault, at, st == Scan::end);
  };

  if (!keyword("step", FrameFault::stepWord)) return false;
  int step = 0;
  std::int64_t at = tokenStart();
  Scan st = in.readInt(step);
  if (st != Scan::ok) {
    if constexpr (kFast) return false;
    fail(in, where, FrameFault::stepNumber, at, st == Scan::end);
  }
  where.stepKnown = true;
  where.step = step;

  const int nSpecies = static_cast<int>(slots.size());
  bool skippedLine = false;  // the last species' coordinates were skipped as a line
  std::int64_t* const lines = in.lineCounter();
  std::int64_t lineStart = 0, lineStartLines = 0;  // that line's first coordinate
  int lineCount = 0;                               // and its species' live count
  for (int i = 0; i < nSpecies; ++i) {
    where.species = i;
    at = tokenStart();
    st = in.readWord(word, sizeof word);
    if (st == Scan::ok && std::strcmp(word, "specie") == 0) {
      int id = -1;
      at = tokenStart();
      where.idAtFault = true;
      st = in.readInt(id);
      if (st == Scan::ok && id != i) st = Scan::malformed;
    } else if (st == Scan::ok) {
      st = Scan::malformed;
    }
    if (st != Scan::ok) {
      if constexpr (kFast) return false;
      fail(in, where, FrameFault::specie, at, st == Scan::end);
    }
    where.idAtFault = false;

    if (!keyword("alive", FrameFault::aliveWord)) return false;
    int n = 0;
    at = tokenStart();
    st = in.readInt(n);
    if (st == Scan::outOfRange || (st == Scan::ok && n > slots[static_cast<std::size_t>(i)])) {
      if constexpr (kFast) return false;
      where.count = n;
      where.slots = slots[static_cast<std::size_t>(i)];
      fail(in, where, FrameFault::aliveTooMany, at, false);
    }
    if (st != Scan::ok) {
      if constexpr (kFast) return false;
      fail(in, where, FrameFault::aliveCount, at, st == Scan::end);
    }
    if (n < 0) {
      if constexpr (kFast) return false;
      where.count = n;
      fail(in, where, FrameFault::aliveNegative, at, false);
    }
    if (counts != nullptr) counts[i] = n;

    if constexpr (mode == Mode::read) {
      double* out = sink->coordinates(i, n);
      int k = 0, axis = 0;
      // Where the helper's coordinates start, in its block.
      std::int64_t meetAt = split != nullptr && split->species == i ? split->from : -1;
      const std::int64_t blockAt = meetAt >= 0 && in.startToken() ? in.offset() : -1;
      for (;;) {
        in.readWriterRun(out, n, k, axis, meetAt);
        if (k == n) break;
        if (meetAt >= 0 && in.startToken() && in.offset() >= meetAt) {
          meetAt = -1;
          std::int64_t resume = 0;
          if (split->meet(3 * static_cast<std::size_t>(k) + static_cast<std::size_t>(axis),
                          in.offset(), resume)) {
            in.seek(resume);
            break;
          }
          // The helper's numbers may lie anywhere in the row: the block again
          // from its start, now that the helper has finished.
          in.seek(blockAt);
          k = 0;
          axis = 0;
          continue;
        }
        st = in.readReal(out[3 * static_cast<std::size_t>(k) + static_cast<std::size_t>(axis)]);
        if (st != Scan::ok) {
          where.molecule = k;
          where.axis = axis;
          fail(in, where,
               st == Scan::end       ? FrameFault::coordinateEnd
               : st == Scan::tooLong ? FrameFault::coordinateTooLong
                                     : FrameFault::coordinate,
               in.offset(), st == Scan::end);
        }
        if (++axis == 3) {
          axis = 0;
          ++k;
        }
      }
    } else if constexpr (kFast) {
      // The writer puts all of a species' coordinates on one line. A line
      // without an 's' holds no keyword, so when the next species' block
      // (or the next frame) follows it, it held exactly these coordinates
      // in any file the reader accepts.
      skippedLine = n > 0;
      if (n > 0) {
        if (!in.startToken()) return false;
        lineStart = in.offset();
        lineStartLines = lines != nullptr ? *lines : 0;
        lineCount = n;
        if (in.skipLine() != MovieInput::Line::skipped) return false;
      }
    } else {
      long long j = in.skipTokens(3LL * n);
      if (j < 3LL * n) {
        where.molecule = static_cast<int>(j / 3);
        where.axis = static_cast<int>(j % 3);
        fail(in, where, FrameFault::coordinateEnd, in.offset(), true);
      }
    }
  }

  if constexpr (mode != Mode::read) {
    if (kFast && skippedLine) {
      if (in.startToken()) {
        // The check the next species' block gives the lines before: the
        // next frame must follow.
        if (!in.nextIs("step")) return false;
      } else {
        // At the end of the data only the token count tells a complete
        // frame from a cut one: the last line again, token by token.
        in.seek(lineStart);
        if (lines != nullptr) *lines = lineStartLines;
        if (in.skipTokens(3LL * lineCount) < 3LL * lineCount || !in.followedBySpace()) return false;
      }
    } else if (!in.followedBySpace()) {
      // The last token may have been cut by the end of the data.
      if constexpr (kFast) return false;
      fail(in, where, FrameFault::cut, in.offset(), true);
    }
  }
  stepOut = step;
  return true;
}

}  // namespace

int readFrame(MovieInput& in, std::span<const int> slots, FrameSink& sink, FrameSplit* split) {
  int step = 0;
  frameGrammar<Mode::read>(in, slots, &sink, step, nullptr, split);
  return step;
}

namespace {

// One window of readWriterBackwards: [base, wend) holds the text from byte
// `lo`, and its tokens below `e` are read, highest first. Returns the end of
// the part not parsed yet; `finished` when reading ends here.
template <bool kWide>
[[gnu::always_inline]] inline char* backwardsWindow(char* base, char* wend, char* e,
                                                    std::int64_t lo, std::int64_t from,
                                                    std::int64_t end, double* out,
                                                    std::size_t count, std::size_t& got,
                                                    std::int64_t* lowest, std::int64_t* highestEnd,
                                                    bool& finished) {
  // Kept in registers in the loop, stored on the way out.
  std::size_t k = got;
  char* lowestAt = nullptr;  // the start of the lowest token read in this window
  auto leave = [&](char* at, bool last) {
    if (lowestAt != nullptr) *lowest = lo + (lowestAt - base);
    got = k;
    finished = last;
    return at;
  };
  if (k == 0) {
    // The highest token's end, once it is read.
    char* q = e;
    while (q > base && isSpace(q[-1])) --q;
    *highestEnd = lo + (q - base);
  }
  const char* const fromAt = from - lo <= 0 ? base : base + (from - lo);
  double* row = out + count;  // row[-1 - k] is the next coordinate
  for (;;) {
    char* q = e;
    while (q > base && isSpace(q[-1])) --q;
    // A whole token and the blank before it must be in the window.
    if (q - base < 15 || q == wend) return leave(e, false);
    // The sign, without a branch: it is as random as the position.
    char* digits = q - 12;
    const bool negative = digits[-1] == '-';
    char* s = digits - (static_cast<int>(negative) | static_cast<int>(digits[-1] == '+'));
    if (s < fromAt || !isSpace(s[-1])) {
      if (k == 0) *lowest = end;
      return leave(e, true);
    }
    if (writerFormAny<kWide>(digits, wend, negative, row[-1 - static_cast<std::ptrdiff_t>(k)]) != q)
      return leave(e, true);
    lowestAt = s;
    if (++k == count) return leave(s, true);
    e = s;
  }
}

char* backwardsNarrow(char* base, char* wend, char* e, std::int64_t lo, std::int64_t from,
                      std::int64_t end, double* out, std::size_t count, std::size_t& got,
                      std::int64_t* lowest, std::int64_t* highestEnd, bool& finished) {
  return backwardsWindow<false>(base, wend, e, lo, from, end, out, count, got, lowest, highestEnd,
                                finished);
}

#ifdef TAVO_WIDE_FORM
__attribute__((target("ssse3"))) char* backwardsWide(char* base, char* wend, char* e,
                                                     std::int64_t lo, std::int64_t from,
                                                     std::int64_t end, double* out,
                                                     std::size_t count, std::size_t& got,
                                                     std::int64_t* lowest, std::int64_t* highestEnd,
                                                     bool& finished) {
  return backwardsWindow<true>(base, wend, e, lo, from, end, out, count, got, lowest, highestEnd,
                               finished);
}
#endif

}  // namespace

// Reads windows of the text backwards; in each, tokens from the end: white
// space, then a number of the writer's form ending there ("d.ddddddE+dd",
// maybe signed), with white space before it.
std::size_t readWriterBackwards(formats::ByteSource& source, std::int64_t end, std::int64_t from,
                                double* out, std::size_t count, std::vector<char>& window,
                                std::int64_t* lowest, std::int64_t* highestEnd) {
  // A plain file is read a cache-sized window at a time; a compressed one
  // in one piece, since a window read backwards would be decoded again from
  // a checkpoint each time.
  const std::int64_t kWindow = source.kind() == formats::ByteSource::Kind::plain
                                   ? std::int64_t{1} << 20
                                   : end - std::max<std::int64_t>(from - 2, 0);
  window.resize(static_cast<std::size_t>(kWindow) + kPad);
  std::size_t got = 0;
  *lowest = end;
  *highestEnd = end;
  std::int64_t hi = end;  // the window holds [lo, hi); tokens end before hi
  while (got < count) {
    const std::int64_t lo =
        std::max<std::int64_t>(std::max<std::int64_t>(from - 2, 0), hi - kWindow);
    if (hi - lo < 16) break;
    const std::size_t n = source.read(lo, window.data(), static_cast<std::size_t>(hi - lo));
    if (n != static_cast<std::size_t>(hi - lo)) break;
    char* base = window.data();
    char* wend = base + n;
    std::memset(wend, 0, kPad);
    bool finished = false;
#ifdef TAVO_WIDE_FORM
    char* e = haveWideForm() ? backwardsWide(base, wend, wend, lo, from, end, out, count, got,
                                             lowest, highestEnd, finished)
                             : backwardsNarrow(base, wend, wend, lo, from, end, out, count, got,
                                               lowest, highestEnd, finished);
#else
    char* e = backwardsNarrow(base, wend, wend, lo, from, end, out, count, got, lowest, highestEnd,
                              finished);
#endif
    if (finished || e == wend || lo == 0) break;
    hi = lo + (e - base);  // the blank below the lowest token ends the next window
  }
  return got;
}

bool scanFrame(MovieInput& in, std::span<const int> slots, int& step, std::span<int> counts) {
  std::int64_t start = in.offset();
  std::int64_t* lines = in.lineCounter();
  std::int64_t startLines = lines != nullptr ? *lines : 0;
  if (frameGrammar<Mode::scanLines>(in, slots, nullptr, step, counts.data())) return true;
  // Another layout: the frame again, token by token.
  in.seek(start);
  if (lines != nullptr) *lines = startLines;
  try {
    frameGrammar<Mode::scanTokens>(in, slots, nullptr, step, counts.data());
    return true;
  } catch (const FrameError& e) {
    if (e.info().atEnd && e.info().fault != FrameFault::io) return false;
    throw;
  }
}

// ---------------------------------------------------------------------------
// Writing
// ---------------------------------------------------------------------------

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

}  // namespace tavo::detail
