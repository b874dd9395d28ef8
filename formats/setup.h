// setup.h - the setup file: a setup read into a value (tavo::Setup), and the
// one parser of setup files beneath it (readSetup).
//
// initDataStructure_fromFile publishes readSetup's value into the data
// store; code beyond the core (Setup::read) keeps it as a value. The
// parser prints nothing, writes nothing to errors.txt and never ends the
// process: every fault of the file throws tavo::Error with the message that
// the store's load reports through errorOut.
#ifndef TAVO_FORMATS_SETUP_H
#define TAVO_FORMATS_SETUP_H

#include <string>
#include <string_view>
#include <vector>

#include "formats/error.h"
#include "formats/reactionTables.h"

namespace tavo {

// ---------------------------------------------------------------------------
// Setup
// ---------------------------------------------------------------------------

struct Species {
  int id = 0;
  std::string name;
  double mass = 0.0;       // atomic mass
  double size = 0.0;       // diameter, metres
  double diffusion = 0.0;  // diffusion constant, m^2/s
  int slots = 0;           // capacity: the most live molecules a frame may hold
  int initialAlive = 0;    // live molecules at the start of the run
  int region = 0;          // region the species lives in
};

// A forward (bimolecular) reaction line: reactant1 + reactant2 -> product.
struct ForwardReactionLine {
  int reactant1 = 0;
  int reactant2 = 0;
  int product = 0;
  double kf = 0.0;
};

// A reverse (unimolecular) reaction line: reactant -> products.
struct ReverseReactionLine {
  int reactant = 0;
  std::vector<int> products;
  double kr = 0.0;
};

// A setup file read into a value, by the parser that loads the data store.
struct Setup {
  std::string path;
  std::vector<Species> species;              // indexed by species ID
  std::vector<ForwardReactionLine> forward;  // in file order
  std::vector<ReverseReactionLine> reverse;  // in file order
  double temperature = 0.0;                  // K
  double viscosity = 0.0;
  double pH = 0.0;
  int totalStep = 0;      // number of simulation steps
  double timeStep = 0.0;  // seconds per step

  // Reads a setup file; throws Error naming the file on any fault.
  static Setup read(const std::string& path);
  // ID of the species called `name`, or -1.
  int speciesId(std::string_view name) const;
};

}  // namespace tavo

namespace tavo::detail {

class TableBudget;

// One species line.
struct SpeciesRow {
  std::string name;        // one word, 1 to 99 characters
  int id = 0;              // equals the row's position
  double mass = 0.0;       // atomic mass
  double size = 0.0;       // metres
  double diffConst = 0.0;  // diffusion constant
  int total = 0;           // slot capacity, > 0
  int alive = 0;           // alive at the start, 0..total
  int region = 0;          // region number, not interpreted
};

// A reaction line of the file, by the record it filled. A forward line
// fills slot `record` of p_fwd, and slot `record` + 1 too when its two
// reactants differ (the same reaction seen from the other reactant); a
// reverse line fills record `record` of p_rev.
struct ReactionLine {
  bool forward = true;
  int record = 0;
};

// Everything a setup file declares, laid out as the store keeps it, except
// the per-slot molecule tables (alive flags, positions) and the collision
// matrix, which only the store builds.
struct SetupData {
  std::vector<SpeciesRow> species;  // indexed by species ID

  int N_fwd = 0;                       // forward lines
  int N_rev = 0;                       // reverse lines
  int rev_max_mol = 0;                 // length of every products array
  int N_reactions = 0;                 // N_fwd + N_rev
  int N_rxnID_fwd = 0;                 // filled forward slots
  int N_rxnID_rev = 0;                 // equal to N_rev
  std::vector<ForwardReaction> p_fwd;  // 2*N_fwd slots, filled from 0 without gaps
  std::vector<ReverseReaction> p_rev;  // N_rev records, products padded with -1
  ForwardLookup ppp_fwd_hash;          // N_species x N_species lists of N_fwd+1 ints
  ReverseLookup pp_rev_hash;           // N_species lists of N_rev+1 ints
  std::vector<ReactionLine> lines;     // the N_reactions lines in file order

  double temperature = 0.0;  // kelvin
  double viscosity = 0.0;
  double pH = 0.0;
  int total_step = 0;      // 0 or more
  double time_step = 0.0;  // seconds
};

// Told of the parser's progress, in file order. The store's load prints its
// progress lines from these calls; every member may throw tavo::Error, which
// ends the parse.
class SetupProgress {
 public:
  enum class Section { speciesCount, species, reactions, environment };

  virtual ~SetupProgress() = default;
  virtual void opened() {}  // the file is open, nothing read yet
  virtual void begin(Section) {}
  virtual void end(Section) {}
  // After the last species line, before end(Section::species): a caller that
  // builds tables from the species charges them to the load's budget here,
  // so that every table of one load shares one budget.
  virtual void speciesRead(const SetupData&, TableBudget&) {}
};

// Reads the setup file at `path` (nullptr: no file). `progress` may be null.
// Throws tavo::Error on any fault of the file and std::bad_alloc when the
// system cannot deliver memory the budget allowed.
SetupData readSetup(const char* path, SetupProgress* progress);

// Charges `bytes` of the table `what` to `budget`; throws tavo::Error
// "(initDataStructure_fromFile) cannot allocate <what>: <bytes> bytes needed"
// when they do not fit.
void chargeSetupTable(TableBudget& budget, const char* what, double bytes);

}  // namespace tavo::detail

#endif  // TAVO_FORMATS_SETUP_H
