// Tests of the --frames slice: parsing, and the frames a slice picks, which
// must be those Python's list[slice] picks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/frameSlice.h"
#include "formats/error.h"
#include "testSupport.h"

namespace {

using tavo::cli::parseFrameSlice;
using tavo::cli::selectFrames;

struct Pick {
  const char* text;
  std::size_t frames;
  std::vector<std::size_t> expected;  // what range(frames)[text] gives in Python
};

void PrintTo(const Pick& p, std::ostream* os) { *os << p.text << " of " << p.frames; }

class FrameSliceTest : public ::testing::TestWithParam<Pick> {};

TEST_P(FrameSliceTest, PicksWhatPythonPicks) {
  const Pick& p = GetParam();
  EXPECT_EQ(selectFrames(parseFrameSlice(p.text), p.frames, "m"), p.expected) << p.text;
}

INSTANTIATE_TEST_SUITE_P(
    Slices, FrameSliceTest,
    ::testing::Values(Pick{":", 5, {0, 1, 2, 3, 4}}, Pick{"::2", 5, {0, 2, 4}},
                      Pick{"1:4", 5, {1, 2, 3}}, Pick{"-2:", 5, {3, 4}},
                      Pick{":-1", 5, {0, 1, 2, 3}}, Pick{"::-1", 5, {4, 3, 2, 1, 0}},
                      Pick{"3:0:-1", 5, {3, 2, 1}}, Pick{"-1", 5, {4}}, Pick{"0", 5, {0}},
                      Pick{"-5", 5, {0}}, Pick{"+2", 5, {2}}, Pick{"10:", 5, {}},
                      Pick{"-10:2", 5, {0, 1}}, Pick{"::10", 25, {0, 10, 20}}, Pick{"5:5", 5, {}},
                      Pick{"1:4:-1", 5, {}}, Pick{"::-2", 6, {5, 3, 1}}, Pick{"-100::-1", 5, {}},
                      Pick{"100::-2", 5, {4, 2, 0}}, Pick{"::9223372036854775807", 3, {0}},
                      Pick{"::-9223372036854775808", 3, {2}},
                      Pick{"-9223372036854775808:9223372036854775807", 2, {0, 1}}, Pick{":", 0, {}},
                      Pick{"::-1", 0, {}}));

TEST(FrameSliceErrorTest, MalformedSlicesAreRefused) {
  for (const char* text : {"", "a", "1:2:3:4", "1.5", "1:2:0", "--1", "1 ", " 1", "-", "+", "1:x",
                           "::+", "0x10", "99999999999999999999", "-9223372036854775809"})
    EXPECT_THROW(parseFrameSlice(text), tavo::Error) << "'" << text << "'";
}

TEST(FrameSliceErrorTest, LoneIndexOutsideTheMovieNamesTheMovie) {
  for (const char* text : {"5", "-6", "0"}) {
    try {
      selectFrames(parseFrameSlice(text), text[0] == '0' ? 0 : 5, "run.Tavomovie");
      ADD_FAILURE() << text << " was accepted";
    } catch (const tavo::Error& e) {
      EXPECT_NE(std::string(e.what()).find("run.Tavomovie"), std::string::npos) << e.what();
    }
  }
}

}  // namespace
