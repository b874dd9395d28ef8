// Setup-file loading: the example file's tables, progress text, every
// format error with its message, and the refusals of unsafe input.
#include <string>
#include <vector>

#include "formats/setup.h"
#include "formats/textReader.h"
#include "sampling/randomNumber.h"
#include "testSupport.h"

namespace {

using tavo::test::capturedStdout;
using tavo::test::exampleSetup;
using tavo::test::fatalMessage;
using tavo::test::loadSetup;
using tavo::test::writeFile;

// Loads `text` and returns the fatal error it ends with.
std::string loadError(const std::string& text) {
  writeFile("bad.Tavosetup", text);
  return fatalMessage([] { initDataStructure_fromFile("bad.Tavosetup"); });
}

// `text` with `from` replaced by `to` (first occurrence).
std::string with(std::string text, const std::string& from, const std::string& to) {
  std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return text.replace(at, from.size(), to);
}

std::string exampleWith(const std::string& from, const std::string& to) {
  return with(exampleSetup(), from, to);
}

// A setup with the given species and reaction lines and ordinary counts.
std::string setupWith(const std::string& species, const std::string& counts,
                      const std::string& reactions) {
  return species + counts + reactions +
         "temperature(K) 300.0\nviscosity 3.0\npH 7.0\ntotal_step 300\ntime_step(s) 1.0e-6\n";
}

const char* kFourSpecies =
    "N_species 4\n"
    "specie A 0 1 1e-9 1e-10 10 0 0\n"
    "specie B 1 1 1e-9 1e-10 10 0 0\n"
    "specie C 2 1 1e-9 1e-10 10 0 0\n"
    "specie D 3 1 1e-9 1e-10 10 0 0\n";

TEST(SetupLoad, ExampleFillsEveryTable) {
  loadSetup(exampleSetup());
  ASSERT_TRUE(data_initialization_success());
  EXPECT_EQ(numSpecies(), 3);
  EXPECT_EQ(totalRxn(), 2);
  EXPECT_EQ(totalRxn_F(), 1);
  EXPECT_EQ(totalRxn_R(), 1);
  EXPECT_EQ(totalrxnID_F(), 2);
  EXPECT_EQ(totalrxnID_R(), 1);

  // Forward slots seen from both reactants, and their lookup lists.
  ASSERT_EQ(p_fwd.size(), 2u);
  EXPECT_EQ(p_fwd[0].reagent, 0);
  EXPECT_EQ(p_fwd[0].partner, 1);
  EXPECT_EQ(p_fwd[0].product, 2);
  EXPECT_EQ(p_fwd[0].kf, 12.0);
  EXPECT_EQ(p_fwd[1].reagent, 1);
  EXPECT_EQ(p_fwd[1].partner, 0);
  EXPECT_EQ(ppp_fwd_hash[0][1][0], 1);
  EXPECT_EQ(ppp_fwd_hash[0][1][1], 0);
  EXPECT_EQ(ppp_fwd_hash[1][0][0], 1);
  EXPECT_EQ(ppp_fwd_hash[1][0][1], 1);
  EXPECT_EQ(ppp_fwd_hash[0][0][0], 0);
  EXPECT_EQ(ppp_fwd_hash[0][0][1], -1);

  ASSERT_EQ(p_rev.size(), 1u);
  EXPECT_EQ(p_rev[0].reagent, 2);
  EXPECT_EQ(p_rev[0].kr, 3.0);
  EXPECT_EQ(p_rev[0].numProducts, 2);
  EXPECT_EQ(p_rev[0].products, (std::vector<int>{0, 1}));
  EXPECT_EQ(pp_rev_hash[2][0], 1);
  EXPECT_EQ(pp_rev_hash[2][1], 0);
  EXPECT_EQ(pp_rev_hash[0][0], 0);

  // Species: slots 0..49 alive, 50..99 dead, every position at the origin.
  EXPECT_EQ(speciePopulation(0), 100);
  EXPECT_EQ(speciePopulation(2), 200);
  EXPECT_EQ(alivePopulation(0), 50);
  EXPECT_EQ(alivePopulation_new(0), 50);
  EXPECT_TRUE(alive(0, 49));
  EXPECT_FALSE(alive(0, 50));
  EXPECT_TRUE(alive_new(0, 49));
  double x = 1, y = 1, z = 1;
  position(1, 99, &x, &y, &z);
  EXPECT_EQ(x, 0.0);
  EXPECT_EQ(y, 0.0);
  EXPECT_EQ(z, 0.0);
  char buffer[100];
  name(1, buffer);
  EXPECT_STREQ(buffer, "S1");
  EXPECT_EQ(mass(2), 3.0);
  EXPECT_EQ(size(1), 2.0e-9);
  EXPECT_EQ(diffConst(0), 1.0e-10);
  EXPECT_EQ(specieRegion(0), 0);

  EXPECT_EQ(readTemperature(), 300.0);
  EXPECT_EQ(readViscosity(), 3.0);
  EXPECT_EQ(readPH(), 7.0);
  EXPECT_EQ(totalStep(), 300);
  EXPECT_EQ(dt(), 1.0e-6);
  EXPECT_EQ(readCurrentStep(), 0);
}

TEST(SetupLoad, PrintsItsProgressExactly) {
  writeFile("progress.Tavosetup", exampleSetup());
  std::string out = capturedStdout([] { initDataStructure_fromFile("progress.Tavosetup"); });
  EXPECT_EQ(out,
            "\nInitializing simulation parameters:"
            "\n\tOpening setup file : progress.Tavosetup...DONE\n"
            "\tParsing setup info and allocating memory:\n"
            "\t\treading and allocating total # of species.......DONE\n"
            "\t\treading and allocating each species.............DONE\n"
            "\t\tallocating 'new' time step......................DONE\n"
            "\t\tloading reaction information....................DONE\n"
            "\t\tloading environment and simulation parameters...DONE\n"
            "Simulation parameters initialized successfully!\n");
}

TEST(SetupLoad, CollisionMatrixIsFourPiOverThreeRSquared) {
  loadSetup(exampleSetup());
  EXPECT_EQ(V0(0, 2), 1.6755160819145565e-17);  // sizes 1e-9 and 3e-9: r = 2e-9
  EXPECT_EQ(V0(2, 0), V0(0, 2));
  loadSetup(setupWith("N_species 2\nspecie A 0 1 5e-10 1 5 0 0\nspecie B 1 1 5e-10 1 5 0 0\n",
                      "N_fwd 0 ;\nN_rev 0 ;\nrev_max_mol 0 ;\n", ""));
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 2; ++j) EXPECT_EQ(V0(i, j), 1.0471975511965978e-18);
}

