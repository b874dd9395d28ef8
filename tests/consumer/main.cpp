// Links against the installed tavocore and touches each public header.
#include <cstdio>

#include "datastore/dataFetcher.h"
#include "geometry/geometry.h"
#include "sampling/randomNumber.h"

int main() {
  if (data_initialization_success() || geo_initialization_success()) return 1;
  if (numSpecies() != 0) return 1;
  double d = dist3D(0, 0, 0, 3, 4, 0);
  initRand_fromSeed(7);
  double x = 0, y = 0, z = 0;
  randSphere(0, 0, 0, 1, &x, &y, &z);
  bool inside = inSphere(0, 0, 0, 1.0000001, x, y, z);
  std::printf("consumer: dist3D = %g, sampled point inside its sphere: %d\n", d, inside);
  return d == 5.0 && inside ? 0 : 1;
}
