// dataStore.cpp - the store's state, its lifecycle, and the query and update
// interface. Every query that takes a species, slot or reaction ID checks it
// and ends the process through errorOut() when it is out of range.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#include "datastore/dataFetcher.h"
#include "datastore/liveMolecules.h"
#include "datastore/storeState.h"

// ---------------------------------------------------------------------------
// The four public reaction tables
// ---------------------------------------------------------------------------

std::vector<ForwardReaction> p_fwd;
ForwardLookup ppp_fwd_hash;
std::vector<ReverseReaction> p_rev;
ReverseLookup pp_rev_hash;

// ---------------------------------------------------------------------------
// Private state
// ---------------------------------------------------------------------------

namespace {

tavo::detail::Store g_store;

// Range tests of the query interface.
bool validSpecies(int s) { return s >= 0 && s < g_store.N_species; }
bool validMolecule(int s, int i) {
  return validSpecies(s) && i >= 0 && i < g_store.mol_total[static_cast<std::size_t>(s)];
}

std::size_t at(int index) { return static_cast<std::size_t>(index); }

// Checks a forward reaction ID: in [0, 2*N_fwd) and a filled slot.
void checkForwardID(int id, const char* beyondRange, const char* emptySlot) {
  if (id < 0 || id >= 2 * g_store.N_fwd) errorOut(beyondRange);
  if (p_fwd[at(id)].reagent == -1) errorOut(emptySlot);
}

// setAlive / setAlive_new on one pair of tables; a flag set to the value it
// already has neither writes nor counts.
void setFlag(std::vector<std::uint8_t>& row, int& count, int i, bool a) {
  std::uint8_t& flag = row[at(i)];
  if (flag && !a) {
    --count;
    flag = 0;
  } else if (!flag && a) {
    ++count;
    flag = 1;
  }
}

// Lowest slot of species s whose flag equals `flag`, or -1. The species is
// checked by speciePopulation; the scan is a memchr over the flag bytes,
// which finds the same slot as a loop over alive() far faster.
int firstSlotWithFlag(const std::vector<std::vector<std::uint8_t>>& rows, int s,
                      std::uint8_t flag) {
  const int total = speciePopulation(s);
  if (total <= 0) return -1;
  const std::uint8_t* row = rows[at(s)].data();
  const void* hit = std::memchr(row, flag, static_cast<std::size_t>(total));
  return hit ? static_cast<int>(static_cast<const std::uint8_t*>(hit) - row) : -1;
}

}  // namespace

tavo::detail::Store& tavo::detail::store() { return g_store; }

void tavo::detail::releaseStore() {
  // Assigning fresh values frees the old tables; the counts go back to zero
  // with them, so a query after the release is refused instead of reading
  // freed memory.
  g_store = Store{};
  p_fwd = std::vector<ForwardReaction>();
  ppp_fwd_hash = ForwardLookup();
  p_rev = std::vector<ReverseReaction>();
  pp_rev_hash = ReverseLookup();
}

std::span<const std::uint8_t> tavo::detail::aliveFlags(int s) {
  if (!validSpecies(s)) errorOut("(aliveFlags) with speciesID out of range!");
  return g_store.mol_alive[at(s)];
}

// ---------------------------------------------------------------------------
// Lifecycle
// ---------------------------------------------------------------------------

bool data_initialization_success() { return g_store.data_init_success; }

void copy_current_new() {
  tavo::detail::Store& g = g_store;
  for (std::size_t s = 0; s < g.mol_alive.size(); ++s) {
    g.mol_totalAlive_new[s] = g.mol_totalAlive[s];
    g.mol_alive_new[s] = g.mol_alive[s];  // same length: copies in place
  }
}

void swap_current_new() {
  g_store.mol_alive.swap(g_store.mol_alive_new);
  g_store.mol_totalAlive.swap(g_store.mol_totalAlive_new);
}

void deleteDataStructure() {
  std::printf("\nClearing data structure in memory...");
  tavo::detail::releaseStore();
  std::printf("DONE");
}

void initDataStructure_fromSQL() {}
void output_to_SQL() {}

// ---------------------------------------------------------------------------
// Species and molecules
// ---------------------------------------------------------------------------

int numSpecies() { return g_store.N_species; }

int speciePopulation(int s) {
  if (!validSpecies(s)) errorOut("(speciePopulation) with speciesID out of range!");
  return g_store.mol_total[at(s)];
}

bool alive(int s, int i) {
  if (!validMolecule(s, i)) errorOut("(alive) with speciesID or index out of range!");
  return g_store.mol_alive[at(s)][at(i)] != 0;
}

