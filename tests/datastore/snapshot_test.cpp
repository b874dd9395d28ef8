// Text dumps of the store: exact bytes for a small store, and refusal
// without a loaded store.
#include <string>

#include "testSupport.h"

namespace {

using tavo::test::capturedStdout;
using tavo::test::fatalMessage;
using tavo::test::loadSetup;

const std::string kRule(78, '~');

// Two species, one forward reaction 0 + 1 -> 1 and one reverse reaction
// 1 -> 0 with room for two products.
const char* kSmallSetup =
    "N_species 2\n"
    "specie A 0 1.0 1.0e-9 1.0e-10 3 1 0\n"
    "specie B 1 2.0 3.0e-9 1.0e-10 2 0 4\n"
    "N_fwd 1 ;\nN_rev 1 ;\nrev_max_mol 2 ;\n"
    "f 0 + 1 = 1 ; kf 12.0 ;\n"
    "r 1 = 0 ; kr 3.0 ;\n"
    "temperature(K) 300.0\nviscosity 3.0\npH 7.0\ntotal_step 10\ntime_step(s) 1.0e-6\n";

TEST(Snapshot, SetupDumpBytes) {
  loadSetup(kSmallSetup);
  EXPECT_EQ(capturedStdout([] { snapshotSetup_toFile("x"); }),
            "\nN_species: 2\n"
            "\nName\tID\tAtomicM\t\tsize(m)\t\ttotal#\talive#\tregion\n"
            "A\t0\t1.00\t\t1.00e-09\t3\t1\t0\n"
            "B\t1\t2.00\t\t3.00e-09\t2\t0\t4\n"
            "\ntemperature(K):\t300.00\nviscosity:\t3.00\npH:\t\t7.00\n"
            "total_step:\t10\ntime_step:\t1.00e-06\n");
}

TEST(Snapshot, MoleculeDumpBytes) {
  loadSetup(kSmallSetup);
  setPosition(0, 0, 1.5e-6, -2.0, 0.0);
  setCurrentStep(6);
  const std::string zero = "( 0.000000E+00 0.000000E+00 0.000000E+00 )  ";
  EXPECT_EQ(capturedStdout([] { snapshotMol_toFile("x"); }),
            "\nSimulation Step: 6\n\n#alive & mol_alive matrix:\n" + kRule +
                "\n1: 1 0 0 \n0: 0 0 \n\n\nmol_pos matrix:\n" + kRule +
                "\nspecie 0\n( 1.500000E-06 -2.000000E+00 0.000000E+00 )  " + zero + zero +
                "\nspecie 1\n" + zero + zero + "\n");
}

TEST(Snapshot, ReactionDumpBytes) {
  loadSetup(kSmallSetup);
  EXPECT_EQ(capturedStdout([] { snapshotRxn_toFile("x"); }),
            "\n\nforward reactions:\n" + kRule +
                "\nstructID:\n0\t1\t"
                "\nreagent:\n0\t1\t"
                "\npartners: ('-' = -1)\n1\t0\t"
                "\nproducts: ('-' = -1)\n1\t1\t"
                "\nkf: ('-' = 0.0)\n12.00\t12.00\t"
                "\n\nreverse reactions:\n" +
                kRule +
                "\nstructID:\t0\t"
                "\nreagent:\t1\t"
                "\nkr:\t\t3.00\t"
                "\n# products:\t1\t"
                "\nproducts: ('-' = -1)\n\t\t0\t\n\t\t-\t\n"
                "\n\nppp_fwd_hash matrix:\n" +
                kRule +
                "\nindex=0:\n0\t1\t\n1\t0\t\n"
                "\nindex=1:\n-\t0\t\n1\t-\t\n"
                "\n\npp_rev_hash matrix:\n" +
                kRule +
                "\n specieID:\t0\t1\t"
                "\n # rev rxn:\t0\t1\t"
                "\n ReverseReaction struct ID:  ('-' = -1)\n\t\t-\t0\t\n"
                "\n\nV0 collision volume matrix:\n" +
                kRule + "\n4.19e-18\t1.68e-17\t\n1.68e-17\t3.77e-17\t\n");
}

TEST(Snapshot, EmptyForwardSlotsAndNoForwardReactions) {
  // Two forward reactions, one with equal reactants: slot 3 stays empty.
  loadSetup(std::string("N_species 3\n"
                        "specie A 0 1.0 1.0e-9 1.0e-10 3 1 0\n"
                        "specie B 1 1.0 1.0e-9 1.0e-10 3 1 0\n"
                        "specie C 2 1.0 1.0e-9 1.0e-10 3 1 0\n"
                        "N_fwd 2 ;\nN_rev 0 ;\nrev_max_mol 0 ;\n"
                        "f 0 + 1 = 2 ; kf 1.0 ;\nf 2 + 2 = 0 ; kf 2.5 ;\n") +
            "temperature(K) 300.0\nviscosity 3.0\npH 7.0\ntotal_step 10\ntime_step(s) 1.0e-6\n");
  std::string out = capturedStdout([] { snapshotRxn_toFile("x"); });
  EXPECT_NE(out.find("\nstructID:\n0\t1\t2\t3\t\nreagent:\n0\t1\t2\t-1\t"
                     "\npartners: ('-' = -1)\n1\t0\t2\t-\t"
                     "\nproducts: ('-' = -1)\n2\t2\t0\t-\t"
                     "\nkf: ('-' = 0.0)\n1.00\t1.00\t2.50\t-\t"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("\nproducts: ('-' = -1)\n\n\nppp_fwd_hash"), std::string::npos) << out;
}

TEST(Snapshot, DumpsRefuseWithoutLoadedStore) {
  loadSetup(kSmallSetup);
  capturedStdout([] { deleteDataStructure(); });
  const char* message = "initialization datastructure unsuccessful, cannot proceed!";
  EXPECT_EQ(fatalMessage([] { snapshotSetup_toFile("x"); }), message);
  EXPECT_EQ(fatalMessage([] { snapshotMol_toFile("x"); }), message);
  EXPECT_EQ(fatalMessage([] { snapshotRxn_toFile("x"); }), message);
}

}  // namespace
