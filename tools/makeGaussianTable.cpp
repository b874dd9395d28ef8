// makeGaussianTable.cpp - writes the inverse 3-D Gaussian table that the
// library loads from "inverse3DGaussian.function".
//
// The radius of a 3-D isotropic Gaussian displacement with density
// proportional to exp(-r^2 / (4ab)), divided by sqrt(4ab), has the density
// (4/sqrt(pi)) u^2 exp(-u^2) on u >= 0 and the distribution function
//   F(u) = erf(u) - (2/sqrt(pi)) u exp(-u^2).
// Entry i (0..10000) of the table is the u at which F(u) = i/10000; the
// values are written one per line with "%.17g", so they read back exactly.
//
// Accuracy: F is evaluated in long double (a power series below u = 1, where
// erf and the second term nearly cancel and F ~ (4/(3 sqrt(pi))) u^3; the
// complement 1 - F = erfc(u) + (2/sqrt(pi)) u exp(-u^2) above the median),
// and each root is bisected to the last bit of a long double, far inside
// 1e-12 relative.
//
// Entry 0 is 0. Entry 10000 would be the value at probability 1, which is
// unbounded; it holds a finite cap instead: the value at probability
// 1 - 2^-16 (about 3.537). The table is read with uniform draws of 15 bits,
// r/32767 for r = 0..32767, and only the top draw r = 32767 reaches entry
// 10000; that draw stands for the top 1/32768 of the probability range, and
// the cap is the median of that slice. A cap far deeper in the tail (say at
// 1 - 1e-12, about 5.42) would turn a displacement with a chance of one in a
// million million into one that every 32768th draw makes.
//
// Usage: makeGaussianTable [output-file]   (standard output by default)
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

constexpr int kSteps = 10000;  // entries 0..kSteps
const long double kTwoOverSqrtPi = 2.0L / std::sqrt(3.14159265358979323846264338327950288L);

// F(u) by its power series: (4/sqrt(pi)) sum_k (-1)^k u^(2k+3) / (k! (2k+3)).
// Used for u < 1, where every term is below the previous one.
long double cdfSeries(long double u) {
  long double u2 = u * u;
  long double power = u * u2;  // u^(2k+3) / k!
  long double sum = 0.0L;
  for (int k = 0; k < 200; ++k) {
    long double term = power / (2 * k + 3);
    sum += (k % 2 == 0) ? term : -term;
    if (term < 1e-40L * sum) break;
    power *= u2 / (k + 1);
  }
  return 2.0L * kTwoOverSqrtPi * sum;
}

long double cdf(long double u) {
  if (u < 1.0L) return cdfSeries(u);
  return std::erf(u) - kTwoOverSqrtPi * u * std::exp(-u * u);
}

// 1 - F(u), accurate in the tail.
long double complement(long double u) {
  if (u < 1.0L) return 1.0L - cdfSeries(u);
  return std::erfc(u) + kTwoOverSqrtPi * u * std::exp(-u * u);
}

// The u with F(u) = p, given as p = num / den exactly; bisection on
// whichever of F and 1 - F is the smaller, so the target keeps full
// relative precision at both ends.
long double inverse(long double num, long double den) {
  bool upper = 2 * num > den;
  long double target = upper ? (den - num) / den : num / den;
  long double lo = 0.0L, hi = 12.0L;  // 1 - F(12) ~ 1e-62
  for (int it = 0; it < 400; ++it) {
    long double mid = lo + (hi - lo) / 2;
    if (mid <= lo || mid >= hi) break;
    bool below = upper ? complement(mid) > target : cdf(mid) < target;
    (below ? lo : hi) = mid;
  }
  return lo + (hi - lo) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2) {
    std::fprintf(stderr, "usage: makeGaussianTable [output-file]\n");
    return 1;
  }
  std::vector<double> table(kSteps + 1);
  table[0] = 0.0;
  for (int i = 1; i < kSteps; ++i) table[i] = static_cast<double>(inverse(i, kSteps));
  table[kSteps] = static_cast<double>(inverse(65535.0L, 65536.0L));  // the cap, 1 - 2^-16

  for (int i = 1; i <= kSteps; ++i) {
    if (!(table[i] > table[i - 1])) {
      std::fprintf(stderr, "makeGaussianTable: table not increasing at entry %d\n", i);
      return 1;
    }
  }

  std::FILE* out = argc == 2 ? std::fopen(argv[1], "w") : stdout;
  if (out == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  for (double v : table) std::fprintf(out, "%.17g\n", v);
  bool failed = std::ferror(out) != 0;
  if (out != stdout) failed = std::fclose(out) != 0 || failed;
  if (failed) {
    std::fprintf(stderr, "makeGaussianTable: write failed\n");
    return 1;
  }
  return 0;
}
