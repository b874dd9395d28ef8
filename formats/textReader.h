// textReader.h - bounded, exact reading of whitespace-separated text input,
// and the memory budget for tables sized from input counts. Shared by the
// library's file loaders; not installed.
#ifndef TAVO_FORMATS_TEXTREADER_H
#define TAVO_FORMATS_TEXTREADER_H

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <string>

namespace tavo::detail {

// Reads tokens from a FILE* the way fscanf's "%s", "%d" and "%lf" do (skip
// white space, take the longest prefix that forms the value, leave the rest
// unconsumed), with bounds: a word longer than its buffer is consumed and
// reported, a number's text is limited to kMaxNumberLength characters, and
// numbers that do not fit their type are reported instead of wrapped.
// Numbers are decimal only. Where a token lies relative to the reads from
// the file never changes how it is read.
class TextScanner {
 public:
  enum class Status {
    ok,          // value read
    end,         // end of input before the token
    tooLong,     // word longer than the buffer (consumed; prefix stored), or
                 // number longer than kMaxNumberLength (not consumed)
    malformed,   // text that is not the expected number (not consumed)
    outOfRange,  // number that does not fit its type (not consumed)
  };
  static constexpr std::size_t kMaxNumberLength = 1024;

  explicit TextScanner(std::FILE* file);  // does not own the file
  TextScanner(const TextScanner&) = delete;
  TextScanner& operator=(const TextScanner&) = delete;

  // Next word into buf (capacity `cap`, NUL included).
  Status readWord(char* buf, std::size_t cap);
  // Decimal integer with optional sign; a token such as "2.5" or "12ab" is
  // malformed, while "2;" reads 2 and leaves ";".
  Status readInt(int& out);
  Status readLongLong(long long& out);
  // Real number in decimal notation, converted exactly as strtod does; a
  // non-finite result (overflow) is out of range; "inf", "nan" and
  // hexadecimal numbers ("0x10") are malformed.
  Status readDouble(double& out);
  // The next token (up to 40 characters, "..." when cut), for messages;
  // empty at end of input. Consumes nothing.
  std::string peekToken();

 private:
  bool fill(std::size_t want);  // ensure `want` bytes buffered, false at end
  void skipSpace();
  // Finds the number at the read position; `used` is its length.
  Status scanNumber(bool real, std::size_t& used);
  Status scanInteger(long long& out, long long lo, long long hi);

  std::FILE* file_;
  std::size_t readBytes_;  // bytes asked of the file per read
  std::string buf_;
  std::size_t pos_ = 0;
  std::size_t len_ = 0;
  bool eof_ = false;
};

// Bytes a reader asks the file for per call: `normal`, unless the build sets
// TAVO_READ_BUFFER_BYTES (the fuzz build sets a few bytes, so that its short
// inputs cross buffer ends everywhere). Internal linkage: the setting is
// private to the library's own files.
static constexpr std::size_t configuredReadBytes(std::size_t normal) {
#if defined(TAVO_READ_BUFFER_BYTES) && TAVO_READ_BUFFER_BYTES > 0
  (void)normal;
  return TAVO_READ_BUFFER_BYTES;
#else
  return normal;
#endif
}

// Bytes a TextScanner reads from its file at a time: 64 KiB, or the build's
// TAVO_READ_BUFFER_BYTES. Tests set other sizes; 0 restores the default.
// Scanners take the size when they are made.
std::size_t readBufferBytes();
void setReadBufferBytes(std::size_t bytes);

// Describes a status for a message: "found 'x'" or "found the end of the file".
std::string describeFound(TextScanner& scanner, TextScanner::Status status);

// printf-style formatting into a std::string, for error messages.
std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string formatTextV(const char* format, std::va_list args);

// Memory budget for tables whose size comes from input counts. A load asks
// before it allocates, so that absurd counts end with a clear message rather
// than an allocation failure or an out-of-memory kill. The default budget is
// the machine's physical memory; tests and fuzzers may lower it.
bool tableBytesFit(double bytes);         // one table alone
void setTableMemoryBudget(double bytes);  // <= 0 restores the default

// The budget of one load that builds several tables: each is charged as it
// is sized, so that the tables together, not each one alone, must fit.
class TableBudget {
 public:
  TableBudget();  // the whole process budget
  // Takes `bytes` from what is left; false, with nothing taken, when they do
  // not fit.
  bool charge(double bytes);

 private:
  double left_;
};

}  // namespace tavo::detail

#endif  // TAVO_FORMATS_TEXTREADER_H
