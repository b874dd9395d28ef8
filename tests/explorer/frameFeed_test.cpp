// The explorer's background threads on real movie files: the index built and
// kept up with a growing file, frames read ahead and read for jumps, and
// damaged frames reported without ending anything.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "explorer/frameFeed.h"
#include "testSupport.h"

namespace {

using namespace std::chrono_literals;
using tavo::Frame;
using tavo::Movie;
using tavo::explorer::FrameFeed;
using tavo::test::writeFile;

// Frame k holds one molecule of species 0 at (k, 0, 0) micrometres.
std::string frameText(int k, const char* x = nullptr) {
  const std::string at = x != nullptr ? x : std::to_string(k) + "e-6";
  return "step " + std::to_string(10 * k) + "\nspecie 0\nalive 1\n" + at +
         " 0 0\nspecie 1\nalive 0\n\nspecie 2\nalive 0\n\n";
}

std::string framesText(int from, int to) {
  std::string text;
  for (int k = from; k < to; ++k) text += frameText(k);
  return text;
}

void append(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::app) << text;
}

Movie open(const std::string& movieText) {
  writeFile("s.Tavosetup", tavo::test::exampleSetup());
  writeFile("m.Tavomovie", movieText);
  return Movie("s.Tavosetup", "m.Tavomovie", Movie::Indexing::later);
}

// Waits up to ten seconds for `done`, waking on the feed's changes.
template <typename Done>
bool waitFor(FrameFeed& feed, Done done) {
  const auto end = std::chrono::steady_clock::now() + 10s;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    feed.wait(50ms);
  }
  return true;
}

TEST(FrameFeed, IndexesInTheBackgroundAndKeepsUpWithAGrowingFile) {
  const std::string last = frameText(3);
  Movie movie = open(framesText(0, 3) + last.substr(0, 30));  // frame 3 still being written
  FrameFeed feed(movie, 20ms);
  ASSERT_TRUE(waitFor(feed, [&] { return feed.index().reachedEnd; }));
  EXPECT_EQ(feed.index().frames, 3u);
  append("m.Tavomovie", last.substr(30) + framesText(4, 6));
  ASSERT_TRUE(waitFor(feed, [&] { return feed.index().frames == 6; }));
  EXPECT_TRUE(feed.index().reachedEnd);
  EXPECT_EQ(feed.index().indexedBytes, feed.index().fileBytes);
  EXPECT_EQ(feed.indexError(), "");
}

TEST(FrameFeed, ReadsAheadAndReadsJumpsAtOnce) {
  Movie movie = open(framesText(0, 10));
  FrameFeed feed(movie, 20ms);
  ASSERT_TRUE(waitFor(feed, [&] { return feed.index().frames == 10; }));
  Frame shown;
  std::string error;
  feed.ahead({4, 5});
  ASSERT_TRUE(waitFor(feed, [&] { return feed.take(4, shown, error) == FrameFeed::Take::shown; }));
  EXPECT_EQ(shown.index, 4u);
  EXPECT_EQ(shown.step, 40);
  EXPECT_DOUBLE_EQ(shown.positions[0][0], 4e-6);
  EXPECT_EQ(feed.take(7, shown, error), FrameFeed::Take::pending);  // never asked for
  feed.fetch(7, shown);
  EXPECT_EQ(shown.index, 7u);
  feed.fetch(5, shown);  // read ahead already, or being read
  EXPECT_EQ(shown.step, 50);
  EXPECT_THROW(feed.fetch(10, shown), tavo::Error);
  EXPECT_EQ(shown.index, 5u);  // unchanged by the failure
  EXPECT_GE(feed.framesRead(), 1u);
}

TEST(FrameFeed, DamagedFramesAreReportedAndTheRestStaysUsable) {
  // Frame 2 has a coordinate that is not a number; frame 4's step is not one.
  Movie movie = open(framesText(0, 2) + frameText(2, "2e-6x") + frameText(3) +
                     "step four\nspecie 0\nalive 0\n\n" + framesText(5, 7));
  FrameFeed feed(movie, 20ms);
  ASSERT_TRUE(waitFor(feed, [&] { return feed.index().failed; }));
  EXPECT_EQ(feed.index().frames, 4u);  // the frames before the damage
  EXPECT_NE(feed.indexError().find("m.Tavomovie"), std::string::npos) << feed.indexError();

  Frame shown;
  std::string error;
  feed.ahead({2, 3});
  ASSERT_TRUE(waitFor(feed, [&] { return feed.take(2, shown, error) == FrameFeed::Take::failed; }));
  EXPECT_NE(error.find("m.Tavomovie"), std::string::npos) << error;
  EXPECT_THROW(feed.fetch(2, shown), tavo::Error);
  ASSERT_TRUE(waitFor(feed, [&] { return feed.take(3, shown, error) == FrameFeed::Take::shown; }));
  EXPECT_EQ(shown.step, 30);
}

}  // namespace
