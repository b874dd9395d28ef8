// setupParser.cpp - readSetup: reads a setup file into a SetupData value in
// one pass, checking every keyword, separator, count and ID.
//
// The file is a stream of whitespace-separated tokens. Words are compared
// exactly; numbers are read the way fscanf reads them (a number ends at the
// first character that cannot continue it, so "2;" is 2 followed by ";"), but
// a number that is missing or malformed stops the load where it stands, with
// a message naming the value expected and the token found.
//
// Nothing here prints or touches the store: every fault throws tavo::Error,
// and initDataStructure_fromFile (setupLoad.cpp) reports it. Tables are
// sized by what the file holds, never by a count before the lines it
// announces have been read, and every table is charged to the load's budget.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "formats/setup.h"
#include "formats/textReader.h"

namespace {

using tavo::detail::formatText;
using tavo::detail::SetupData;
using tavo::detail::SetupProgress;
using tavo::detail::SpeciesRow;
using tavo::detail::TableBudget;
using tavo::detail::TextScanner;
using Section = SetupProgress::Section;
using Status = TextScanner::Status;

constexpr std::size_t kWordCapacity = 100;  // words of <= 99 chars, species names included

constexpr char kSpeciesLineMessage[] =
    "Syntax error:\n\tlines for species is: 'species name ID mass size diffConst total alive "
    "region'";

[[noreturn]] void fail(const std::string& message) { throw tavo::Error(message); }

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// Token reading with the parser's messages.
class SetupReader {
 public:
  explicit SetupReader(std::FILE* f) : scan_(f) {}

  // Reads a word into `buf`: true for a whole word, false at the end of the
  // file or for a word with a NUL byte, which would compare equal to its
  // prefix and so is no keyword and no name. A word longer than 99
  // characters ends the load.
  bool word(char (&buf)[kWordCapacity]) {
    Status s = scan_.readWord(buf, kWordCapacity);
    if (s == Status::tooLong)
      fail(formatText("Syntax error:\n\tword longer than %zu characters: '%.40s...'",
                      kWordCapacity - 1, buf));
    return s == Status::ok;
  }

  // Reads a word; true when it is exactly `keyword`.
  bool is(const char* keyword) {
    char w[kWordCapacity];
    return word(w) && std::strcmp(w, keyword) == 0;
  }

  void expect(const char* keyword, const char* message) {
    if (!is(keyword)) fail(message);
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
    fail(formatText("Syntax error:\n\t%s: expected %s, %s", what.c_str(), kind,
                    tavo::detail::describeFound(scan_, s).c_str()));
  }

 private:
  TextScanner scan_;
};

// One pass over the file, section by section.
class Parser {
 public:
  Parser(std::FILE* f, SetupProgress* progress) : in_(f), progress_(progress) {}

  SetupData run() {
    readSpecies(readSpeciesCount());
    readReactions();
    readEnvironment();
    return std::move(data_);
  }

 private:
  void begin(Section s) {
    if (progress_ != nullptr) progress_->begin(s);
  }
  void end(Section s) {
    if (progress_ != nullptr) progress_->end(s);
  }
  int speciesCount() const { return static_cast<int>(data_.species.size()); }

  // -- Species ---------------------------------------------------------------

  int readSpeciesCount() {
    begin(Section::speciesCount);
    in_.expect("N_species", "Syntax error:\n\tline 1: correct format is 'N_species 2'");
    int n = in_.readInt("N_species (the number of species)");
    if (n < 0) fail(formatText("Syntax error:\n\tN_species must not be negative, found %d", n));
    end(Section::speciesCount);
    return n;
  }

  void readSpecies(int n) {
    begin(Section::species);
    // Rows grow line by line, so a count far beyond the lines the file holds
    // reserves nothing.
    for (int s = 0; s < n; ++s) data_.species.push_back(readSpeciesLine(s));
    tavo::detail::chargeSetupTable(budget_, "the species table",
                                   static_cast<double>(n) * (sizeof(SpeciesRow) + kWordCapacity));
    if (progress_ != nullptr) progress_->speciesRead(data_, budget_);
    end(Section::species);
  }