TEST(SetupLoad, ForwardSlotsAndLookupLists) {
  // 0 + 1 -> 2 takes two slots, 2 + 2 -> 0 one; the fourth slot stays empty.
  loadSetup(setupWith(kFourSpecies, "N_fwd 2 ;\nN_rev 0 ;\nrev_max_mol 1 ;\n",
                      "f 0 + 1 = 2 ; kf 1.0 ;\nf 2 + 2 = 0 ; kf 2.0 ;\n"));
  ASSERT_EQ(p_fwd.size(), 4u);
  EXPECT_EQ(totalrxnID_F(), 3);
  EXPECT_EQ(p_fwd[2].reagent, 2);
  EXPECT_EQ(p_fwd[2].partner, 2);
  EXPECT_EQ(p_fwd[3].reagent, -1);
  EXPECT_EQ(p_fwd[3].product, -1);
  EXPECT_EQ(p_fwd[3].kf, 0.0);
  EXPECT_EQ(ppp_fwd_hash.listLength(), 3u);
  EXPECT_EQ((std::vector<int>{ppp_fwd_hash[0][1][0], ppp_fwd_hash[0][1][1], ppp_fwd_hash[0][1][2]}),
            (std::vector<int>{1, 0, -1}));
  EXPECT_EQ((std::vector<int>{ppp_fwd_hash[1][0][0], ppp_fwd_hash[1][0][1]}),
            (std::vector<int>{1, 1}));
  EXPECT_EQ((std::vector<int>{ppp_fwd_hash[2][2][0], ppp_fwd_hash[2][2][1]}),
            (std::vector<int>{1, 2}));

  // Two reactions of the same pair fill all four slots.
  loadSetup(setupWith(kFourSpecies, "N_fwd 2 ;\nN_rev 0 ;\nrev_max_mol 1 ;\n",
                      "f 0 + 1 = 2 ; kf 1.0 ;\nf 0 + 1 = 3 ; kf 2.0 ;\n"));
  EXPECT_EQ(totalrxnID_F(), 4);
  EXPECT_EQ((std::vector<int>{ppp_fwd_hash[0][1][0], ppp_fwd_hash[0][1][1], ppp_fwd_hash[0][1][2]}),
            (std::vector<int>{2, 0, 2}));

  // No forward reactions: no slots, one-element lists.
  loadSetup(setupWith(kFourSpecies, "N_fwd 0 ;\nN_rev 0 ;\nrev_max_mol 0 ;\n", ""));
  EXPECT_TRUE(p_fwd.empty());
  EXPECT_EQ(totalrxnID_F(), 0);
  EXPECT_EQ(ppp_fwd_hash.listLength(), 1u);
  EXPECT_EQ(ppp_fwd_hash[3][3][0], 0);
}

