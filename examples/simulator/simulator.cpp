// simulator.cpp - step, cell list, reaction radius and the whole run of the
// example Brownian-dynamics simulator.
#include "simulator.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "datastore/dataFetcher.h"
#include "geometry/geometry.h"
#include "sampling/randomNumber.h"

namespace tavosim {

// ---------------------------------------------------------------------------
// Reaction radius
//
// A pair of molecules reacts when the two are closer than the radius sigma at
// the end of a step. What rate constant does that give? Let s^2 = 2 dSum dt
// be the variance per axis of the pair's relative step.
//
// * Large steps (s >> sigma): from one step to the next the pair's relative
//   position is mixed afresh, so at bulk density the chance that a given
//   pair ends a step within sigma is the sphere's volume over the system's:
//       k_act = (4/3) pi sigma^3 / dt.
// * Small steps (s << sigma): every pair that reaches the sphere reacts, the
//   classical absorbing sphere of steady-state diffusion:
//       k_diff = 4 pi dSum sigma.
// * In between, the pair must first diffuse to the sphere and then be caught
//   by the end-of-step test, two resistances in series:
//       1/kf = 1/k_act + 1/k_diff.
//
// This is exact in both limits and monotonic in sigma, so reactionRadius()
// solves it by bisection. In the crossover (s near sigma) it is an
// approximation; examples/simulator/README.md gives the rates measured with
// it. With dSum = 0 nothing ever meets and the large-step form is used, so
// that pairs placed within sigma still react.
// ---------------------------------------------------------------------------

double rateForRadius(double radius, double dSum, double dt) {
  if (radius <= 0) return 0;
  const double kAct = 4.0 * std::numbers::pi * radius * radius * radius / (3.0 * dt);
  if (dSum <= 0) return kAct;
  const double kDiff = 4.0 * std::numbers::pi * dSum * radius;
  return 1.0 / (1.0 / kAct + 1.0 / kDiff);
}

double reactionRadius(double kf, double dSum, double dt) {
  if (!(kf > 0) || !(dt > 0)) return 0;
  // The large-step radius alone gives a rate no higher than kf: a lower bound.
  double lo = std::cbrt(3.0 * kf * dt / (4.0 * std::numbers::pi));
  if (dSum <= 0) return lo;
  // A finite kf needs kf < 4 pi dSum sigma, so sigma > kf / (4 pi dSum).
  lo = std::max(lo, kf / (4.0 * std::numbers::pi * dSum));
  double hi = 2.0 * lo;
  while (rateForRadius(hi, dSum, dt) < kf) hi *= 2.0;
  for (int i = 0; i < 200 && lo < hi; ++i) {
    const double mid = 0.5 * (lo + hi);
    if (mid <= lo || mid >= hi) break;
    (rateForRadius(mid, dSum, dt) < kf ? lo : hi) = mid;
  }
  return hi;
}

double uniformFine() {
  const int hi = random_integer(0, 32767);
  const int lo = random_integer(0, 32767);
  return (hi * 32768.0 + lo + 0.5) / (32768.0 * 32768.0);
}

// ---------------------------------------------------------------------------
// Cell list
// ---------------------------------------------------------------------------

int CellList::cellCoord(double v, int axis) const {
  const double c = std::floor((v * scale_ - lo_[axis] * scale_) / h_);
  if (!(c >= 0)) return 0;  // NaN as well
  if (c >= n_[axis] - 1) return n_[axis] - 1;
  return static_cast<int>(c);
}

void CellList::build(const std::vector<Molecule>& molecules, double minCellSize, int numSpecies) {
  entries_.clear();
  start_.clear();
  slotOf_.assign(std::max(numSpecies, 0), -1);
  species_ = 0;
  if (molecules.empty()) return;
  for (const Molecule& m : molecules)
    if (slotOf_[m.species] < 0) slotOf_[m.species] = species_++;

  // The bounding box of the finite positions (others go to the border cells).
  double hi[3];
  for (int a = 0; a < 3; ++a) {
    lo_[a] = std::numeric_limits<double>::max();
    hi[a] = std::numeric_limits<double>::lowest();
  }
  for (const Molecule& m : molecules) {
    const double p[3] = {m.x, m.y, m.z};
    for (int a = 0; a < 3; ++a) {
      if (!std::isfinite(p[a])) continue;
      lo_[a] = std::min(lo_[a], p[a]);
      hi[a] = std::max(hi[a], p[a]);
    }
  }
  // Molecules far apart (regions near the largest doubles on both sides of
  // the origin) can span more than the largest double; the grid is then laid
  // out at half scale, where every extent is finite.
  scale_ = 1.0;
  for (int a = 0; a < 3; ++a) {
    if (lo_[a] > hi[a]) lo_[a] = hi[a] = 0.0;
    if (!std::isfinite(hi[a] - lo_[a])) scale_ = 0.5;
  }
  double span[3];
  for (int a = 0; a < 3; ++a) span[a] = hi[a] * scale_ - lo_[a] * scale_;

  // At most about 16 buckets per molecule: a tiny search distance in a large
  // box must not cost far more memory than the molecules. Molecules crowded
  // into part of the box (a shell) still find few neighbours per cell.
  const double maxCells = (16.0 * static_cast<double>(molecules.size()) + 8.0) / species_;
  h_ = (minCellSize > 0 ? minCellSize : 1.0) * scale_;
  auto cellsFor = [&](double h) {
    double count = 1;
    for (int a = 0; a < 3; ++a) count *= std::floor(span[a] / h) + 1.0;
    return count;
  };
  if (cellsFor(h_) > maxCells) {
    const double extent = std::max({span[0], span[1], span[2]});
    h_ = std::max(h_, extent / std::cbrt(maxCells));
    while (cellsFor(h_) > maxCells) h_ *= 1.25;
  }
  for (int a = 0; a < 3; ++a) n_[a] = static_cast<int>(std::floor(span[a] / h_)) + 1;

  // Counting sort by bucket (cell, then species).
  const std::size_t buckets = static_cast<std::size_t>(cellCount()) * species_;
  start_.assign(buckets + 1, 0);
  keys_.resize(molecules.size());
  for (std::size_t i = 0; i < molecules.size(); ++i) {
    const Molecule& m = molecules[i];
    const std::size_t key =
        bucket(cellCoord(m.x, 0), cellCoord(m.y, 1), cellCoord(m.z, 2), slotOf_[m.species]);
    keys_[i] = static_cast<std::uint32_t>(key);
    ++start_[key + 1];
  }
  for (std::size_t k = 0; k < buckets; ++k) start_[k + 1] += start_[k];
  entries_.resize(molecules.size());
  std::vector<std::uint32_t> fill(start_.begin(), start_.end() - 1);
  for (std::size_t i = 0; i < molecules.size(); ++i) entries_[fill[keys_[i]]++] = molecules[i];
}

// ---------------------------------------------------------------------------
// Simulation
// ---------------------------------------------------------------------------

void prepare(Simulation& sim) {
  const int species = numSpecies();
  sim.timeStep = dt();
  sim.fwdRadius.assign(static_cast<std::size_t>(totalrxnID_F()), 0.0);
  sim.revProbability.assign(static_cast<std::size_t>(totalRxn_R()), 0.0);
  sim.hasReactions.assign(species, 0);
  sim.isPartner.assign(species, 0);
  sim.region.assign(species, 0);
  sim.searchRadius = 0;
  for (int s = 0; s < species; ++s) {
    sim.region[s] = specieRegion(s);
    if (numRxn_R(s) > 0) sim.hasReactions[s] = 1;
    for (int p = 0; p < species; ++p) {
      for (int pick = 1; pick <= numRxn_F(s, p); ++pick) {
        const int id = rxnID_F(s, p, pick);
        const double r = reactionRadius(kf(id), diffConst(s) + diffConst(p), sim.timeStep);
        sim.fwdRadius[id] = r;
        sim.searchRadius = std::max(sim.searchRadius, r);
        sim.hasReactions[s] = 1;
        sim.isPartner[p] = 1;
      }
    }
  }
  for (int id = 0; id < totalRxn_R(); ++id)
    sim.revProbability[id] = -std::expm1(-kr(id) * sim.timeStep);
  sim.touched.assign(species, {});
  for (int s = 0; s < species; ++s) sim.touched[s].assign(speciePopulation(s), 0);
  sim.touchedList.clear();
  sim.last = StepCounts{};
  sim.total = StepCounts{};
}

void placeInitialMolecules() {
  constexpr int kTries = 10000;
  for (int s = 0; s < numSpecies(); ++s) {
    const int region = specieRegion(s);
    for (int i = 0; i < speciePopulation(s); ++i) {
      if (!alive(s, i)) continue;
      double x = 0, y = 0, z = 0;
      int tries = 0;
      do {
        if (++tries > kTries) {
          char name_[100];
          name(s, name_);
          char message[256];
          std::snprintf(message, sizeof message,
                        "(placeInitialMolecules) region %d of specie %s has no inner point", region,
                        name_);
          errorOut(message);
        }
        createToRegion(region, &x, &y, &z);
      } while (!inRegion(x, y, z, region));
      setPosition(s, i, x, y, z);
    }
  }
}

namespace {

void markTouched(Simulation& sim, int s, int i) {
  char& flag = sim.touched[s][i];
  if (!flag) {
    flag = 1;
    sim.touchedList.emplace_back(s, i);
  }
}

// Puts a new molecule of species s at (x, y, z) in the next-step tables.
void createProduct(Simulation& sim, int s, double x, double y, double z) {
  const int slot = findFirstDeadIndex_new(s);
  setAlive_new(s, slot, true);
  setPosition(s, slot, x, y, z);
  markTouched(sim, s, slot);
}

void consume(Simulation& sim, int s, int i) {
  setAlive_new(s, i, false);
  markTouched(sim, s, i);
}

// Moves molecule (s, i) by a Gaussian step unless that leaves its region.
void diffuse(Simulation& sim, int s, int i) {
  const double d = diffConst(s);
  if (d <= 0) return;
  const double r = random_radius_3Dgaussian(d, sim.timeStep);
  const double theta = random_angle_theta();
  const double phi = random_angle_phi();
  double x, y, z;
  position(s, i, &x, &y, &z);
  const double nx = x + r * std::sin(phi) * std::cos(theta);
  const double ny = y + r * std::sin(phi) * std::sin(theta);
  const double nz = z + r * std::cos(phi);
  ++sim.last.moves;
  if (inRegion(nx, ny, nz, sim.region[s])) {
    setPosition(s, i, nx, ny, nz);
  } else {
    ++sim.last.rejectedMoves;
  }
}

// Fires reverse reaction `id` of molecule (s, i) if every product may stand
// at the reactant's position; returns whether it fired.
bool fireUnimolecular(Simulation& sim, int id, int s, int i) {
  double x, y, z;
  position(s, i, &x, &y, &z);
  std::vector<int>& products = sim.products;
  products.resize(static_cast<std::size_t>(numProd_R(id)));
  productID_R(id, products.data(), static_cast<int>(products.size()));
  for (const int product : products) {
    if (!inRegion(x, y, z, sim.region[product])) {
      ++sim.last.blockedByRegion;
      return false;
    }
  }
  consume(sim, s, i);
  for (const int product : products) createProduct(sim, product, x, y, z);
  ++sim.last.unimolecular;
  return true;
}

// Fires forward reaction `id` of molecule (s, i) with the nearest partner
// within the reaction radius, if any; returns whether it fired.
bool fireBimolecular(Simulation& sim, int id, int s, int i) {
  const int partner = partnerID_F(id);
  const double radius = sim.fwdRadius[id];
  double x, y, z;
  position(s, i, &x, &y, &z);
  double best = radius * radius;
  const Molecule* found = nullptr;
  sim.cells.forEachNear(x, y, z, partner, [&](const Molecule& m) {
    if (m.species == s && m.slot == i) return;
    if (sim.touched[m.species][m.slot]) return;  // reacted already this step
    const double d2 = dist3D2(x, y, z, m.x, m.y, m.z);
    if (d2 < best) {
      best = d2;
      found = &m;
    }
  });
  if (!found) return false;
  // The product stands at the midpoint; where that is outside the product's
  // region (a shell, or a product confined elsewhere), at one of the two
  // reactants' positions instead.
  const int product = productID_F(id);
  const int region = sim.region[product];
  const double spots[3][3] = {{0.5 * (x + found->x), 0.5 * (y + found->y), 0.5 * (z + found->z)},
                              {x, y, z},
                              {found->x, found->y, found->z}};
  for (const auto& p : spots) {
    if (inRegion(p[0], p[1], p[2], region)) {
      consume(sim, s, i);
      consume(sim, found->species, found->slot);
      createProduct(sim, product, p[0], p[1], p[2]);
      ++sim.last.bimolecular;
      return true;
    }
  }
  ++sim.last.blockedByRegion;
  return false;
}

void addCounts(StepCounts& into, const StepCounts& from) {
  into.moves += from.moves;
  into.rejectedMoves += from.rejectedMoves;
  into.unimolecular += from.unimolecular;
  into.bimolecular += from.bimolecular;
  into.blockedByRegion += from.blockedByRegion;
}

}  // namespace

void step(Simulation& sim) {
  sim.last = StepCounts{};
  copy_current_new();
  randomize_MO();
  const int n = length_MO();

  for (int k = 0; k < n; ++k) {
    int s, i;
    read_MO(k, &s, &i);
    diffuse(sim, s, i);
  }

  const bool anyBimolecular = sim.searchRadius > 0;
  if (anyBimolecular) {
    sim.scratch.clear();
    for (int k = 0; k < n; ++k) {
      int s, i;
      read_MO(k, &s, &i);
      if (!sim.isPartner[s]) continue;
      Molecule m{s, i, 0, 0, 0};
      position(s, i, &m.x, &m.y, &m.z);
      sim.scratch.push_back(m);
    }
    sim.cells.build(sim.scratch, sim.searchRadius, numSpecies());
  }

  for (int k = 0; k < n; ++k) {
    int s, i;
    read_MO(k, &s, &i);
    if (!sim.hasReactions[s] || sim.touched[s][i]) continue;
    randomize_RO(s);
    const int reactions = length_RO();
    for (int r = 0; r < reactions; ++r) {
      bool forward;
      int id;
      read_RO(r, &forward, &id);
      const bool fired =
          forward ? fireBimolecular(sim, id, s, i)
                  : uniformFine() < sim.revProbability[id] && fireUnimolecular(sim, id, s, i);
      if (fired) break;
    }
  }
  delete_RO();
  delete_MO();

  for (const auto& [s, i] : sim.touchedList) sim.touched[s][i] = 0;
  sim.touchedList.clear();
  swap_current_new();
  addCounts(sim.total, sim.last);
}

// ---------------------------------------------------------------------------
// Whole run
// ---------------------------------------------------------------------------

namespace {

// A bar on standard error, redrawn when its percentage changes; drawn only
// on a terminal, so that logs do not fill with carriage returns.
class ProgressBar {
 public:
  ProgressBar(bool enabled, int total)
      : enabled_(enabled && total > 0 && isatty(fileno(stderr))), total_(total) {}
  void update(int done) {
    if (!enabled_) return;
    const int percent = static_cast<int>(100LL * done / total_);
    if (percent == shown_) return;
    shown_ = percent;
    constexpr int kWidth = 40;
    const int filled = percent * kWidth / 100;
    std::fprintf(stderr, "\r[%.*s%*s] %3d%%  step %d/%d", filled,
                 "========================================", kWidth - filled, "", percent, done,
                 total_);
    if (done == total_) std::fputc('\n', stderr);
    std::fflush(stderr);
  }

