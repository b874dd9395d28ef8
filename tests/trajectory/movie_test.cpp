// Movie: the index against a plain token-by-token reading of the whole file
// on many layouts, growing and cut-off files, damaged frames named with
// their place, frames read without allocating, and reads beside a refresh.
#include <unistd.h>

#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "allocationCounter.h"
#include "testSupport.h"
#include "trajectory/movieReference.h"
#include "trajectory/trajectory.h"

namespace {

using tavo::Frame;
using tavo::Movie;
using tavo::test::referenceParse;
using tavo::test::setupOf;
using tavo::test::writeFile;

void append(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::app);
  out << text;
}

// A frame as the library's writer prints it; molecule k of species s of the
// frame of step t sits at (t + s/8, -k/4, 1e-6 * k).
std::string writerFrame(int step, const std::vector<int>& counts) {
  std::string text = "step " + std::to_string(step) + "\n";
  char buf[64];
  for (std::size_t s = 0; s < counts.size(); ++s) {
    text += "specie " + std::to_string(s) + "\nalive " + std::to_string(counts[s]) + "\n";
    for (int k = 0; k < counts[s]; ++k) {
      std::snprintf(buf, sizeof buf, "%E %E %E ", step + static_cast<double>(s) / 8, -k / 4.0,
                    1e-6 * k);
      text += buf;
    }
    text += "\n";
  }
  return text;
}

// Three frames of three species, in the writer's layout.
const std::vector<int> kSlots = {3, 2, 4};
std::string writerMovie() {
  return writerFrame(0, {2, 0, 1}) + writerFrame(5, {3, 2, 0}) + writerFrame(5, {0, 1, 4});
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
    text.replace(at, from.size(), to);
  return text;
}

// Every blank of the coordinate lines (those without a keyword) becomes
// `blank`.
std::string coordinateBlanks(const std::string& text, const std::string& blank) {
  std::string out;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    std::string line = text.substr(start, end - start);
    if (line.find_first_of("sa") == std::string::npos) line = replaced(line, " ", blank);
    out += line + "\n";
  }
  return out;
}

// The index and every frame read must be what the plain reading gives.
void expectSameAsReference(const std::string& text, const std::vector<int>& slots,
                           const std::string& label) {
  SCOPED_TRACE(label);
  writeFile("m.Tavomovie", text);
  tavo::test::ReferenceMovie ref = referenceParse(text, slots);
  ASSERT_NE(ref.end, tavo::test::ReferenceMovie::End::damaged);
  Movie movie(setupOf(slots), "m.Tavomovie");
  ASSERT_EQ(movie.size(), ref.frames.size());
  EXPECT_EQ(movie.indexedBytes(), ref.indexedBytes);
  EXPECT_EQ(movie.partialBytes(), static_cast<std::int64_t>(text.size()) - ref.indexedBytes);
  Frame frame;
  for (std::size_t k = 0; k < ref.frames.size(); ++k) {
    const tavo::test::ReferenceFrame& f = ref.frames[k];
    EXPECT_EQ(movie.offset(k), f.offset) << k;
    EXPECT_EQ(movie.line(k), f.line) << k;
    EXPECT_EQ(movie.step(k), f.step) << k;
    EXPECT_EQ(movie.counts(k), f.counts) << k;
    movie.read(k, frame);
    EXPECT_EQ(frame.step, f.step);
    EXPECT_EQ(frame.time, f.step * 0.5);
    ASSERT_EQ(frame.positions.size(), slots.size());
    for (std::size_t s = 0; s < slots.size(); ++s)
      EXPECT_TRUE(tavo::test::sameBits(frame.positions[s], f.positions[s]))
          << "frame " << k << " specie " << s;
  }
}