void setAlive(int s, int i, bool a) {
  if (!validMolecule(s, i)) errorOut("(setAlive) with speciesID or index out of range!");
  setFlag(g_store.mol_alive[at(s)], g_store.mol_totalAlive[at(s)], i, a);
}

int alivePopulation(int s) {
  if (!validSpecies(s)) errorOut("(alivePopulation) with speciesID out of range!");
  return g_store.mol_totalAlive[at(s)];
}

int totalAlivePopulation() {
  int total = 0;
  for (int s = 0; s < g_store.N_species; ++s) total += alivePopulation(s);
  return total;
}

void position(int s, int i, double* x, double* y, double* z) {
  if (!validMolecule(s, i))
    errorOut("calling position(speciesID,index,*x,*y,*z) with speciesID or index out of range!");
  const tavo::detail::Position& p = g_store.mol_pos[at(s)][at(i)];
  *x = p[0];
  *y = p[1];
  *z = p[2];
}

void setPosition(int s, int i, double x, double y, double z) {
  if (!validMolecule(s, i)) errorOut("(setPosition) with speciesID or index out of range!");
  g_store.mol_pos[at(s)][at(i)] = {x, y, z};
}

double mass(int s) {
  if (!validSpecies(s)) errorOut("(mass) with speciesID out of range!");
  return g_store.mol_mass[at(s)];
}

double size(int s) {
  if (!validSpecies(s)) errorOut("(size) with speciesID out of range!");
  return g_store.mol_size[at(s)];
}

double diffConst(int s) {
  if (!validSpecies(s)) errorOut("(diffConst) with speciesID out of range!");
  return g_store.mol_diffConst[at(s)];
}

void name(int s, char* out) {
  if (!validSpecies(s)) errorOut("(name) with speciesID out of range!");
  const tavo::detail::SpeciesName& n = g_store.mol_name[at(s)];
  std::memcpy(out, n.data(), std::strlen(n.data()) + 1);
}

int specieRegion(int s) {
  if (!validSpecies(s)) errorOut("(region) with speciesID out of range!");
  return g_store.mol_region[at(s)];
}

int findFirstDeadIndex(int s) {
  int i = firstSlotWithFlag(g_store.mol_alive, s, 0);
  if (i < 0) errorOut("(findFirstDeadIndex) cannot find a dead molecule! allocate more!");
  return i;
}

int findFirstAliveIndex(int s) {
  int i = firstSlotWithFlag(g_store.mol_alive, s, 1);
  if (i < 0)
    errorOut(
        "(findFirstAliveIndex) cannot find a alive molecule! trying to removie non-existing "
        "molecules!");
  return i;
}

bool alive_new(int s, int i) {
  if (!validMolecule(s, i))
    errorOut("calling alive(speciesID, index) with speciesID or index out of range!");
  return g_store.mol_alive_new[at(s)][at(i)] != 0;
}

void setAlive_new(int s, int i, bool a) {
  if (!validMolecule(s, i))
    errorOut("calling setAlive(speciesID, index) with speciesID or index out of range!");
  setFlag(g_store.mol_alive_new[at(s)], g_store.mol_totalAlive_new[at(s)], i, a);
}

int alivePopulation_new(int s) {
  if (!validSpecies(s)) errorOut("(alivePopulation_new) with speciesID out of range!");
  return g_store.mol_totalAlive_new[at(s)];
}

int findFirstDeadIndex_new(int s) {
  int i = firstSlotWithFlag(g_store.mol_alive_new, s, 0);
  if (i < 0) errorOut("(findFirstDeadIndex_new) cannot find a dead molecule! allocate more!");
  return i;
}

// ---------------------------------------------------------------------------
// Environment and steps
// ---------------------------------------------------------------------------

double readTemperature() { return g_store.temperature; }
void setTemperature(double t) { g_store.temperature = t; }
double readViscosity() { return g_store.viscosity; }
void setViscosity(double v) { g_store.viscosity = v; }
double readPH() { return g_store.pH; }
void setPH(double p) { g_store.pH = p; }
int totalStep() { return g_store.total_step; }
int readCurrentStep() { return g_store.current_step; }
void setCurrentStep(int step) { g_store.current_step = step; }
double dt() { return g_store.time_step; }

// ---------------------------------------------------------------------------
// Reactions
// ---------------------------------------------------------------------------

int totalRxn() { return g_store.N_reactions; }
int totalRxn_F() { return g_store.N_fwd; }
int totalRxn_R() { return g_store.N_rev; }
int totalrxnID_F() { return g_store.N_rxnID_fwd; }
int totalrxnID_R() { return g_store.N_rxnID_rev; }

