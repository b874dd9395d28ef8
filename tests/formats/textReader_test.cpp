// The bounded token reader: numbers are read whole, or refused, wherever
// they lie relative to the reads from the file, and only in decimal.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "formats/textReader.h"

namespace {

using tavo::detail::TextScanner;
using Status = TextScanner::Status;

struct Case {
  std::string token;
  bool real;      // read with readDouble, else readInt
  Status status;  // expected status
  double value;   // expected value when ok
};

std::string zeros(std::size_t n) { return std::string(n, '0'); }

// What one scanner makes of `text`: the number's status and value, and
// the word after it.
struct Reading {
  Status status;
  double value = 0.0;
  std::string next;
};

Reading readNumberThenWord(const std::string& text, bool real) {
  std::FILE* f = std::tmpfile();
  std::fwrite(text.data(), 1, text.size(), f);
  std::rewind(f);
  Reading r;
  {
    TextScanner scan(f);
    if (real) {
      r.status = scan.readDouble(r.value);
    } else {
      int v = 0;
      r.status = scan.readInt(v);
      r.value = v;
    }
    char word[16];
    if (r.status == Status::ok && scan.readWord(word, sizeof word) == Status::ok) r.next = word;
  }
  std::fclose(f);
  return r;
}

TEST(TextScanner, NumbersAreReadWholeOrRefusedWhereverTheyLie) {
  const std::vector<Case> cases = {
      {"17", false, Status::ok, 17},
      {"-2147483648", false, Status::ok, -2147483648.0},
      {zeros(1023) + "1", false, Status::ok, 1},  // 1024 characters: the longest number
      {"-" + zeros(1022) + "7", false, Status::ok, -7},
      {zeros(1024) + "1", false, Status::tooLong, 0},
      {zeros(67573) + "10", false, Status::tooLong, 0},
      {"2.5", false, Status::malformed, 0},
      {"0x10", false, Status::malformed, 0},
      {"2147483648", false, Status::outOfRange, 0},
      {"1.5e3", true, Status::ok, 1500},
      {zeros(1020) + ".25", true, Status::ok, 0.25},
      {zeros(1022) + ".25", true, Status::tooLong, 0},
      {"-.5e-3", true, Status::ok, -0.0005},
      {"5.", true, Status::ok, 5},
      {"0x10", true, Status::malformed, 0},
      {"0X1P-2", true, Status::malformed, 0},
      {"-0x.8", true, Status::malformed, 0},
      {"inf", true, Status::malformed, 0},
      {"nan", true, Status::malformed, 0},
      {"1e", true, Status::malformed, 0},
      {"1e+", true, Status::malformed, 0},
      {"1.0x", true, Status::malformed, 0},
      {std::string("5\0", 2), true, Status::malformed, 0},
      {"1e999", true, Status::outOfRange, 0},
  };
  // Reads of 1, 2, 3 and 7 bytes put a read's end inside every token; with
  // 64 KiB reads the padding puts the token across the first read's end.
  for (std::size_t bytes : {1, 2, 3, 7, 4096, 65536}) {
    tavo::detail::setReadBufferBytes(bytes);
    for (const Case& c : cases) {
      for (std::size_t pad : {std::size_t{0}, std::size_t{65535}, 65536 - c.token.size() / 2}) {
        Reading r = readNumberThenWord(std::string(pad, ' ') + c.token + ";", c.real);
        ASSERT_EQ(r.status, c.status)
            << c.token.substr(0, 40) << " with " << bytes << "-byte reads after " << pad;
        if (c.status != Status::ok) continue;
        EXPECT_EQ(r.value, c.value) << c.token.substr(0, 40);
        EXPECT_EQ(r.next, ";") << c.token.substr(0, 40);
      }
    }
  }
  tavo::detail::setReadBufferBytes(0);
}

}  // namespace