TEST(SetupLoad, ReverseLinesAndSeparatorsGluedToNumbers) {
  // Fewer products than rev_max_mol stop at ";"; "2;" is a number and a
  // separator; reactions may come in any order.
  loadSetup(setupWith(kFourSpecies, "N_fwd 1;\nN_rev 2 ;\nrev_max_mol 3;\n",
                      "r 3 = 1 ; kr 0.5;\nf 1 + 1 = 2; kf 7;\nr 3 = 0 + 2 + 1 ; kr 2.5 ;\n"));
  EXPECT_EQ(p_rev[0].products, (std::vector<int>{1, -1, -1}));
  EXPECT_EQ(p_rev[0].numProducts, 1);
  EXPECT_EQ(p_rev[1].products, (std::vector<int>{0, 2, 1}));
  EXPECT_EQ(kr(0), 0.5);
  EXPECT_EQ(pp_rev_hash[3][0], 2);
  EXPECT_EQ(pp_rev_hash[3][2], 1);
  EXPECT_EQ(totalrxnID_F(), 1);
  EXPECT_EQ(ppp_fwd_hash[1][1][0], 1);
  EXPECT_EQ(kf(0), 7.0);
}

TEST(SetupLoad, ReloadAfterDeleteAndReplacement) {
  loadSetup(exampleSetup());
  std::string out = capturedStdout([] { deleteDataStructure(); });
  EXPECT_EQ(out, "\nClearing data structure in memory...DONE");
  EXPECT_FALSE(data_initialization_success());
  // Nothing of the released store can be reached any more.
  EXPECT_EQ(fatalMessage([] { speciePopulation(0); }),
            "(speciePopulation) with speciesID out of range!");
  loadSetup(exampleSetup());
  EXPECT_EQ(totalAlivePopulation(), 100);
  // A load over a loaded store replaces it.
  loadSetup(setupWith(kFourSpecies, "N_fwd 0 ;\nN_rev 0 ;\nrev_max_mol 0 ;\n", ""));
  EXPECT_EQ(numSpecies(), 4);
  EXPECT_TRUE(p_rev.empty());
}

struct FormatCase {
  std::string from, to, message;
};

