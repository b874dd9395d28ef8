// The explorer's logic without a window: navigation keys and clicks,
// playback order, the start frame, follow mode, the playback clock and
// rate, the timeline and legend under the pointer, and the overlay.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "explorer/controls.h"

namespace {

namespace ex = tavo::explorer;
using ex::Controls;
using ex::Effect;
using ex::IndexView;

constexpr int kSpecial = 1000;  // rows: key codes at and above this are special keys
constexpr int kHome = kSpecial + ex::kKeyHome, kEnd = kSpecial + ex::kKeyEnd;
constexpr int kPageUp = kSpecial + ex::kKeyPageUp, kPageDown = kSpecial + ex::kKeyPageDown;
constexpr int kLeftButton = 0, kDown = 0, kUp = 1;

IndexView whole(std::size_t frames) { return IndexView{frames, true, false, 100, 100}; }
IndexView growing(std::size_t frames) { return IndexView{frames, false, false, 50, 100}; }
IndexView damaged(std::size_t frames) { return IndexView{frames, false, true, 50, 100}; }

Controls playing(std::size_t frame, int species = 3) {
  Controls c =
      ex::startControls(species, 500, 500, std::nullopt, false, tavo::scene::Style::points, false);
  c.frame = frame;
  return c;
}

Effect press(Controls& c, int key, const IndexView& index) {
  return key >= kSpecial ? ex::onSpecialKey(c, key - kSpecial, index)
                         : ex::onKey(c, static_cast<unsigned char>(key), index);
}

// ---------------------------------------------------------------------------
// Navigation and playback order
// ---------------------------------------------------------------------------

TEST(Navigation, KeysGoToTheRightFrameAndLeaveFollowMode) {
  struct Row {
    std::size_t from;
    IndexView index;
    int key;
    std::size_t to;
  };
  const Row rows[] = {
      {5, whole(100), kEnd, 99},
      {50, whole(100), kHome, 0},
      {5, whole(100), 'b', 4},
      {0, whole(100), 'b', 99},   // back from the first frame wraps, as playback does
      {0, growing(100), 'b', 0},  // ...but not while the end is unknown
      {50, whole(100), kPageUp, 40},
      {50, whole(100), kPageDown, 60},
      {95, whole(100), kPageDown, 99},  // clamped at the ends
      {3, whole(100), kPageUp, 0},
      {2, whole(5), kPageDown, 3},  // at least one frame
      {5, whole(100), 'n', 6},
      {99, whole(100), 'n', 0},     // loops at the last complete frame
      {99, growing(100), 'n', 99},  // waits while the index grows
      {99, damaged(100), 'n', 99},  // stops before a damaged frame
      {7, growing(100), kEnd, 99},  // the last frame indexed so far
  };
  for (const Row& row : rows) {
    Controls c = playing(row.from);
    c.follow = true;
    press(c, row.key, row.index);
    EXPECT_EQ(c.frame, row.to) << "from " << row.from << ", key " << row.key;
    EXPECT_FALSE(c.follow) << "key " << row.key;
  }
}

TEST(Navigation, RewindKeyShowsFrameZeroAtTheNextStep) {
  Controls c = playing(40);
  press(c, '0', whole(100));
  EXPECT_EQ(c.frame, 40u);  // nothing read yet
  EXPECT_EQ(ex::nextFrame(c, whole(100)), 0u);
  c.paused = true;  // paused, the next 'n' shows it
  press(c, 'n', whole(100));
  EXPECT_EQ(c.frame, 0u);
  EXPECT_EQ(ex::nextFrame(c, whole(100)), 1u);
}

TEST(Playback, ReadAheadFollowsThePlaybackOrder) {
  // The coming frames once each, never the one shown; nothing in follow mode.
  EXPECT_EQ(ex::upcomingFrames(playing(8), whole(10), 2), (std::vector<std::size_t>{9, 0}));
  EXPECT_EQ(ex::upcomingFrames(playing(0), whole(2), 3), (std::vector<std::size_t>{1}));
  EXPECT_EQ(ex::upcomingFrames(playing(4), growing(6), 3), (std::vector<std::size_t>{5}));
  EXPECT_EQ(ex::nextFrame(playing(0), whole(1)), 0u);  // one frame loops on itself
  Controls following = playing(1);
  following.follow = true;
  EXPECT_EQ(ex::nextFrame(following, whole(3)), std::nullopt);
}

TEST(Playback, StartFrameFollowAndDamageFromTheIndex) {
  struct Row {
    std::optional<std::int64_t> start;
    bool follow;
    IndexView index;
    std::size_t frame;
    bool pending;  // --frame still waiting for the index
    bool paused;
    bool message;
  };
  const Row rows[] = {
      {7, false, growing(20), 7, false, true, false},
      {70, false, growing(20), 0, true, true, false},  // may yet be indexed
      {70, false, whole(20), 19, false, true, true},   // beyond the end: the last, with a note
      {-1, false, growing(20), 0, true, true, false},  // the end is not known yet
      {-1, false, whole(20), 19, false, true, false},
      {-20, false, whole(20), 0, false, true, false},
      {-21, false, whole(20), 0, false, true, true},
      {{}, true, growing(20), 19, false, false, false},
      {{}, false, damaged(20), 0, false, false, false},
  };
  for (const Row& row : rows) {
    Controls c =
        ex::startControls(3, 500, 500, row.start, row.follow, tavo::scene::Style::points, false);
    ex::updateFromIndex(c, row.index);
    EXPECT_EQ(c.frame, row.frame) << "start " << row.start.value_or(999);
    EXPECT_EQ(c.startFrame.has_value(), row.pending) << "start " << row.start.value_or(999);
    EXPECT_EQ(c.paused, row.paused) << "start " << row.start.value_or(999);
    EXPECT_EQ(!c.message.empty(), row.message) << "start " << row.start.value_or(999);
  }
  // Playback that has reached a damaged frame at the end of the index stops.
  Controls c = playing(19);
  ex::updateFromIndex(c, damaged(20));
  EXPECT_TRUE(c.paused);
}

// ---------------------------------------------------------------------------
// Clock and rate
// ---------------------------------------------------------------------------

TEST(Clock, FramesComeAtTheRateWithoutBurstsAfterAStall) {
  Controls c = playing(0);
  c.rate = 4.0;
  ex::frameShown(c, 10.0);
  EXPECT_FALSE(ex::frameDue(c, 10.2));
  EXPECT_TRUE(ex::frameDue(c, 10.25));
  ex::frameShown(c, 10.26);
  EXPECT_FALSE(ex::frameDue(c, 10.45));  // due at 10.5: the period, not the lateness, counts
  ex::frameShown(c, 13.0);               // after a stall
  EXPECT_FALSE(ex::frameDue(c, 13.1));
  c.rate = ex::kFastest;
  EXPECT_TRUE(ex::frameDue(c, 13.1));

  Controls counted = playing(0);  // frames over a second make the rate shown
  for (int i = 0; i <= 30; ++i) ex::frameShown(counted, 1.0 + i / 20.0);
  EXPECT_NEAR(counted.view.fps, 20.0, 0.01);
}

TEST(Clock, RatesHalveAndDoubleBetweenTheEnds) {
  struct Row {
    double rate, measured, halved, doubled;
  };
  const Row rows[] = {
      {ex::kFastest, 100.0, 32.0, ex::kFastest},  // half of what is drawn now
      {ex::kFastest, 0.0, 16.0, ex::kFastest},
      {ex::kFastest, 0.1, ex::kSlowestRate, ex::kFastest},
      {8.0, 100.0, 4.0, 16.0},
      {ex::kFastestFiniteRate, 100.0, 256.0, ex::kFastest},
      {ex::kSlowestRate, 100.0, ex::kSlowestRate, 0.25},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ex::halvedRate(row.rate, row.measured), row.halved) << row.rate;
    EXPECT_EQ(ex::doubledRate(row.rate), row.doubled) << row.rate;
  }
}

