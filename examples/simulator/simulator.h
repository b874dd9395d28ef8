// simulator.h - a small Brownian-dynamics reaction-diffusion simulator built
// on the installed tavocore library.
//
// Units follow the setup file: positions, sizes and region dimensions in
// metres, diffusion constants in m^2/s, the time step in seconds, reverse
// (unimolecular) rate constants kr in 1/s and forward (bimolecular) rate
// constants kf in m^3/s per pair of molecules. A constant given in
// 1/(M s) converts as kf[m^3/s] = kf[1/(M s)] / (1000 * 6.02214076e23).
//
// One step, on the data store's current and next-step alive tables:
//   1. copy_current_new, randomize_MO;
//   2. every live molecule takes a Gaussian step (random_radius_3Dgaussian
//      radius, uniform direction); a step that would leave the molecule's
//      region is rejected and the molecule stays where it was;
//   3. in the same molecule order, each molecule that has not reacted yet
//      visits its reactions in the order of randomize_RO: a unimolecular
//      reaction fires with probability 1 - exp(-kr dt), a bimolecular one
//      fires with the nearest partner closer than the reaction radius; the
//      first reaction that fires ends the molecule's visit;
//   4. swap_current_new.
// Molecules made or consumed in a step take no further part in it.
#ifndef TAVOSIM_SIMULATOR_H
#define TAVOSIM_SIMULATOR_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tavosim {

// ---------------------------------------------------------------------------
// Reaction radius
// ---------------------------------------------------------------------------

// Distance below which a pair reacts at the end of a step, chosen so that
// the pair reacts at rate kf (m^3/s). dSum is the sum of the two diffusion
// constants (m^2/s), dt the step (s). See simulator.cpp for the derivation.
double reactionRadius(double kf, double dSum, double dt);

// The rate constant that a reaction radius gives: the inverse of
// reactionRadius for dSum > 0.
double rateForRadius(double radius, double dSum, double dt);

// A uniform real in (0, 1) with 30 bits of resolution, from two 15-bit draws
// of the library's generator. Reaction probabilities far below 1/32767 need
// the finer grain.
double uniformFine();

// ---------------------------------------------------------------------------
// Cell list
// ---------------------------------------------------------------------------

struct Molecule {
  int species;     // species ID
  int slot;        // slot index within the species
  double x, y, z;  // position, metres
};

// Molecules sorted into cubic cells of an edge at least the search distance,
// by cell and then by species, so that every molecule of one species closer
// than that distance to a point lies in the 27 cells around the point.
class CellList {
 public:
  // Sorts `molecules` (all with species IDs in [0, numSpecies)) into cells of
  // edge `minCellSize` or more over their bounding box. The edge grows when
  // the box would need more than about 16 buckets (cell and species present)
  // per molecule.
  void build(const std::vector<Molecule>& molecules, double minCellSize, int numSpecies);

  // Calls fn(const Molecule&) for every molecule of `species` in the cells
  // around (x, y, z): a superset of those closer than the cell edge.
  template <typename Fn>
  void forEachNear(double x, double y, double z, int species, Fn&& fn) const {
    if (entries_.empty() || species < 0 || species >= static_cast<int>(slotOf_.size())) return;
    const int column = slotOf_[species];
    if (column < 0) return;
    const int c[3] = {cellCoord(x, 0), cellCoord(y, 1), cellCoord(z, 2)};
    for (int iz = c[2] - 1; iz <= c[2] + 1; ++iz) {
      if (iz < 0 || iz >= n_[2]) continue;
      for (int iy = c[1] - 1; iy <= c[1] + 1; ++iy) {
        if (iy < 0 || iy >= n_[1]) continue;
        for (int ix = c[0] - 1; ix <= c[0] + 1; ++ix) {
          if (ix < 0 || ix >= n_[0]) continue;
          const std::size_t key = bucket(ix, iy, iz, column);
          for (std::uint32_t k = start_[key]; k < start_[key + 1]; ++k) fn(entries_[k]);
        }
      }
    }
  }

  double cellSize() const { return h_ / scale_; }
  std::int64_t cellCount() const { return static_cast<std::int64_t>(n_[0]) * n_[1] * n_[2]; }

 private:
  int cellCoord(double v, int axis) const;
  std::size_t bucket(int ix, int iy, int iz, int column) const {
    return ((static_cast<std::size_t>(iz) * n_[1] + iy) * n_[0] + ix) * species_ + column;
  }

