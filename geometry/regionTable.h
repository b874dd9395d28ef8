// regionTable.h - test seam of the geometry module. Not installed.
#ifndef TAVO_GEOMETRY_REGIONTABLE_H
#define TAVO_GEOMETRY_REGIONTABLE_H

namespace tavo::detail {

// Empties the region table and clears the load flag, so that tests and
// fuzzers can load many region files in one process. A simulator loads its
// region file once and never calls this.
void resetRegionTable();

}  // namespace tavo::detail

#endif  // TAVO_GEOMETRY_REGIONTABLE_H