  // "specie name ID mass size diffConst total alive region".
  SpeciesRow readSpeciesLine(int s) {
    char keyword[kWordCapacity];
    char name[kWordCapacity];
    // A file that ends where a species line should start fails the line test.
    if (!in_.word(keyword) || !in_.word(name)) fail(kSpeciesLineMessage);
    SpeciesRow row;
    row.name = name;

    // All fields are read before the line is tested; a field that is not a
    // number stops the reading. The keyword test comes first, then the
    // field that failed.
    struct Field {
      const char* what;
      int* integer;  // the field when it is an integer, else null
      double* real;  // the field when it is a real, else null
    };
    const Field fields[] = {
        {"the species ID", &row.id, nullptr},
        {"the mass", nullptr, &row.mass},
        {"the size", nullptr, &row.size},
        {"the diffusion constant", nullptr, &row.diffConst},
        {"the slot count", &row.total, nullptr},
        {"the alive count", &row.alive, nullptr},
        {"the region", &row.region, nullptr},
    };
    const Field* failed = nullptr;
    Status st = Status::ok;
    for (const Field& f : fields) {
      st = f.integer != nullptr ? in_.tryInt(*f.integer) : in_.tryReal(*f.real);
      if (st != Status::ok) {
        failed = &f;
        break;
      }
    }
    if (std::strcmp(keyword, "specie") != 0) fail(kSpeciesLineMessage);
    const std::string where = formatText("species line %d", s + 1);
    if (failed != nullptr)
      in_.numberError(where + ", " + failed->what,
                      failed->integer != nullptr ? "an integer" : "a number", st);
    if (row.id != s || row.total <= 0 || row.alive > row.total) fail(kSpeciesLineMessage);
    if (row.alive < 0)
      fail(formatText("Syntax error:\n\t%s: the alive count must not be negative, found %d",
                      where.c_str(), row.alive));
    return row;
  }

  // -- Reactions -------------------------------------------------------------

  void readReactions() {
    begin(Section::reactions);
    readReactionCounts();
    for (int line = 1; line <= data_.N_reactions; ++line) readReactionLine(line);
    if (fwdLines_ != data_.N_fwd || revLines_ != data_.N_rev)
      fail("fwdcount!=N_fwd*2 or revcount!=N_rev! didn't read enough reactions as declared");
    padReactionTables();
    buildLookupTables();
    end(Section::reactions);
  }

  // "keyword n ;" with n >= 0.
  int readCount(const char* keyword, const char* keywordMessage, const char* endMessage) {
    in_.expect(keyword, keywordMessage);
    int v = in_.readInt(formatText("%s (a count)", keyword));
    if (v < 0) fail(formatText("Syntax error:\n\t%s must not be negative, found %d", keyword, v));
    in_.expect(";", endMessage);
    return v;
  }

  void readReactionCounts() {
    data_.N_fwd = readCount("N_fwd", "Syntax error:\n\tlines for # of rxn is: 'N_fwd 4'",
                            "Syntax error:\n\t'N_fwd #' end line with ';'");
    data_.N_rev = readCount("N_rev", "Syntax error:\n\tlines for # of rxn is: 'N_rev 4'",
                            "Syntax error:\n\t'N_rev #' end line with ';'");
    data_.rev_max_mol =
        readCount("rev_max_mol", "Syntax error:\n\tlines for # of rxn is: 'rev_max_mol 3'",
                  "Syntax error:\n\t'rev_max #' end line with ';'");
    if (data_.N_rev > 0 && data_.rev_max_mol == 0)
      fail(
          "Syntax error:\n\trev_max_mol is 0, so the reverse reactions declared by N_rev can have "
          "no products");
    const long long total = static_cast<long long>(data_.N_fwd) + data_.N_rev;
    if (total > 2147483647LL)
      fail("Syntax error:\n\tN_fwd + N_rev is larger than the number of reactions supported");
    data_.N_reactions = static_cast<int>(total);
  }

  void readReactionLine(int line) {
    const std::string where = formatText("reaction line %d", line);
    char w[kWordCapacity];
    const bool clean = in_.word(w);
    if (clean && std::strcmp(w, "f") == 0)
      readForwardLine(where);
    else if (clean && std::strcmp(w, "r") == 0)
      readReverseLine(where);
    else
      fail("Syntax error:\n\tneed 'r' or 'f' in front of every reaction");
  }

  // Reads "<keyword> k ;": the word and the number both before the tests.
  double readRate(const char* keyword, const std::string& what, const char* keywordMessage,
                  const char* endMessage) {
    char w[kWordCapacity];
    const bool clean = in_.word(w);
    double k = 0.0;
    Status ks = in_.tryReal(k);
    if (!clean || std::strcmp(w, keyword) != 0) fail(keywordMessage);
    if (ks != Status::ok) in_.numberError(what, "a number", ks);
    in_.expect(";", endMessage);
    return k;
  }

