// regionTable.h - test seam of the geometry module. Not installed.
#ifndef TAVO_GEOMETRY_REGIONTABLE_H
#define TAVO_GEOMETRY_REGIONTABLE_H

namespace tavo::detail {

// Empties the region table and clears the load flag, so that tests and
// fuzzers can load many region files in one process. A simulator loads its
// region file once and never calls this.
void resetRegionTable();

// The numbers of region `id` of the loaded table (centre x, y, z, then the
// type's numbers), and its type code through `type`; nullptr when the table
// is not loaded or has no such region. For checks of the loader.
const double* regionRow(int id, int* type);

}  // namespace tavo::detail

#endif  // TAVO_GEOMETRY_REGIONTABLE_H
