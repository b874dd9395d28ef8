// storeState.h - the data store's private state, shared by the .cpp files of
// the datastore module (lifecycle and queries, setup parser, movie files,
// dumps). Not installed; nothing outside datastore/ includes it.
#ifndef TAVO_DATASTORE_STORESTATE_H
#define TAVO_DATASTORE_STORESTATE_H

#include <array>
#include <cstdint>
#include <vector>

namespace tavo::detail {

constexpr int kNameCapacity = 100;  // chars per species name, NUL included

using Position = std::array<double, 3>;
using SpeciesName = std::array<char, kNameCapacity>;

// Every table and scalar of the store except the four public reaction tables.
// Rows are indexed by species ID, then by slot. A default Store is the empty
// store: the state before the first load and after releaseStore().
struct Store {
  // Counts and environment; zero while no data set is loaded, so that every
  // range test of the queries fails.
  int N_species = 0;
  int N_fwd = 0;
  int N_rev = 0;
  int N_reactions = 0;
  int rev_max_mol = 0;
  int N_rxnID_fwd = 0;
  int N_rxnID_rev = 0;
  double temperature = 0.0;
  double viscosity = 0.0;
  double pH = 0.0;
  int total_step = 0;
  int current_step = 0;
  double time_step = 0.0;
  bool data_init_success = false;

  // Per-species tables.
  std::vector<int> mol_total;           // slot capacity
  std::vector<int> mol_totalAlive;      // alive count, current step
  std::vector<int> mol_totalAlive_new;  // alive count, next step
  std::vector<double> mol_mass;
  std::vector<double> mol_size;
  std::vector<double> mol_diffConst;
  std::vector<int> mol_region;
  std::vector<SpeciesName> mol_name;
  std::vector<std::vector<std::uint8_t>> mol_alive;      // one 0/1 byte per slot
  std::vector<std::vector<std::uint8_t>> mol_alive_new;  // next step
  std::vector<std::vector<Position>> mol_pos;            // x, y, z per slot
  std::vector<std::vector<double>> V0_v;                 // collision matrix
};

// The one store of the process.
Store& store();

// Empties the store and the four reaction tables, releasing their memory:
// the one release path, shared by deleteDataStructure and a failed load.
void releaseStore();

}  // namespace tavo::detail

#endif  // TAVO_DATASTORE_STORESTATE_H