TEST(Text, TimesInTheUnitThatFits) {
  struct Row {
    double seconds;
    const char* text;
  };
  const Row rows[] = {
      {0.0, "0 s"},        {1.5, "1.5 s"}, {2.5e-3, "2.5 ms"},  {1e-4 * 299, "29.9 ms"},
      {7e-6, "7 \u00b5s"}, {3e-9, "3 ns"}, {4e-12, "0.004 ns"}, {0.99999, "1 s"},
      {12345.0, "12345 s"}};
  for (const Row& row : rows) EXPECT_EQ(ex::timeText(row.seconds), row.text) << row.seconds;
}

// ---------------------------------------------------------------------------
// Pointer
// ---------------------------------------------------------------------------

TEST(Pointer, TimelineMapsColumnsToFramesAndBack) {
  // 101 frames over the track from x = 10 to 490: 4.8 pixels a frame.
  EXPECT_EQ(ex::timelineFrame(10, 500, whole(101)), 0u);
  EXPECT_EQ(ex::timelineFrame(250, 500, whole(101)), 50u);
  EXPECT_EQ(ex::timelineFrame(490, 500, whole(101)), 100u);
  EXPECT_EQ(ex::timelineFrame(0, 500, whole(101)), 0u);  // beyond the track: the ends
  EXPECT_EQ(ex::timelineFrame(499, 500, whole(101)), 100u);
  for (std::size_t k : {0u, 1u, 37u, 100u})
    EXPECT_EQ(ex::timelineFrame(static_cast<int>(std::lround(ex::timelineX(k, 500, whole(101)))),
                                500, whole(101)),
              k);
  // Half the file indexed: the track spans an estimate of twice the frames,
  // and a click past the indexed half goes to the last frame indexed.
  EXPECT_EQ(ex::timelineSpan(growing(50)), 100u);
  EXPECT_EQ(ex::timelineFrame(490, 500, growing(50)), 49u);
  EXPECT_EQ(ex::timelineSpan(damaged(50)), 50u);
}

