// inputReader.cpp - bounded token reading and the table memory budget.
#include "textio/inputReader.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace tavo::detail {

namespace {

constexpr std::size_t kChunk = 1 << 16;

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// A character that, glued to a number, shows the token is not that number
// ("2.5" for an integer, "1.0x" for a real). Separators such as ";" or ")"
// may follow a number directly.
bool continuesToken(char c) {
  return isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' || c == '_';
}

struct Budget {
  double bytes = 0.0;  // 0: the machine's physical memory
} g_budget;

double physicalMemory() {
  long pages = sysconf(_SC_PHYS_PAGES);
  long pageSize = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return 4.0 * 1024 * 1024 * 1024;
  return static_cast<double>(pages) * static_cast<double>(pageSize);
}

}  // namespace

TextScanner::TextScanner(std::FILE* file) : file_(file) {
  buf_.resize(kChunk + 2 * kMaxNumberLength);
}

bool TextScanner::fill(std::size_t want) {
  if (len_ - pos_ >= want) return true;
  if (eof_) return false;
  if (pos_ > 0) {  // keep the unread tail at the front
    std::memmove(buf_.data(), buf_.data() + pos_, len_ - pos_);
    len_ -= pos_;
    pos_ = 0;
  }
  while (len_ < want && !eof_) {
    std::size_t got = std::fread(buf_.data() + len_, 1, buf_.size() - len_, file_);
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

TextScanner::Status TextScanner::scanInteger(long long& out, long long lo, long long hi) {
  skipSpace();
  if (pos_ >= len_) return Status::end;
  fill(kMaxNumberLength + 2);
  std::size_t p = pos_;
  bool negative = false;
  if (p < len_ && (buf_[p] == '+' || buf_[p] == '-')) negative = buf_[p++] == '-';
  std::size_t digits = 0;
  unsigned long long value = 0;
  bool overflow = false;
  while (p < len_ && isDigit(buf_[p])) {
    unsigned d = static_cast<unsigned>(buf_[p] - '0');
    if (value > (~0ULL - d) / 10) overflow = true;
    if (!overflow) value = value * 10 + d;
    ++p;
    ++digits;
  }
  if (digits == 0 || (p < len_ && continuesToken(buf_[p]))) return Status::malformed;
  if (overflow || value > 9223372036854775807ULL + (negative ? 1ULL : 0ULL))
    return Status::outOfRange;
  long long v = negative ? static_cast<long long>(0ULL - value) : static_cast<long long>(value);
  if (v < lo || v > hi) return Status::outOfRange;
  out = v;
  pos_ = p;
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
  skipSpace();
  if (pos_ >= len_) return Status::end;
  fill(kMaxNumberLength + 2);
  char text[kMaxNumberLength + 1];
  std::size_t n = 0;
  while (pos_ + n < len_ && n < kMaxNumberLength && !isSpace(buf_[pos_ + n]) &&
         buf_[pos_ + n] != '\0') {
    text[n] = buf_[pos_ + n];
    ++n;
  }
  text[n] = '\0';
  // Decimal notation only: a sign, then a digit or a point.
  std::size_t first = (text[0] == '+' || text[0] == '-') ? 1 : 0;
  if (!(isDigit(text[first]) || (text[first] == '.' && isDigit(text[first + 1]))))
    return Status::malformed;
  errno = 0;
  char* end = nullptr;
  double v = std::strtod(text, &end);
  std::size_t used = static_cast<std::size_t>(end - text);
  if (used == 0) return Status::malformed;
  char next = pos_ + used < len_ ? buf_[pos_ + used] : ' ';
  if (used == n && n == kMaxNumberLength) return Status::malformed;  // number too long
  if (continuesToken(next)) return Status::malformed;
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
      return "found a word that is too long";
    case TextScanner::Status::outOfRange:
      return "found '" + scanner.peekToken() + "', which is out of range";
    default:
      return "found '" + scanner.peekToken() + "'";
  }
}

std::string formatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(text.data(), text.size() + 1, format, args);
  va_end(args);
  return text;
}

bool tableBytesFit(double bytes) { return TableBudget().charge(bytes); }

TableBudget::TableBudget() : left_(g_budget.bytes > 0.0 ? g_budget.bytes : physicalMemory()) {}

bool TableBudget::charge(double bytes) {
  if (!(bytes >= 0.0 && bytes <= left_)) return false;
  left_ -= bytes;
  return true;
}

void setTableMemoryBudget(double bytes) { g_budget.bytes = bytes > 0.0 ? bytes : 0.0; }

}  // namespace tavo::detail