TEST(SetupErrors, EachRuleHasItsMessage) {
  const std::string speciesLine =
      "Syntax error:\n\tlines for species is: 'species name ID mass size diffConst total alive "
      "region'";
  const std::vector<FormatCase> cases = {
      {"N_species 3", "N_specie 3", "Syntax error:\n\tline 1: correct format is 'N_species 2'"},
      {"specie S1", "species S1", speciesLine},
      {"S1 1 2.0", "S1 2 2.0", speciesLine},
      {"2.0e-9 1.0e-10 100 50", "2.0e-9 1.0e-10 0 0", speciesLine},
      {"100 50 0\nspecie S2", "100 101 0\nspecie S2", speciesLine},
      {"N_fwd 1 ;", "N_fwdd 1 ;", "Syntax error:\n\tlines for # of rxn is: 'N_fwd 4'"},
      {"N_fwd 1 ;", "N_fwd 1 :", "Syntax error:\n\t'N_fwd #' end line with ';'"},
      {"N_rev 1 ;", "Nrev 1 ;", "Syntax error:\n\tlines for # of rxn is: 'N_rev 4'"},
      {"N_rev 1 ;", "N_rev 1", "Syntax error:\n\t'N_rev #' end line with ';'"},
      {"rev_max_mol 2", "rev_max 2", "Syntax error:\n\tlines for # of rxn is: 'rev_max_mol 3'"},
      {"rev_max_mol 2 ;", "rev_max_mol 2 ,", "Syntax error:\n\t'rev_max #' end line with ';'"},
      {"f 0 + 1", "f 0 - 1", "Syntax error:\n\tlines for rxn is: '0 + 1 = 2'"},
      {"1 = 2 ;", "1 : 2 ;", "Syntax error:\n\tlines for rxn is: '0 + 1 = 2'"},
      {"= 2 ; kf", "= 2 kf", "Syntax error:\n\t'0 + 1 = 2' end line with ';'"},
      {"kf 12.0", "kff 12.0", "Syntax errort:\n\tlines for kf is: 'kf 12.0'"},
      {"kf 12.0 ;", "kf 12.0 ", "Syntax error:\n\t'kf #.#' end line with ';'"},
      {"= 2 ; kf", "= 3 ; kf", "Syntax error:\n\tlines for fwd rxn: speciesID overflow"},
      {"r 2 =", "r 2 +", "Syntax error:\n\tlines for rxn is: '0 = 1 + 2 + 3 ;' '='"},
      {"0 + 1 ; kr", "0 * 1 ; kr", "Syntax error:\n\tlines for rxn is: '0 = 1 + 2 + 3 ;' '+ ;'"},
      {"kr 3.0", "k 3.0", "Syntax errort:\n\tlines for kr is: 'kr 12.0'"},
      {"kr 3.0 ;", "kr 3.0 .", "Syntax error:\n\t'kr #.#' end line with ';'"},
      {"r 2 =", "x 2 =", "Syntax error:\n\tneed 'r' or 'f' in front of every reaction"},
      {"temperature(K)", "temperature",
       "file format incorrect:\n\tlines for temperature is: 'temperature(K) 300.0'"},
      {"viscosity 3.0", "viscosity(K) 3.0",
       "file format incorrect:\n\tlines for viscosity is: 'viscosity(K) 3.0'"},
      {"pH 7.0", "PH 7.0", "file format incorrect:\n\tlines for pH is: 'pH 7.0'"},
      {"total_step 300", "total_steps 300",
       "file format incorrect:\n\tlines for total_step is: 'total_step 300'"},
      {"time_step(s)", "time_step",
       "file format incorrect:\n\tlines for time_step is: 'time_step(s) 1.0e-6'"},
      // Three products where rev_max_mol allows two: the third is read where
      // "kr" is expected.
      {"0 + 1 ; kr", "0 + 1 + 2 ; kr", "Syntax errort:\n\tlines for kr is: 'kr 12.0'"},
      // Two products and a "+" where ";" belongs: not taken as the list's end.
      {"0 + 1 ; kr", "0 + 1 + kr", "Syntax errort:\n\tlines for kr is: 'kr 12.0'"},
  };
  for (const FormatCase& c : cases)
    EXPECT_EQ(loadError(exampleWith(c.from, c.to)), c.message) << c.from << " -> " << c.to;
  EXPECT_FALSE(data_initialization_success());
}

