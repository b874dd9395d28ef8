// shuffledOrder.cpp - random visiting orders: every live molecule of the data
// store (the molecule order, MO) and every reaction of one species (the
// reaction order, RO).
//
// Both orders come from the same jump-and-probe shuffle over a list of n
// entries: starting from position 0, each output entry draws d in [0, n-1],
// jumps d entries ahead of the entry taken last (wrapping), and takes the
// first entry not yet taken from there on (again wrapping). Exactly n draws
// are made. The order is not a uniform permutation; it is kept as it is so
// that a given seed always gives the same order.
//
// The probe "first entry not yet taken from p on" is answered by a bitmap of
// the free entries with one summary level per 64x, so building an order of
// n entries costs O(n log64 n) word operations instead of the Theta(n^1.5)
// probes of a plain scan, with the identical result.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "datastore/dataFetcher.h"
#include "datastore/liveMolecules.h"
#include "sampling/drawSource.h"
#include "sampling/randomNumber.h"

namespace {

struct MoleculeEntry {
  int species;  // species ID
  int slot;     // slot index within the species
};

struct ReactionEntry {
  bool fwd;  // true: forward (bimolecular) reaction ID; false: reverse
  int ID;    // reaction ID as rxnID_F / rxnID_R return it
};

// The two orders of the process; an order is absent while its flag is false.
struct Orders {
  std::vector<MoleculeEntry> sam;  // molecule order, sam_length = sam.size()
  bool sam_init = false;           // true from randomize_MO to delete_MO
  std::vector<ReactionEntry> sar;  // reaction order, sar_length = sar.size()
  bool sar_init = false;           // true from randomize_RO to delete_RO
};
Orders g_orders;

// The set of entries not yet taken, 0..n-1, as a bitmap (bit set = free)
// with summary levels above it: bit w of level k+1 is set while word w of
// level k has a free bit. The top level is a single word.
class FreeEntries {
 public:
  static constexpr std::size_t npos = static_cast<std::size_t>(-1);

  explicit FreeEntries(std::size_t n) {
    std::size_t bits = n;
    do {
      std::size_t words = (bits + 63) / 64;
      std::vector<std::uint64_t> level(words, ~std::uint64_t{0});
      if (bits % 64 != 0) level.back() = (std::uint64_t{1} << (bits % 64)) - 1;
      levels_.push_back(std::move(level));
      bits = words;
    } while (bits > 1);
  }

  // The lowest free entry >= p, or npos when every entry from p on is taken.
  std::size_t next(std::size_t p) const {
    std::size_t level = 0;
    std::size_t pos = p;
    // Climb until a word holds a free bit at or after pos.
    for (;;) {
      if (level == levels_.size()) return npos;
      std::size_t w = pos / 64;
      if (w >= levels_[level].size()) return npos;
      std::uint64_t bits = levels_[level][w] & (~std::uint64_t{0} << (pos % 64));
      if (bits != 0) {
        pos = w * 64 + static_cast<std::size_t>(__builtin_ctzll(bits));
        break;
      }
      pos = w + 1;  // the next word of this level is bit w+1 of the level above
      ++level;
    }
    // Descend to the lowest free bit under the summary bit found.
    while (level > 0) {
      --level;
      pos = pos * 64 + static_cast<std::size_t>(__builtin_ctzll(levels_[level][pos]));
    }
    return pos;
  }

  void take(std::size_t i) {
    for (auto& level : levels_) {
      std::uint64_t& word = level[i / 64];
      word &= ~(std::uint64_t{1} << (i % 64));
      if (word != 0) return;  // the summary bits above stay set
      i /= 64;
    }
  }