 private:
  bool enabled_;
  int total_;
  int shown_ = -1;
};

// Whether some reverse reaction makes a molecule of species a and one of
// species b together (two of a when a == b).
bool madeTogether(int a, int b) {
  for (int id = 0; id < totalRxn_R(); ++id) {
    const int n = numProd_R(id);
    if (n < 2) continue;
    std::vector<int> products(static_cast<std::size_t>(n));
    productID_R(id, products.data(), n);
    const auto countA = std::count(products.begin(), products.end(), a);
    const auto countB = std::count(products.begin(), products.end(), b);
    if (a == b ? countA >= 2 : countA >= 1 && countB >= 1) return true;
  }
  return false;
}

unsigned int clockSeed() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
  return static_cast<unsigned int>(micros ^ (micros >> 32));
}

}  // namespace

namespace {

// Device and inode of `path`, or of its folder when it does not exist, in
// which case `name` receives the last component; false when neither exists.
bool fileIdentity(const std::string& path, dev_t* device, ino_t* inode, std::string* name) {
  struct stat info;
  name->clear();
  if (stat(path.c_str(), &info) != 0) {
    const std::size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    *name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (stat(folder.c_str(), &info) != 0) return false;
  }
  *device = info.st_dev;
  *inode = info.st_ino;
  return true;
}

}  // namespace