TEST(SetupErrors, ReactionCounts) {
  const char* counts = "N_fwd 1 ;\nN_rev 1 ;\nrev_max_mol 2 ;\n";
  // A second forward line with N_fwd 1 is refused before its fields are read.
  EXPECT_EQ(loadError(setupWith(kFourSpecies, counts, "f 0 + 1 = 2 ; kf 1 ;\nf 0 junk\n")),
            "having more fwd reactions than stated in N_fwd!");
  EXPECT_EQ(loadError(setupWith(kFourSpecies, counts, "r 0 = 1 ; kr 1 ;\nr 0 = 1 ; kr 1 ;\n")),
            "having more rev reactions than stated in N_rev!");
  // Four one-slot forward lines fit the 2*N_fwd slots of N_fwd 3 but are too
  // many lines.
  EXPECT_EQ(loadError(setupWith(kFourSpecies, "N_fwd 3 ;\nN_rev 1 ;\nrev_max_mol 1 ;\n",
                                "f 0 + 0 = 1 ; kf 1 ;\nf 1 + 1 = 2 ; kf 1 ;\n"
                                "f 2 + 2 = 3 ; kf 1 ;\nf 3 + 3 = 0 ; kf 1 ;\n")),
            "fwdcount!=N_fwd*2 or revcount!=N_rev! didn't read enough reactions as declared");
  // Two two-slot lines need four slots where N_fwd 1 gives two.
  EXPECT_EQ(loadError(setupWith(kFourSpecies, "N_fwd 1 ;\nN_rev 1 ;\nrev_max_mol 1 ;\n",
                                "f 0 + 0 = 1 ; kf 1 ;\nf 1 + 2 = 3 ; kf 1 ;\n")),
            "having more fwd reactions than stated in N_fwd!");
}

TEST(SetupErrors, FileThatEndsEarly) {
  // Where a word is expected the keyword test fails; where a number is
  // expected the missing number is named.
  EXPECT_EQ(loadError(""), "Syntax error:\n\tline 1: correct format is 'N_species 2'");
  EXPECT_EQ(loadError("N_species"),
            "Syntax error:\n\tN_species (the number of species): expected an integer, found the "
            "end of the file");
  EXPECT_EQ(loadError("N_species 2\nspecie A 0 1 1 1 5 0 0\n"),
            "Syntax error:\n\tlines for species is: 'species name ID mass size diffConst total "
            "alive region'");
  std::string text = exampleSetup();
  EXPECT_EQ(loadError(text.substr(0, text.find("r 2 ="))),
            "Syntax error:\n\tneed 'r' or 'f' in front of every reaction");
  EXPECT_EQ(loadError(text.substr(0, text.find("1.0e-6"))),
            "Syntax error:\n\ttime_step(s): expected a number, found the end of the file");
  EXPECT_EQ(loadError(text.substr(0, text.find("300\ntime"))),
            "Syntax error:\n\ttotal_step: expected an integer, found the end of the file");
  EXPECT_EQ(loadError(exampleWith("total_step 300\n", "total_step\n")),
            "Syntax error:\n\ttotal_step: expected an integer, found 'time_step(s)'");
}

TEST(SetupErrors, MalformedNumbersAreCaughtWhereTheyStand) {
  const std::vector<FormatCase> cases = {
      {"N_species 3", "N_species three",
       "Syntax error:\n\tN_species (the number of species): expected an integer, found 'three'"},
      {"S1 1 2.0 2.0e-9", "S1 1 2.0 2.0e-9x",
       "Syntax error:\n\tspecies line 2, the size: expected a number, found '2.0e-9x'"},
      {"100 50 0\nspecie S1", "100.5 50 0\nspecie S1",
       "Syntax error:\n\tspecies line 1, the slot count: expected an integer, found '100.5'"},
      {"kf 12.0", "kf 1.2.0",
       "Syntax error:\n\treaction line 1, rate constant kf: expected a number, found '1.2.0'"},
      {"kf 12.0", "kf 0X1P-2",
       "Syntax error:\n\treaction line 1, rate constant kf: expected a number, found '0X1P-2'"},
      {"1.0e-9 1.0e-10 100", "1.0e-9 -0x.8 100",
       "Syntax error:\n\tspecies line 1, the diffusion constant: expected a number, found "
       "'-0x.8'"},
      {"pH 7.0", "pH seven", "Syntax error:\n\tpH: expected a number, found 'seven'"},
      {"total_step 300", "total_step 99999999999",
       "Syntax error:\n\ttotal_step: expected an integer, found '99999999999', which is out of "
       "range"},
      {"time_step(s) 1.0e-6", "time_step(s) 1e999",
       "Syntax error:\n\ttime_step(s): expected a number, found '1e999', which is out of range"},
      {"viscosity 3.0", "viscosity nan",
       "Syntax error:\n\tviscosity: expected a number, found 'nan'"},
  };
  for (const FormatCase& c : cases)
    EXPECT_EQ(loadError(exampleWith(c.from, c.to)), c.message) << c.to;
  // The keyword test of a line still comes before its numbers.
  EXPECT_EQ(loadError(exampleWith("specie S1 1 2.0", "species S1 x 2.0")),
            "Syntax error:\n\tlines for species is: 'species name ID mass size diffConst total "
            "alive region'");
}

