// reactionTables.h - the record and lookup types of the reaction tables, as
// a setup file's parser builds them and the data store publishes them
// (dataFetcher.h declares the store's four tables of these types).
#ifndef TAVO_FORMATS_REACTIONTABLES_H
#define TAVO_FORMATS_REACTIONTABLES_H

#include <cstddef>
#include <vector>

// ---------------------------------------------------------------------------
// Reaction records and lookup tables
// ---------------------------------------------------------------------------

// One forward (bimolecular) reaction slot, seen from its `reagent`.
// An empty slot holds {-1, -1, -1, 0.0}.
struct ForwardReaction {
  int reagent = -1;  // species that reacts, -1 marks an empty slot
  int partner = -1;  // the other reactant
  int product = -1;  // the single product
  double kf = 0.0;   // forward rate constant
};

// One reverse (unimolecular) reaction. `products` has rev_max_mol entries:
// the first numProducts hold product species IDs in file order, the rest -1.
struct ReverseReaction {
  int reagent = -1;           // species that reacts, -1 until set
  double kr = 0.0;            // reverse rate constant
  int numProducts = 0;        // number of products, at most rev_max_mol
  std::vector<int> products;  // product species IDs, padded with -1
};

// Lookup lists of forward slots by reactant pair, stored flat and indexed as
// ppp_fwd_hash[a][b][n]: element 0 is the count n of slots with reagent a and
// partner b, elements 1..n their slot indices in increasing order, then -1.
class ForwardLookup {
 public:
  class Row {
   public:
    Row(int* base, std::size_t stride) : base_(base), stride_(stride) {}
    int* operator[](int b) const { return base_ + static_cast<std::size_t>(b) * stride_; }

   private:
    int* base_;
    std::size_t stride_;
  };
  Row operator[](int a) { return Row(cells_.data() + rowOffset(a), listLength_); }
  Row operator[](int a) const {
    return Row(const_cast<int*>(cells_.data()) + rowOffset(a), listLength_);
  }
  std::size_t listLength() const { return listLength_; }  // N_fwd + 1
  // Sizes the table for `species` x `species` lists of `listLength` ints,
  // each [0, -1, -1, ...].
  void reset(int species, std::size_t listLength);

 private:
  std::size_t rowOffset(int a) const {
    return static_cast<std::size_t>(a) * static_cast<std::size_t>(species_) * listLength_;
  }
  std::vector<int> cells_;
  int species_ = 0;
  std::size_t listLength_ = 0;
};

// Lookup lists of reverse reactions by reacting species, indexed as
// pp_rev_hash[s][n]: element 0 is the count, then reaction indices, then -1.
class ReverseLookup {
 public:
  int* operator[](int s) { return cells_.data() + static_cast<std::size_t>(s) * listLength_; }
  const int* operator[](int s) const {
    return cells_.data() + static_cast<std::size_t>(s) * listLength_;
  }
  std::size_t listLength() const { return listLength_; }  // N_rev + 1
  void reset(int species, std::size_t listLength);

 private:
  std::vector<int> cells_;
  std::size_t listLength_ = 0;
};

#endif  // TAVO_FORMATS_REACTIONTABLES_H