bool sameFile(const std::string& a, const std::string& b) {
  dev_t deviceA = 0, deviceB = 0;
  ino_t inodeA = 0, inodeB = 0;
  std::string nameA, nameB;
  if (!fileIdentity(a, &deviceA, &inodeA, &nameA) || !fileIdentity(b, &deviceB, &inodeB, &nameB))
    return a == b;
  return deviceA == deviceB && inodeA == inodeB && nameA == nameB;
}

std::string outputClash(const RunOptions& options) {
  struct Named {
    const char* what;
    const std::string& path;
  };
  const std::string table = "inverse3DGaussian.function";  // read when it exists
  const Named inputs[] = {{"the setup file", options.setupPath},
                          {"the region file", options.regionPath},
                          {"the Gaussian table", table}};
  const Named outputs[] = {{"--movie", options.moviePath},
                           {"--population", options.populationPath}};
  for (const Named& out : outputs) {
    for (const Named& in : inputs) {
      if (&in.path == &table && access(table.c_str(), F_OK) != 0) continue;
      if (sameFile(out.path, in.path))
        return std::string(out.what) + " " + out.path + " would overwrite " + in.what;
    }
  }
  if (sameFile(options.moviePath, options.populationPath))
    return "the movie and the population table need different files";
  return "";
}