  // "f a + b = c ; kf k ;"
  void readForwardLine(const std::string& where) {
    // The bound is 2*N_fwd, not N_fwd: the exact number of lines is checked
    // once all lines are read.
    const long long slotCount = 2LL * data_.N_fwd;
    if (fwdLines_ + 1 >= slotCount) fail("having more fwd reactions than stated in N_fwd!");
    const char* rxnMessage = "Syntax error:\n\tlines for rxn is: '0 + 1 = 2'";
    int a = in_.readInt(where + ", first reactant");
    in_.expect("+", rxnMessage);
    int b = in_.readInt(where + ", second reactant");
    in_.expect("=", rxnMessage);
    int c = in_.readInt(where + ", product");
    in_.expect(";", "Syntax error:\n\t'0 + 1 = 2' end line with ';'");
    double k =
        readRate("kf", where + ", rate constant kf", "Syntax errort:\n\tlines for kf is: 'kf 12.0'",
                 "Syntax error:\n\t'kf #.#' end line with ';'");
    const int n = speciesCount();
    if (a >= n || b >= n || c >= n) fail("Syntax error:\n\tlines for fwd rxn: speciesID overflow");
    if (a < 0 || b < 0 || c < 0) fail("Syntax error:\n\tlines for fwd rxn: negative speciesID");
    std::vector<ForwardReaction>& fwd = data_.p_fwd;
    const long long need = a != b ? 2 : 1;
    if (static_cast<long long>(fwd.size()) + need > slotCount)
      fail("having more fwd reactions than stated in N_fwd!");
    data_.lines.push_back({true, static_cast<int>(fwd.size())});
    fwd.push_back({a, b, c, k});
    if (a != b) fwd.push_back({b, a, c, k});
    ++fwdLines_;
  }

  // "r a = p1 + p2 + ... ;" with 1 to rev_max_mol products, then "kr k ;".
  void readReverseLine(const std::string& where) {
    if (revLines_ >= data_.N_rev) fail("having more rev reactions than stated in N_rev!");
    ReverseReaction record;
    record.reagent = in_.readInt(where + ", reactant");
    in_.expect("=", "Syntax error:\n\tlines for rxn is: '0 = 1 + 2 + 3 ;' '='");
    // The products array grows as products are read; it is padded to
    // rev_max_mol once every line has been read.
    bool listEnded = false;
    for (int j = 0; j < data_.rev_max_mol && !listEnded; ++j) {
      record.products.push_back(in_.readInt(formatText("%s, product %d", where.c_str(), j + 1)));
      ++record.numProducts;
      char w[kWordCapacity];
      const bool clean = in_.word(w);
      listEnded = clean && std::strcmp(w, ";") == 0;
      if (!listEnded && !(clean && std::strcmp(w, "+") == 0))
        fail("Syntax error:\n\tlines for rxn is: '0 = 1 + 2 + 3 ;' '+ ;'");
    }
    // A list that ends with "+" after rev_max_mol products announces a
    // product too many: it fails the rate's test whatever word follows, even
    // "kr" (the line lacks its ";" as well).
    const char* krMessage = "Syntax errort:\n\tlines for kr is: 'kr 12.0'";
    if (!listEnded && data_.rev_max_mol > 0) fail(krMessage);
    record.kr = readRate("kr", where + ", rate constant kr", krMessage,
                         "Syntax error:\n\t'kr #.#' end line with ';'");
    const int n = speciesCount();
    bool inRange = record.reagent >= 0 && record.reagent < n;
    for (int p : record.products) inRange = inRange && p >= 0 && p < n;
    if (!inRange)
      fail("Syntax error:\n\tlines for rev rxn: speciesID out of range, must be in [0, N_species)");
    data_.lines.push_back({false, revLines_});
    data_.p_rev.push_back(std::move(record));
    ++revLines_;
  }

