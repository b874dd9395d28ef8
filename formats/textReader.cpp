// textReader.cpp - bounded token reading and the table memory budget.
#include "formats/textReader.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace tavo::detail {

namespace {

constexpr std::size_t kDefaultReadBytes = configuredReadBytes(std::size_t{1} << 16);

// What a number scan may look at: the longest number and the character
// after it.
constexpr std::size_t kNumberWindow = TextScanner::kMaxNumberLength + 1;

// The module's settings; tests and fuzzers change them.
struct Settings {
  double budgetBytes = 0.0;   // 0: the machine's physical memory
  std::size_t readBytes = 0;  // 0: kDefaultReadBytes
} g_settings;

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// A character that, glued to a number, shows the token is not that number
// ("2.5" for an integer, "1.0x" or "0x10" for a real, a NUL byte). Separators
// such as ";" or ")" may follow a number directly.
bool continuesToken(char c) {
  return isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' || c == '_' ||
         c == '\0';
}

// Length of the decimal number that starts t[0..n), 0 when none does:
//   integer  [+-] digits
//   real     [+-] (digits [. digits*] | . digits) [(e|E) [+-] digits]
// An exponent marker without digits is not part of the number. Looks at no
// character beyond t[n - 1].
std::size_t decimalLength(const char* t, std::size_t n, bool real) {
  std::size_t i = 0;
  if (i < n && (t[i] == '+' || t[i] == '-')) ++i;
  std::size_t digits = 0;
  for (; i < n && isDigit(t[i]); ++i) ++digits;
  if (real && i < n && t[i] == '.') {
    std::size_t j = i + 1;
    for (; j < n && isDigit(t[j]); ++j) ++digits;
    if (digits > 0) i = j;
  }
  if (digits == 0) return 0;
  if (real && i < n && (t[i] == 'e' || t[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < n && (t[j] == '+' || t[j] == '-')) ++j;
    std::size_t exponentDigits = 0;
    for (; j < n && isDigit(t[j]); ++j) ++exponentDigits;
    if (exponentDigits > 0) i = j;
  }
  return i;
}

double physicalMemory() {
  long pages = sysconf(_SC_PHYS_PAGES);
  long pageSize = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return 4.0 * 1024 * 1024 * 1024;
  return static_cast<double>(pages) * static_cast<double>(pageSize);
}

}  // namespace

std::size_t readBufferBytes() {
  return g_settings.readBytes > 0 ? g_settings.readBytes : kDefaultReadBytes;
}

void setReadBufferBytes(std::size_t bytes) { g_settings.readBytes = bytes; }

// The buffer holds one read and two number windows: a fill moves the unread
// tail to the front only when a window no longer fits behind the read
// position, so the moves cost at most one byte per byte read.
TextScanner::TextScanner(std::FILE* file) : file_(file), readBytes_(readBufferBytes()) {
  buf_.resize(readBytes_ + 2 * kNumberWindow);
}

bool TextScanner::fill(std::size_t want) {
  if (len_ - pos_ >= want) return true;
  if (eof_) return false;
  if (buf_.size() - pos_ < want + readBytes_) {  // keep the unread tail at the front
    std::memmove(buf_.data(), buf_.data() + pos_, len_ - pos_);
    len_ -= pos_;
    pos_ = 0;
  }
  while (len_ - pos_ < want && !eof_) {
    std::size_t room = std::min(readBytes_, buf_.size() - len_);
    std::size_t got = std::fread(buf_.data() + len_, 1, room, file_);
    if (got == 0) eof_ = true;
    len_ += got;
  }
  return len_ - pos_ >= want;
}

void TextScanner::skipSpace() {
  for (;;) {
    while (pos_ < len_ && isSpace(buf_[pos_])) ++pos_;
    if (pos_ < len_ || !fill(1)) return;
  }
}

TextScanner::Status TextScanner::readWord(char* buf, std::size_t cap) {
  skipSpace();
  if (cap > 0) buf[0] = '\0';
  if (pos_ >= len_) return Status::end;
  std::size_t n = 0;
  bool tooLong = false;
  bool hasNul = false;
  for (;;) {
    if (pos_ >= len_ && !fill(1)) break;
    char c = buf_[pos_];
    if (isSpace(c)) break;
    if (c == '\0') hasNul = true;
    if (n + 1 < cap) {
      buf[n++] = c;
    } else {
      tooLong = true;  // keep consuming: the whole word is one token
    }
    ++pos_;
  }
  if (cap > 0) buf[n] = '\0';
  if (tooLong) return Status::tooLong;
  // A word with a NUL byte would compare equal to its prefix; it is no keyword.
  if (hasNul) return Status::malformed;
  return Status::ok;
}

TextScanner::Status TextScanner::scanNumber(bool real, std::size_t& used) {
  skipSpace();
  if (pos_ >= len_) return Status::end;
  // The window is buffered wherever the token lies (short only at the end
  // of the file), so a number is never cut where a read ended.
  fill(kNumberWindow);
  const char* t = buf_.data() + pos_;
  const std::size_t seen = std::min(len_ - pos_, kNumberWindow);
  used = decimalLength(t, seen, real);
  if (used > kMaxNumberLength) return Status::tooLong;
  if (used == 0 || (used < seen && continuesToken(t[used]))) return Status::malformed;
  return Status::ok;
}

TextScanner::Status TextScanner::scanInteger(long long& out, long long lo, long long hi) {
  std::size_t used = 0;
  Status s = scanNumber(false, used);
  if (s != Status::ok) return s;
  const char* t = buf_.data() + pos_;
  std::size_t p = 0;
  bool negative = false;
  if (t[p] == '+' || t[p] == '-') negative = t[p++] == '-';
  unsigned long long value = 0;
  bool overflow = false;
  for (; p < used; ++p) {
    unsigned d = static_cast<unsigned>(t[p] - '0');
    if (value > (~0ULL - d) / 10) overflow = true;
    if (!overflow) value = value * 10 + d;
  }
  if (overflow || value > 9223372036854775807ULL + (negative ? 1ULL : 0ULL))
    return Status::outOfRange;
  long long v = negative ? static_cast<long long>(0ULL - value) : static_cast<long long>(value);
  if (v < lo || v > hi) return Status::outOfRange;
  out = v;
  pos_ += used;
  return Status::ok;
}

TextScanner::Status TextScanner::readInt(int& out) {
  long long v = 0;
  Status s = scanInteger(v, -2147483648LL, 2147483647LL);
  if (s == Status::ok) out = static_cast<int>(v);
  return s;
}

TextScanner::Status TextScanner::readLongLong(long long& out) {
  return scanInteger(out, -9223372036854775807LL - 1, 9223372036854775807LL);
}

TextScanner::Status TextScanner::readDouble(double& out) {
  std::size_t used = 0;
  Status s = scanNumber(true, used);
  if (s != Status::ok) return s;
  // strtod converts the checked decimal text whole, with its exact rounding.
  char text[kMaxNumberLength + 1];
  std::memcpy(text, buf_.data() + pos_, used);
  text[used] = '\0';
  double v = std::strtod(text, nullptr);
  if (!std::isfinite(v)) return Status::outOfRange;
  out = v;
  pos_ += used;
  return Status::ok;
}

std::string TextScanner::peekToken() {
  skipSpace();
  fill(64);
  std::string token;
  std::size_t p = pos_;
  while (p < len_ && !isSpace(buf_[p]) && token.size() < 40) {
    unsigned char c = static_cast<unsigned char>(buf_[p++]);
    token.push_back(c >= 32 && c < 127 ? static_cast<char>(c) : '?');
  }
  if (p < len_ && !isSpace(buf_[p])) token += "...";
  return token;
}

std::string describeFound(TextScanner& scanner, TextScanner::Status status) {
  switch (status) {
    case TextScanner::Status::end:
      return "found the end of the file";
    case TextScanner::Status::tooLong:
      return formatText("found a number longer than %zu characters", TextScanner::kMaxNumberLength);
    case TextScanner::Status::outOfRange:
      return "found '" + scanner.peekToken() + "', which is out of range";
    default:
      return "found '" + scanner.peekToken() + "'";
  }
}

std::string formatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = formatTextV(format, args);
  va_end(args);
  return text;
}

std::string formatTextV(const char* format, std::va_list args) {
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(text.data(), text.size() + 1, format, args);
  return text;
}

bool tableBytesFit(double bytes) { return TableBudget().charge(bytes); }

TableBudget::TableBudget()
    : left_(g_settings.budgetBytes > 0.0 ? g_settings.budgetBytes : physicalMemory()) {}

bool TableBudget::charge(double bytes) {
  if (!(bytes >= 0.0 && bytes <= left_)) return false;
  left_ -= bytes;
  return true;
}

void setTableMemoryBudget(double bytes) { g_settings.budgetBytes = bytes > 0.0 ? bytes : 0.0; }

}  // namespace tavo::detail
