// The command-line program: reproducible output, recorded frames and usage
// errors.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "simTestSupport.h"

namespace tavosim::test {
namespace {

// Runs tavosim with `args` in the working directory; returns its exit status.
int runSimulator(const std::string& args, std::string* output = nullptr) {
  const std::string command = std::string(TAVOSIM_EXE) + " " + args + " > run.out 2> run.err";
  const int status = std::system(command.c_str());
  if (output) *output = readFile("run.out") + readFile("run.err");
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void writeRunFiles(int totalStep) {
  writeFile("run.regions", kRegionFile);
  writeFile("run.Tavosetup",
            setupText({{"A", 2.5e-9, 80, 60, kSphere},
                       {"B", 2.5e-9, 80, 60, kSphere},
                       {"C", 1e-9, 60, 0, kSphere}},
                      {"f 0 + 1 = 2 ; kf 1e-15 ;"}, {"r 2 = 0 + 1 ; kr 2e4 ;"}, totalStep, 1e-6));
}

// First column of the population table's rows.
std::vector<int> recordedSteps(const std::string& table) {
  std::vector<int> steps;
  std::istringstream in(table);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("step:", 0) == 0) continue;
    steps.push_back(std::stoi(line));
  }
  return steps;
}

TEST(SimulatorRunTest, SameSeedGivesByteIdenticalMovie) {
  writeRunFiles(40);
  std::string out;
  ASSERT_EQ(runSimulator("--quiet --seed 4242 --movie a.Tavomovie --population a.txt "
                         "run.Tavosetup run.regions",
                         &out),
            0)
      << out;
  EXPECT_NE(out.find("Random seed: 4242"), std::string::npos);
  ASSERT_EQ(runSimulator("--quiet --seed 4242 --movie b.Tavomovie --population b.txt "
                         "run.Tavosetup run.regions"),
            0);
  const std::string movie = readFile("a.Tavomovie");
  ASSERT_GT(movie.size(), 1000u);
  EXPECT_EQ(movie, readFile("b.Tavomovie"));
  EXPECT_EQ(readFile("a.txt"), readFile("b.txt"));

  ASSERT_EQ(runSimulator("--quiet --seed 4243 --movie c.Tavomovie --population c.txt "
                         "run.Tavosetup run.regions"),
            0);
  EXPECT_NE(movie, readFile("c.Tavomovie"));
}

TEST(SimulatorRunTest, RecordsEveryNthStateAndTheLastAndReplacesOldFiles) {
  writeRunFiles(10);
  writeFile("old.Tavomovie", "stale content\n");
  std::string out;
  ASSERT_EQ(runSimulator("--every 4 --movie old.Tavomovie --population p.txt "
                         "run.Tavosetup run.regions",
                         &out),
            0)
      << out;
  EXPECT_EQ(recordedSteps(readFile("p.txt")), (std::vector<int>{0, 4, 8, 9}));
  const std::string movie = readFile("old.Tavomovie");
  EXPECT_EQ(movie.rfind("step 0\n", 0), 0u);
  EXPECT_NE(movie.find("step 9\n"), std::string::npos);
  EXPECT_NE(out.find("Random seed: "), std::string::npos);  // clock seed, reported

  ASSERT_EQ(runSimulator("--quiet --population p.txt run.Tavosetup run.regions"), 0);
  std::vector<int> all;
  for (int k = 0; k < 10; ++k) all.push_back(k);
  EXPECT_EQ(recordedSteps(readFile("p.txt")), all);
}

TEST(SimulatorRunTest, CommandLineErrorsPrintUsageAndFail) {
  writeRunFiles(10);
  for (const char* args :
       {"", "run.Tavosetup", "run.Tavosetup run.regions extra",
        "--every 0 run.Tavosetup run.regions", "--every 3x run.Tavosetup run.regions",
        "--seed -1 run.Tavosetup run.regions", "--seed 99999999999 run.Tavosetup run.regions",
        "--frobnicate run.Tavosetup run.regions", "run.Tavosetup run.regions --seed",
        "--movie x --population x run.Tavosetup run.regions"}) {
    std::string out;
    EXPECT_EQ(runSimulator(args, &out), 2) << args;
    EXPECT_NE(out.find("Usage: tavosim"), std::string::npos) << args;
  }
  std::string out;
  EXPECT_EQ(runSimulator("--help", &out), 0);
  EXPECT_NE(out.find("Usage: tavosim"), std::string::npos);
}

TEST(SimulatorRunTest, MissingSetupFileIsAFatalError) {
  writeRunFiles(10);
  EXPECT_EQ(runSimulator("--quiet nothing.Tavosetup run.regions"), 1);
}

}  // namespace
}  // namespace tavosim::test
