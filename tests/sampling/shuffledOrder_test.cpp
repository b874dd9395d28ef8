// Tests of the shuffled molecule and reaction orders.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "datastore/dataFetcher.h"
#include "sampling/drawSource.h"
#include "sampling/randomNumber.h"
#include "scriptedDraws.h"
#include "testSupport.h"

namespace {

using tavo::test::fatalMessage;
using tavo::test::loadSetup;
using tavo::test::ScriptedDraws;

// A setup whose species have the given slot counts, every slot alive, and
// no reactions.
std::string speciesSetup(const std::vector<int>& slots) {
  std::string text = "N_species " + std::to_string(slots.size()) + "\n";
  for (std::size_t s = 0; s < slots.size(); ++s) {
    std::string n = std::to_string(slots[s]);
    text += "specie S" + std::to_string(s) + " " + std::to_string(s) + " 1.0 1.0e-9 1.0e-10 " + n +
            " " + n + " 0\n";
  }
  text +=
      "N_fwd 0 ;\nN_rev 0 ;\nrev_max_mol 1 ;\n"
      "temperature(K) 300.0\nviscosity 3.0\npH 7.0\ntotal_step 10\ntime_step(s) 1.0e-6\n";
  return text;
}

std::vector<std::pair<int, int>> readMoleculeOrder() {
  std::vector<std::pair<int, int>> order;
  for (int t = 0; t < length_MO(); ++t) {
    int s = -1, id = -1;
    read_MO(t, &s, &id);
    order.emplace_back(s, id);
  }
  return order;
}

// Slots of species 0 in the molecule order built with `draws`.
std::vector<int> slotOrder(const std::vector<int>& draws) {
  ScriptedDraws script(draws);
  randomize_MO();
  EXPECT_EQ(script.used(), draws.size());
  std::vector<int> slots;
  for (auto [s, id] : readMoleculeOrder()) slots.push_back(id);
  return slots;
}

// The shuffle written out step by step: list the live molecules through the
// query interface, then jump and probe over a slot list in which taken
// entries are overwritten with -1.
std::vector<std::pair<int, int>> referenceMoleculeOrder() {
  std::vector<int> species, ids;
  for (int j = 0; j < numSpecies(); ++j)
    for (int k = 0; k < speciePopulation(j); ++k)
      if (alive(j, k)) {
        species.push_back(j);
        ids.push_back(k);
      }
  const long long n = static_cast<long long>(ids.size());
  std::vector<std::pair<int, int>> order;
  long long p = 0;
  for (long long t = 0; t < n; ++t) {
    p = (p + random_integer(0, static_cast<int>(n - 1))) % n;
    while (ids[static_cast<std::size_t>(p % n)] == -1) ++p;
    auto at = static_cast<std::size_t>(p % n);
    order.emplace_back(species[at], ids[at]);
    ids[at] = -1;
  }
  return order;
}

class MoleculeOrderTest : public ::testing::Test {
 protected:
  void TearDown() override {
    delete_MO();
    delete_RO();
  }
};

TEST_F(MoleculeOrderTest, ExactDrawsGiveTheDocumentedOrders) {
  loadSetup(speciesSetup({4}));
  EXPECT_EQ(slotOrder({1, 1, 1, 1}), (std::vector<int>{1, 2, 3, 0}));
  EXPECT_EQ(slotOrder({2, 2, 2, 2}), (std::vector<int>{2, 0, 3, 1}));
  EXPECT_EQ(slotOrder({0, 0, 0, 0}), (std::vector<int>{0, 1, 2, 3}));
  // The second pick lands on the taken last entry and wraps to the first.
  loadSetup(speciesSetup({5}));
  EXPECT_EQ(slotOrder({4, 0, 2, 1, 3}), (std::vector<int>{4, 0, 2, 3, 1}));
}

TEST_F(MoleculeOrderTest, ThreeEntryOrdersHaveTheirSkewedFrequencies) {
  // With ideal uniform draws every triple of draws is equally likely; the
  // three rotations come out 6 times in 27 (2/9), the other orders 3 (1/9).
  loadSetup(speciesSetup({3}));
  std::map<std::vector<int>, int> count;
  for (int a = 0; a < 3; ++a)
    for (int b = 0; b < 3; ++b)
      for (int c = 0; c < 3; ++c) ++count[slotOrder({a, b, c})];
  std::map<std::vector<int>, int> expected{{{0, 1, 2}, 6}, {{1, 2, 0}, 6}, {{2, 0, 1}, 6},
                                           {{0, 2, 1}, 3}, {{1, 0, 2}, 3}, {{2, 1, 0}, 3}};
  EXPECT_EQ(count, expected);
}

TEST_F(MoleculeOrderTest, MatchesTheStepByStepShuffle) {
  // Two species, so the listing crosses a species boundary; sizes up to 10^5
  // include lists longer than the draw range, where a jump cannot reach
  // every entry.
  const std::vector<int> capacity{70000, 60000};
  loadSetup(speciesSetup(capacity));
  std::vector<std::pair<int, int>> slots;
  for (int s = 0; s < 2; ++s)
    for (int k = 0; k < capacity[static_cast<std::size_t>(s)]; ++k) slots.emplace_back(s, k);

  std::vector<std::pair<int, unsigned>> cases;  // (live molecules, seed)
  for (int n = 1; n <= 70; ++n)
    for (unsigned seed = 1; seed <= 4; ++seed) cases.emplace_back(n, seed * 7919u + n);
  for (int n : {64, 65, 4095, 4097, 32767, 32768, 32769, 50000, 100000})
    for (unsigned seed = 1; seed <= 3; ++seed) cases.emplace_back(n, seed);

  for (auto [n, seed] : cases) {
    SCOPED_TRACE("n = " + std::to_string(n) + ", seed = " + std::to_string(seed));
    // A scattered choice of exactly n live molecules.
    std::mt19937 pick(seed);
    std::shuffle(slots.begin(), slots.end(), pick);
    for (std::size_t i = 0; i < slots.size(); ++i)
      setAlive(slots[i].first, slots[i].second, i < static_cast<std::size_t>(n));
    ASSERT_EQ(totalAlivePopulation(), n);

    tavo::test::capturedStdout([&] { initRand_fromSeed(seed); });
    auto before = tavo::detail::drawCount();
    randomize_MO();
    ASSERT_EQ(tavo::detail::drawCount() - before, static_cast<unsigned long long>(n));
    auto order = readMoleculeOrder();
    tavo::test::capturedStdout([&] { initRand_fromSeed(seed); });
    ASSERT_EQ(order, referenceMoleculeOrder());
  }
}

TEST_F(MoleculeOrderTest, ListsLiveMoleculesInSpeciesThenSlotOrderAsASnapshot) {
  loadSetup(speciesSetup({3, 2, 4}));
  setAlive(0, 1, false);
  setAlive(2, 0, false);
  setAlive(2, 3, false);
  {
    ScriptedDraws zeros(std::vector<int>(6, 0));  // all draws 0: the listing itself
    randomize_MO();
  }
  std::vector<std::pair<int, int>> listing{{0, 0}, {0, 2}, {1, 0}, {1, 1}, {2, 1}, {2, 2}};
  EXPECT_EQ(readMoleculeOrder(), listing);
  setAlive(1, 0, false);  // later changes are not seen until the next build
  EXPECT_EQ(readMoleculeOrder(), listing);
}

TEST_F(MoleculeOrderTest, EmptyOrderMakesNoDraw) {
  loadSetup(speciesSetup({2}));
  setAlive(0, 0, false);
  setAlive(0, 1, false);
  ScriptedDraws none({});
  randomize_MO();
  EXPECT_EQ(none.used(), 0u);
  EXPECT_EQ(length_MO(), 0);
  int s = 0, id = 0;
  EXPECT_EQ(fatalMessage([&] { read_MO(0, &s, &id); }), " (read_MO) range overflow!");
}

TEST_F(MoleculeOrderTest, MisuseEndsWithItsMessage) {
  loadSetup(speciesSetup({3}));
  int s = 0, id = 0;
  delete_MO();
  EXPECT_EQ(fatalMessage([] { length_MO(); }),
            "(length_MO) randomize_MO must be called before using length_MO");
  EXPECT_EQ(fatalMessage([&] { read_MO(0, &s, &id); }),
            " (read_MO) not initialized, must call randomize_MO!");
  randomize_MO();
  EXPECT_EQ(fatalMessage([&] { read_MO(-1, &s, &id); }), " (read_MO) range overflow!");
  EXPECT_EQ(fatalMessage([&] { read_MO(3, &s, &id); }), " (read_MO) range overflow!");
  read_MO(2, &s, &id);
  EXPECT_EQ(s, 0);
  delete_MO();
  delete_MO();  // allowed in either state
  EXPECT_EQ(fatalMessage([] { length_MO(); }),
            "(length_MO) randomize_MO must be called before using length_MO");
  EXPECT_EQ(fatalMessage([&] { read_MO(0, &s, &id); }),
            " (read_MO) not initialized, must call randomize_MO!");
}

// Species 0 has forward reactions with partners 2, 1 and 0 (in file order)
// and two reverse reactions; species 2 has none of its own besides the
// mirrored forward slot; species 3 has no reaction at all.
const char* kReactionSetup =
    "N_species 4\n"
    "specie A 0 1.0 1.0e-9 1.0e-10 10 5 0\n"
    "specie B 1 1.0 1.0e-9 1.0e-10 10 5 0\n"
    "specie C 2 1.0 1.0e-9 1.0e-10 10 5 0\n"
    "specie D 3 1.0 1.0e-9 1.0e-10 10 5 0\n"
    "N_fwd 3 ;\nN_rev 2 ;\nrev_max_mol 2 ;\n"
    "f 0 + 2 = 1 ; kf 1.0 ;\n"
    "r 0 = 1 + 2 ; kr 1.0 ;\n"
    "f 0 + 1 = 2 ; kf 1.0 ;\n"
    "f 0 + 0 = 1 ; kf 1.0 ;\n"
    "r 0 = 2 ; kr 1.0 ;\n"
    "temperature(K) 300.0\nviscosity 3.0\npH 7.0\ntotal_step 10\ntime_step(s) 1.0e-6\n";

std::vector<std::pair<bool, int>> readReactionOrder() {
  std::vector<std::pair<bool, int>> order;
  for (int t = 0; t < length_RO(); ++t) {
    bool fwd = false;
    int id = -1;
    read_RO(t, &fwd, &id);
    order.emplace_back(fwd, id);
  }
  return order;
}

using ReactionOrderTest = MoleculeOrderTest;

TEST_F(ReactionOrderTest, ListsForwardByPartnerThenReverse) {
  loadSetup(kReactionSetup);
  std::vector<std::pair<bool, int>> listing{{true, rxnID_F(0, 0, 1)},
                                            {true, rxnID_F(0, 1, 1)},
                                            {true, rxnID_F(0, 2, 1)},
                                            {false, 0},
                                            {false, 1}};
  EXPECT_EQ(listing[0].second, 4);  // slots: 0+2 -> 0,1; 0+1 -> 2,3; 0+0 -> 4
  EXPECT_EQ(listing[1].second, 2);
  EXPECT_EQ(listing[2].second, 0);
  {
    ScriptedDraws zeros({0, 0, 0, 0, 0});
    randomize_RO(0);
    EXPECT_EQ(zeros.used(), 5u);
  }
  EXPECT_EQ(readReactionOrder(), listing);
  {
    ScriptedDraws script({4, 0, 2, 1, 3});  // the five-entry example
    randomize_RO(0);
  }
  EXPECT_EQ(readReactionOrder(), (std::vector<std::pair<bool, int>>{
                                     listing[4], listing[0], listing[2], listing[3], listing[1]}));

  randomize_RO(2);  // only the mirrored slot of 0 + 2
  EXPECT_EQ(readReactionOrder(), (std::vector<std::pair<bool, int>>{{true, 1}}));
  ScriptedDraws none({});
  randomize_RO(3);
  EXPECT_EQ(length_RO(), 0);
  EXPECT_EQ(none.used(), 0u);
}

TEST_F(ReactionOrderTest, MisuseEndsWithItsMessage) {
  loadSetup(kReactionSetup);
  bool fwd = false;
  int id = 0;
  EXPECT_EQ(fatalMessage([] { length_RO(); }),
            "(length_RO) randomize_RO must be called before using length_RO");
  EXPECT_EQ(fatalMessage([&] { read_RO(0, &fwd, &id); }),
            " (read_RO) not initialized, must call randomize_RO!");
  randomize_RO(0);
  EXPECT_EQ(fatalMessage([&] { read_RO(-1, &fwd, &id); }), " (read_RO) range overflow!");
  EXPECT_EQ(fatalMessage([&] { read_RO(5, &fwd, &id); }), " (read_RO) range overflow!");

  // A bad species is refused by the first query, and the built order stays.
  auto built = readReactionOrder();
  EXPECT_EQ(fatalMessage([] { randomize_RO(4); }),
            "numRevReactions(int specie): with specie out of range!");
  EXPECT_EQ(fatalMessage([] { randomize_RO(-1); }),
            "numRevReactions(int specie): with specie out of range!");
  EXPECT_EQ(readReactionOrder(), built);

  delete_RO();
  EXPECT_EQ(fatalMessage([] { length_RO(); }),
            "(length_RO) randomize_RO must be called before using length_RO");
  EXPECT_EQ(fatalMessage([&] { read_RO(0, &fwd, &id); }),
            " (read_RO) not initialized, must call randomize_RO!");
}

}  // namespace