  // The store's layout: 2*N_fwd forward slots, the unfilled ones empty, and
  // rev_max_mol entries in every products array, the unused ones -1.
  void padReactionTables() {
    const double products = static_cast<double>(data_.N_rev) * data_.rev_max_mol;
    tavo::detail::chargeSetupTable(budget_, "the reverse reaction products",
                                   products * sizeof(int));
    tavo::detail::chargeSetupTable(
        budget_, "the reaction records",
        2.0 * data_.N_fwd * sizeof(ForwardReaction) + data_.N_rev * sizeof(ReverseReaction) +
            static_cast<double>(data_.N_reactions) * sizeof(tavo::detail::ReactionLine));
    data_.N_rxnID_fwd = static_cast<int>(data_.p_fwd.size());  // filled from 0 without gaps
    data_.N_rxnID_rev = data_.N_rev;
    data_.p_fwd.resize(2 * static_cast<std::size_t>(data_.N_fwd));
    for (ReverseReaction& r : data_.p_rev)
      r.products.resize(static_cast<std::size_t>(data_.rev_max_mol), -1);
  }

  void buildLookupTables() {
    const int n = speciesCount();
    const int nFwd = data_.N_fwd;
    const int nRev = data_.N_rev;
    double ints = static_cast<double>(n) * n * (nFwd + 1.0) + static_cast<double>(n) * (nRev + 1.0);
    tavo::detail::chargeSetupTable(budget_, "the reaction lookup tables", ints * sizeof(int));

    ForwardLookup& fwdHash = data_.ppp_fwd_hash;
    fwdHash.reset(n, static_cast<std::size_t>(nFwd) + 1);
    for (std::size_t i = 0; i < data_.p_fwd.size(); ++i) {
      int a = data_.p_fwd[i].reagent, b = data_.p_fwd[i].partner;
      if (a >= n || b >= n) fail("constructing ppp_fwd_hash, r1>=N_species || r2>=N_species!");
      if (a != -1 && b != -1) {
        int count = ++fwdHash[a][b][0];
        if (count >= nFwd + 1) fail("constructing ppp_fwd_hash, ppp_fwd_hash[r1][r2][0]>=N_fwd+1!");
        fwdHash[a][b][count] = static_cast<int>(i);
      }
    }
    ReverseLookup& revHash = data_.pp_rev_hash;
    revHash.reset(n, static_cast<std::size_t>(nRev) + 1);
    for (std::size_t r = 0; r < data_.p_rev.size(); ++r) {
      int s = data_.p_rev[r].reagent;
      int count = ++revHash[s][0];
      revHash[s][count] = static_cast<int>(r);
    }
  }

  // -- Environment -----------------------------------------------------------

  void readEnvironment() {
    begin(Section::environment);
    in_.expect("temperature(K)",
               "file format incorrect:\n\tlines for temperature is: 'temperature(K) 300.0'");
    data_.temperature = in_.readReal("temperature(K)");
    in_.expect("viscosity", "file format incorrect:\n\tlines for viscosity is: 'viscosity(K) 3.0'");
    data_.viscosity = in_.readReal("viscosity");
    in_.expect("pH", "file format incorrect:\n\tlines for pH is: 'pH 7.0'");
    data_.pH = in_.readReal("pH");
    in_.expect("total_step", "file format incorrect:\n\tlines for total_step is: 'total_step 300'");
    data_.total_step = in_.readInt("total_step");
    // A step count below zero has no meaning, and callers count down from it.
    if (data_.total_step < 0)
      fail(formatText("Syntax error:\n\ttotal_step must not be negative, found %d",
                      data_.total_step));
    in_.expect("time_step(s)",
               "file format incorrect:\n\tlines for time_step is: 'time_step(s) 1.0e-6'");
    data_.time_step = in_.readReal("time_step(s)");
    end(Section::environment);
  }

  SetupReader in_;
  SetupProgress* progress_;
  TableBudget budget_;
  SetupData data_;
  int fwdLines_ = 0;  // forward lines read
  int revLines_ = 0;  // reverse lines read
};

}  // namespace

void tavo::detail::chargeSetupTable(TableBudget& budget, const char* what, double bytes) {
  if (!budget.charge(bytes))
    fail(formatText("(initDataStructure_fromFile) cannot allocate %s: %.3g bytes needed", what,
                    bytes));
}

tavo::detail::SetupData tavo::detail::readSetup(const char* path, SetupProgress* progress) {
  std::unique_ptr<std::FILE, FileCloser> file(path != nullptr ? std::fopen(path, "r") : nullptr);
  if (!file) throw tavo::Error(" Cannot open setup file to read!", path != nullptr ? errno : 0);
  if (progress != nullptr) progress->opened();
  return Parser(file.get(), progress).run();
}
