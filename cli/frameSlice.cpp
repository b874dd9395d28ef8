// frameSlice.cpp - parsing and resolving --frames slices.
#include "cli/frameSlice.h"

#include <charconv>

#include "formats/error.h"

namespace tavo::cli {

namespace {

// One part of the slice: empty (left out) or a decimal integer with an
// optional sign.
std::optional<std::int64_t> parsePart(std::string_view part, std::string_view whole) {
  if (part.empty()) return std::nullopt;
  std::string_view digits = part;
  bool negative = false;
  if (digits.front() == '+' || digits.front() == '-') {
    negative = digits.front() == '-';
    digits.remove_prefix(1);
  }
  // from_chars would take a sign of its own: only digits may follow ours.
  if (digits.empty() || digits.front() < '0' || digits.front() > '9')
    throw Error("--frames '" + std::string(whole) + "': '" + std::string(part) +
                "' is not an integer (expected START:STOP:STEP)");
  std::uint64_t magnitude = 0;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
  if (ec == std::errc() && end != digits.data() + digits.size())
    throw Error("--frames '" + std::string(whole) + "': '" + std::string(part) +
                "' is not an integer (expected START:STOP:STEP)");
  constexpr std::uint64_t kMax = static_cast<std::uint64_t>(INT64_MAX);
  if (ec != std::errc() || magnitude > kMax + (negative ? 1 : 0))
    throw Error("--frames '" + std::string(whole) + "': " + std::string(part) + " is too large");
  if (negative) return static_cast<std::int64_t>(0 - magnitude);
  return static_cast<std::int64_t>(magnitude);
}

// Python's rule for a slice bound: negative values count from the end, and
// the result is clamped to [lower, upper].
std::int64_t bound(std::int64_t value, std::int64_t n, std::int64_t lower, std::int64_t upper) {
  if (value < 0) {
    value += n;
    return value < lower ? lower : value;
  }
  return value > upper ? upper : value;
}

}  // namespace

FrameSlice parseFrameSlice(std::string_view text) {
  FrameSlice slice;
  slice.text = std::string(text);
  std::string_view parts[3];
  std::size_t count = 0;
  std::string_view rest = text;
  for (;;) {
    std::size_t colon = rest.find(':');
    if (count == 2 && colon != std::string_view::npos)
      throw Error("--frames '" + slice.text + "': at most two colons (START:STOP:STEP)");
    parts[count++] = rest.substr(0, colon);
    if (colon == std::string_view::npos) break;
    rest.remove_prefix(colon + 1);
  }
  if (count == 1 && parts[0].empty())
    throw Error("--frames: empty selection (expected START:STOP:STEP or an index)");
  slice.single = count == 1;
  slice.start = parsePart(parts[0], text);
  if (count > 1) slice.stop = parsePart(parts[1], text);
  if (count > 2) slice.step = parsePart(parts[2], text);
  if (slice.step && *slice.step == 0)
    throw Error("--frames '" + slice.text + "': the step cannot be zero");
  return slice;
}

std::vector<std::size_t> selectFrames(const FrameSlice& slice, std::size_t frames,
                                      const std::string& moviePath) {
  const auto n = static_cast<std::int64_t>(frames);
  std::vector<std::size_t> picked;
  if (slice.single) {
    std::int64_t k = *slice.start;
    if (k < -n || k >= n)
      throw Error(moviePath + ": no frame " + std::to_string(k) + " (--frames " + slice.text +
                  "); the movie has " + std::to_string(frames) + " complete frames");
    picked.push_back(static_cast<std::size_t>(k < 0 ? k + n : k));
    return picked;
  }
  const std::int64_t step = slice.step.value_or(1);
  std::int64_t first, last;  // first index, and the exclusive end
  std::int64_t count = 0;
  if (step > 0) {
    first = slice.start ? bound(*slice.start, n, 0, n) : 0;
    last = slice.stop ? bound(*slice.stop, n, 0, n) : n;
    if (last > first)
      count = static_cast<std::int64_t>(static_cast<std::uint64_t>(last - first - 1) /
                                        static_cast<std::uint64_t>(step)) +
              1;
  } else {
    first = slice.start ? bound(*slice.start, n, -1, n - 1) : n - 1;
    last = slice.stop ? bound(*slice.stop, n, -1, n - 1) : -1;
    // The stride in unsigned arithmetic: -INT64_MIN does not fit an int64.
    const std::uint64_t stride = 0 - static_cast<std::uint64_t>(step);
    if (first > last)
      count = static_cast<std::int64_t>(static_cast<std::uint64_t>(first - last - 1) / stride) + 1;
  }
  picked.reserve(static_cast<std::size_t>(count));
  // first + k * step stays within [0, n) for k < count: no overflow.
  for (std::int64_t k = 0, i = first; k < count; ++k) {
    picked.push_back(static_cast<std::size_t>(i));
    if (k + 1 < count) i += step;
  }
  return picked;
}

}  // namespace tavo::cli
