// The command-line program: reproducible output, recorded frames and usage
// errors.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "simTestSupport.h"

namespace tavosim::test {
namespace {

// Runs tavosim with `args` in `folder`; returns its exit status.
int runSimulator(const std::string& args, std::string* output = nullptr,
                 const std::string& folder = ".") {
  const std::string command =
      "cd " + folder + " && " + TAVOSIM_EXE + " " + args + " > run.out 2> run.err";
  const int status = std::system(command.c_str());
  if (output) *output = readFile(folder + "/run.out") + readFile(folder + "/run.err");
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

TEST(SimulatorRunTest, RefusesAnOutputThatIsAnInputOrTheOtherOutput) {
  // Files are compared by identity: another spelling, a hard link and a
  // file not made yet all count.
  mkdir("clash", 0755);
  const std::string setup = setupText({{"A", 1e-12, 4, 2, kSphere}}, {}, {}, 3, 1e-6);
  writeFile("clash/run.Tavosetup", setup);
  writeFile("clash/run.regions", kRegionFile);
  writeFile("clash/inverse3DGaussian.function", "0 1 2\n");
  unlink("clash/alias");
  ASSERT_EQ(link("clash/run.Tavosetup", "clash/alias"), 0);
  const struct {
    const char* options;
    const char* message;
  } cases[] = {
      {"--movie run.Tavosetup", "--movie run.Tavosetup would overwrite the setup file"},
      {"--population ./run.regions", "--population ./run.regions would overwrite the region file"},
      {"--movie alias", "--movie alias would overwrite the setup file"},
      {"--population ../clash/inverse3DGaussian.function", "would overwrite the Gaussian table"},
      {"--movie ./out --population out", "the movie and the population table need different"},
  };
  for (const auto& c : cases) {
    std::string out;
    EXPECT_EQ(runSimulator(std::string(c.options) + " run.Tavosetup run.regions", &out, "clash"), 2)
        << c.options;
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
  }
  EXPECT_EQ(readFile("clash/run.Tavosetup"), setup);
  EXPECT_EQ(readFile("clash/run.regions"), kRegionFile);
}

TEST(SimulatorRunTest, RegionsAtOppositeEndsOfTheNumberRangeRun) {
  // The partners' bounding box spans more than the largest double.
  writeFile("far.regions",
            "N_regions 2\n0 box ( -1.7e308 0 0 ) ( 1e303 1e303 1e303 )\n"
            "1 box ( 1.7e308 0 0 ) ( 1e303 1e303 1e303 )\n");
  writeFile("far.Tavosetup",
            setupText({{"A", 1e-12, 20, 10, 0}, {"B", 1e-12, 20, 10, 1}, {"C", 1e-12, 20, 0, 0}},
                      {"f 0 + 1 = 2 ; kf 1e-18 ;"}, {}, 3, 1e-6));
  std::string out;
  EXPECT_EQ(runSimulator("--quiet --seed 1 --movie far.Tavomovie --population far.txt "
                         "far.Tavosetup far.regions",
                         &out),
            0)
      << out;
}

TEST(SimulatorRunTest, MissingSetupFileIsAFatalError) {
  writeRunFiles(10);
  EXPECT_EQ(runSimulator("--quiet nothing.Tavosetup run.regions"), 1);
}

}  // namespace
}  // namespace tavosim::test