RunResult run(const RunOptions& options) {
  RunResult result;
  result.seed = options.seedGiven ? options.seed : clockSeed();
  initDataStructure_fromFile(options.setupPath.c_str());
  initGeometry_fromFile(options.regionPath.c_str());
  init_inverse_3DGaussian();
  std::printf("\nRandom seed: %u\n", result.seed);
  std::fflush(stdout);
  initRand_fromSeed(result.seed);

  Simulation sim;
  prepare(sim);
  for (int s = 0; s < numSpecies(); ++s) {
    for (int p = s; p < numSpecies(); ++p) {
      for (int pick = 1; pick <= numRxn_F(s, p); ++pick) {
        const int id = rxnID_F(s, p, pick);
        const double step = std::sqrt(2.0 * (diffConst(s) + diffConst(p)) * sim.timeStep);
        std::printf(
            "Forward reaction slot %d (%d + %d -> %d): reaction radius %.4e m, "
            "rms relative step per axis %.4e m\n",
            id, s, p, productID_F(id), sim.fwdRadius[id], step);
        // Below about twice the radius, reactants made together by a reverse
        // reaction are still within the radius a step later and rebind at
        // once, which shifts the equilibrium of a reversible reaction (7 % at
        // three radii, a factor 2.5 at 0.8 radii; see the README).
        if (step < 2.0 * sim.fwdRadius[id] && madeTogether(s, p))
          std::printf(
              "Warning: rms step below twice the reaction radius: products made "
              "together rebind at once; a longer time step or a smaller kf raises the "
              "ratio\n");
      }
    }
  }
  placeInitialMolecules();

  std::remove(options.moviePath.c_str());
  std::remove(options.populationPath.c_str());
  const int states = std::max(totalStep(), 1);
  auto record = [&](int state) {
    setCurrentStep(state);
    createMovie_toFile(options.moviePath.c_str(), state);
    createData_toFile(options.populationPath.c_str(), state);
    ++result.framesWritten;
  };
  record(0);

  ProgressBar bar(options.progress, states - 1);
  const auto start = std::chrono::steady_clock::now();
  for (int state = 1; state < states; ++state) {
    step(sim);
    ++result.stepsSimulated;
    if (state % options.every == 0 || state == states - 1) record(state);
    bar.update(state);
  }
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  result.counts = sim.total;
  return result;
}

}  // namespace tavosim
