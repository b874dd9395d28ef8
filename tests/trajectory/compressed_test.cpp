// Compressed movies: the index and every frame of a gzip file (one member,
// as gzip makes it, and BGZF), a zstd file (as zstd makes it, and
// seekable), read in a random order and from two threads at once, against
// the plain file; checkpoints taken every 64 KiB of text, so that reads
// start from many of them.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "formats/compressed.h"
#include "testSupport.h"
#include "trajectory/movieReference.h"
#include "trajectory/trajectory.h"

namespace {

using tavo::Frame;
using tavo::Movie;
using tavo::formats::SeekableWriter;

using tavo::test::setupOf;

// Two runs of frames of random live counts and coordinates, as the writer
// prints them, and a frame cut short at the end.
std::string runsMovie(const std::vector<int>& slots, std::vector<std::size_t>& frameEnds) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> position(-1e-6, 1e-6);
  std::string text;
  char buf[64];
  for (int run = 0; run < 2; ++run)
    for (int step = 0; step < 150; ++step) {
      text += "step " + std::to_string(step) + "\n";
      for (std::size_t s = 0; s < slots.size(); ++s) {
        int n = static_cast<int>(rng() % static_cast<unsigned>(slots[s] + 1));
        text += "specie " + std::to_string(s) + "\nalive " + std::to_string(n) + "\n";
        for (int k = 0; k < 3 * n; ++k) {
          std::snprintf(buf, sizeof buf, "%E ", position(rng));
          text += buf;
        }
        text += "\n";
      }
      frameEnds.push_back(text.size());
    }
  return text + "step 150\nspecie 0\nalive 2\n1.0E-07 ";
}

std::string seekable(SeekableWriter::Format format, const std::string& text,
                     const std::vector<std::size_t>& frameEnds) {
  SeekableWriter w(format, 3, format == SeekableWriter::Format::bgzf ? 0 : 1 << 16);
  std::size_t at = 0;
  for (std::size_t end : frameEnds) {
    w.add(std::string_view(text).substr(at, end - at), true);
    at = end;
  }
  w.add(std::string_view(text).substr(at), false);
  w.finish();
  return w.ready();
}

TEST(CompressedMovie, EveryFormIndexesAndReadsAsThePlainFile) {
  const std::vector<int> slots = {400, 3, 150};
  std::vector<std::size_t> frameEnds;
  const std::string text = runsMovie(slots, frameEnds);
  tavo::test::writeFile("plain.Tavomovie", text);
  ASSERT_EQ(std::system("gzip -c plain.Tavomovie > gzip.bin && zstd -q -c plain.Tavomovie > "
                        "zstd.bin"),
            0);
  tavo::test::writeFile("bgzf.bin", seekable(SeekableWriter::Format::bgzf, text, frameEnds));
  tavo::test::writeFile("seekable.bin",
                        seekable(SeekableWriter::Format::zstdSeekable, text, frameEnds));
  tavo::formats::setGzipCheckpointSpan(1 << 16);

  const Movie plain(setupOf(slots), "plain.Tavomovie");
  const tavo::test::ReferenceMovie ref = tavo::test::referenceParse(text, slots);
  ASSERT_EQ(plain.size(), ref.frames.size());
  const std::pair<const char*, const char*> forms[] = {{"gzip.bin", "gzip"},
                                                       {"bgzf.bin", "gzip"},
                                                       {"zstd.bin", "zstd"},
                                                       {"seekable.bin", "seekable zstd"}};
  for (const auto& [path, format] : forms) {
    SCOPED_TRACE(path);
    Movie movie(setupOf(slots), path);
    EXPECT_EQ(movie.format(), format);
    bool sameIndex = movie.size() == plain.size() && movie.partialBytes() == plain.partialBytes() &&
                     movie.fileBytes() == plain.fileBytes() &&
                     movie.runs().size() == plain.runs().size();
    for (std::size_t k = 0; sameIndex && k < plain.size(); ++k)
      sameIndex = movie.offset(k) == plain.offset(k) && movie.line(k) == plain.line(k) &&
                  movie.step(k) == plain.step(k) && movie.counts(k) == plain.counts(k);
    EXPECT_TRUE(sameIndex);
    // Frames in a random order, from two threads at once.
    std::vector<std::size_t> order(plain.size());
    for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
    std::shuffle(order.begin(), order.end(), std::mt19937(5));
    std::vector<int> wrong(2, 0);
    auto readHalf = [&](int half) {
      Frame frame;
      for (std::size_t i = static_cast<std::size_t>(half); i < order.size(); i += 2) {
        movie.read(order[i], frame);
        for (std::size_t s = 0; s < slots.size(); ++s)
          wrong[static_cast<std::size_t>(half)] +=
              !tavo::test::sameBits(frame.positions[s], ref.frames[order[i]].positions[s]);
      }
    };
    std::thread other(readHalf, 1);
    readHalf(0);
    other.join();
    EXPECT_EQ(wrong, std::vector<int>(2, 0));
  }
  // Checkpoints hold at most about a window per span of text.
  Movie gzip(setupOf(slots), "gzip.bin");
  EXPECT_LE(gzip.accessMemory(), text.size() / (1 << 16) * 33000 + 4096);
}