  double lo_[3] = {0, 0, 0};          // lower corner of the bounding box
  double scale_ = 1;                  // 1, or 0.5 where the box spans more than a double
  double h_ = 0;                      // cell edge, times scale_
  int n_[3] = {0, 0, 0};              // cells along x, y, z
  int species_ = 0;                   // species present: buckets per cell
  std::vector<int> slotOf_;           // species ID -> its bucket column, -1 if absent
  std::vector<std::uint32_t> start_;  // bucket k holds entries start_[k] .. start_[k+1]-1
  std::vector<Molecule> entries_;     // molecules sorted by bucket
  std::vector<std::uint32_t> keys_;   // scratch: bucket of each input molecule
};

// ---------------------------------------------------------------------------
// Simulation
// ---------------------------------------------------------------------------

// Counts of what happened in one step.
struct StepCounts {
  std::int64_t moves = 0;            // Gaussian steps taken
  std::int64_t rejectedMoves = 0;    // steps refused at a region boundary
  std::int64_t unimolecular = 0;     // unimolecular reactions fired
  std::int64_t bimolecular = 0;      // bimolecular reactions fired
  std::int64_t blockedByRegion = 0;  // reactions refused: product outside its region
};

// What the step needs that is fixed for a run, derived from the loaded data
// store, plus scratch space reused from step to step.
struct Simulation {
  double timeStep = 0;                           // seconds
  std::vector<double> fwdRadius;                 // reaction radius of each forward slot, metres
  std::vector<double> revProbability;            // 1 - exp(-kr dt) of each reverse reaction
  std::vector<char> hasReactions;                // per species: any reaction to visit
  std::vector<char> isPartner;                   // per species: partner of a forward reaction
  std::vector<int> region;                       // per species: its region number
  double searchRadius = 0;                       // largest reaction radius (cell edge)
  CellList cells;                                // partners, rebuilt each step
  std::vector<Molecule> scratch;                 // molecules for the cell list
  std::vector<std::vector<char>> touched;        // [species][slot]: made or consumed this step
  std::vector<std::pair<int, int>> touchedList;  // the touched (species, slot) pairs
  std::vector<int> products;                     // products of the reverse reaction firing
  StepCounts last;                               // counts of the last step
  StepCounts total;                              // counts since prepare()
};

// Derives the run constants from the loaded data store (setup file loaded,
// region file loaded). Call again after loading another setup.
void prepare(Simulation& sim);

// Puts every molecule that is alive in the store at a random point strictly
// inside its species' region (createToRegion, redrawn while a point falls on
// the boundary). Fatal when a region yields no inner point.
void placeInitialMolecules();

// Advances the store by one step (see the top of this file).
void step(Simulation& sim);

// ---------------------------------------------------------------------------
// Whole run, as the command-line program performs it
// ---------------------------------------------------------------------------

struct RunOptions {
  std::string setupPath;                          // setup file
  std::string regionPath;                         // region file
  std::string moviePath = "movie.Tavomovie";      // movie written (replaced)
  std::string populationPath = "population.txt";  // population table written (replaced)
  int every = 1;                                  // record every N states
  bool seedGiven = false;                         // false: seed from the clock
  unsigned int seed = 0;                          // seed when seedGiven
  bool progress = true;                           // progress bar on standard error
};

struct RunResult {
  unsigned int seed = 0;   // seed used
  int stepsSimulated = 0;  // steps advanced (total_step - 1)
  int framesWritten = 0;   // movie frames and population rows
  double seconds = 0;      // wall time of the stepping loop
  StepCounts counts;       // totals over the run
};

// Whether the paths a and b name one file: the same device and inode where
// the file exists (hard links and symbolic links included), else the same
// folder, by device and inode, and the same name ("./x" and "x").
bool sameFile(const std::string& a, const std::string& b);

// Names the output of `options` that would overwrite an input (the setup
// file, the region file, a Gaussian table in the working directory) or the
// other output, as a message for the command line; empty when none would.
std::string outputClash(const RunOptions& options);

// Loads the files, seeds, places the initial molecules, records state 0, then
// advances total_step - 1 times, recording state k whenever k is a multiple
// of `every` and always the last state, total_step - 1, so that the movie's
// last frame is the one after which a viewer starts over. Existing movie and
// population files are replaced.
RunResult run(const RunOptions& options);

}  // namespace tavosim

#endif  // TAVOSIM_SIMULATOR_H