 private:
  std::vector<std::vector<std::uint64_t>> levels_;  // [0] = entries, then summaries
};

// The jump-and-probe shuffle of n list entries: pick[t] is the list index
// taken at output index t. Makes exactly n draws.
std::vector<std::uint32_t> shufflePicks(std::size_t n) {
  std::vector<std::uint32_t> pick(n);
  if (n == 0) return pick;
  FreeEntries free(n);
  std::size_t p = 0;
  for (std::size_t t = 0; t < n; ++t) {
    // One draw, as random_integer(0, n - 1): a 15-bit value modulo n, which
    // a list longer than the draw range leaves unchanged.
    auto r = static_cast<unsigned>(tavo::detail::nextDraw());
    std::size_t d =
        n > static_cast<std::size_t>(tavo::detail::kDrawMax) ? r : r % static_cast<unsigned>(n);
    p += d;
    if (p >= n) p -= n;
    std::size_t q = free.next(p);
    if (q == FreeEntries::npos) q = free.next(0);  // wrap to the first entry
    free.take(q);
    pick[t] = static_cast<std::uint32_t>(q);
    p = q;  // the next jump starts from the entry just taken
  }
  return pick;
}

// The list in shuffled order. The picks are gathered in a separate pass that
// prefetches ahead: on a large list nearly every pick misses the cache, and
// this way many misses are in flight at once.
template <typename Entry>
std::vector<Entry> shuffled(const std::vector<Entry>& list) {
  const std::vector<std::uint32_t> pick = shufflePicks(list.size());
  std::vector<Entry> order(list.size());
  constexpr std::size_t kAhead = 16;
  for (std::size_t t = 0; t < pick.size(); ++t) {
    if (t + kAhead < pick.size()) __builtin_prefetch(&list[pick[t + kAhead]]);
    order[t] = list[pick[t]];
  }
  return order;
}

}  // namespace

// ---------------------------------------------------------------------------
// Molecule order
// ---------------------------------------------------------------------------

void randomize_MO() {
  const int n = totalAlivePopulation();

  // Live molecules in species order, then slot order, from the flag rows.
  std::vector<MoleculeEntry> live;
  if (n > 0) live.reserve(static_cast<std::size_t>(n));
  for (int j = 0; j < numSpecies(); ++j) {
    const std::span<const std::uint8_t> row = tavo::detail::aliveFlags(j);
    for (std::size_t k = 0; k < row.size(); ++k)
      if (row[k] != 0) live.push_back({j, static_cast<int>(k)});
  }
  // The live counts must match the flags; a store that breaks this would
  // give an order of the wrong length.
  if (n < 0 || live.size() != static_cast<std::size_t>(n))
    errorOut("(randomize_MO) counter!=sam_length");

  std::vector<MoleculeEntry> order = shuffled(live);
  g_orders.sam = std::move(order);
  g_orders.sam_init = true;
}

int length_MO() {
  if (!g_orders.sam_init)
    errorOut("(length_MO) randomize_MO must be called before using length_MO");
  return static_cast<int>(g_orders.sam.size());
}

void read_MO(int index, int* species, int* ID) {
  if (!g_orders.sam_init) errorOut(" (read_MO) not initialized, must call randomize_MO!");
  if (index < 0 || static_cast<std::size_t>(index) >= g_orders.sam.size())
    errorOut(" (read_MO) range overflow!");
  const MoleculeEntry& e = g_orders.sam[static_cast<std::size_t>(index)];
  *species = e.species;
  *ID = e.slot;
}

void delete_MO() {
  g_orders.sam = {};  // releases the storage
  g_orders.sam_init = false;
}

// ---------------------------------------------------------------------------
// Reaction order
// ---------------------------------------------------------------------------

void randomize_RO(int specie) {
  // numRxn_R tests the species before anything else happens.
  const int reverse = numRxn_R(specie);
  const int partners = numSpecies();
  long long length = reverse;
  for (int k = 0; k < partners; ++k) length += numRxn_F(specie, k);

  std::vector<ReactionEntry> list;
  list.reserve(static_cast<std::size_t>(length));
  for (int k = 0; k < partners; ++k) {
    const int count = numRxn_F(specie, k);
    for (int pick = 1; pick <= count; ++pick) list.push_back({true, rxnID_F(specie, k, pick)});
  }
  for (int pick = 1; pick <= reverse; ++pick) list.push_back({false, rxnID_R(specie, pick)});
  if (static_cast<long long>(list.size()) != length) errorOut("(randomize_RO) counter!=sar_length");

  std::vector<ReactionEntry> order = shuffled(list);
  g_orders.sar = std::move(order);
  g_orders.sar_init = true;
}

int length_RO() {
  if (!g_orders.sar_init)
    errorOut("(length_RO) randomize_RO must be called before using length_RO");
  return static_cast<int>(g_orders.sar.size());
}

void read_RO(int index, bool* fwd, int* ID) {
  if (!g_orders.sar_init) errorOut(" (read_RO) not initialized, must call randomize_RO!");
  if (index < 0 || static_cast<std::size_t>(index) >= g_orders.sar.size())
    errorOut(" (read_RO) range overflow!");
  const ReactionEntry& e = g_orders.sar[static_cast<std::size_t>(index)];
  *fwd = e.fwd;
  *ID = e.ID;
}

void delete_RO() {
  g_orders.sar = {};
  g_orders.sar_init = false;
}
