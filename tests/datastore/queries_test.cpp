// The query and update interface: range tests and their messages, alive
// counting, the reaction pickers, distances, and the two population copies.
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "testSupport.h"

namespace {

using tavo::test::capturedStdout;
using tavo::test::exampleSetup;
using tavo::test::fatalMessage;
using tavo::test::loadSetup;

class Queries : public ::testing::Test {
 protected:
  void SetUp() override { loadSetup(exampleSetup()); }
};

struct RangeCase {
  const char* what;
  std::function<void()> call;
  const char* message;
};

TEST_F(Queries, OutOfRangeArgumentsEndWithTheirMessage) {
  double x, y, z;
  char buffer[100];
  int products[2];
  const std::vector<RangeCase> cases = {
      {"speciePopulation", [] { speciePopulation(3); },
       "(speciePopulation) with speciesID out of range!"},
      {"alive at capacity", [] { alive(0, 100); }, "(alive) with speciesID or index out of range!"},
      {"alive negative", [] { alive(-1, 0); }, "(alive) with speciesID or index out of range!"},
      {"setAlive", [] { setAlive(2, 200, true); },
       "(setAlive) with speciesID or index out of range!"},
      {"alivePopulation", [] { alivePopulation(-1); },
       "(alivePopulation) with speciesID out of range!"},
      {"position", [&] { position(0, -1, &x, &y, &z); },
       "calling position(speciesID,index,*x,*y,*z) with speciesID or index out of range!"},
      {"setPosition", [] { setPosition(3, 0, 0, 0, 0); },
       "(setPosition) with speciesID or index out of range!"},
      {"mass", [] { mass(3); }, "(mass) with speciesID out of range!"},
      {"size", [] { size(3); }, "(size) with speciesID out of range!"},
      {"diffConst", [] { diffConst(3); }, "(diffConst) with speciesID out of range!"},
      {"name", [&] { name(3, buffer); }, "(name) with speciesID out of range!"},
      {"specieRegion", [] { specieRegion(3); }, "(region) with speciesID out of range!"},
      {"findFirstDeadIndex range", [] { findFirstDeadIndex(3); },
       "(speciePopulation) with speciesID out of range!"},
      {"findFirstAliveIndex none", [] { findFirstAliveIndex(2); },
       "(findFirstAliveIndex) cannot find a alive molecule! trying to removie non-existing "
       "molecules!"},
      {"alive_new", [] { alive_new(0, 100); },
       "calling alive(speciesID, index) with speciesID or index out of range!"},
      {"setAlive_new", [] { setAlive_new(0, 100, true); },
       "calling setAlive(speciesID, index) with speciesID or index out of range!"},
      {"alivePopulation_new", [] { alivePopulation_new(3); },
       "(alivePopulation_new) with speciesID out of range!"},
      {"numRxn_F", [] { numRxn_F(0, 3); },
       "numFwdReactions(int specie1, int specie2): with specie1 or specie2 out of range!"},
      {"numRxn_R", [] { numRxn_R(-1); }, "numRevReactions(int specie): with specie out of range!"},
      {"rxnID_F pick 0", [] { rxnID_F(0, 1, 0); }, "(fwdReactionID) pick>total#ofRxn or pick<1"},
      {"rxnID_F pick beyond", [] { rxnID_F(0, 1, 2); },
       "(fwdReactionID) pick>total#ofRxn or pick<1"},
      {"rxnID_R pick beyond", [] { rxnID_R(2, 2); }, "(revReactionID) pick>total#ofRxn or pick<1"},
      {"kf beyond", [] { kf(2); }, "(kf) incorrect rxnID, beyond [0-2N_fwd) range."},
      {"kf negative", [] { kf(-1); }, "(kf) incorrect rxnID, beyond [0-2N_fwd) range."},
      {"partnerID_F", [] { partnerID_F(2); },
       "(partnerID_F) incorrect rxnID, beyond [0-2N_fwd) range."},
      {"productID_F", [] { productID_F(2); },
       "(productID_F) incorrect rxnID, beyond [0-2N_fwd) range."},
      {"kr", [] { kr(1); }, "(kr) incorrect rxnID, beyond [0-N_rev) range."},
      {"numProd_R", [] { numProd_R(1); }, "(numProd_R) incorrect rxnID, beyond [0-N_rev) range."},
      {"productID_R count", [&] { productID_R(0, products, 1); },
       "(productID_R) passing N!=revNumProducts(id), number of products in this reverse "
       "reaction bad!"},
      {"V0", [] { V0(0, 3); },
       "calling V0(speciesID1, speciesID2) with speciesID1 or speciesID2 out of range!"},
  };
  for (const RangeCase& c : cases) EXPECT_EQ(fatalMessage(c.call), c.message) << c.what;
}

TEST_F(Queries, EmptyForwardSlotIsRefused) {
  // 0 + 0 -> 1 takes one of the two slots of N_fwd 1; the other stays empty.
  loadSetup(
      "N_species 2\nspecie A 0 1 1 1 5 0 0\nspecie B 1 1 1 1 5 0 0\n"
      "N_fwd 1 ;\nN_rev 0 ;\nrev_max_mol 0 ;\nf 0 + 0 = 1 ; kf 2 ;\n"
      "temperature(K) 1\nviscosity 1\npH 1\ntotal_step 1\ntime_step(s) 1\n");
  EXPECT_EQ(kf(0), 2.0);
  EXPECT_EQ(fatalMessage([] { kf(1); }),
            "(kf) incorrect rxnID, entry valid but contains no reaction.");
  EXPECT_EQ(fatalMessage([] { partnerID_F(1); }),
            "(partnerID_F) incorrect rxnID, entry valid but contains no reaction.");
  EXPECT_EQ(fatalMessage([] { productID_F(1); }),
            "(productID_F) incorrect rxnID, entry valid but contains no reaction.");
}

TEST_F(Queries, SetAliveKeepsTheCountInStep) {
  EXPECT_EQ(totalAlivePopulation(), 100);
  setAlive(0, 10, true);  // already alive: no change
  EXPECT_EQ(alivePopulation(0), 50);
  setAlive(0, 60, true);
  EXPECT_EQ(alivePopulation(0), 51);
  setAlive(0, 60, true);
  EXPECT_EQ(alivePopulation(0), 51);
  setAlive(0, 0, false);
  setAlive(0, 0, false);
  EXPECT_EQ(alivePopulation(0), 50);
  EXPECT_EQ(findFirstDeadIndex(0), 0);
  EXPECT_EQ(findFirstAliveIndex(0), 1);
  // The next-step tables are separate.
  EXPECT_EQ(alivePopulation_new(0), 50);
  setAlive_new(2, 5, true);
  EXPECT_EQ(alivePopulation_new(2), 1);
  EXPECT_EQ(alivePopulation(2), 0);
  EXPECT_EQ(findFirstDeadIndex_new(2), 0);
  EXPECT_EQ(findFirstDeadIndex_new(0), 50);
}

TEST_F(Queries, FirstIndexSearchesReachTheEnd) {
  for (int i = 0; i < 100; ++i) setAlive(0, i, true);
  EXPECT_EQ(fatalMessage([] { findFirstDeadIndex(0); }),
            "(findFirstDeadIndex) cannot find a dead molecule! allocate more!");
  copy_current_new();
  EXPECT_EQ(fatalMessage([] { findFirstDeadIndex_new(0); }),
            "(findFirstDeadIndex_new) cannot find a dead molecule! allocate more!");
  EXPECT_EQ(findFirstDeadIndex(1), 50);
}

TEST_F(Queries, CopyAndSwapOfTheTwoPopulations) {
  setAlive(2, 3, true);
  copy_current_new();
  EXPECT_TRUE(alive_new(2, 3));
  EXPECT_EQ(alivePopulation_new(2), 1);
  setAlive_new(2, 3, false);
  setAlive_new(2, 7, true);
  setAlive_new(2, 8, true);
  swap_current_new();
  EXPECT_FALSE(alive(2, 3));
  EXPECT_TRUE(alive(2, 8));
  EXPECT_EQ(alivePopulation(2), 2);
  EXPECT_EQ(alivePopulation_new(2), 1);
  swap_current_new();  // twice in a row: back as it was
  EXPECT_TRUE(alive(2, 3));
  EXPECT_EQ(alivePopulation(2), 1);
  copy_current_new();
  swap_current_new();  // copy then swap: same population in value
  EXPECT_TRUE(alive(2, 3));
  EXPECT_FALSE(alive(2, 8));
  EXPECT_EQ(totalAlivePopulation(), 101);
}

TEST_F(Queries, ReactionPickersAndTheirWarnings) {
  EXPECT_EQ(rxnID_F(0, 1, 1), 0);
  EXPECT_EQ(rxnID_F(1, 0, 1), 1);
  EXPECT_EQ(rxnID_R(2, 1), 0);
  EXPECT_EQ(numRxn_F(0, 1), 1);
  EXPECT_EQ(numRxn_R(2), 1);
  EXPECT_EQ(partnerID_F(1), 0);
  EXPECT_EQ(productID_F(0), 2);
  EXPECT_EQ(numProd_R(0), 2);
  int products[2] = {-9, -9};
  productID_R(0, products, 2);
  EXPECT_EQ(products[0], 0);
  EXPECT_EQ(products[1], 1);

  int id = 0;
  std::string out = capturedStdout([&] { id = rxnID_F(0, 0, 1); });
  EXPECT_EQ(id, -1);
  EXPECT_EQ(out,
            "\nWarning: (fwdReactionID) trying to get ID for no reaction, specie1:0, specie2:0");
  out = capturedStdout([&] { id = rxnID_R(1, 5); });
  EXPECT_EQ(id, -1);
  EXPECT_EQ(out, "\nWarning: (revReactionID) trying to get ID for no reaction, specie1:1");
}

TEST_F(Queries, EnvironmentSetters) {
  setTemperature(310.5);
  setViscosity(0.7);
  setPH(6.5);
  setCurrentStep(42);
  EXPECT_EQ(readTemperature(), 310.5);
  EXPECT_EQ(readViscosity(), 0.7);
  EXPECT_EQ(readPH(), 6.5);
  EXPECT_EQ(readCurrentStep(), 42);
}

TEST_F(Queries, DistancesAndTheStrictWithinTest) {
  setPosition(0, 0, 0.0, 0.0, 0.0);
  setPosition(0, 1, 3.0, 4.0, 12.0);
  EXPECT_EQ(dist2Mol(0, 0, 0, 1), 13.0);
  EXPECT_EQ(dist2Mol2(0, 0, 0, 1), 169.0);
  EXPECT_EQ(dist3D(1, 1, 1, 4, 5, 1), 5.0);
  EXPECT_EQ(dist3D2(1, 1, 1, 4, 5, 1), 25.0);

  // Exactly d apart along one axis is not within d; 0.999 d is.
  const double d = 2.5e-9;
  setPosition(1, 0, d, 0.0, 0.0);
  EXPECT_FALSE(withinDist(0, 0, 1, 0, d));
  setPosition(1, 0, 0.999 * d, 0.0, 0.0);
  EXPECT_TRUE(withinDist(0, 0, 1, 0, d));
  setPosition(1, 0, 0.0, 0.0, d);
  EXPECT_FALSE(withinDist(0, 0, 1, 0, d));
  // The partial sums accumulate over the axes.
  setPosition(1, 0, 0.6 * d, 0.6 * d, 0.6 * d);
  EXPECT_FALSE(withinDist(0, 0, 1, 0, d));
  setPosition(1, 0, 0.5 * d, 0.5 * d, 0.5 * d);
  EXPECT_TRUE(withinDist(0, 0, 1, 0, d));
  setPosition(1, 0, std::nan(""), 0.0, 0.0);
  EXPECT_FALSE(withinDist(0, 0, 1, 0, d));
  EXPECT_FALSE(withinDist(0, 0, 1, 0, std::nan("")));
}

}  // namespace
