// Tests of output files (written aside, renamed only when complete) and of
// the path checks that keep outputs off the inputs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "formats/error.h"
#include "formats/output.h"
#include "testSupport.h"

namespace {

using tavo::formats::isInside;
using tavo::formats::OutputFile;
using tavo::formats::samePath;
using tavo::test::readFile;
using tavo::test::writeFile;

// Names in `folder`, hidden ones included, sorted.
std::vector<std::string> listFolder(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(OutputFileTest, CommitReplacesTheTargetAndLeavesNoTemporary) {
  mkdir("out", 0755);
  writeFile("out/table", "old");
  chmod("out/table", 0640);
  {
    OutputFile file("out/table");
    file.text("new");
    EXPECT_EQ(readFile("out/table"), "old");  // invisible until committed
    file.commit();
  }
  EXPECT_EQ(readFile("out/table"), "new");
  EXPECT_EQ(listFolder("out"), std::vector<std::string>{"table"});
  struct stat st {};
  stat("out/table", &st);
  EXPECT_EQ(st.st_mode & 07777, 0640u);  // a replaced file keeps its permissions
}

TEST(OutputFileTest, AbandonedFileLeavesTheOldOneAndNoTemporary) {
  mkdir("out", 0755);
  writeFile("out/kept", "old");
  {
    OutputFile kept("out/kept");
    kept.text("partial");
    OutputFile fresh("out/fresh");
    fresh.text("partial");
    fresh.close();  // complete but never committed
  }
  EXPECT_EQ(readFile("out/kept"), "old");
  EXPECT_EQ(listFolder("out"), std::vector<std::string>{"kept"});
}

TEST(OutputFileTest, WritingThroughALinkReplacesItsTarget) {
  writeFile("real", "old");
  symlink("real", "link");
  OutputFile file("link");
  file.text("new");
  file.commit();
  struct stat st {};
  lstat("link", &st);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(readFile("real"), "new");
}

TEST(OutputFileTest, DevicesAreWrittenInPlace) {
  OutputFile file("/dev/null");
  file.text("gone");
  EXPECT_NO_THROW(file.commit());
}

TEST(OutputFileDeathTest, AnInterruptRemovesTheTemporaries) {
  mkdir("out", 0755);
  EXPECT_EXIT(
      {
        OutputFile first("out/a");
        OutputFile second("out/b");
        first.text("partial");
        raise(SIGINT);
      },
      ::testing::KilledBySignal(SIGINT), "");
  EXPECT_EQ(listFolder("out"), std::vector<std::string>{});
}

TEST(OutputFileTest, FailuresNameTheOutput) {
  mkdir("folder", 0755);
  const char* paths[] = {"missing/table", "folder"};
  for (const char* path : paths) {
    try {
      OutputFile file(path);
      ADD_FAILURE() << path << " was opened";
    } catch (const tavo::Error& e) {
      EXPECT_EQ(std::string(e.what()).rfind(path, 0), 0u) << e.what();
    }
  }
  int full = open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0);
  tavo::formats::Output out(full, "full.txt");
  out.text("x");
  EXPECT_THROW(out.flush(), tavo::Error);
  close(full);
}

struct PathPair {
  const char* a;
  const char* b;
  bool expected;
};

void PrintTo(const PathPair& p, std::ostream* os) { *os << p.a << " | " << p.b; }

class SamePathTest : public ::testing::TestWithParam<PathPair> {};

TEST_P(SamePathTest, ComparesFilesNotSpellings) {
  // a: a file; hard: its hard link; soft: a symbolic link to it; b: another
  // file; dir: a folder, dirlink: a link to it; "new*" do not exist.
  writeFile("a", "a");
  writeFile("b", "b");
  link("a", "hard");
  symlink("a", "soft");
  mkdir("dir", 0755);
  symlink("dir", "dirlink");
  const PathPair& p = GetParam();
  EXPECT_EQ(samePath(p.a, p.b), p.expected) << p.a << " vs " << p.b;
}

INSTANTIATE_TEST_SUITE_P(Paths, SamePathTest,
                         ::testing::Values(PathPair{"a", "a", true}, PathPair{"a", "./a", true},
                                           PathPair{"a", "hard", true}, PathPair{"a", "soft", true},
                                           PathPair{"a", "dir/../a", true},
                                           PathPair{"a", "b", false}, PathPair{"a", "new", false},
                                           PathPair{"new", "./new", true},
                                           PathPair{"new", "dir/../new", true},
                                           PathPair{"dir/new", "dirlink/new", true},
                                           PathPair{"new", "new2", false}));

class IsInsideTest : public ::testing::TestWithParam<PathPair> {};

TEST_P(IsInsideTest, FollowsLinksAndWholeNames) {
  mkdir("dir", 0755);
  mkdir("dir/sub", 0755);
  symlink("dir", "dirlink");
  symlink(".", "here");
  const PathPair& p = GetParam();
  EXPECT_EQ(isInside(p.a, p.b), p.expected) << p.a << " in " << p.b;
}

INSTANTIATE_TEST_SUITE_P(
    Paths, IsInsideTest,
    ::testing::Values(PathPair{"dir/x", "dir", true}, PathPair{"dir/sub/x", "dir", true},
                      PathPair{"dir", "dir", false}, PathPair{"dirx/y", "dir", false},
                      PathPair{"dirlink/x", "dir", true}, PathPair{"dir/x", "dirlink", true},
                      PathPair{"x", "dir", false}, PathPair{"dir/../x", "dir", false},
                      PathPair{"notyet/x", "notyet/", true}, PathPair{"x", "here", true}));

TEST(RequireNotInputTest, RefusesAnInputUnderAnyName) {
  writeFile("movie", "m");
  writeFile("setup", "s");
  link("movie", "alias");
  for (const char* output : {"movie", "./movie", "alias", "setup"})
    EXPECT_THROW(tavo::formats::requireNotInput(output, {"setup", "movie"}), tavo::Error) << output;
  EXPECT_NO_THROW(tavo::formats::requireNotInput("table", {"setup", "movie"}));
}

TEST(OwnDescriptorTest, NamesOfTheProcesssDescriptors) {
  symlink("/dev/stdout", "out");
  symlink("out", "out2");
  writeFile("plain", "");
  const std::pair<const char*, int> rows[] = {
      {"/dev/stdout", 1}, {"/dev/stderr", 2},     {"/dev/fd/7", 7},  {"/proc/self/fd/5", 5},
      {"out2", 1},        {"/dev/fd/x", -1},      {"/dev/null", -1}, {"plain", -1},
      {"missing", -1},    {"/dev/fd/../null", -1}};
  for (const auto& [path, fd] : rows) EXPECT_EQ(tavo::formats::ownDescriptor(path), fd) << path;
}

TEST(OutputFileTest, AnOwnDescriptorIsWrittenInPlaceAndAppendedTo) {
  // As after "3>> log": the descriptor's offset and O_APPEND are kept, by a
  // buffered writer and by a by-name writer's scratch file alike.
  writeFile("log", "old\n");
  const int fd = open("log", O_WRONLY | O_APPEND);
  const std::string name = "/dev/fd/" + std::to_string(fd);
  {
    OutputFile direct(name);
    direct.text("direct\n");
    direct.commit();
    OutputFile byName(name, {.byName = true});
    writeFile(byName.fileName(), "by name\n");
    byName.commit();
  }
  close(fd);
  EXPECT_EQ(readFile("log"), "old\ndirect\nby name\n");
  EXPECT_EQ(listFolder("."), std::vector<std::string>{"log"});
}

TEST(OutputFileTest, ALinkAtAMadeNameIsReplacedNotWrittenThrough) {
  for (const char* left : {"frame", "link"}) std::remove(left);  // by an earlier run
  writeFile("precious", "precious");
  symlink("precious", "frame");
  OutputFile file("frame", {.inputs = {"precious"}, .madeName = true});
  file.text("frame");
  file.commit();
  EXPECT_EQ(readFile("precious"), "precious");
  EXPECT_EQ(readFile("frame"), "frame");
  // A name the user gave names the file its link points to: an input here.
  symlink("precious", "link");
  EXPECT_THROW(OutputFile("link", {.inputs = {"precious"}}), tavo::Error);
}

TEST(MadeFoldersTest, OnlyFoldersMadeAndStillEmptyGo) {
  std::filesystem::remove_all("a");  // by an earlier run
  mkdir("a", 0755);
  {
    tavo::formats::MadeFolders made;
    made.make("a/b/c");
    made.make("a/b/c");  // already there: nothing more made
    made.make("a/d");
    writeFile("a/b/kept", "");
  }
  EXPECT_EQ(listFolder("a"), std::vector<std::string>{"b"});
  EXPECT_EQ(listFolder("a/b"), std::vector<std::string>{"kept"});
  {
    tavo::formats::MadeFolders made;
    made.make("a/e/f");
    made.keep();
  }
  EXPECT_EQ(listFolder("a/e"), std::vector<std::string>{"f"});
  writeFile("file", "");
  EXPECT_THROW(tavo::formats::MadeFolders().make("file/x"), tavo::Error);
}

}  // namespace
