// liveMolecules.h - the data store's live molecules for the library's own
// modules that walk them all (the shuffled molecule order). Not installed.
#ifndef TAVO_DATASTORE_LIVEMOLECULES_H
#define TAVO_DATASTORE_LIVEMOLECULES_H

#include <cstdint>
#include <span>

namespace tavo::detail {

// The current step's alive flags of species s, one byte (0 or 1) per slot,
// valid until the store changes. Fatal for a species out of range.
std::span<const std::uint8_t> aliveFlags(int s);

}  // namespace tavo::detail

#endif  // TAVO_DATASTORE_LIVEMOLECULES_H