// A seekable zstd file decodes the zstd frames a read covers whole straight
// into the reader's buffer and the rest through cursors: with blocks much
// smaller and much larger than a movie frame it gives the plain file's
// frames, and a damaged byte is a tavo::Error, never other numbers.
TEST(CompressedMovie, SeekableFramesOfAnySizeReadAsThePlainFileOrFail) {
  const std::vector<int> slots = {400, 3, 150};
  std::vector<std::size_t> ends;
  const std::string runs = runsMovie(slots, ends);
  std::string text;  // over 4 MiB: a few copies of the whole frames
  std::vector<std::size_t> frameEnds;
  while (text.size() < (std::size_t{9} << 19)) {
    for (std::size_t end : ends) frameEnds.push_back(text.size() + end);
    text += runs.substr(0, ends.back());
  }
  tavo::test::writeFile("whole.Tavomovie", text);
  const Movie plain(setupOf(slots), "whole.Tavomovie");
  const tavo::test::ReferenceMovie ref = tavo::test::referenceParse(text, slots);
  struct Row {
    std::size_t blockBytes;
    bool damage;
  };
  for (const Row& row : {Row{1 << 16, false}, Row{6 << 20, false}, Row{1 << 16, true}}) {
    SCOPED_TRACE(std::to_string(row.blockBytes) + (row.damage ? " damaged" : ""));
    SeekableWriter w(SeekableWriter::Format::zstdSeekable, 1, row.blockBytes);
    std::size_t at = 0;
    for (std::size_t end : frameEnds) {
      w.add(std::string_view(text).substr(at, end - at), true);
      at = end;
    }
    w.finish();
    std::string bytes = w.ready();
    if (row.damage) bytes[bytes.size() / 2] ^= 0x55;
    tavo::test::writeFile("s.zst", bytes);
    int wrong = 0, errors = 0;
    try {
      const Movie movie(setupOf(slots), "s.zst");
      std::vector<std::size_t> order(plain.size());
      for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
      std::shuffle(order.begin(), order.end(), std::mt19937(3));
      Frame frame;
      for (std::size_t k : order) {
        try {
          movie.read(k, frame);
          for (std::size_t s = 0; s < slots.size(); ++s)
            wrong += !tavo::test::sameBits(frame.positions[s], ref.frames[k].positions[s]);
        } catch (const tavo::Error& e) {
          errors += std::string(e.what()).find("damaged") != std::string::npos;
        }
      }
      wrong += !row.damage && movie.size() != plain.size();
    } catch (const tavo::Error& e) {
      errors += std::string(e.what()).find("damaged") != std::string::npos;
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(errors > 0, row.damage);
  }
}

// After the last gzip member, zero padding ends the text; anything else is
// refused rather than left unread, and the frames before it stay indexed.
TEST(CompressedMovie, BytesAfterTheGzipDataAreNotDropped) {
  const std::string frame = "step 0\nspecie 0\nalive 1\n1 2 3 \n";
  tavo::test::writeFile("f.Tavomovie", frame + frame);
  ASSERT_EQ(std::system("gzip -c f.Tavomovie > padded.bin && cp padded.bin appended.bin && "
                        "head -c 100 /dev/zero >> padded.bin && cat f.Tavomovie >> appended.bin"),
            0);
  EXPECT_EQ(Movie(setupOf({2}), "padded.bin").size(), 2u);
  Movie appended(setupOf({2}), "appended.bin", Movie::Indexing::later);
  EXPECT_THROW(appended.refresh(), tavo::Error);
  EXPECT_EQ(appended.size(), 2u);
}

// A file replaced or cut under the index is told apart from one that grew;
// reopening reads the new file from its start.
TEST(CompressedMovie, RefreshTellsAFileShrunkOrReplaced) {
  const std::string frame = "step 0\nspecie 0\nalive 1\n1 2 3 \n";
  tavo::test::writeFile("m.Tavomovie", frame + frame);
  Movie movie(setupOf({2}), "m.Tavomovie");
  tavo::test::writeFile("m.Tavomovie", frame);
  EXPECT_THROW(
      {
        try {
          movie.refresh();
        } catch (const tavo::Error& e) {
          EXPECT_STREQ(e.what(),
                       "m.Tavomovie: the file shrank from 62 to 31 bytes since it was indexed");
          throw;
        }
      },
      tavo::Error);
  EXPECT_TRUE(movie.fileChanged());
  tavo::test::writeFile("n.Tavomovie", frame + frame + frame);
  ASSERT_EQ(std::rename("n.Tavomovie", "m.Tavomovie"), 0);
  Movie other(setupOf({2}), "m.Tavomovie");
  ASSERT_EQ(std::rename("m.Tavomovie", "o.Tavomovie"), 0);
  tavo::test::writeFile("m.Tavomovie", frame);
  try {
    other.refresh();
    ADD_FAILURE() << "no error";
  } catch (const tavo::Error& e) {
    EXPECT_STREQ(e.what(), "m.Tavomovie: the file was replaced");
  }
  movie.reopen();
  EXPECT_EQ(movie.refresh(), 1u);
  EXPECT_EQ(movie.runs().size(), 1u);
  // Written again in place from the same first frame, and longer.
  tavo::test::writeFile("m.Tavomovie", frame + frame);
  Movie rewritten(setupOf({2}), "m.Tavomovie");
  tavo::test::writeFile("m.Tavomovie", frame + "step 0\nspecie 0\nalive 1\n7 8 9 \n" + frame);
  try {
    rewritten.refresh();
    ADD_FAILURE() << "no error";
  } catch (const tavo::Error& e) {
    EXPECT_STREQ(e.what(), "m.Tavomovie: the file was replaced");
  }
}

}  // namespace