TEST(Pointer, ClicksOnTheTimelineAndLegendDoNotTurnTheCamera) {
  struct Row {
    int x, y;
    std::size_t frame;
    std::vector<bool> hidden;
  };
  const Row rows[] = {
      {250, 495, 50, {false, false, false}},  // timeline
      {411, 10, 20, {true, false, false}},    // first legend square
      {470, 40, {20}, {false, false, true}},  // third legend name
      {411, 55, 20, {false, false, false}},   // below the legend: the camera's
  };
  for (const Row& row : rows) {
    Controls c = playing(20);
    c.follow = true;
    ex::onMouseButton(c, kLeftButton, kDown, row.x, row.y, whole(101));
    EXPECT_EQ(c.frame, row.frame) << row.x << "," << row.y;
    EXPECT_EQ(c.hidden, row.hidden) << row.x << "," << row.y;
    EXPECT_EQ(c.view.LEFT_MOUSE_DOWN, row.y == 55) << row.x << "," << row.y;
  }
  // A drag that began on the timeline keeps going to frames, not turning.
  Controls c = playing(0);
  ex::onMouseButton(c, kLeftButton, kDown, 10, 495, whole(101));
  ex::onMouseMotion(c, 490, 100, whole(101));
  EXPECT_EQ(c.frame, 100u);
  EXPECT_EQ(c.view.theta, 1.0f);
  ex::onMouseButton(c, kLeftButton, kUp, 490, 100, whole(101));
  ex::onMouseMotion(c, 250, 100, whole(101));
  EXPECT_EQ(c.frame, 100u);
}

// ---------------------------------------------------------------------------
// Keys of the picture
// ---------------------------------------------------------------------------

TEST(Keys, PictureKeysAndTheViewersCamera) {
  Controls c =
      ex::startControls(3, 500, 500, std::nullopt, false, tavo::scene::Style::points, true);
  const IndexView index = whole(10);
  EXPECT_EQ(press(c, '2', index), Effect::redraw);
  EXPECT_EQ(c.hidden, (std::vector<bool>{false, true, false}));
  EXPECT_EQ(press(c, '4', index), Effect::nothing);  // no fourth species
  press(c, '2', index);
  EXPECT_EQ(c.hidden, (std::vector<bool>{false, false, false}));
  press(c, 'v', index);
  EXPECT_EQ(c.style, tavo::scene::Style::spheres);
  press(c, 'r', index);
  EXPECT_FALSE(c.showRegions);
  EXPECT_EQ(press(c, 's', index), Effect::screenshot);
  EXPECT_EQ(press(c, 27, index), Effect::quit);

  // A tap of 'a' zooms in by 10 %; held (pressed again before its release),
  // it zooms as the viewer's does (15 x 0.9 - 0.06); the wheel zooms by 10 %
  // too; 'c' brings back the start.
  press(c, 'a', index);
  EXPECT_FLOAT_EQ(c.view.radius, 13.5f);
  press(c, 'a', index);
  EXPECT_FLOAT_EQ(c.view.radius, 13.44f);
  ex::onKeyUp(c);
  press(c, 'z', index);
  EXPECT_FLOAT_EQ(c.view.radius, 13.44f / 0.9f);
  ex::onKeyUp(c);
  EXPECT_EQ(ex::onMouseButton(c, 3, kDown, 250, 250, index), Effect::redraw);  // wheel up
  EXPECT_FLOAT_EQ(c.view.radius, 13.44f);
  EXPECT_EQ(press(c, '=', index), Effect::fit);
  press(c, kSpecial + 102, index);  // right arrow
  EXPECT_FLOAT_EQ(c.view.theta, 1.006f);
  press(c, 'c', index);
  EXPECT_EQ(c.view.radius, 15.0f);
  EXPECT_EQ(c.view.theta, 1.0f);

  Controls plain = playing(0);
  EXPECT_EQ(press(plain, 'r', index), Effect::nothing);  // no region file
  EXPECT_FALSE(plain.showRegions);
}

