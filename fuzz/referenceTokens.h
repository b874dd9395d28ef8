// referenceTokens.h - a plain reading of a whole text, for the fuzzers to
// compare an accepted file with: tokens split on white space, each number
// converted whole by strtol or strtod. It has no buffer, so where a token
// lies never matters to it.
#ifndef TAVO_FUZZ_REFERENCETOKENS_H
#define TAVO_FUZZ_REFERENCETOKENS_H

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace tavo::fuzz {

class ReferenceTokens {
 public:
  explicit ReferenceTokens(const std::string& text) {
    std::string token;
    for (char c : text) {
      if (c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r') {
        if (!token.empty()) tokens_.push_back(token);
        token.clear();
      } else {
        token += c;
      }
    }
    if (!token.empty()) tokens_.push_back(token);
  }

  // The next token, whatever it is; false at the end.
  bool any(std::string& out) {
    if (!pending_.empty()) {
      out = pending_;
      pending_.clear();
      return true;
    }
    if (next_ >= tokens_.size()) return false;
    out = tokens_[next_++];
    return true;
  }

  // Whether the next token is exactly `w`.
  bool word(const char* w) {
    std::string t;
    return any(t) && t == w;
  }

  // A decimal integer that fits an int. A number may be followed in its
  // token by a separator such as ";" or ")", which is then the next token.
  bool integer(long& out) {
    std::string t;
    if (!any(t)) return false;
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(t.c_str(), &end, 10);
    if (errno != 0 || v < INT_MIN || v > INT_MAX || !rest(t, end)) return false;
    out = v;
    return true;
  }

  // A finite real in decimal notation, as strtod converts it.
  bool real(double& out) {
    std::string t;
    if (!any(t)) return false;
    char* end = nullptr;
    double v = std::strtod(t.c_str(), &end);
    if (!(v - v == 0.0) || !rest(t, end)) return false;  // infinite or not a number
    out = v;
    return true;
  }

 private:
  // What follows the number in its token: nothing, or a separator that
  // starts the next token. Anything that could continue a number or a word
  // glued to it makes the token no number.
  bool rest(const std::string& t, const char* end) {
    std::size_t used = static_cast<std::size_t>(end - t.c_str());
    // strtod also takes hexadecimal numbers, "inf" and "nan": not here.
    if (used == 0 || t.find_first_not_of("+-.0123456789eE") < used) return false;
    if (used == t.size()) return true;
    char c = t[used];
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' ||
        c == '_' || c == '\0')
      return false;
    pending_ = t.substr(used);
    return true;
  }

  std::vector<std::string> tokens_;
  std::size_t next_ = 0;
  std::string pending_;  // the rest of a token after its number
};

}  // namespace tavo::fuzz

#endif  // TAVO_FUZZ_REFERENCETOKENS_H
