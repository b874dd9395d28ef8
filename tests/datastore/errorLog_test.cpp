// The error log: entry format, appending, the exit status, and a log that
// cannot be opened.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "testSupport.h"

namespace {

using tavo::test::fatalMessage;
using tavo::test::readFile;

TEST(ErrorLog, EntriesAreAppendedInTheirFormat) {
  std::remove("errors.txt");
  std::string out = tavo::test::capturedStdout([] {
    tavo::test::FatalErrors guard;
    EXPECT_THROW(errorOut("(kr) incorrect rxnID, beyond [0-N_rev) range."), tavo::test::FatalError);
    EXPECT_THROW(errorOut("Syntax error:\n\tline 1: correct format is 'N_species 2'"),
                 tavo::test::FatalError);
  });
  const std::string first = "\nERROR: (kr) incorrect rxnID, beyond [0-N_rev) range.\n";
  const std::string second = "\nERROR: Syntax error:\n\tline 1: correct format is 'N_species 2'\n";
  EXPECT_EQ(out, first + second);
  EXPECT_EQ(readFile("errors.txt"), first + second);
}

TEST(ErrorLog, NoLogVariantPrintsOnly) {
  std::remove("errors.txt");
  std::string out = tavo::test::capturedStdout([] {
    tavo::test::FatalErrors guard;
    EXPECT_THROW(errorOut_noLog("\nERROR: not logged\n"), tavo::test::FatalError);
  });
  EXPECT_EQ(out, "\nERROR: not logged\n");
  EXPECT_EQ(access("errors.txt", F_OK), -1);
}

TEST(ErrorLogDeathTest, FatalErrorExitsWithStatusOne) {
  EXPECT_EXIT(errorOut("boom"), ::testing::ExitedWithCode(1), "");
  EXPECT_EXIT(errorOut_noLog("boom"), ::testing::ExitedWithCode(1), "");
}

TEST(ErrorLogDeathTest, UnopenableLogStillEndsTheProcessWithStatusOne) {
  // A folder in the place of errors.txt cannot be opened for appending.
  ASSERT_EQ(mkdir("unwritable", 0755) == 0 || errno == EEXIST, true);
  ASSERT_EQ(chdir("unwritable"), 0);
  mkdir("errors.txt", 0755);
  EXPECT_EXIT(
      {
        std::printf("before ");
        errorOut("no log here");
      },
      ::testing::ExitedWithCode(1), "");
  ASSERT_EQ(chdir(".."), 0);
}

TEST(ErrorLog, HandlerSeamRestores) {
  ErrorHandler previous = setErrorHandler(nullptr);
  EXPECT_EQ(previous, nullptr);
  EXPECT_EQ(fatalMessage([] { errorOut("seam"); }), "seam");
  EXPECT_EQ(setErrorHandler(nullptr), nullptr);
}

}  // namespace