TEST(MovieIndex, EqualsFullReadingOnUnusualLayouts) {
  const std::string movie = writerMovie();
  struct Row {
    const char* label;
    std::string text;
    std::size_t frames;  // complete frames in it
    std::vector<int> slots = kSlots;
  };
  const Row rows[] = {
      {"writer", movie, 3},
      {"CRLF", replaced(movie, "\n", "\r\n"), 3},
      {"extra blanks", "\n\n  \t" + replaced(replaced(movie, " ", "  \t "), "\n", " \n\n "), 3},
      {"one number per line", coordinateBlanks(movie, "\n"), 3},
      {"numbers split across lines", coordinateBlanks(movie, "\n\t"), 3},
      {"all on one line", replaced(movie, "\n", " "), 3},
      {"coordinates on the alive line",
       std::regex_replace(movie, std::regex("(alive \\d+)\n"), "$1 "), 3},
      {"decimal and odd notations",
       replaced(replaced(replaced(movie, "0.000000E+00", "0"), "E-01", "e-1"), "1.000000E-06",
                "+0x1.0c6f7a0b5ed8dp-20"),
       3},
      {"a frame hidden on a coordinate line",
       "step 0 specie 0 alive 1\n1 2 3 step 1 specie 0 alive 0\nstep 2 specie 0 alive 1\n4 5 6 \n",
       3,
       {3}},
      {"zero species", "step 1\nstep 2\n\nstep 2 \n", 3, {}},
      {"cut inside the last frame", movie + writerFrame(9, {1, 1, 1}).substr(0, 60), 3},
      {"cut inside a number", movie.substr(0, movie.size() - 4), 2},
      {"cut after the last number", movie.substr(0, movie.size() - 2), 2},
      {"cut after the last keyword", movie + "step", 3},
      {"a last line short of its count",
       movie +
           "step 9\nspecie 0\nalive 1\n1 2 3 \nspecie 1\nalive 0\n\nspecie 2\nalive 2\n1 2 3 \n",
       3},
      {"cut after an empty species", "step 1 specie 0 alive 0", 0, {3}},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(referenceParse(row.text, row.slots).frames.size(), row.frames) << row.label;
    expectSameAsReference(row.text, row.slots, row.label);
  }
}

