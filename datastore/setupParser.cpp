// setupParser.cpp - initDataStructure_fromFile: reads a setup file into the
// data store in one pass, checking every keyword, separator, count and ID.
//
// The file is a stream of whitespace-separated tokens. Words are compared
// exactly; numbers are read the way fscanf reads them (a number ends at the
// first character that cannot continue it, so "2;" is 2 followed by ";"), but
// a number that is missing or malformed stops the load where it stands, with
// a message naming the value expected and the token found.
//
// Counts are published to the store only once the tables they size exist, so
// the store never claims more than it holds, even when a failed load is
// caught by an error handler (tests, fuzzers) and the process goes on.
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "datastore/dataFetcher.h"
#include "textio/inputReader.h"
#include "datastore/storeState.h"

namespace {

using tavo::detail::formatText;
using tavo::detail::TextScanner;
using Status = TextScanner::Status;

constexpr std::size_t kWordCapacity = tavo::detail::kNameCapacity;  // words of <= 99 chars

// Progress texts: two tabs, then 48 characters padded with dots.
constexpr char kPhaseSpeciesCount[] = "\t\treading and allocating total # of species.......";
constexpr char kPhaseSpecies[] = "\t\treading and allocating each species.............";
constexpr char kPhaseNewStep[] = "\t\tallocating 'new' time step......................";
constexpr char kPhaseReactions[] = "\t\tloading reaction information....................";
constexpr char kPhaseEnvironment[] = "\t\tloading environment and simulation parameters...";
static_assert(sizeof kPhaseSpeciesCount == 2 + 48 + 1 && sizeof kPhaseSpecies == 2 + 48 + 1 &&
              sizeof kPhaseNewStep == 2 + 48 + 1 && sizeof kPhaseReactions == 2 + 48 + 1 &&
              sizeof kPhaseEnvironment == 2 + 48 + 1);

constexpr char kSpeciesLineMessage[] =
    "Syntax error:\n\tlines for species is: 'species name ID mass size diffConst total alive "
    "region'";

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// Token reading with the parser's messages.
class SetupReader {
 public:
  explicit SetupReader(std::FILE* f) : scan_(f) {}

  // Reads a word of at most 99 characters; a longer one ends the load.
  Status word(char (&buf)[kWordCapacity]) {
    Status s = scan_.readWord(buf, kWordCapacity);
    if (s == Status::tooLong)
      errorOut(formatText("Syntax error:\n\tword longer than %zu characters: '%.40s...'",
                          kWordCapacity - 1, buf)
                   .c_str());
    return s;
  }

  // Reads a word and ends the load with `message` unless it is `keyword`.
  void expect(const char* keyword, const char* message) {
    char w[kWordCapacity];
    if (word(w) != Status::ok || std::strcmp(w, keyword) != 0) errorOut(message);
  }

  // Reads a number; on failure leaves the token unread and returns its status.
  Status tryInt(int& v) { return scan_.readInt(v); }
  Status tryReal(double& v) { return scan_.readDouble(v); }

  int readInt(const std::string& what) {
    int v = 0;
    Status s = tryInt(v);
    if (s != Status::ok) numberError(what, "an integer", s);
    return v;
  }

  double readReal(const std::string& what) {
    double v = 0.0;
    Status s = tryReal(v);
    if (s != Status::ok) numberError(what, "a number", s);
    return v;
  }

  [[noreturn]] void numberError(const std::string& what, const char* kind, Status s) {
    errorOut(formatText("Syntax error:\n\t%s: expected %s, %s", what.c_str(), kind,
                        tavo::detail::describeFound(scan_, s).c_str())
                 .c_str());
  }