namespace {

// Frames large enough to be read by two threads: the same bits as a plain
// reading, and the same faults, whatever stands in either half: the
// writer's form throughout, another form of number, or a token that is no
// number; in a plain file, and in a seekable one whose halves are cut where
// a zstd frame starts.
TEST(LargeFrames, ReadByTwoThreadsAsByOne) {
  const int n = 60000;
  std::string block;
  char buf[64];
  for (int k = 0; k < 3 * n; ++k) {
    std::snprintf(buf, sizeof buf, "%E ", (k % 7 - 3) * 1.25e-7 + k * 1e-12);
    block += buf;
  }
  struct Row {
    double where;      // the token replaced, as a fraction of the block
    std::string with;  // "" for none
  };
  const Row rows[] = {{0, ""}, {0.25, "1.5"}, {0.75, "-2e-7"}, {0.25, "x"}, {0.75, "x"}};
  for (const Row& row : rows) {
    std::string coordinates = block;
    const std::size_t at = block.find(' ', static_cast<std::size_t>(block.size() * row.where)) + 1;
    if (!row.with.empty()) coordinates.replace(at, block.find(' ', at) - at, row.with);
    const std::string text = "step 0\nspecie 0\nalive 2\n1 2 3 4 5 6 \nspecie 1\nalive " +
                             std::to_string(n) + "\n" + coordinates + "\n";
    tavo::test::writeFile("large.Tavomovie", text);
    tavo::test::writeFile("large.zst",
                          seekable(SeekableWriter::Format::zstdSeekable, text, {text.size()}));
    const tavo::test::ReferenceMovie ref = tavo::test::referenceParse(text, {2, n});
    for (const char* path : {"large.Tavomovie", "large.zst"}) {
      Movie movie(setupOf({2, n}), path);
      Frame frame;
      std::string message;
      try {
        movie.read(0, frame);
      } catch (const tavo::Error& e) {
        message = e.what();
      }
      const auto token = static_cast<int>(std::count(block.begin(), block.begin() + at, ' '));
      const char* axis[] = {"x", "y", "z"};
      if (row.with == "x")
        EXPECT_NE(message.find("coordinate " + std::string(axis[token % 3]) + " of molecule " +
                               std::to_string(token / 3) + " of specie 1 is not a number"),
                  std::string::npos)
            << path << ": " << message;
      else
        EXPECT_TRUE(message.empty() &&
                    tavo::test::sameBits(frame.positions[1], ref.frames[0].positions[1]))
            << path << " " << row.where << " " << row.with << ": " << message;
    }
  }
}

}  // namespace