// A growing movie: each append is indexed by reading only the new bytes,
// partial frames are counted as partial bytes and picked up once whole.
TEST(MovieIndex, RefreshAfterAppendsOfWholeAndPartialFrames) {
  const std::string f0 = writerFrame(0, {2, 0, 1}), f1 = writerFrame(3, {3, 2, 0}),
                    f2 = writerFrame(7, {0, 0, 0});
  struct Row {
    std::string appended;
    std::size_t frames;
    std::int64_t partial;
  };
  const Row rows[] = {
      {"", 0, 0},
      {f0 + f1.substr(0, 40), 1, 40},
      {f1.substr(40, f1.size() - 42), 1, static_cast<std::int64_t>(f1.size() - 2)},
      {" \n", 2, 0},
      {"\n\n", 2, 0},
      {"step", 2, 4},
      {f2.substr(4), 3, 0},
  };
  writeFile("m.Tavomovie", "");
  Movie movie(setupOf(kSlots), "m.Tavomovie");
  std::size_t added = 0;
  for (const Row& row : rows) {
    append("m.Tavomovie", row.appended);
    added += movie.refresh();
    EXPECT_EQ(movie.size(), row.frames) << row.appended;
    EXPECT_EQ(movie.partialBytes(), row.partial) << row.appended;
    EXPECT_TRUE(movie.complete());
  }
  EXPECT_EQ(added, 3u);
  expectSameAsReference(f0 + f1 + "\n\n" + f2, kSlots, "grown");

  // Bytes already indexed are not read again: frame 0 defaced in place
  // does not stop a refresh from indexing an appended frame.
  {
    std::fstream f("m.Tavomovie", std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(0);
    f << "XXXX";
  }
  append("m.Tavomovie", writerFrame(9, {1, 1, 1}));
  EXPECT_EQ(movie.refresh(), 1u);
  EXPECT_EQ(movie.step(3), 9);

  // In pieces: one frame per call when the byte budget is tiny.
  writeFile("p.Tavomovie", writerMovie());
  Movie pieces(setupOf(kSlots), "p.Tavomovie", Movie::Indexing::later);
  for (std::size_t k = 1; k <= 3; ++k) {
    EXPECT_EQ(pieces.refresh(1), 1u);
    EXPECT_EQ(pieces.size(), k);
    EXPECT_EQ(pieces.complete(), k == 3);  // the scan has met the end
  }
  EXPECT_EQ(pieces.refresh(1), 0u);
  EXPECT_TRUE(pieces.complete());
}

// The padded layout: every slot of every species in setup order, the live
// molecules first, NaN and 0 in the empty slots.
// A step equal to or below the one before starts a run, whether the frames
// are indexed at once or one refresh at a time as they are appended.
TEST(MovieIndex, EqualOrFallingStepsStartRuns) {
  using Runs = std::vector<std::array<int, 4>>;  // first frame, frames, first and last step
  const std::pair<std::vector<int>, Runs> rows[] = {
      {{}, {}},
      {{0, 1, 2}, {{0, 3, 0, 2}}},
      {{0, 1, 2, 0, 1, 2}, {{0, 3, 0, 2}, {3, 3, 0, 2}}},
      {{5, 5, 5}, {{0, 1, 5, 5}, {1, 1, 5, 5}, {2, 1, 5, 5}}},
      {{-3, 10, 4, 7, -1}, {{0, 2, -3, 10}, {2, 2, 4, 7}, {4, 1, -1, -1}}},
  };
  for (const auto& [steps, expected] : rows) {
    std::string text;
    for (int step : steps) text += writerFrame(step, {1, 0, 2});
    writeFile("m.Tavomovie", text);
    Runs got, grown;
    for (const tavo::Run& r : Movie(setupOf(kSlots), "m.Tavomovie").runs())
      got.push_back(
          {static_cast<int>(r.firstFrame), static_cast<int>(r.frames), r.firstStep, r.lastStep});
    writeFile("m.Tavomovie", "");
    Movie growing(setupOf(kSlots), "m.Tavomovie");
    for (int step : steps) {
      append("m.Tavomovie", writerFrame(step, {1, 0, 2}));
      growing.refresh();
    }
    for (const tavo::Run& r : growing.runs())
      grown.push_back(
          {static_cast<int>(r.firstFrame), static_cast<int>(r.frames), r.firstStep, r.lastStep});
    EXPECT_EQ(got, expected) << testing::PrintToString(steps);
    EXPECT_EQ(grown, expected) << testing::PrintToString(steps);
  }
}

TEST(MoviePadded, SlotsInSetupOrderWithTheLiveMoleculesFirst) {
  writeFile("m.Tavomovie", writerMovie());
  Movie movie(setupOf(kSlots), "m.Tavomovie");
  ASSERT_EQ(movie.slotCount(), 9u);
  EXPECT_EQ(movie.slotSpecies(), (std::vector<int>{0, 0, 0, 1, 1, 2, 2, 2, 2}));
  Frame scratch;
  std::vector<double> xyz(27);
  std::vector<std::uint8_t> alive(9);
  for (std::size_t k = 0; k < movie.size(); ++k) {
    movie.readPadded(k, scratch, xyz.data(), alive.data());
    const Frame frame = movie.read(k);
    std::size_t slot = 0;
    for (std::size_t s = 0; s < kSlots.size(); ++s)
      for (int i = 0; i < kSlots[s]; ++i, ++slot) {
        const bool live = i < frame.count(static_cast<int>(s));
        EXPECT_EQ(alive[slot], live ? 1 : 0) << k << " " << slot;
        for (std::size_t a = 0; a < 3; ++a) {
          const double v = xyz[3 * slot + a];
          if (live)
            EXPECT_EQ(v, frame.positions[s][3 * static_cast<std::size_t>(i) + a]);
          else
            EXPECT_TRUE(std::isnan(v));
        }
      }
  }
}

// A token running into the end of the file may be a frame still being
// written, unless it is longer than any token the reader takes: then it is
// damage, whatever its length beyond that and wherever it stands in the frame.
TEST(MovieIndex, OverlongTokenAtTheEndIsDamageNotAFrameBeingWritten) {
  const std::string ok = writerFrame(1, {1, 0, 0});
  const std::string heads[] = {"", "step ", "step 2 ", "step 2 specie 0 alive "};
  for (const std::string& head : heads)
    for (std::size_t length : {1, 1023, 1024, 1025, 1026, 1090, 5000}) {
      std::string token = "specie";
      token.resize(length, head.empty() ? '\x83' : '7');
      const std::string text = ok + head + token.substr(0, length);
      const bool partial = length <= 1024;
      SCOPED_TRACE("'" + head + "' + " + std::to_string(length));
      ASSERT_EQ(referenceParse(text, kSlots).end == tavo::test::ReferenceMovie::End::partial,
                partial);
      writeFile("m.Tavomovie", text);
      Movie movie(setupOf(kSlots), "m.Tavomovie", Movie::Indexing::later);
      if (partial) {
        EXPECT_EQ(movie.refresh(), 1u);
        EXPECT_EQ(movie.partialBytes(), static_cast<std::int64_t>(text.size() - ok.size()));
      } else {
        EXPECT_THROW(movie.refresh(), tavo::Error);
      }
    }
}

// A damaged frame names the file, frame, species, molecule, byte and line;
// the frames before it stay indexed and the error comes back on every
// refresh. Coordinates are read only with their frame.
TEST(MovieIndex, DamagedFramesAreNamedWithTheirPlace) {
  const std::string ok = "step 1\nspecie 0\nalive 1\n1 2 3 \nspecie 1\nalive 0\n\n";
  struct Row {
    std::string text;
    std::size_t frames;  // indexed before the damage
    std::string message;
  };
  const Row rows[] = {
      {ok + "step 2\nspecie 1\nalive 0\n", 1,
       "m.Tavomovie: frame 1 (step 2), line 9, byte 63: 'specie 0' expected, found 'specie' "
       "followed by '1'"},
      {ok + "step 2\nspecie 0\nalive 4\n", 1,
       "m.Tavomovie: frame 1 (step 2), line 10, byte 71: alive count '4' of specie 0 exceeds its "
       "3 slots"},
      {ok + "step 2\nspecie 0\nalive -1\n", 1,
       "m.Tavomovie: frame 1 (step 2), line 10, byte 71: negative alive count -1 for specie 0"},
      {ok + ok + "step 0\nspecie 0\nalive 0\n\nspecie 1\nalive 0\n\nstep 1\nspecie 1\n", 3,
       "m.Tavomovie: frame 3 (step 1), line 23, byte 155: 'specie 0' expected, found 'specie' "
       "followed by '1'"},
      {ok + "1e-7 \n" + ok, 1,
       "m.Tavomovie: frame 1, line 8, byte 49: 'step' expected, found "
       "'1e-7'"},
      {"step x\n", 0,
       "m.Tavomovie: frame 0, line 1, byte 5: the step number is not an integer (found 'x')"},
      {ok + "step 2\nspecie 0\nalife 0\n", 1,
       "m.Tavomovie: frame 1 (step 2), line 10, byte 65: 'alive' expected in the block of specie "
       "0, found 'alife'"},
  };
  for (const Row& row : rows) {
    writeFile("m.Tavomovie", row.text);
    Movie movie(setupOf({3, 2}), "m.Tavomovie", Movie::Indexing::later);
    for (int attempt = 0; attempt < 2; ++attempt) {
      try {
        movie.refresh();
        ADD_FAILURE() << "no error for " << row.text;
      } catch (const tavo::Error& e) {
        EXPECT_EQ(e.what(), row.message);
      }
    }
    EXPECT_EQ(movie.size(), row.frames) << row.message;
    EXPECT_FALSE(movie.complete());
  }

  // A coordinate's text is checked when its frame is read; the frame read
  // into is left as it was.
  writeFile("m.Tavomovie", ok + "step 2\nspecie 0\nalive 1\n\n1 x 3 \nspecie 1\nalive 0\n\n" +
                               replaced(ok, "step 1", "step 3"));
  Movie movie(setupOf({3, 2}), "m.Tavomovie");
  EXPECT_EQ(movie.size(), 3u);
  Frame frame;
  movie.read(2, frame);
  try {
    movie.read(1, frame);
    ADD_FAILURE() << "frame 1 read";
  } catch (const tavo::Error& e) {
    EXPECT_STREQ(e.what(),
                 "m.Tavomovie: frame 1 (step 2), line 12, byte 76: coordinate y of molecule 0 of "
                 "specie 0 is not a number (found 'x')");
  }
  EXPECT_EQ(frame.step, 3);
  EXPECT_EQ(frame.positions[0], (std::vector<double>{1, 2, 3}));
  EXPECT_THROW(movie.read(3), tavo::Error);

  // A count within a huge capacity but beyond what the frame's bytes can
  // hold is refused before any room is made for it.
  writeFile("h.Tavomovie", "step 0 specie 0 alive 1999999999\n1 2 3 \nstep 1 specie 0 alive 0\n");
  Movie huge(setupOf({2000000000}), "h.Tavomovie");
  ASSERT_EQ(huge.size(), 2u);
  try {
    huge.read(0);
    ADD_FAILURE() << "frame 0 read";
  } catch (const tavo::Error& e) {
    EXPECT_STREQ(e.what(),
                 "h.Tavomovie: frame 0 (step 0), line 1, byte 0: alive count 1999999999 of specie "
                 "0 does not fit in the frame's 40 bytes");
  }
  for (const char* path : {"missing.Tavomovie", "."}) {
    try {
      Movie(setupOf({3, 2}), path);
      ADD_FAILURE() << path;
    } catch (const tavo::Error& e) {
      EXPECT_EQ(e.what(), std::string(path) + ": cannot open the movie (" +
                              (path[0] == '.' ? "Is a directory" : "No such file or directory") +
                              ")");
    }
  }
}

TEST(MovieFrames, ReadIntoOneFrameAllocatesNothing) {
  std::string text;
  for (int t = 0; t < 6; ++t) text += writerFrame(t, {t % 3, 2, 4 - t % 4});
  writeFile("m.Tavomovie", text);
  Movie movie(setupOf(kSlots), "m.Tavomovie");
  Frame frame;
  for (std::size_t k = 0; k < movie.size(); ++k) movie.read(k, frame);  // warms up
  EXPECT_EQ(tavo::test::allocationsOf([&] {
              for (int r = 0; r < 4; ++r)
                for (std::size_t k = 0; k < movie.size(); ++k) movie.read(k, frame);
            }),
            0);
  EXPECT_EQ(frame.index, 5u);
  EXPECT_EQ(frame.count(2), 3);
}

// One thread appends frames (each in two writes, so that the index meets
// partial frames), one refreshes, two read random indexed frames and check
// them against what was written.
TEST(MovieFrames, ReadsBesideARefresh) {
  const int frames = 120;
  writeFile("m.Tavomovie", "");
  Movie movie(setupOf(kSlots), "m.Tavomovie");
  std::atomic<bool> written{false};
  std::atomic<int> bad{0};
  std::thread writer([&] {
    for (int t = 0; t < frames; ++t) {
      std::string f = writerFrame(t, {t % 4 == 0 ? 0 : 3, t % 3, 4});
      append("m.Tavomovie", f.substr(0, f.size() / 2));
      append("m.Tavomovie", f.substr(f.size() / 2));
    }
    written = true;
  });
  std::thread refresher([&] {
    while (!written || movie.size() < frames) movie.refresh();
  });
  auto reader = [&](unsigned seed) {
    std::mt19937 rng(seed);
    Frame frame;
    while (!written || movie.size() < frames) {
      std::size_t n = movie.size();
      if (n == 0) continue;
      std::size_t k = rng() % n;
      movie.read(k, frame);
      int t = static_cast<int>(k);
      if (frame.step != t || frame.count(0) != (t % 4 == 0 ? 0 : 3) || frame.count(1) != t % 3 ||
          (frame.count(2) == 4 && frame.positions[2][3] != t + 0.25))
        ++bad;
    }
  };
  std::thread r1(reader, 1), r2(reader, 2);
  writer.join();
  refresher.join();
  r1.join();
  r2.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_EQ(movie.size(), static_cast<std::size_t>(frames));
  EXPECT_EQ(movie.partialBytes(), 0);
}

}  // namespace