 private:
  TextScanner scan_;
};

[[noreturn]] void outOfMemory(const char* what, double bytes) {
  errorOut(
      formatText("(initDataStructure_fromFile) cannot allocate %s: %.3g bytes needed", what, bytes)
          .c_str());
}

void requireMemory(const char* what, double bytes) {
  if (!tavo::detail::tableBytesFit(bytes)) outOfMemory(what, bytes);
}

// Empties the store: a new load replaces whatever an earlier one left.
void resetStore(tavo::detail::Store& g) {
  g = tavo::detail::Store{};
  std::vector<ForwardReaction>().swap(p_fwd);
  std::vector<ReverseReaction>().swap(p_rev);
  ppp_fwd_hash.release();
  pp_rev_hash.release();
}

// Species count and species lines (steps 3 to 6).
void readSpecies(SetupReader& in, tavo::detail::Store& g) {
  std::printf("%s", kPhaseSpeciesCount);
  in.expect("N_species", "Syntax error:\n\tline 1: correct format is 'N_species 2'");
  int n = in.readInt("N_species (the number of species)");
  if (n < 0)
    errorOut(formatText("Syntax error:\n\tN_species must not be negative, found %d", n).c_str());
  // The per-species tables grow line by line, so a count far beyond the
  // lines the file holds cannot reserve memory it will never fill.
  std::size_t hint = static_cast<std::size_t>(n < 4096 ? n : 4096);
  g.mol_total.reserve(hint);
  g.mol_totalAlive.reserve(hint);
  g.mol_mass.reserve(hint);
  g.mol_size.reserve(hint);
  g.mol_diffConst.reserve(hint);
  g.mol_region.reserve(hint);
  g.mol_name.reserve(hint);
  std::printf("DONE\n");

  std::printf("%s", kPhaseSpecies);
  for (int s = 0; s < n; ++s) {
    char keyword[kWordCapacity];
    tavo::detail::SpeciesName speciesName{};
    char nameWord[kWordCapacity];
    // A file that ends where a species line should start fails the line test.
    if (in.word(keyword) != Status::ok) errorOut(kSpeciesLineMessage);
    Status ns = in.word(nameWord);
    if (ns != Status::ok) errorOut(kSpeciesLineMessage);
    std::memcpy(speciesName.data(), nameWord, std::strlen(nameWord) + 1);

    int id = 0, total = 0, aliveCount = 0, region = 0;
    double m = 0.0, sz = 0.0, d = 0.0;
    // All fields are read before the line is tested; a field that is not a
    // number stops the reading. The keyword test comes first, then the
    // field that failed.
    const std::string where = formatText("species line %d", s + 1);
    Status st = in.tryInt(id);
    const char* failed = "the species ID";
    const char* kind = "an integer";
    if (st == Status::ok) st = in.tryReal(m), failed = "the mass", kind = "a number";
    if (st == Status::ok) st = in.tryReal(sz), failed = "the size", kind = "a number";
    if (st == Status::ok) st = in.tryReal(d), failed = "the diffusion constant", kind = "a number";
    if (st == Status::ok) st = in.tryInt(total), failed = "the slot count", kind = "an integer";
    if (st == Status::ok)
      st = in.tryInt(aliveCount), failed = "the alive count", kind = "an integer";
    if (st == Status::ok) st = in.tryInt(region), failed = "the region", kind = "an integer";
    if (std::strcmp(keyword, "specie") != 0) errorOut(kSpeciesLineMessage);
    if (st != Status::ok) in.numberError(where + ", " + failed, kind, st);
    if (id != s || total <= 0 || aliveCount > total) errorOut(kSpeciesLineMessage);
    if (aliveCount < 0)
      errorOut(formatText("Syntax error:\n\t%s: the alive count must not be negative, found %d",
                          where.c_str(), aliveCount)
                   .c_str());

    g.mol_name.push_back(speciesName);
    g.mol_mass.push_back(m);
    g.mol_size.push_back(sz);
    g.mol_diffConst.push_back(d);
    g.mol_total.push_back(total);
    g.mol_totalAlive.push_back(aliveCount);
    g.mol_region.push_back(region);
  }

  // Molecule tables: one alive flag per slot twice, a position per slot, and
  // the collision matrix.
  double slots = 0.0;
  for (int total : g.mol_total) slots += total;
  double bytes = slots * (2.0 + sizeof(tavo::detail::Position)) +
                 static_cast<double>(n) * static_cast<double>(n) * sizeof(double);
  requireMemory("the molecule tables", bytes);
  g.mol_totalAlive_new.assign(static_cast<std::size_t>(n), 0);
  g.mol_alive.resize(static_cast<std::size_t>(n));
  g.mol_alive_new.resize(static_cast<std::size_t>(n));
  g.mol_pos.resize(static_cast<std::size_t>(n));
  g.V0_v.resize(static_cast<std::size_t>(n));
  for (std::size_t s = 0; s < static_cast<std::size_t>(n); ++s) {
    std::size_t total = static_cast<std::size_t>(g.mol_total[s]);
    g.mol_alive[s].assign(total, 0);
    g.mol_alive_new[s].assign(total, 0);
    g.mol_pos[s].assign(total, tavo::detail::Position{0.0, 0.0, 0.0});
    for (std::size_t i = 0; i < static_cast<std::size_t>(g.mol_totalAlive[s]); ++i)
      g.mol_alive[s][i] = 1;
    g.V0_v[s].resize(static_cast<std::size_t>(n));
    for (std::size_t j = 0; j < static_cast<std::size_t>(n); ++j) {
      // (4 pi / 3) r^2, evaluated as r * 4pi * r / 3.
      double r = (g.mol_size[s] + g.mol_size[j]) / 2.0;
      g.V0_v[s][j] = r * 12.566370614359172 * r / 3.0;
    }
  }
  g.N_species = n;
  std::printf("DONE\n");

  std::printf("%s", kPhaseNewStep);
  copy_current_new();
  std::printf("DONE\n");
}

// Reaction counts, reaction lines and lookup tables (steps 7 to 13).
void readReactions(SetupReader& in, tavo::detail::Store& g) {
  std::printf("%s", kPhaseReactions);
  auto readCount = [&](const char* keyword, const char* keywordMessage, const char* endMessage) {
    in.expect(keyword, keywordMessage);
    int v = in.readInt(formatText("%s (a count)", keyword));
    if (v < 0)
      errorOut(
          formatText("Syntax error:\n\t%s must not be negative, found %d", keyword, v).c_str());
    in.expect(";", endMessage);
    return v;
  };
  const int nFwd = readCount("N_fwd", "Syntax error:\n\tlines for # of rxn is: 'N_fwd 4'",
                             "Syntax error:\n\t'N_fwd #' end line with ';'");
  const int nRev = readCount("N_rev", "Syntax error:\n\tlines for # of rxn is: 'N_rev 4'",
                             "Syntax error:\n\t'N_rev #' end line with ';'");
  const int maxProducts =
      readCount("rev_max_mol", "Syntax error:\n\tlines for # of rxn is: 'rev_max_mol 3'",
                "Syntax error:\n\t'rev_max #' end line with ';'");
  if (nRev > 0 && maxProducts == 0)
    errorOut(
        "Syntax error:\n\trev_max_mol is 0, so the reverse reactions declared by N_rev can have "
        "no products");
  const long long nReactions = static_cast<long long>(nFwd) + nRev;
  if (nReactions > 2147483647LL)
    errorOut("Syntax error:\n\tN_fwd + N_rev is larger than the number of reactions supported");
  const long long fwdSlotCount = 2LL * nFwd;
  const int nSpecies = g.N_species;

  // Forward slots and reverse records grow line by line; the line counts
  // checked below bound them by the file's length.
  std::vector<ForwardReaction> fwd;
  std::vector<ReverseReaction> rev;
  long long fwdLines = 0, revLines = 0, fwdSlots = 0;
  for (long long line = 1; line <= nReactions; ++line) {
    const std::string where = formatText("reaction line %lld", line);
    char w[kWordCapacity];
    in.word(w);
    if (std::strcmp(w, "f") == 0) {
      if (fwdLines + 1 >= fwdSlotCount) errorOut("having more fwd reactions than stated in N_fwd!");
      const char* rxnMessage = "Syntax error:\n\tlines for rxn is: '0 + 1 = 2'";
      int a = in.readInt(where + ", first reactant");
      in.expect("+", rxnMessage);
      int b = in.readInt(where + ", second reactant");
      in.expect("=", rxnMessage);
      int c = in.readInt(where + ", product");
      in.expect(";", "Syntax error:\n\t'0 + 1 = 2' end line with ';'");
      char kfWord[kWordCapacity];
      in.word(kfWord);
      double k = 0.0;
      Status ks = in.tryReal(k);
      if (std::strcmp(kfWord, "kf") != 0) errorOut("Syntax errort:\n\tlines for kf is: 'kf 12.0'");
      if (ks != Status::ok) in.numberError(where + ", rate constant kf", "a number", ks);
      in.expect(";", "Syntax error:\n\t'kf #.#' end line with ';'");
      if (a >= nSpecies || b >= nSpecies || c >= nSpecies)
        errorOut("Syntax error:\n\tlines for fwd rxn: speciesID overflow");
      if (a < 0 || b < 0 || c < 0)
        errorOut("Syntax error:\n\tlines for fwd rxn: negative speciesID");
      const long long need = a != b ? 2 : 1;
      if (fwdSlots + need > fwdSlotCount)
        errorOut("having more fwd reactions than stated in N_fwd!");
      fwd.push_back({a, b, c, k});
      if (a != b) fwd.push_back({b, a, c, k});
      fwdSlots += need;
      ++fwdLines;
    } else if (std::strcmp(w, "r") == 0) {
      if (revLines >= nRev) errorOut("having more rev reactions than stated in N_rev!");
      requireMemory("the reverse reaction products",
                    static_cast<double>(revLines + 1) * maxProducts * sizeof(int));
      ReverseReaction record;
      record.products.assign(static_cast<std::size_t>(maxProducts), -1);
      int a = in.readInt(where + ", reactant");
      in.expect("=", "Syntax error:\n\tlines for rxn is: '0 = 1 + 2 + 3 ;' '='");
      char last[kWordCapacity] = "=";
      for (int j = 0; j < maxProducts && std::strcmp(last, ";") != 0; ++j) {
        int p = in.readInt(formatText("%s, product %d", where.c_str(), j + 1));
        record.reagent = a;
        record.products[static_cast<std::size_t>(j)] = p;
        ++record.numProducts;
        in.word(last);
        if (std::strcmp(last, ";") != 0 && std::strcmp(last, "+") != 0)
          errorOut("Syntax error:\n\tlines for rxn is: '0 = 1 + 2 + 3 ;' '+ ;'");
      }
      char krWord[kWordCapacity];
      in.word(krWord);
      double k = 0.0;
      Status ks = in.tryReal(k);
      if (std::strcmp(krWord, "kr") != 0) errorOut("Syntax errort:\n\tlines for kr is: 'kr 12.0'");
      if (ks != Status::ok) in.numberError(where + ", rate constant kr", "a number", ks);
      in.expect(";", "Syntax error:\n\t'kr #.#' end line with ';'");
      bool inRange = a >= 0 && a < nSpecies;
      for (int j = 0; j < record.numProducts; ++j) {
        int p = record.products[static_cast<std::size_t>(j)];
        inRange = inRange && p >= 0 && p < nSpecies;
      }
      if (!inRange)
        errorOut(
            "Syntax error:\n\tlines for rev rxn: speciesID out of range, must be in [0, "
            "N_species)");
      record.kr = k;
      rev.push_back(std::move(record));
      ++revLines;
    } else {
      errorOut("Syntax error:\n\tneed 'r' or 'f' in front of every reaction");
    }
  }
  if (fwdLines != nFwd || revLines != nRev)
    errorOut("fwdcount!=N_fwd*2 or revcount!=N_rev! didn't read enough reactions as declared");

  // Forward slots: 2*N_fwd, the unfilled ones empty.
  fwd.resize(static_cast<std::size_t>(fwdSlotCount));
  double hashInts = static_cast<double>(nSpecies) * nSpecies * (nFwd + 1.0) +
                    static_cast<double>(nSpecies) * (nRev + 1.0);
  requireMemory("the reaction lookup tables", hashInts * sizeof(int));
  ppp_fwd_hash.reset(nSpecies, static_cast<std::size_t>(nFwd) + 1);
  for (std::size_t i = 0; i < fwd.size(); ++i) {
    int a = fwd[i].reagent, b = fwd[i].partner;
    if (a >= nSpecies || b >= nSpecies)
      errorOut("constructing ppp_fwd_hash, r1>=N_species || r2>=N_species!");
    if (a != -1 && b != -1) {
      int n = ++ppp_fwd_hash[a][b][0];
      if (n >= nFwd + 1) errorOut("constructing ppp_fwd_hash, ppp_fwd_hash[r1][r2][0]>=N_fwd+1!");
      ppp_fwd_hash[a][b][n] = static_cast<int>(i);
    }
  }
  pp_rev_hash.reset(nSpecies, static_cast<std::size_t>(nRev) + 1);
  for (std::size_t r = 0; r < rev.size(); ++r) {
    int s = rev[r].reagent;
    int n = ++pp_rev_hash[s][0];
    pp_rev_hash[s][n] = static_cast<int>(r);
  }
  p_fwd = std::move(fwd);
  p_rev = std::move(rev);

  g.N_fwd = nFwd;
  g.N_rev = nRev;
  g.rev_max_mol = maxProducts;
  g.N_reactions = static_cast<int>(nReactions);
  g.N_rxnID_fwd = static_cast<int>(fwdSlots);  // slots fill from 0 without gaps
  g.N_rxnID_rev = nRev;
  std::printf("DONE\n");
}

// Environment and step parameters (step 14).
void readEnvironment(SetupReader& in, tavo::detail::Store& g) {
  std::printf("%s", kPhaseEnvironment);
  in.expect("temperature(K)",
            "file format incorrect:\n\tlines for temperature is: 'temperature(K) 300.0'");
  g.temperature = in.readReal("temperature(K)");
  in.expect("viscosity", "file format incorrect:\n\tlines for viscosity is: 'viscosity(K) 3.0'");
  g.viscosity = in.readReal("viscosity");
  in.expect("pH", "file format incorrect:\n\tlines for pH is: 'pH 7.0'");
  g.pH = in.readReal("pH");
  in.expect("total_step", "file format incorrect:\n\tlines for total_step is: 'total_step 300'");
  g.total_step = in.readInt("total_step");
  in.expect("time_step(s)",
            "file format incorrect:\n\tlines for time_step is: 'time_step(s) 1.0e-6'");
  g.time_step = in.readReal("time_step(s)");
}

}  // namespace

void initDataStructure_fromFile(const char* path) {
  tavo::detail::Store& g = tavo::detail::store();
  g.data_init_success = false;
  std::printf("\nInitializing simulation parameters:");
  std::printf("\n\tOpening setup file : %s...", path);
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "r"));
  if (!file) errorOut(" Cannot open setup file to read!");
  std::printf("DONE\n");
  std::printf("\tParsing setup info and allocating memory:\n");
  resetStore(g);
  SetupReader in(file.get());
  try {
    readSpecies(in, g);
    readReactions(in, g);
    readEnvironment(in, g);
  } catch (const std::bad_alloc&) {
    // The budget check passed but the system could not deliver the memory.
    resetStore(g);
    errorOut("(initDataStructure_fromFile) out of memory while allocating the data store tables");
  }
  std::printf("DONE\n");
  file.reset();
  g.data_init_success = true;
  std::printf("Simulation parameters initialized successfully!\n");
}
