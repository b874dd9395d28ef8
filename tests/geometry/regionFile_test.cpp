// Region file loading, its messages and the dump of the table.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "formats/regions.h"
#include "formats/textReader.h"
#include "geometry/geometry.h"
#include "geometry/regionTable.h"
#include "testSupport.h"

namespace {

using tavo::test::capturedStdout;
using tavo::test::fatalMessage;

const char* const kPath = "regions.txt";

// Loads `text` as a fresh region file and returns what the load printed.
std::string load(const std::string& text) {
  tavo::detail::resetRegionTable();
  tavo::test::writeFile(kPath, text);
  return capturedStdout([] { initGeometry_fromFile(kPath); });
}

// Loads `text`, which must fail, and returns the message.
std::string loadError(const std::string& text) {
  tavo::detail::resetRegionTable();
  tavo::test::writeFile(kPath, text);
  return fatalMessage([] { initGeometry_fromFile(kPath); });
}

// Parses `text` as a value, which must fail, and returns the message; the
// parse must print nothing and leave no error log.
std::string parseError(const std::string& text) {
  tavo::test::writeFile(kPath, text);
  std::remove("errors.txt");
  std::string message = "(no error)";
  const std::string printed = capturedStdout([&] {
    try {
      tavo::detail::readRegionFile(kPath);
    } catch (const tavo::Error& e) {
      message = e.what();
    }
  });
  EXPECT_EQ(printed, "") << text;
  EXPECT_NE(access("errors.txt", F_OK), 0) << text;
  return message;
}

const char kAllTypes[] =
    "N_regions 6\n"
    "0 box ( 0.0 0.0 0.0 ) ( 2e-6 2e-6 2e-6 )\n"
    "1 boxshell ( 1 2 3 ) ( 4 5 6 1 2 3 )\n"
    "2 sphere ( 0 0 0 ) ( 5e-7 )\n"
    "3 sphereshell ( 0 0 0 ) ( 5e-7 8e-7 )\n"
    "4 cylinder ( 1e-6 0.0 0.0 ) ( 2e-7 1e-6 )\n"
    "5 cylindershell ( -1 0 0 ) ( 1 2 3)\n";

const char kIdOrder[] =
    "(initGeometry_fromFile) regionID is not in order, must be continuous increasing from 0!";
const char kType[] = "(initGeometry_fromFile) region type definition incorrect!";
const char kOpenCentre[] = "(initGeometry_fromFile) need '(' before center points!";
const char kCloseCentre[] = "(initGeometry_fromFile) need ')' after center points!";
const char kOpenParams[] = "(initGeometry_fromFile) need '(' before additional params!";
const char kCloseParams[] = "(initGeometry_fromFile) need ')' after additional params!";

TEST(RegionFile, ExampleLoadsWithItsProgressText) {
  std::string out = load(
      "N_regions 3\n"
      "0 box ( 0.0 0.0 0.0 ) ( 2e-6 2e-6 2e-6 )\n"
      "1 sphereshell ( 0.0 0.0 0.0 ) ( 5e-7 8e-7 )\n"
      "2 cylinder ( 1e-6 0.0 0.0 ) ( 2e-7 1e-6 )\n");
  EXPECT_EQ(out,
            "\nInitializing geometry of regions:\n\tOpening setup file : regions.txt...DONE\n"
            "\tParsing geometry region parameter table................DONE\n");
  EXPECT_TRUE(geo_initialization_success());
  EXPECT_TRUE(inRegion(0.5e-6, 0.5e-6, 0.5e-6, 0));
  EXPECT_TRUE(inRegion(6e-7, 0, 0, 1));
  EXPECT_FALSE(inRegion(4e-7, 0, 0, 1));
  EXPECT_TRUE(inRegion(1.4e-6, 0, 1e-7, 2));
}

TEST(RegionFile, DumpsEveryTypeByteForByte) {
  load(kAllTypes);
  EXPECT_EQ(capturedStdout([] { snapshotGeometry_toFile("ignored"); }),
            "regionID  type  center  other parameters\n"
            "0  box  (0.0e+00 0.0e+00 0.0e+00) (2.0e-06 2.0e-06 2.0e-06 \b)\n"
            "1  box_sh  (1.0e+00 2.0e+00 3.0e+00) (4.0e+00 5.0e+00 6.0e+00 1.0e+00 2.0e+00 "
            "3.0e+00 \b)\n"
            "2  sph  (0.0e+00 0.0e+00 0.0e+00) (5.0e-07 \b)\n"
            "3  sph_sh  (0.0e+00 0.0e+00 0.0e+00) (5.0e-07 8.0e-07 \b)\n"
            "4  cyl  (1.0e-06 0.0e+00 0.0e+00) (2.0e-07 1.0e-06 \b)\n"
            "5  cyl_sh  (-1.0e+00 0.0e+00 0.0e+00) (1.0e+00 2.0e+00 3.0e+00 \b)\n");
}

TEST(RegionFile, EmptyTableDumpsTheHeaderAlone) {
  load("N_regions 0\n");
  EXPECT_TRUE(geo_initialization_success());
  EXPECT_EQ(capturedStdout([] { snapshotGeometry_toFile(""); }),
            "regionID  type  center  other parameters\n");
}

TEST(RegionFile, DumpBeforeLoadIsFatal) {
  tavo::detail::resetRegionTable();
  EXPECT_EQ(fatalMessage([] { snapshotGeometry_toFile(""); }),
            "(snapshotGeometry_toFile) Geometry not initialized yet!");
}

TEST(RegionFile, SecondLoadIsRefusedBeforePrintingAnything) {
  load("N_regions 0\n");
  tavo::test::FatalErrors guard;
  std::string message;
  testing::internal::CaptureStdout();
  try {
    initGeometry_fromFile("no such file");
  } catch (const tavo::test::FatalError& e) {
    message = e.what();
  }
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(message, "(initExperiment_fromFile) Geometry already initialized! werid...");
  EXPECT_EQ(out, "\nERROR: " + message + "\n");
}

TEST(RegionFile, ParsedAsAValueWithoutTheTable) {
  tavo::detail::resetRegionTable();
  tavo::test::writeFile(kPath, kAllTypes);
  const std::vector<tavo::detail::RegionRow> rows = tavo::detail::readRegionFile(kPath);
  ASSERT_EQ(rows.size(), 6u);
  for (int t = 0; t < 6; ++t) EXPECT_EQ(rows[t].type, t);
  EXPECT_EQ(rows[1].params[8], 3.0);
  EXPECT_EQ(rows[5].params[5], 3.0);
  EXPECT_FALSE(geo_initialization_success());
}

TEST(RegionFile, MissingFile) {
  tavo::detail::resetRegionTable();
  EXPECT_EQ(fatalMessage([] { initGeometry_fromFile("does/not/exist.txt"); }),
            " Cannot open experiment file to read!");
}

struct FormatCase {
  const char* text;
  const char* message;
};

TEST(RegionFile, FormatErrorsGiveTheirMessages) {
  const std::string longWord(5000, 'x');
  const std::vector<FormatCase> cases = {
      {"", "Syntax error: 'N_regions 5'"},
      {"N_region 1\n", "Syntax error: 'N_regions 5'"},
      {"n_regions 1\n", "Syntax error: 'N_regions 5'"},
      {"N_regions 2\n0 sphere ( 0 0 0 ) ( 1 )\n2 sphere ( 0 0 0 ) ( 1 )\n", kIdOrder},
      {"N_regions 1\n1 sphere ( 0 0 0 ) ( 1 )\n", kIdOrder},
      {"N_regions 2\n0 sphere ( 0 0 0 ) ( 1 )\n", kIdOrder},
      {"N_regions 1\nzero sphere ( 0 0 0 ) ( 1 )\n", kIdOrder},
      {"N_regions 1\n0.0 sphere ( 0 0 0 ) ( 1 )\n", kIdOrder},
      {"N_regions 1\n0 Sphere ( 0 0 0 ) ( 1 )\n", kType},
      {"N_regions 1\n0 box_sh ( 0 0 0 ) ( 1 1 1 0 0 0 )\n", kType},
      {"N_regions 1\n0 box", kOpenCentre},
      {"N_regions 1\n0 (0.0 0 0 ) ( 1 )\n", kType},
      {"N_regions 1\n0 sphere (0.0 0 0 ) ( 1 )\n", kOpenCentre},
      {"N_regions 1\n0 sphere ( 0 0 0 0 ) ( 1 )\n", kCloseCentre},
      {"N_regions 1\n0 sphere ( 0 0 0 )( 1 )\n", kCloseCentre},
      {"N_regions 1\n0 sphere ( 0 0 0 ) 1 )\n", kOpenParams},
      {"N_regions 1\n0 sphere ( 0 0 0 ) ( 1 2 )\n", kCloseParams},
      {"N_regions 1\n0 sphere ( 0 0 0 ) ( 1 )x\n", kCloseParams},
      {"N_regions 1\n0 sphere ( 0 0 0 ) ( 1", kCloseParams},
      // Lists that end early are refused, not left with unset entries.
      {"N_regions 1\n0 sphere ( 0 0 ) ( 1 )\n", kCloseCentre},
      {"N_regions 1\n0 box ( 0 0 0 ) ( 1 1 )\n", kCloseParams},
      {"N_regions 1\n0 cylindershell ( 0 0 0 ) ( 1 2)\n", kCloseParams},
      {"N_regions 1\n0 sphere ( 0 0 0 ) (", kCloseParams},
  };
  for (const FormatCase& c : cases) {
    EXPECT_EQ(loadError(c.text), c.message) << c.text;
    EXPECT_EQ(parseError(c.text), c.message) << c.text;  // the same words, as a value's error
  }
  EXPECT_EQ(loadError("N_regions 1\n0 " + longWord + " ( 0 0 0 ) ( 1 )\n"), kType);
  EXPECT_EQ(loadError(longWord), "Syntax error: 'N_regions 5'");
}

TEST(RegionFile, JoinedClosingParenthesesAreAccepted) {
  load("N_regions 1\n0 box ( 1 2 3) ( 4 5 6)");
  EXPECT_TRUE(geo_initialization_success());
  EXPECT_TRUE(inRegion(1, 2, 3, 0));
}

TEST(RegionFile, TextThatIsNotANumberIsRefused) {
  EXPECT_EQ(loadError("N_regions 1\n0 sphere ( 0 abc 0 ) ( 1 )\n"),
            "(initGeometry_fromFile) region 0: a number expected among center points, found "
            "'abc'");
  EXPECT_EQ(loadError("N_regions 2\n0 sphere ( 0 0 0 ) ( 1 )\n1 sphere ( 0 0 0 ) ( nan )\n"),
            "(initGeometry_fromFile) region 1: a number expected among additional params, found "
            "'nan'");
  EXPECT_EQ(loadError("N_regions 1\n0 sphere ( 0 0 0 ) ( 1e999 )\n"),
            "(initGeometry_fromFile) region 0: a number expected among additional params, found "
            "'1e999', which is out of range");
  EXPECT_EQ(loadError("N_regions 1\n0 sphere ( 0 0 0 ) ( 0x10 )\n"),
            "(initGeometry_fromFile) region 0: a number expected among additional params, found "
            "'0x10'");
  EXPECT_EQ(loadError("N_regions 1\n0 sphere ( 0 0 1.5.2 ) ( 1 )\n"),
            "(initGeometry_fromFile) region 0: a number expected among center points, found "
            "'1.5.2'");
}

TEST(RegionFile, BadCountsAreRefused) {
  const std::string prefix =
      "Syntax error: 'N_regions 5': the number of regions must be a whole number, 0 or more; ";
  EXPECT_EQ(loadError("N_regions"), prefix + "found the end of the file");
  EXPECT_EQ(loadError("N_regions five\n"), prefix + "found 'five'");
  EXPECT_EQ(loadError("N_regions -1\n"), prefix + "found '-1'");
  EXPECT_EQ(loadError("N_regions 2.5\n"), prefix + "found '2.5'");
  EXPECT_EQ(loadError("N_regions 99999999999\n"),
            prefix + "found '99999999999', which is out of range");
  // A count across the end of the first 64 KiB read is read whole or not at
  // all: here it is too long, not a count of 1 followed by region 0.
  EXPECT_EQ(loadError("N_regions " + std::string(67573, '0') + "10 box ( 0 0 0 ) ( 1 1 1 )"),
            prefix + "found a number longer than 1024 characters");
}

TEST(RegionFile, CountTooLargeToAllocateIsRefused) {
  tavo::detail::setTableMemoryBudget(1 << 20);
  std::string message = loadError("N_regions 1000000\n0 sphere ( 0 0 0 ) ( 1 )\n");
  tavo::detail::setTableMemoryBudget(0);
  EXPECT_EQ(message,
            "(initGeometry_fromFile) cannot allocate the region table: 1000000 regions need "
            "7.6e+07 bytes");
  // Within the budget, a count larger than the file ends at the missing row.
  EXPECT_EQ(loadError("N_regions 2000000000\n0 sphere ( 0 0 0 ) ( 1 )\n").substr(0, 24),
            "(initGeometry_fromFile) ");
}

TEST(RegionFile, BoxShellWhoseFirstBoxNeverExceedsTheSecondIsRefused) {
  const char* message =
      "(initGeometry_fromFile) region 1: the first box of a boxshell must be larger than the "
      "second along some axis, else no point can be placed in it!";
  const char* head = "N_regions 2\n0 sphere ( 0 0 0 ) ( 1 )\n";
  EXPECT_EQ(loadError(std::string(head) + "1 boxshell ( 0 0 0 ) ( 1 1 1 2 2 2 )"), message);
  EXPECT_EQ(loadError(std::string(head) + "1 boxshell ( 0 0 0 ) ( 2 2 2 2 2 2 )"), message);
  EXPECT_EQ(loadError(std::string(head) + "1 boxshell ( 0 0 0 ) ( 1 2 2 1 2 3 )"), message);
  // Crossing boxes and a nested shell have points only the first box holds.
  load(std::string(head) + "1 boxshell ( 0 0 0 ) ( 2 1 1 1 2 2 )");
  EXPECT_TRUE(geo_initialization_success());
  load(std::string(head) + "1 boxshell ( 0 0 0 ) ( 2 2 2 1 1 1 )");
  EXPECT_TRUE(geo_initialization_success());
}

TEST(RegionFile, FailedLoadLeavesTheModuleUnloaded) {
  loadError("N_regions 2\n0 sphere ( 0 0 0 ) ( 1 )\n1 cube ( 0 0 0 ) ( 1 )\n");
  EXPECT_FALSE(geo_initialization_success());
  EXPECT_EQ(fatalMessage([] { inRegion(0, 0, 0, 0); }), "(inRegion) Geometry not initialized yet!");
  // A later load is not taken for a second one, and replaces nothing stale.
  tavo::test::writeFile(kPath, "N_regions 1\n0 box ( 5 5 5 ) ( 1 1 1 )\n");
  capturedStdout([] { initGeometry_fromFile(kPath); });
  EXPECT_TRUE(geo_initialization_success());
  EXPECT_TRUE(inRegion(5, 5, 5, 0));
  EXPECT_EQ(fatalMessage([] { inRegion(0, 0, 0, 1); }),
            "(inRegion) regionID 1 out of range, the table holds 1 regions!");
}

TEST(RegionFileDeathTest, FormatErrorEndsTheProcessWithStatusOne) {
  tavo::detail::resetRegionTable();
  tavo::test::writeFile(kPath, "N_regions 1\n0 sphere (0 0 0 ) ( 1 )\n");
  std::remove("errors.txt");
  EXPECT_EXIT(initGeometry_fromFile(kPath), testing::ExitedWithCode(1), "");
  EXPECT_EQ(tavo::test::readFile("errors.txt"), std::string("\nERROR: ") + kOpenCentre + "\n");
}

}  // namespace