TEST(SetupErrors, UnsafeCountsAndIDsAreRefused) {
  EXPECT_EQ(loadError("N_species -1\n"),
            "Syntax error:\n\tN_species must not be negative, found -1");
  EXPECT_EQ(loadError(exampleWith("N_fwd 1", "N_fwd -1")),
            "Syntax error:\n\tN_fwd must not be negative, found -1");
  EXPECT_EQ(loadError(exampleWith("N_rev 1", "N_rev -2")),
            "Syntax error:\n\tN_rev must not be negative, found -2");
  EXPECT_EQ(loadError(exampleWith("rev_max_mol 2", "rev_max_mol -2")),
            "Syntax error:\n\trev_max_mol must not be negative, found -2");
  EXPECT_EQ(loadError(exampleWith("rev_max_mol 2", "rev_max_mol 0")),
            "Syntax error:\n\trev_max_mol is 0, so the reverse reactions declared by N_rev can "
            "have no products");
  EXPECT_EQ(loadError(exampleWith("100 50 0\nspecie S1", "100 -5 0\nspecie S1")),
            "Syntax error:\n\tspecies line 1: the alive count must not be negative, found -5");
  EXPECT_EQ(loadError(exampleWith("total_step 300", "total_step -2147483648")),
            "Syntax error:\n\ttotal_step must not be negative, found -2147483648");
  EXPECT_EQ(loadError(exampleWith("f 0 + 1", "f -1 + 1")),
            "Syntax error:\n\tlines for fwd rxn: negative speciesID");
  const char* revRange =
      "Syntax error:\n\tlines for rev rxn: speciesID out of range, must be in [0, N_species)";
  EXPECT_EQ(loadError(exampleWith("r 2 =", "r 3 =")), revRange);
  EXPECT_EQ(loadError(exampleWith("r 2 = 0", "r -1 = 0")), revRange);
  EXPECT_EQ(loadError(exampleWith("= 0 + 1 ; kr", "= 0 + 7 ; kr")), revRange);
}

TEST(SetupErrors, KeywordsWithANulByteAreRefused) {
  using namespace std::string_literals;
  const std::vector<FormatCase> cases = {
      {"f 0 + 1", "f\0X 0 + 1"s, "Syntax error:\n\tneed 'r' or 'f' in front of every reaction"},
      {"kf 12.0", "kf\0X 12.0"s, "Syntax errort:\n\tlines for kf is: 'kf 12.0'"},
      {"r 2 =", "r\0X 2 ="s, "Syntax error:\n\tneed 'r' or 'f' in front of every reaction"},
      {"0 + 1 ; kr", "0 + 1 ;\0X kr"s,
       "Syntax error:\n\tlines for rxn is: '0 = 1 + 2 + 3 ;' '+ ;'"},
      {"0 + 1 ; kr", "0 +\0X 1 ; kr"s,
       "Syntax error:\n\tlines for rxn is: '0 = 1 + 2 + 3 ;' '+ ;'"},
      {"kr 3.0", "kr\0X 3.0"s, "Syntax errort:\n\tlines for kr is: 'kr 12.0'"},
      {"N_fwd 1 ;", "N_fwd 1 ;\0X"s, "Syntax error:\n\t'N_fwd #' end line with ';'"},
  };
  for (const FormatCase& c : cases)
    EXPECT_EQ(loadError(exampleWith(c.from, c.to)), c.message) << c.from;
}