int numRxn_F(int s1, int s2) {
  if (!validSpecies(s1) || !validSpecies(s2))
    errorOut("numFwdReactions(int specie1, int specie2): with specie1 or specie2 out of range!");
  return ppp_fwd_hash[s1][s2][0];
}

int numRxn_R(int s) {
  if (!validSpecies(s)) errorOut("numRevReactions(int specie): with specie out of range!");
  return pp_rev_hash[s][0];
}

int rxnID_F(int s1, int s2, int pick) {
  int n = numRxn_F(s1, s2);
  if (n == 0) {
    std::printf(
        "\nWarning: (fwdReactionID) trying to get ID for no reaction, specie1:%d, specie2:%d", s1,
        s2);
    return -1;
  }
  if (pick > n || pick < 1) errorOut("(fwdReactionID) pick>total#ofRxn or pick<1");
  return ppp_fwd_hash[s1][s2][pick];
}

int rxnID_R(int s, int pick) {
  int n = numRxn_R(s);
  if (n == 0) {
    std::printf("\nWarning: (revReactionID) trying to get ID for no reaction, specie1:%d", s);
    return -1;
  }
  if (pick > n || pick < 1) errorOut("(revReactionID) pick>total#ofRxn or pick<1");
  return pp_rev_hash[s][pick];
}

double kf(int id) {
  checkForwardID(id, "(kf) incorrect rxnID, beyond [0-2N_fwd) range.",
                 "(kf) incorrect rxnID, entry valid but contains no reaction.");
  return p_fwd[at(id)].kf;
}

int partnerID_F(int id) {
  checkForwardID(id, "(partnerID_F) incorrect rxnID, beyond [0-2N_fwd) range.",
                 "(partnerID_F) incorrect rxnID, entry valid but contains no reaction.");
  return p_fwd[at(id)].partner;
}

int productID_F(int id) {
  checkForwardID(id, "(productID_F) incorrect rxnID, beyond [0-2N_fwd) range.",
                 "(productID_F) incorrect rxnID, entry valid but contains no reaction.");
  return p_fwd[at(id)].product;
}

double kr(int id) {
  if (id < 0 || id >= g_store.N_rev) errorOut("(kr) incorrect rxnID, beyond [0-N_rev) range.");
  return p_rev[at(id)].kr;
}

int numProd_R(int id) {
  if (id < 0 || id >= g_store.N_rev)
    errorOut("(numProd_R) incorrect rxnID, beyond [0-N_rev) range.");
  return p_rev[at(id)].numProducts;
}

void productID_R(int id, int* out, int n) {
  if (n != numProd_R(id))
    errorOut(
        "(productID_R) passing N!=revNumProducts(id), number of products in this reverse "
        "reaction bad!");
  for (int k = 0; k < n; ++k) out[k] = p_rev[at(id)].products[at(k)];
}

double V0(int s1, int s2) {
  if (!validSpecies(s1) || !validSpecies(s2))
    errorOut("calling V0(speciesID1, speciesID2) with speciesID1 or speciesID2 out of range!");
  return g_store.V0_v[at(s1)][at(s2)];
}

// ---------------------------------------------------------------------------
// Distances
// ---------------------------------------------------------------------------

double dist3D2(double x1, double y1, double z1, double x2, double y2, double z2) {
  double dx = x1 - x2, dy = y1 - y2, dz = z1 - z2;
  return dx * dx + dy * dy + dz * dz;
}

double dist3D(double x1, double y1, double z1, double x2, double y2, double z2) {
  return std::sqrt(dist3D2(x1, y1, z1, x2, y2, z2));
}

double dist2Mol2(int s1, int i1, int s2, int i2) {
  const tavo::detail::Position& p = g_store.mol_pos[at(s1)][at(i1)];
  const tavo::detail::Position& q = g_store.mol_pos[at(s2)][at(i2)];
  return dist3D2(p[0], p[1], p[2], q[0], q[1], q[2]);
}

double dist2Mol(int s1, int i1, int s2, int i2) { return std::sqrt(dist2Mol2(s1, i1, s2, i2)); }

bool withinDist(int s1, int i1, int s2, int i2, double d) {
  const tavo::detail::Position& p = g_store.mol_pos[at(s1)][at(i1)];
  const tavo::detail::Position& q = g_store.mol_pos[at(s2)][at(i2)];
  // Each partial sum is stored as a double so the comparisons are exact and
  // repeatable; a pair far apart along x is rejected after one axis.
  double limit = d * d;
  double dx = p[0] - q[0];
  double acc = dx * dx;
  if (!(limit > acc)) return false;
  double dy = p[1] - q[1];
  acc = acc + dy * dy;
  if (!(limit > acc)) return false;
  double dz = p[2] - q[2];
  acc = acc + dz * dz;
  return limit > acc;
}
