// reactionTables.cpp - sizing the reaction lookup tables.
#include "formats/reactionTables.h"

void ForwardLookup::reset(int species, std::size_t listLength) {
  species_ = species;
  listLength_ = listLength;
  std::size_t lists = static_cast<std::size_t>(species) * static_cast<std::size_t>(species);
  cells_.assign(lists * listLength, -1);
  for (std::size_t l = 0; l < lists; ++l) cells_[l * listLength] = 0;
}

void ReverseLookup::reset(int species, std::size_t listLength) {
  listLength_ = listLength;
  cells_.assign(static_cast<std::size_t>(species) * listLength, -1);
  for (int s = 0; s < species; ++s) cells_[static_cast<std::size_t>(s) * listLength] = 0;
}