// A failed load publishes nothing: even when the error handler lets the
// process go on, every query is refused by its range test, whether the load
// failed early or late, and whatever was loaded before.
TEST(SetupErrors, QueriesAfterAFailedLoadAreRefused) {
  const std::vector<std::string> failing = {
      "N_species 1\nspecie A 0 1 1 1 1 0 0\nN_fwd x ;\n",
      exampleWith("r 2 = 0 + 1 ; kr 3.0 ;", "r 2 = 0 + 1 ; kr 3.0 :"),
      exampleWith("time_step(s) 1.0e-6", "time_step(s) soon"),
  };
  const std::string fwdRange =
      "numFwdReactions(int specie1, int specie2): with specie1 or specie2 out of range!";
  const std::string revRange = "numRevReactions(int specie): with specie out of range!";
  struct Query {
    void (*call)();
    std::string message;
  };
  const std::vector<Query> queries = {
      {[] { numRxn_R(0); }, revRange},
      {[] { rxnID_R(0, 1); }, revRange},
      {[] { randomize_RO(0); }, revRange},
      {[] { numRxn_F(0, 0); }, fwdRange},
      {[] { rxnID_F(0, 0, 1); }, fwdRange},
      {[] { speciePopulation(0); }, "(speciePopulation) with speciesID out of range!"},
      {[] { kf(0); }, "(kf) incorrect rxnID, beyond [0-2N_fwd) range."},
      {[] { kr(0); }, "(kr) incorrect rxnID, beyond [0-N_rev) range."},
  };
  for (const std::string& text : failing) {
    for (bool loadedBefore : {false, true}) {
      if (loadedBefore) loadSetup(exampleSetup());
      loadError(text);
      EXPECT_FALSE(data_initialization_success());
      EXPECT_EQ(numSpecies() + totalRxn() + totalrxnID_F(), 0);
      for (const Query& q : queries)
        EXPECT_EQ(fatalMessage(q.call), q.message) << text.substr(0, 40) << " " << loadedBefore;
    }
  }
}

TEST(SetupErrors, NullPathIsAFileThatCannotBeOpened) {
  tavo::test::FatalErrors guard;
  std::string message;
  testing::internal::CaptureStdout();
  try {
    initDataStructure_fromFile(nullptr);
  } catch (const tavo::test::FatalError& e) {
    message = e.what();
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "\nInitializing simulation parameters:\n\tOpening setup file : ..."
            "\nERROR:  Cannot open setup file to read!\n");
  EXPECT_EQ(message, " Cannot open setup file to read!");
}

TEST(SetupErrors, LongWordsAreRefused) {
  std::string longName(100, 'n');
  EXPECT_EQ(loadError(exampleWith("S0", longName)),
            "Syntax error:\n\tword longer than 99 characters: '" + longName.substr(0, 40) + "...'");
  // A 99-character name is the longest that fits.
  loadSetup(exampleWith("S0", std::string(99, 'n')));
  char buffer[100];
  name(0, buffer);
  EXPECT_EQ(std::string(buffer), std::string(99, 'n'));
  std::string hugeWord(1 << 20, 'w');
  EXPECT_EQ(loadError(hugeWord),
            "Syntax error:\n\tword longer than 99 characters: '" + hugeWord.substr(0, 40) + "...'");
}

TEST(SetupErrors, TablesTooLargeForMemoryEndCleanly) {
  tavo::detail::setTableMemoryBudget(64.0 * 1024 * 1024);
  // 2e9 slots cannot be held; the load says so instead of crashing.
  EXPECT_EQ(loadError(exampleWith("100 50 0\nspecie S1", "2000000000 50 0\nspecie S1")),
            "(initDataStructure_fromFile) cannot allocate the molecule tables: 5.2e+10 bytes "
            "needed");
  // 3 x 3 x (N_fwd + 1) lookup lists with a billion products per reverse
  // reaction.
  EXPECT_EQ(loadError(exampleWith("rev_max_mol 2", "rev_max_mol 1000000000")),
            "(initDataStructure_fromFile) cannot allocate the reverse reaction products: 4e+09 "
            "bytes needed");
  // Tables are sized by what the file holds: a malformed reverse line is
  // named before a billion product slots are reserved for it.
  EXPECT_EQ(
      loadError(with(exampleWith("rev_max_mol 2", "rev_max_mol 250000000"), "kr 3.0", "kr x")),
      "Syntax error:\n\treaction line 2, rate constant kr: expected a number, found 'x'");
  // Every table of a load shares one budget: 0.79 MB of molecule tables and
  // 0.24 MB of products fit 1 MB each, not together.
  tavo::detail::setTableMemoryBudget(1e6);
  EXPECT_EQ(
      loadError(with(exampleWith("rev_max_mol 2", "rev_max_mol 60000"), "100 50 0", "30000 50 0")),
      "(initDataStructure_fromFile) cannot allocate the reverse reaction products: 2.4e+05 "
      "bytes needed");
  tavo::detail::setTableMemoryBudget(0.0);
  // A species count far beyond the lines the file holds reserves nothing.
  EXPECT_EQ(loadError("N_species 2000000000\nspecie A 0 1 1 1 1 0 0\n"),
            "Syntax error:\n\tlines for species is: 'species name ID mass size diffConst total "
            "alive region'");
}