TEST(Keys, FollowAndPause) {
  Controls c = playing(3);
  press(c, 'f', growing(10));
  EXPECT_TRUE(c.follow);
  EXPECT_EQ(c.frame, 9u);
  ex::updateFromIndex(c, growing(12));  // the file grew
  EXPECT_EQ(c.frame, 11u);
  press(c, 'p', growing(12));  // pausing leaves follow mode where it is
  EXPECT_FALSE(c.follow);
  EXPECT_TRUE(c.paused);
  EXPECT_EQ(c.frame, 11u);
  press(c, 'p', growing(12));
  EXPECT_FALSE(c.paused);
}

// ---------------------------------------------------------------------------
// Overlay
// ---------------------------------------------------------------------------

TEST(Overlay, LegendStatusAndMessages) {
  Controls c = playing(3);
  c.hidden = {false, true, false};
  c.message = "--frame 70: the movie has 20 frames; showing the last";
  ex::OverlayFacts facts;
  facts.names = {"A", "B", "C"};
  facts.shown = 3;
  facts.step = 300;
  facts.time = 300 * 1e-6;
  facts.index = growing(20);
  facts.indexError =
      "m.Tavomovie: frame 20 (line 81, byte 4000): the step number is not an integer";
  const tavo::scene::Overlay overlay = ex::layOutOverlay(c, facts);
  auto find = [&](const std::string& part) -> const tavo::scene::OverlayItem* {
    for (const auto& item : overlay)
      if (item.kind == tavo::scene::OverlayItem::Kind::text &&
          item.text.find(part) != std::string::npos)
        return &item;
    return nullptr;
  };
  const auto* status = find("frame 3 of 20");
  ASSERT_NE(status, nullptr);
  EXPECT_NE(status->text.find("step 300"), std::string::npos);
  EXPECT_NE(status->text.find("300 \u00b5s"), std::string::npos);
  EXPECT_NE(status->text.find("indexing: 50 %"), std::string::npos);
  // The hidden species' name is greyed, the others white.
  EXPECT_LT(find("B")->colour.red, 0.5f);
  EXPECT_EQ(find("C")->colour.red, 1.0f);
  // Both messages are there, the long one wrapped within the window.
  EXPECT_NE(find("showing the last"), nullptr);
  EXPECT_NE(find("not an integer"), nullptr);
  for (const auto& item : overlay)
    if (item.kind == tavo::scene::OverlayItem::Kind::text)
      EXPECT_LE(item.text.size() * 6, 500u) << item.text;
}

// Where a run starts (a simulation started again, appending to its movie),
// a one-pixel tick crosses the timeline at that frame's column.
TEST(Overlay, RunStartsAreTickedOnTheTimeline) {
  ex::OverlayFacts facts;
  facts.index = whole(101);
  facts.index.runStarts = {25, 80};
  std::vector<float> ticks;
  for (const auto& item : ex::layOutOverlay(playing(3), facts))
    if (item.kind == tavo::scene::OverlayItem::Kind::box && item.width == 1.0f)
      ticks.push_back(item.x);
  EXPECT_EQ(ticks, (std::vector<float>{ex::timelineX(25, 500, facts.index),
                                       ex::timelineX(80, 500, facts.index)}));
}

}  // namespace
