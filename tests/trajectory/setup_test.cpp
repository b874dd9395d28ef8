// Setup values: read by the store's own parser without touching the store;
// faults are one-line errors naming the file.
#include <string>

#include "testSupport.h"
#include "trajectory/trajectory.h"

namespace {

using tavo::test::exampleSetup;
using tavo::test::writeFile;

TEST(SetupValue, HoldsWhatTheStoreLoads) {
  writeFile("s.Tavosetup", exampleSetup());
  tavo::Setup setup = tavo::Setup::read("s.Tavosetup");
  EXPECT_FALSE(data_initialization_success());  // the store is not touched
  ASSERT_EQ(setup.species.size(), 3u);
  const tavo::Species& s2 = setup.species[2];
  EXPECT_EQ(s2.id, 2);
  EXPECT_EQ(s2.name, "S2");
  EXPECT_EQ(s2.mass, 3.0);
  EXPECT_EQ(s2.size, 3.0e-9);
  EXPECT_EQ(s2.diffusion, 1.0e-10);
  EXPECT_EQ(s2.slots, 200);
  EXPECT_EQ(setup.species[0].initialAlive, 50);
  EXPECT_EQ(setup.speciesId("S1"), 1);
  EXPECT_EQ(setup.speciesId("S9"), -1);
  ASSERT_EQ(setup.forward.size(), 1u);
  EXPECT_EQ(setup.forward[0].reactant1, 0);
  EXPECT_EQ(setup.forward[0].reactant2, 1);
  EXPECT_EQ(setup.forward[0].product, 2);
  EXPECT_EQ(setup.forward[0].kf, 12.0);
  ASSERT_EQ(setup.reverse.size(), 1u);
  EXPECT_EQ(setup.reverse[0].reactant, 2);
  EXPECT_EQ(setup.reverse[0].products, (std::vector<int>{0, 1}));
  EXPECT_EQ(setup.reverse[0].kr, 3.0);
  EXPECT_EQ(setup.temperature, 300.0);
  EXPECT_EQ(setup.totalStep, 300);
  EXPECT_EQ(setup.timeStep, 1.0e-6);
}

TEST(SetupValue, FaultsAreOneLineErrorsNamingTheFile) {
  struct Row {
    const char* text;  // nullptr: no file
    std::string message;
  };
  const Row rows[] = {
      {nullptr, "s.Tavosetup: Cannot open setup file to read!"},
      {"N_species 1\nspecie A 0 1.0 1.0e-9 1.0e-10 0 0 0\n",
       "s.Tavosetup: Syntax error: lines for species is: 'species name ID mass size diffConst "
       "total alive region'"},
      {"N_species x\n",
       "s.Tavosetup: Syntax error: N_species (the number of species): expected an integer, found "
       "'x'"},
  };
  for (const Row& row : rows) {
    std::remove("s.Tavosetup");
    if (row.text != nullptr) writeFile("s.Tavosetup", row.text);
    try {
      tavo::Movie movie("s.Tavosetup", "m.Tavomovie");
      ADD_FAILURE() << row.message;
    } catch (const tavo::Error& e) {
      EXPECT_EQ(e.what(), row.message);
    }
  }
}

}  // namespace