TEST(SetupErrors, MissingFile) {
  EXPECT_EQ(fatalMessage([] { initDataStructure_fromFile("no/such/file.Tavosetup"); }),
            " Cannot open setup file to read!");
}

// The parser without the store: a value, every fault an exception with the
// message the store's load reports, and nothing printed or logged.
TEST(SetupValue, ReadsTheFileWithoutTouchingTheStore) {
  loadSetup(setupWith(kFourSpecies, "N_fwd 0 ;\nN_rev 0 ;\nrev_max_mol 0 ;\n", ""));
  writeFile("value.Tavosetup", exampleWith("f 0 + 1 = 2", "f 1 + 1 = 0"));
  tavo::detail::SetupData d;
  EXPECT_EQ(capturedStdout([&] { d = tavo::detail::readSetup("value.Tavosetup", nullptr); }), "");
  EXPECT_EQ(numSpecies(), 4);  // the loaded store is untouched
  ASSERT_EQ(d.species.size(), 3u);
  EXPECT_EQ(d.species[2].name, "S2");
  EXPECT_EQ(d.species[2].total, 200);
  EXPECT_EQ(d.species[1].diffConst, 1.0e-10);
  // The lines in file order, each naming the record it filled.
  ASSERT_EQ(d.lines.size(), 2u);
  EXPECT_TRUE(d.lines[0].forward);
  EXPECT_EQ(d.p_fwd[static_cast<std::size_t>(d.lines[0].record)].product, 0);
  EXPECT_FALSE(d.lines[1].forward);
  EXPECT_EQ(d.p_rev[static_cast<std::size_t>(d.lines[1].record)].kr, 3.0);
  EXPECT_EQ(d.N_rxnID_fwd, 1);
  EXPECT_EQ(d.ppp_fwd_hash[1][1][0], 1);
  EXPECT_EQ(d.total_step, 300);
  EXPECT_EQ(d.time_step, 1.0e-6);

  std::remove("errors.txt");
  const std::vector<std::pair<std::string, std::string>> faults = {
      {exampleWith("pH 7.0", "PH 7.0"), "file format incorrect:\n\tlines for pH is: 'pH 7.0'"},
      {exampleWith("N_rev 1", "N_rev -2"), "Syntax error:\n\tN_rev must not be negative, found -2"},
  };
  for (const auto& [text, message] : faults) {
    writeFile("value.Tavosetup", text);
    std::string thrown;
    std::string out = capturedStdout([&] {
      try {
        tavo::detail::readSetup("value.Tavosetup", nullptr);
      } catch (const tavo::Error& e) {
        thrown = e.what();
      }
    });
    EXPECT_EQ(thrown, message);
    EXPECT_EQ(out, "");
  }
  EXPECT_THROW(tavo::detail::readSetup("no/such.Tavosetup", nullptr), tavo::Error);
  EXPECT_THROW(tavo::detail::readSetup(nullptr, nullptr), tavo::Error);
  EXPECT_FALSE(std::ifstream("errors.txt").good());
}

TEST(SetupErrorsDeathTest, EndsTheProcessWithStatusOneAndLogs) {
  writeFile("death.Tavosetup", "N_specie 3\n");
  std::remove("errors.txt");
  EXPECT_EXIT(initDataStructure_fromFile("death.Tavosetup"), ::testing::ExitedWithCode(1), "");
  EXPECT_EQ(tavo::test::readFile("errors.txt"),
            "\nERROR: Syntax error:\n\tline 1: correct format is 'N_species 2'\n");
}

}  // namespace
