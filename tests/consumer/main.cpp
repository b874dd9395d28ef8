// Links against the installed tavocore, touches each public header and draws
// Gaussian radii, which needs the library's own table: the check runs this
// program in an empty folder.
#include <cmath>
#include <cstdio>

#include "datastore/dataFetcher.h"
#include "geometry/geometry.h"
#include "sampling/randomNumber.h"
#include "trajectory/trajectory.h"

int main() {
  if (data_initialization_success() || geo_initialization_success()) return 1;
  if (numSpecies() != 0) return 1;
  // A missing setup is an exception the caller catches, not the end of the process.
  try {
    tavo::Setup::read("no-such.Tavosetup");
    return 1;
  } catch (const tavo::Error&) {
  }
  double d = dist3D(0, 0, 0, 3, 4, 0);
  initRand_fromSeed(7);
  double x = 0, y = 0, z = 0;
  randSphere(0, 0, 0, 1, &x, &y, &z);
  bool inside = inSphere(0, 0, 0, 1.0000001, x, y, z);

  // The scaled radius u = r / sqrt(4ab) has mean square 3/2; 4000 draws give
  // it within 0.02 (one standard deviation).
  init_inverse_3DGaussian();
  const double a = 1e-12, b = 1e-3;
  const int n = 4000;
  double sum = 0;
  for (int i = 0; i < n; ++i) {
    double r = random_radius_3Dgaussian(a, b);
    sum += r * r / (4 * a * b);
  }
  double meanSquare = sum / n;
  std::printf("consumer: dist3D = %g, sampled point inside its sphere: %d, mean u^2 = %.3f\n", d,
              inside, meanSquare);
  return d == 5.0 && inside && std::fabs(meanSquare - 1.5) < 0.1 ? 0 : 1;
}
