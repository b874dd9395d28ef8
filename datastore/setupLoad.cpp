// setupLoad.cpp - initDataStructure_fromFile: the setup parser's value
// published into the data store, with the load's progress lines.
//
// The store changes only once the whole file has been read and every table
// is built: a failed load, even one whose error handler throws and lets the
// process go on, leaves the store released, with nothing of the file
// visible through the queries.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "datastore/dataFetcher.h"
#include "datastore/storeState.h"
#include "formats/setup.h"
#include "formats/textReader.h"

namespace {

using tavo::detail::SetupData;
using tavo::detail::SetupProgress;
using tavo::detail::Store;
using Section = SetupProgress::Section;

// Progress texts: two tabs, then 48 characters padded with dots. One per
// section, in the order of SetupProgress::Section, and the next-step line.
constexpr char kPhaseSections[][2 + 48 + 1] = {
    "\t\treading and allocating total # of species.......",
    "\t\treading and allocating each species.............",
    "\t\tloading reaction information....................",
    "\t\tloading environment and simulation parameters...",
};
constexpr char kPhaseNewStep[] = "\t\tallocating 'new' time step......................";
static_assert(sizeof kPhaseNewStep == 2 + 48 + 1);

// Molecule tables: two alive flags and a position per slot, and the
// collision matrix.
double moleculeTableBytes(const SetupData& d) {
  double slots = 0.0;
  for (const tavo::detail::SpeciesRow& row : d.species) slots += row.total;
  const double n = static_cast<double>(d.species.size());
  return slots * (2.0 + sizeof(tavo::detail::Position)) + n * n * sizeof(double);
}

// Prints the load's progress lines as the parser reaches each section.
class StoreProgress final : public SetupProgress {
 public:
  void opened() override {
    std::printf("DONE\n");
    std::printf("\tParsing setup info and allocating memory:\n");
  }
  void begin(Section s) override { std::printf("%s", kPhaseSections[static_cast<std::size_t>(s)]); }
  void end(Section s) override {
    std::printf("DONE\n");
    // The next-step tables are built with the others when the store is
    // published; their line keeps its place after the species.
    if (s == Section::species) std::printf("%sDONE\n", kPhaseNewStep);
  }
  void speciesRead(const SetupData& d, tavo::detail::TableBudget& budget) override {
    tavo::detail::chargeSetupTable(budget, "the molecule tables", moleculeTableBytes(d));
  }
};

// The store for `d`: its counts, species rows and environment, every slot
// dead at (0, 0, 0) but the first `alive` of each species, the next step a
// copy of the current one, and the collision matrix.
Store buildStore(const SetupData& d) {
  Store g;
  const std::size_t n = d.species.size();
  g.N_species = static_cast<int>(n);
  g.N_fwd = d.N_fwd;
  g.N_rev = d.N_rev;
  g.N_reactions = d.N_reactions;
  g.rev_max_mol = d.rev_max_mol;
  g.N_rxnID_fwd = d.N_rxnID_fwd;
  g.N_rxnID_rev = d.N_rxnID_rev;
  g.temperature = d.temperature;
  g.viscosity = d.viscosity;
  g.pH = d.pH;
  g.total_step = d.total_step;
  g.time_step = d.time_step;

  g.mol_total.reserve(n);
  g.mol_totalAlive.reserve(n);
  g.mol_mass.reserve(n);
  g.mol_size.reserve(n);
  g.mol_diffConst.reserve(n);
  g.mol_region.reserve(n);
  g.mol_name.reserve(n);
  g.mol_alive.reserve(n);
  g.mol_pos.reserve(n);
  g.V0_v.reserve(n);
  for (const tavo::detail::SpeciesRow& row : d.species) {
    tavo::detail::SpeciesName name{};
    row.name.copy(name.data(), name.size() - 1);  // the parser keeps names below 100 chars
    g.mol_name.push_back(name);
    g.mol_total.push_back(row.total);
    g.mol_totalAlive.push_back(row.alive);
    g.mol_mass.push_back(row.mass);
    g.mol_size.push_back(row.size);
    g.mol_diffConst.push_back(row.diffConst);
    g.mol_region.push_back(row.region);

    std::vector<std::uint8_t> flags(static_cast<std::size_t>(row.total), 0);
    std::fill_n(flags.begin(), row.alive, std::uint8_t{1});
    g.mol_alive.push_back(std::move(flags));
    g.mol_pos.emplace_back(static_cast<std::size_t>(row.total),
                           tavo::detail::Position{0.0, 0.0, 0.0});
    std::vector<double>& v0 = g.V0_v.emplace_back(n);
    for (std::size_t j = 0; j < n; ++j) {
      // (4 pi / 3) r^2, evaluated as r * 4pi * r / 3.
      double r = (row.size + d.species[j].size) / 2.0;
      v0[j] = r * 12.566370614359172 * r / 3.0;
    }
  }
  g.mol_totalAlive_new = g.mol_totalAlive;
  g.mol_alive_new = g.mol_alive;
  return g;
}

// Makes `d` the store's data set: the molecule tables first, then the
// store and the four reaction tables replaced by value.
void publish(SetupData&& d) {
  Store fresh = buildStore(d);
  tavo::detail::store() = std::move(fresh);
  p_fwd = std::move(d.p_fwd);
  ppp_fwd_hash = std::move(d.ppp_fwd_hash);
  p_rev = std::move(d.p_rev);
  pp_rev_hash = std::move(d.pp_rev_hash);
}

}  // namespace

void initDataStructure_fromFile(const char* path) {
  tavo::detail::store().data_init_success = false;
  std::printf("\nInitializing simulation parameters:");
  std::printf("\n\tOpening setup file : %s...", path != nullptr ? path : "");
  std::string failure;
  try {
    StoreProgress progress;
    publish(tavo::detail::readSetup(path, &progress));
  } catch (const tavo::Error& e) {
    failure = e.what();
  } catch (const std::bad_alloc&) {
    // The budget allowed the tables but the system could not deliver them.
    failure = "(initDataStructure_fromFile) out of memory while allocating the data store tables";
  }
  if (!failure.empty()) {
    tavo::detail::releaseStore();
    errorOut(failure.c_str());
  }
  tavo::detail::store().data_init_success = true;
  std::printf("Simulation parameters initialized successfully!\n");
}
