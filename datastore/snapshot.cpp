// snapshot.cpp - human-readable dumps of the data store to standard output:
// the species table and environment, the molecule slots, and the reaction
// tables with the collision matrix. They only read the store.
#include <cstdio>

#include "datastore/dataFetcher.h"
#include "datastore/storeState.h"

namespace {

std::size_t at(int index) { return static_cast<std::size_t>(index); }

// Every dump needs the tables of a loaded store; after deleteDataStructure
// they are gone.
void requireLoadedStore() {
  if (!tavo::detail::store().data_init_success)
    errorOut("initialization datastructure unsuccessful, cannot proceed!");
}

// A section heading: its text, then a rule of 78 '~'.
void heading(const char* text) {
  std::fputs(text, stdout);
  for (int i = 0; i < 78; ++i) std::putchar('~');
}

// -1 prints as a dash: the empty value of every ID field and lookup list.
void dashedInt(int v) {
  if (v == -1)
    std::printf("-\t");
  else
    std::printf("%d\t", v);
}

}  // namespace

void snapshotSetup_toFile(const char* /*name*/) {
  requireLoadedStore();
  const tavo::detail::Store& g = tavo::detail::store();
  std::printf("\nN_species: %d\n", g.N_species);
  std::printf("\nName\tID\tAtomicM\t\tsize(m)\t\ttotal#\talive#\tregion\n");
  for (int i = 0; i < g.N_species; ++i) {
    std::size_t s = at(i);
    std::printf("%s\t%d\t%4.2f\t\t%4.2e\t%d\t%d\t%d\n", g.mol_name[s].data(), i, g.mol_mass[s],
                g.mol_size[s], g.mol_total[s], g.mol_totalAlive[s], g.mol_region[s]);
  }
  std::printf("\ntemperature(K):\t%4.2f\n", g.temperature);
  std::printf("viscosity:\t%4.2f\n", g.viscosity);
  std::printf("pH:\t\t%4.2f\n", g.pH);
  std::printf("total_step:\t%d\n", g.total_step);
  std::printf("time_step:\t%4.2e\n", g.time_step);
}

void snapshotMol_toFile(const char* /*name*/) {
  requireLoadedStore();
  const tavo::detail::Store& g = tavo::detail::store();
  std::printf("\nSimulation Step: %d\n", g.current_step);
  heading("\n#alive & mol_alive matrix:\n");
  std::printf("\n");
  for (int i = 0; i < g.N_species; ++i) {
    std::size_t s = at(i);
    std::printf("%d: ", g.mol_totalAlive[s]);
    for (std::uint8_t flag : g.mol_alive[s]) std::fputs(flag ? "1 " : "0 ", stdout);
    std::printf("\n");
  }
  heading("\n\nmol_pos matrix:\n");
  std::printf("\n");
  for (int i = 0; i < g.N_species; ++i) {
    std::printf("specie %d\n", i);
    for (const tavo::detail::Position& p : g.mol_pos[at(i)])
      std::printf("( %E %E %E )  ", p[0], p[1], p[2]);
    std::printf("\n");
  }
}

void snapshotRxn_toFile(const char* /*name*/) {
  requireLoadedStore();
  const tavo::detail::Store& g = tavo::detail::store();
  int slots = 2 * g.N_fwd;

  heading("\n\nforward reactions:\n");
  std::printf("\nstructID:\n");
  for (int r = 0; r < slots; ++r) std::printf("%d\t", r);
  std::printf("\nreagent:\n");
  for (int r = 0; r < slots; ++r) std::printf("%d\t", p_fwd[at(r)].reagent);
  std::printf("\npartners: ('-' = -1)\n");
  for (int r = 0; r < slots; ++r) dashedInt(p_fwd[at(r)].partner);
  std::printf("\nproducts: ('-' = -1)\n");
  for (int r = 0; r < slots; ++r) dashedInt(p_fwd[at(r)].product);
  std::printf("\nkf: ('-' = 0.0)\n");
  for (int r = 0; r < slots; ++r) {
    double k = p_fwd[at(r)].kf;
    if (k == 0.0)
      std::printf("-\t");
    else
      std::printf("%4.2lf\t", k);
  }

  heading("\n\nreverse reactions:\n");
  std::printf("\nstructID:\t");
  for (int r = 0; r < g.N_rev; ++r) std::printf("%d\t", r);
  std::printf("\nreagent:\t");
  for (int r = 0; r < g.N_rev; ++r) std::printf("%d\t", p_rev[at(r)].reagent);
  std::printf("\nkr:\t\t");
  for (int r = 0; r < g.N_rev; ++r) std::printf("%4.2lf\t", p_rev[at(r)].kr);
  std::printf("\n# products:\t");
  for (int r = 0; r < g.N_rev; ++r) std::printf("%d\t", p_rev[at(r)].numProducts);
  // Transposed: one line per product position, one column per reaction.
  std::printf("\nproducts: ('-' = -1)\n");
  for (int k = 0; k < g.rev_max_mol; ++k) {
    std::printf("\t\t");
    for (int r = 0; r < g.N_rev; ++r) dashedInt(p_rev[at(r)].products[at(k)]);
    std::printf("\n");
  }

  // One N_species x N_species block per list position, counts first.
  heading("\n\nppp_fwd_hash matrix:\n");
  for (int p = 0; p <= g.N_fwd; ++p) {
    std::printf("\nindex=%d:\n", p);
    for (int a = 0; a < g.N_species; ++a) {
      for (int b = 0; b < g.N_species; ++b) dashedInt(ppp_fwd_hash[a][b][p]);
      std::printf("\n");
    }
  }

  heading("\n\npp_rev_hash matrix:\n");
  std::printf("\n specieID:\t");
  for (int s = 0; s < g.N_species; ++s) std::printf("%d\t", s);
  std::printf("\n # rev rxn:\t");
  for (int s = 0; s < g.N_species; ++s) std::printf("%d\t", pp_rev_hash[s][0]);
  std::printf("\n ReverseReaction struct ID:  ('-' = -1)\n");
  for (int k = 1; k <= g.N_rev; ++k) {
    std::printf("\t\t");
    for (int s = 0; s < g.N_species; ++s) dashedInt(pp_rev_hash[s][k]);
    std::printf("\n");
  }

  heading("\n\nV0 collision volume matrix:\n");
  std::printf("\n");
  for (int i = 0; i < g.N_species; ++i) {
    for (int j = 0; j < g.N_species; ++j)
      std::printf("%4.2Le\t", static_cast<long double>(g.V0_v[at(i)][at(j)]));
    std::printf("\n");
  }
}
