// Movie reader and writers: round trips, exact bytes, exact numbers, bad
// frames, write failures, and no allocation per frame.
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "allocationCounter.h"
#include "formats/movie.h"
#include "testSupport.h"

namespace {

using tavo::test::fatalMessage;
using tavo::test::loadSetup;
using tavo::test::readFile;
using tavo::test::writeFile;

// A setup with the given species lines and no reactions.
std::string setupWith(int nSpecies, const std::string& speciesLines) {
  return "N_species " + std::to_string(nSpecies) + "\n" + speciesLines +
         "N_fwd 0 ;\nN_rev 0 ;\nrev_max_mol 0 ;\n"
         "temperature(K) 300.0\nviscosity 3.0\npH 7.0\ntotal_step 10\ntime_step(s) 1.0e-6\n";
}

// Two species: A with 3 slots (slot 0 alive after the load), B with 2.
std::string smallSetup() {
  return setupWith(2,
                   "specie A 0 1.0 1.0e-9 1.0e-10 3 1 0\n"
                   "specie B 1 2.0 3.0e-9 1.0e-10 2 0 0\n");
}

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

std::vector<double> positionOf(int s, int i) {
  double x, y, z;
  position(s, i, &x, &y, &z);
  return {x, y, z};
}

TEST(MovieWriter, WritesExactFrameAndPopulationBytes) {
  loadSetup(smallSetup());
  setPosition(0, 0, 1.5e-6, -2.0, 0.0);
  setAlive(0, 2, true);
  setPosition(0, 2, 1.0, 2.0, 3.0);
  setPosition(0, 1, 9.0, 9.0, 9.0);  // dead: not written
  std::remove("m.Tavomovie");
  createMovie_toFile("m.Tavomovie", 7);
  EXPECT_EQ(readFile("m.Tavomovie"),
            "step 7\nspecie 0\nalive 2\n"
            "1.500000E-06 -2.000000E+00 0.000000E+00 1.000000E+00 2.000000E+00 3.000000E+00 \n"
            "specie 1\nalive 0\n\n");

  std::remove("pop.txt");
  createData_toFile("pop.txt", 0);
  createData_toFile("pop.txt", 1);
  createData_toFile("pop.txt", 0);
  EXPECT_EQ(readFile("pop.txt"), "step:\tA\tB\t\n0\t2\t0\t\n1\t2\t0\t\nstep:\tA\tB\t\n0\t2\t0\t\n");
}

TEST(MovieWriter, CoordinatesMatchFprintfByteForByte) {
  loadSetup(setupWith(1, "specie A 0 1.0 1.0e-9 1.0e-10 3000 0 0\n"));
  std::mt19937_64 rng(12345);
  // clang-format off
  std::vector<double> values = {0.0, -0.0, INFINITY, -INFINITY, NAN, -NAN, 5e-324, -5e-324,
                                2.2250738585072014e-308, 1.7976931348623157e308, 0.5, 1e100,
                                12345675.0, 12345665.0, 9.9999995, 9999999.5, 1e-100};  // ties
  // clang-format on
  while (values.size() < 9000) {
    std::uint64_t bits = rng();
    double v;  // any bit pattern: subnormals, huge exponents, nan
    std::memcpy(&v, &bits, sizeof v);
    if (values.size() % 3 == 1)  // short binary fractions, often exact ties
      v = std::ldexp(static_cast<double>(rng() % 100000000), -static_cast<int>(rng() % 60));
    values.push_back(v);
  }
  std::string expected = "step 3\nspecie 0\nalive 3000\n";
  char buf[64];
  for (int i = 0; i < 3000; ++i) {
    setAlive(0, i, true);
    setPosition(0, i, values[3 * i], values[3 * i + 1], values[3 * i + 2]);
    for (int a = 0; a < 3; ++a) {
      std::snprintf(buf, sizeof buf, "%E ", values[3 * i + a]);
      expected += buf;
    }
  }
  expected += "\n";
  std::remove("m.Tavomovie");
  createMovie_toFile("m.Tavomovie", 3);
  EXPECT_EQ(readFile("m.Tavomovie"), expected);
}

TEST(MovieWriter, ReportsFilesThatCannotBeWritten) {
  loadSetup(smallSetup());
  mkdir("adir", 0755);
  EXPECT_EQ(fatalMessage([] { createMovie_toFile("adir", 0); }),
            "(createMovie_toFile) cannot open movie file 'adir' for appending: Is a directory");
  EXPECT_EQ(fatalMessage([] { createData_toFile("no/such/dir/pop.txt", 0); }),
            "(createData_toFile) cannot open population file 'no/such/dir/pop.txt' for "
            "appending: No such file or directory");
  // A full disk: small and large frames both fail loudly.
  EXPECT_EQ(fatalMessage([] { createMovie_toFile("/dev/full", 0); }),
            "(createMovie_toFile) cannot write movie file '/dev/full': No space left on device");
  EXPECT_EQ(
      fatalMessage([] { createData_toFile("/dev/full", 0); }),
      "(createData_toFile) cannot write population file '/dev/full': No space left on device");
  loadSetup(setupWith(1, "specie A 0 1.0 1.0e-9 1.0e-10 200000 200000 0\n"));
  EXPECT_EQ(fatalMessage([] { createMovie_toFile("/dev/full", 0); }),
            "(createMovie_toFile) cannot write movie file '/dev/full': No space left on device");
}

TEST(MovieReader, RoundTripCompactsSlotsAndAppends) {
  loadSetup(smallSetup());
  setAlive(0, 0, false);
  setAlive(0, 1, true);
  setPosition(0, 1, 1.0, 2.0, 3.0);
  setAlive(0, 2, true);
  setPosition(0, 2, -4e-7, 5e-300, -0.0);
  setAlive(1, 1, true);
  setPosition(1, 1, 7.0, 8.0, 9.0);
  writeFile("m.Tavomovie", "step 0\nspecie 0\nalive 0\n\nspecie 1\nalive 0\n\n");
  createMovie_toFile("m.Tavomovie", 1);  // appended: the file holds two frames
  long long pos = 0;
  readMovie_fromFile("m.Tavomovie", &pos);
  EXPECT_EQ(readCurrentStep(), 0);
  EXPECT_EQ(alivePopulation(0), 0);
  EXPECT_FALSE(alive(0, 1));
  EXPECT_EQ(positionOf(0, 1), (std::vector<double>{0, 0, 0}));

  long long first = pos;
  readMovie_fromFile("m.Tavomovie", &pos);
  EXPECT_EQ(readCurrentStep(), 1);
  EXPECT_EQ(alivePopulation(0), 2);
  EXPECT_TRUE(alive(0, 0));
  EXPECT_TRUE(alive(0, 1));
  EXPECT_FALSE(alive(0, 2));
  EXPECT_EQ(positionOf(0, 0), (std::vector<double>{1, 2, 3}));
  EXPECT_EQ(positionOf(0, 1), (std::vector<double>{-4e-7, 5e-300, -0.0}));
  EXPECT_TRUE(std::signbit(positionOf(0, 1)[2]));
  EXPECT_EQ(positionOf(0, 2), (std::vector<double>{0, 0, 0}));
  EXPECT_TRUE(alive(1, 0));
  EXPECT_FALSE(alive(1, 1));
  EXPECT_EQ(positionOf(1, 0), (std::vector<double>{7, 8, 9}));
  // The position stops right after the last token: the blank and line end
  // of the coordinate line are left for the next read.
  std::string text = readFile("m.Tavomovie");
  EXPECT_EQ(text.substr(static_cast<std::size_t>(pos)), " \n");
  EXPECT_EQ(text.substr(static_cast<std::size_t>(first), 2), "\n\n");

  // Past the last frame the read fails; position zero starts again.
  EXPECT_EQ(fatalMessage([&] { readMovie_fromFile("m.Tavomovie", &pos); }),
            "movie format incorrect!");
  pos = 0;
  readMovie_fromFile("m.Tavomovie", &pos);
  EXPECT_EQ(readCurrentStep(), 0);
  EXPECT_EQ(pos, first);
}

TEST(MovieReader, EveryCoordinateEqualsStrtod) {
  const int n = 2000;
  loadSetup(setupWith(1, "specie A 0 1.0 1.0e-9 1.0e-10 2000 0 0\n"));
  std::mt19937_64 rng(777);
  std::vector<std::string> texts;
  char buf[512];
  // clang-format off
  const char* fixedForms[] = {"1.5", "+1.5", "1.500000E+00", "1.5e+000", "15e-1", ".15E1",
      "150000E-5", "-0", "+.5", "5.", "0x1.8p0", "INF", "-inf", "NAN", "1e400", "1e-400",
      "4.9E-324", "2.4703282292062328e-324", "1.7976931348623158e308",
      "0.000000000000000000000000000000000000001234567890123456789012345",
      "123456789012345678901234567890e-10"};
  for (const char* f : fixedForms) texts.push_back(f);
  while (texts.size() < 3 * n) {
    std::uint64_t bits = rng();
    double v;  // any finite bit pattern
    std::memcpy(&v, &bits, sizeof v);
    if (std::isnan(v)) continue;
    double shortBinary = std::ldexp(static_cast<double>(rng() % 1000000), -static_cast<int>(rng() % 80));
    switch (texts.size() % 6) {
      case 0: std::snprintf(buf, sizeof buf, "%E", v); break;
      case 1: std::snprintf(buf, sizeof buf, "%.17g", v); break;
      case 2: std::snprintf(buf, sizeof buf, "%+.25e", v); break;
      case 3: std::snprintf(buf, sizeof buf, "%.12f", std::ldexp(v, -1000) * 1e6); break;
      case 4: std::snprintf(buf, sizeof buf, "%E", shortBinary); break;  // the writer's form
      default:  // more digits than a mantissa holds, exponents of three digits
        std::snprintf(buf, sizeof buf, "%llu%llue%d", static_cast<unsigned long long>(rng() % 1000000000),
                      static_cast<unsigned long long>(rng()), static_cast<int>(rng() % 700) - 350);
    }
    // clang-format on
    texts.push_back(buf);
  }
  std::string frame = "step 5 specie 0 alive " + std::to_string(n) + "\n";
  for (const std::string& t : texts) frame += t + (rng() % 2 ? " " : "\r\n\t");
  writeFile("m.Tavomovie", frame);
  long long pos = 0;
  readMovie_fromFile("m.Tavomovie", &pos);
  for (int i = 0; i < n; ++i) {
    std::vector<double> p = positionOf(0, i);
    for (int a = 0; a < 3; ++a) {
      const std::string& t = texts[static_cast<std::size_t>(3 * i + a)];
      ASSERT_TRUE(sameBits(p[static_cast<std::size_t>(a)], std::strtod(t.c_str(), nullptr))) << t;
    }
  }
}

// The writer's own form is read by a word-at-a-time fast path. Texts that
// nearly have that form must either be read as strtod reads them or be
// refused, and numbers cut by the end of the read window must come out whole.
TEST(MovieReader, WriterFormNearMissesAndWindowEdges) {
  // Both ways of reading the writer's form: 16 bytes at a time (where the
  // processor can) and byte-wise.
  for (bool wide : {true, false}) {
    SCOPED_TRACE(wide ? "16 bytes at a time" : "byte-wise");
    struct Restore {
      bool before;
      ~Restore() { tavo::detail::useWideNumbers(before); }
    } restore{tavo::detail::useWideNumbers(wide)};
    // clang-format off
    const char* numbers[] = {"1.0000000E-07", "1.000000E-7", "1.000000E-100", "1.000000e-07",
        "-9.999999E+22", "9.999999E+29", "1.000000E-16", "-1.000000E-17", "+1.000000E+00",
        "-0.000000E+00", "0.000000E-99", "9.999999E-07", "1.000000E+07"};
    const char* notNumbers[] = {"1.0/0000E-07", "1.00000:E-07", ":.000000E-07", "1.00a000E-07", "1.000000E-0x",
        "1.000000E*07", "1.000000F-07", "1.000000E-07x", "--1.000000E-07", "1.0000\xb1" "0E-07",
        "1,000000E-07", "1.000000E-:7", "1.000000E-7:"};
    // clang-format on
    const int n = static_cast<int>(std::size(numbers));
    loadSetup(setupWith(1, "specie A 0 1.0 1.0e-9 1.0e-10 120000 0 0\n"));
    std::string frame = "step 1 specie 0 alive 5\n";
    for (int i = 0; i < 15; ++i) frame += std::string(numbers[i % n]) + " ";
    writeFile("m.Tavomovie", frame);
    long long pos = 0;
    readMovie_fromFile("m.Tavomovie", &pos);
    for (int i = 0; i < 15; ++i) {
      double got = positionOf(0, i / 3)[static_cast<std::size_t>(i % 3)];
      EXPECT_TRUE(sameBits(got, std::strtod(numbers[i % n], nullptr))) << numbers[i % n];
    }
    for (const char* bad : notNumbers) {
      std::string text = bad;
      // Bytes outside printable ASCII are shown as '?' in the message.
      std::string found = text.find('\xb1') == std::string::npos ? text : "1.0000?0E-07";
      EXPECT_EQ(fatalMessage([&] {
                  writeFile("m.Tavomovie",
                            "step 3 specie 0 alive 1\n1.000000E-07 " + text + " 0\n");
                  long long p = 0;
                  readMovie_fromFile("m.Tavomovie", &p);
                }),
                "movie format incorrect: coordinate y of molecule 0 of specie 0 in the frame of "
                "step 3 is not a number (found '" +
                    found + "')");
    }

    // About 4 MB of writer-form numbers, signed or not, with runs of extra
    // white space, so that the read window ends inside numbers and blanks at
    // many different offsets.
    const int molecules = 120000;
    std::mt19937_64 rng(2024);
    std::vector<std::string> texts;
    frame = "step 7 specie 0 alive " + std::to_string(molecules) + "\n";
    char buf[64];
    for (int i = 0; i < 3 * molecules; ++i) {
      double v =
          std::ldexp(static_cast<double>(rng() % 10000000) - 5e6, -static_cast<int>(rng() % 60));
      std::snprintf(buf, sizeof buf, "%E", v);
      texts.push_back(buf);
      frame += texts.back();
      frame += rng() % 7 == 0 ? std::string(1 + rng() % 5, " \n\t\r"[rng() % 4]) : " ";
    }
    writeFile("m.Tavomovie", frame);
    pos = 0;
    readMovie_fromFile("m.Tavomovie", &pos);
    EXPECT_EQ(alivePopulation(0), molecules);
    for (int i = 0; i < molecules; ++i) {
      std::vector<double> p = positionOf(0, i);
      for (int a = 0; a < 3; ++a) {
        const std::string& t = texts[static_cast<std::size_t>(3 * i + a)];
        ASSERT_TRUE(sameBits(p[static_cast<std::size_t>(a)], std::strtod(t.c_str(), nullptr))) << i;
      }
    }
    // The frame ends right after its last number, as fscanf leaves it.
    EXPECT_EQ(static_cast<std::size_t>(pos), frame.find_last_not_of(" \n") + 1);
  }
}

TEST(MovieReader, FrameStructureChecks) {
  loadSetup(smallSetup());
  auto readText = [](const std::string& text) {
    writeFile("m.Tavomovie", text);
    long long pos = 0;
    readMovie_fromFile("m.Tavomovie", &pos);
  };
  const std::string b1 = "specie 1 alive 0\n";
  // Capacity boundary: 3 is accepted, 4 is not.
  readText("step 2 specie 0 alive 3\n1 1 1 2 2 2 3 3 3 \n" + b1);
  EXPECT_EQ(alivePopulation(0), 3);
  EXPECT_EQ(fatalMessage([&] { readText("step 2 specie 0 alive 4\n" + b1); }),
            "movie format incorrect or alive>total for a specie");
  EXPECT_EQ(fatalMessage([&] { readText("step 2 specie 0 alive 99999999999\n" + b1); }),
            "movie format incorrect or alive>total for a specie");
  EXPECT_EQ(fatalMessage([&] { readText("step 2 specie 0 alife 1\n" + b1); }),
            "movie format incorrect or alive>total for a specie");
  // Species out of order, missing or with a bad ID.
  EXPECT_EQ(fatalMessage([&] { readText("step 2 " + b1 + "specie 0 alive 0\n"); }),
            "movie format incorrect or specie ID overflow");
  EXPECT_EQ(fatalMessage([&] { readText("step 2 specie 0 alive 0\n\nstep 3\n"); }),
            "movie format incorrect or specie ID overflow");
  EXPECT_EQ(fatalMessage([&] { readText("step 2 specie x alive 0\n"); }),
            "movie format incorrect or specie ID overflow");
  EXPECT_EQ(fatalMessage([&] { readText("step 2 species 0 alive 0\n"); }),
            "movie format incorrect or specie ID overflow");
  // Words are bounded; a long word is no keyword.
  EXPECT_EQ(fatalMessage([&] { readText("step" + std::string(100000, 'p') + " 2\n"); }),
            "movie format incorrect!");
  EXPECT_EQ(fatalMessage([&] { readText(std::string("st\0p 2\n", 7)); }),
            "movie format incorrect!");
  EXPECT_EQ(fatalMessage([&] { readText(""); }), "movie format incorrect!");
  EXPECT_EQ(fatalMessage([&] { readText("step two\n"); }),
            "movie format incorrect: the step number is not an integer (found 'two')");
  EXPECT_EQ(fatalMessage([] {
              long long p = 0;
              readMovie_fromFile("missing.Tavomovie", &p);
            }),
            "cannot read movie file!");
  EXPECT_EQ(fatalMessage([] {
              long long p = -1;
              readMovie_fromFile("m.Tavomovie", &p);
            }),
            "(readMovie_fromFile) movie file position -1 is negative");
}

TEST(MovieReader, RefusesBadCountsAndCoordinatesInsteadOfZeros) {
  loadSetup(smallSetup());
  auto readText = [](const std::string& text) {
    writeFile("m.Tavomovie", text);
    long long pos = 0;
    readMovie_fromFile("m.Tavomovie", &pos);
  };
  EXPECT_EQ(fatalMessage([&] { readText("step 2 specie 0 alive -1\n\nspecie 1 alive 0\n"); }),
            "movie format incorrect: negative alive count -1 for specie 0");
  EXPECT_EQ(fatalMessage([&] { readText("step 2 specie 0 alive many\n"); }),
            "movie format incorrect: the alive count of specie 0 is not an integer (found 'many')");
  EXPECT_EQ(fatalMessage([&] { readText("step 2 specie 0 alive 2\n1 2 3 4 x 6\n"); }),
            "movie format incorrect: coordinate y of molecule 1 of specie 0 in the frame of step 2 "
            "is not a number (found 'x')");
  EXPECT_EQ(fatalMessage([&] { readText("step 2 specie 0 alive 1\n1.5.3 2 3\n"); }),
            "movie format incorrect: coordinate x of molecule 0 of specie 0 in the frame of step 2 "
            "is not a number (found '1.5.3')");
  EXPECT_EQ(
      fatalMessage([&] { readText("step 2 specie 0 alive 1\n1 2 3" + std::string(2000, '0')); }),
      "movie format incorrect: coordinate z of molecule 0 of specie 0 in the frame of step 2 "
      "is not a number (found a number longer than 1024 characters)");
  // A frame cut short is an error, never molecules at the origin.
  EXPECT_EQ(fatalMessage([&] { readText("step 2 specie 0 alive 2\n1 2 3 4 "); }),
            "movie format incorrect: the frame of step 2 ends inside the coordinates of specie 0 "
            "(molecule 1, y expected, found the end of the file)");
  // The failed species keeps a consistent population: count and flags agree.
  int flags = 0;
  for (int i = 0; i < speciePopulation(0); ++i) flags += alive(0, i);
  EXPECT_EQ(flags, alivePopulation(0));
}

// A long number gets one verdict wherever it lies: whole in the read window
// or cut by its end. Numbers of up to 1024 characters are read, longer ones
// refused, both for coordinates and for the integers of the frame.
TEST(MovieReader, LongNumbersGetOneVerdictAtEveryOffset) {
  loadSetup(setupWith(1, "specie A 0 1.0 1.0e-9 1.0e-10 3 0 0\n"));
  const std::string one1024 = "1." + std::string(1022, '0');
  const std::string one3000 = "1." + std::string(2998, '0');
  const std::string int3000 = std::string(2999, '0') + "1";
  const std::string shown = "'" + std::string(40, '0') + "...'";
  struct Row {
    std::string before, number, after, message;  // empty message: read, x == 1
  };
  const Row rows[] = {
      {"step 1 specie 0 alive 1\n", one1024, " 2 3 \n", ""},
      {"step 1 specie 0 alive 1\n", one3000, " 2 3 \n",
       "movie format incorrect: coordinate x of molecule 0 of specie 0 in the frame of step 1 is "
       "not a number (found a number longer than 1024 characters)"},
      {"step", int3000, " specie 0 alive 0\n",
       "movie format incorrect: the step number is not an integer (found " + shown + ")"},
      {"step 1 specie 0 alive", int3000, "\n",
       "movie format incorrect: the alive count of specie 0 is not an integer (found " + shown +
           ")"},
  };
  const long window = static_cast<long>(tavo::detail::movieReadBytes());
  for (const Row& row : rows) {
    // Blanks before the number move it from well inside the first window to
    // across its end and into the next one.
    for (long pad : {1L, window / 2, window - 2500, window - 1500, window - 600, window + 1000}) {
      if (pad < 1) continue;
      std::string text =
          row.before + std::string(static_cast<std::size_t>(pad), ' ') + row.number + row.after;
      std::string message = fatalMessage([&] {
        writeFile("m.Tavomovie", text);
        long long pos = 0;
        readMovie_fromFile("m.Tavomovie", &pos);
        if (row.message.empty()) {
          EXPECT_EQ(positionOf(0, 0)[0], 1.0) << "blanks " << pad;
          errorOut("read");
        }
      });
      EXPECT_EQ(message, row.message.empty() ? "read" : row.message) << "blanks " << pad;
    }
  }
}

// With an error handler that lets the program go on, a frame that fails
// halfway must leave the store holding the last good frame, not a mix.
TEST(MovieReader, FailedFrameLeavesTheLastGoodFrame) {
  loadSetup(smallSetup());
  writeFile("m.Tavomovie",
            "step 4 specie 0 alive 2\n1 2 3 4 5 6 \nspecie 1 alive 1\n7 8 9 \n"
            "step 5 specie 0 alive 1\n-1 -2 -3 \nspecie 1 alive 2\n-7 -8 -9 x\n");
  long long pos = 0;
  readMovie_fromFile("m.Tavomovie", &pos);
  EXPECT_NE(fatalMessage([&] { readMovie_fromFile("m.Tavomovie", &pos); }), "");
  EXPECT_EQ(readCurrentStep(), 4);
  EXPECT_EQ(alivePopulation(0), 2);
  EXPECT_EQ(alivePopulation(1), 1);
  EXPECT_TRUE(alive(0, 1));
  EXPECT_FALSE(alive(1, 1));
  EXPECT_EQ(positionOf(0, 0), (std::vector<double>{1, 2, 3}));
  EXPECT_EQ(positionOf(0, 1), (std::vector<double>{4, 5, 6}));
  EXPECT_EQ(positionOf(1, 0), (std::vector<double>{7, 8, 9}));
  EXPECT_EQ(positionOf(1, 1), (std::vector<double>{0, 0, 0}));
}

// The search that skips a coordinate line, with and without vector
// instructions: the first line end or 's', at every distance from the start
// and around the 64-byte steps of the wide search.
TEST(MovieReader, LineSkipFindsTheFirstLineEndOrS) {
  for (bool wide : {true, false}) {
    for (std::size_t at : {0, 1, 31, 63, 64, 65, 127, 128, 200, 300}) {
      for (char c : {'\n', 's', 'x'}) {
        std::string text(300, '1');
        if (at < text.size()) text[at] = c;
        if (at + 1 < text.size()) text[at + 1] = '\n';  // a later line end never wins
        char* p = text.data();
        std::size_t found =
            static_cast<std::size_t>(tavo::detail::findLineEndOrS(p, p + text.size(), wide) - p);
        std::size_t expected = at >= text.size() ? text.size() : c == 'x' ? at + 1 : at;
        EXPECT_EQ(found, expected) << "wide " << wide << " at " << at << " '" << c << "'";
      }
    }
  }
}

TEST(MovieReader, ZeroSpeciesAndFarOffsets) {
  loadSetup(setupWith(0, ""));
  std::remove("m.Tavomovie");
  createMovie_toFile("m.Tavomovie", 4);
  EXPECT_EQ(readFile("m.Tavomovie"), "step 4\n");
  long long pos = 0;
  readMovie_fromFile("m.Tavomovie", &pos);
  EXPECT_EQ(pos, 6);
  EXPECT_EQ(readCurrentStep(), 4);

  // A frame beyond 4 GiB (a sparse file): offsets are 64-bit.
  const long long far = 5LL << 30;
  {
    std::FILE* f = std::fopen("big.Tavomovie", "w");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(ftruncate(fileno(f), far), 0);
    std::fclose(f);
  }
  createMovie_toFile("big.Tavomovie", 9);
  pos = far;
  readMovie_fromFile("big.Tavomovie", &pos);
  EXPECT_EQ(readCurrentStep(), 9);
  EXPECT_EQ(pos, far + 6);
  std::remove("big.Tavomovie");
}

TEST(MovieReader, NeedsLoadedStore) {
  loadSetup(smallSetup());
  tavo::test::capturedStdout([] { deleteDataStructure(); });
  EXPECT_EQ(fatalMessage([] {
              long long p = 0;
              readMovie_fromFile("m.Tavomovie", &p);
            }),
            "initDataStructure_fromFile required before calling readMovie_fromFile");
}

TEST(MovieReader, AllocatesNothingPerFrame) {
  loadSetup(setupWith(2,
                      "specie A 0 1.0 1.0e-9 1.0e-10 50000 50000 0\n"
                      "specie B 1 1.0 1.0e-9 1.0e-10 50000 20000 0\n"));
  for (int i = 0; i < 50000; ++i) setPosition(0, i, i * 1e-7, -i * 3e-9, 1.0 / (i + 1));
  std::remove("m.Tavomovie");
  createMovie_toFile("m.Tavomovie", 0);
  createMovie_toFile("m.Tavomovie", 1);
  long long pos = 0;
  readMovie_fromFile("m.Tavomovie", &pos);  // warms the buffers up
  EXPECT_EQ(tavo::test::allocationsOf([&] {
              for (int r = 0; r < 20; ++r) {
                if (r % 2 == 0) pos = 0;
                readMovie_fromFile("m.Tavomovie", &pos);
              }
            }),
            0);
  EXPECT_EQ(readCurrentStep(), 1);
}

}  // namespace
