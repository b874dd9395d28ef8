// Fuzzes the setup-file loader: any bytes must load or end in a reported
// format error, never crash, leak, hang or read out of bounds. A rejected
// load must leave nothing to query; an accepted file must hold exactly what
// a plain whole-token reading of it finds.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "datastore/dataFetcher.h"
#include "formats/textReader.h"
#include "fuzz/referenceTokens.h"
#include "sampling/randomNumber.h"

namespace {

struct Rejected {};

void rejectInput(const char*) { throw Rejected{}; }

std::string g_path;

// What the reference reading finds in a setup file.
struct Species {
  std::string name;
  double mass = 0, size = 0, diffConst = 0;
  long total = 0, alive = 0, region = 0;
};
struct Line {
  bool forward = true;
  long a = 0, b = 0, c = 0;  // reactants and product of a forward line
  std::vector<long> products;
  double k = 0;
};
struct Setup {
  std::vector<Species> species;
  std::vector<Line> lines;
  double temperature = 0, viscosity = 0, pH = 0, timeStep = 0;
  long totalStep = 0;
};

bool readLine(tavo::fuzz::ReferenceTokens& t, Line& line) {
  std::string kind;
  if (!t.any(kind)) return false;
  line.forward = kind == "f";
  if (line.forward)
    return t.integer(line.a) && t.word("+") && t.integer(line.b) && t.word("=") &&
           t.integer(line.c) && t.word(";") && t.word("kf") && t.real(line.k) && t.word(";");
  if (kind != "r" || !t.integer(line.a) || !t.word("=")) return false;
  std::string separator = "+";
  while (separator == "+") {
    long p = 0;
    if (!t.integer(p) || !t.any(separator)) return false;
    line.products.push_back(p);
  }
  return separator == ";" && t.word("kr") && t.real(line.k) && t.word(";");
}

bool readReference(const std::string& text, Setup& r) {
  tavo::fuzz::ReferenceTokens t(text);
  long n = 0, id = 0, fwd = 0, rev = 0, maxProducts = 0;
  if (!t.word("N_species") || !t.integer(n)) return false;
  for (long s = 0; s < n; ++s) {
    Species& sp = r.species.emplace_back();
    if (!t.word("specie") || !t.any(sp.name) || !t.integer(id) || !t.real(sp.mass) ||
        !t.real(sp.size) || !t.real(sp.diffConst) || !t.integer(sp.total) || !t.integer(sp.alive) ||
        !t.integer(sp.region))
      return false;
  }
  if (!t.word("N_fwd") || !t.integer(fwd) || !t.word(";") || !t.word("N_rev") || !t.integer(rev) ||
      !t.word(";") || !t.word("rev_max_mol") || !t.integer(maxProducts) || !t.word(";"))
    return false;
  for (long i = 0; i < fwd + rev; ++i)
    if (!readLine(t, r.lines.emplace_back())) return false;
  return t.word("temperature(K)") && t.real(r.temperature) && t.word("viscosity") &&
         t.real(r.viscosity) && t.word("pH") && t.real(r.pH) && t.word("total_step") &&
         t.integer(r.totalStep) && t.word("time_step(s)") && t.real(r.timeStep);
}

bool sameForwardSlot(int slot, long a, long b, const Line& l) {
  const ForwardReaction& f = p_fwd[static_cast<std::size_t>(slot)];
  return f.reagent == a && f.partner == b && f.product == l.c && f.kf == l.k;
}

// Whether the loaded store holds what the reference found.
bool storeMatches(const Setup& r) {
  if (numSpecies() != static_cast<int>(r.species.size())) return false;
  for (int s = 0; s < numSpecies(); ++s) {
    const Species& sp = r.species[static_cast<std::size_t>(s)];
    char buffer[100];
    name(s, buffer);
    if (sp.name != buffer || mass(s) != sp.mass || size(s) != sp.size ||
        diffConst(s) != sp.diffConst || speciePopulation(s) != sp.total ||
        alivePopulation(s) != sp.alive || specieRegion(s) != sp.region)
      return false;
  }
  int slot = 0, record = 0;
  for (const Line& l : r.lines) {
    if (l.forward) {
      if (!sameForwardSlot(slot, l.a, l.b, l)) return false;
      if (l.a != l.b && !sameForwardSlot(slot + 1, l.b, l.a, l)) return false;
      slot += l.a != l.b ? 2 : 1;
    } else {
      const ReverseReaction& rr = p_rev[static_cast<std::size_t>(record++)];
      if (rr.reagent != l.a || rr.kr != l.k ||
          rr.numProducts != static_cast<int>(l.products.size()))
        return false;
      for (std::size_t j = 0; j < l.products.size(); ++j)
        if (rr.products[j] != l.products[j]) return false;
    }
  }
  return slot == totalrxnID_F() && readTemperature() == r.temperature &&
         readViscosity() == r.viscosity && readPH() == r.pH && totalStep() == r.totalStep &&
         dt() == r.timeStep;
}

// Every query of a store that holds nothing must be refused.
void expectNothingLoaded() {
  if (data_initialization_success() || numSpecies() != 0 || totalRxn() != 0) __builtin_trap();
  void (*const queries[])() = {
      [] { numRxn_R(0); },   [] { numRxn_F(0, 0); },  [] { rxnID_F(0, 0, 1); },
      [] { rxnID_R(0, 1); }, [] { randomize_RO(0); }, [] { speciePopulation(0); },
      [] { kf(0); },         [] { kr(0); },           [] { V0(0, 0); },
  };
  for (auto query : queries) {
    try {
      query();
    } catch (const Rejected&) {
      continue;
    }
    __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_path = "/tmp/tavo_setup_fuzz_" + std::to_string(getpid()) + ".Tavosetup";
  // Progress text and error entries would only slow the run down.
  if (!std::freopen("/dev/null", "w", stdout)) return 1;
  setErrorHandler(rejectInput);
  tavo::detail::setTableMemoryBudget(64.0 * 1024 * 1024);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::FILE* f = std::fopen(g_path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
  try {
    initDataStructure_fromFile(g_path.c_str());
  } catch (const Rejected&) {
    expectNothingLoaded();
    return 0;
  }
  Setup reference;
  if (!readReference(text, reference) || !storeMatches(reference)) __builtin_trap();
  // A loaded store must answer its own queries within range.
  for (int s = 0; s < numSpecies(); ++s) {
    if (alivePopulation(s) > speciePopulation(s)) __builtin_trap();
    for (int t = 0; t < numSpecies(); ++t)
      for (int pick = 1; pick <= numRxn_F(s, t); ++pick) kf(rxnID_F(s, t, pick));
    for (int pick = 1; pick <= numRxn_R(s); ++pick) kr(rxnID_R(s, pick));
  }
  deleteDataStructure();
  expectNothingLoaded();
  return 0;
}
