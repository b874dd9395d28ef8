// Links against the installed tavocore and touches each public header.
#include <cstdio>

#include "datastore/dataFetcher.h"

int main() {
  if (data_initialization_success()) return 1;
  if (numSpecies() != 0) return 1;
  double d = dist3D(0, 0, 0, 3, 4, 0);
  std::printf("consumer: dist3D = %g\n", d);
  return d == 5.0 ? 0 : 1;
}
