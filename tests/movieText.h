// movieText.h - setup files and movies written by the window tests and the
// measuring programs: clusters whose place on screen tells the frame shown,
// and molecules spread over a cube.
#ifndef TAVO_TESTS_MOVIETEXT_H
#define TAVO_TESTS_MOVIETEXT_H

#include <cstdio>
#include <cstring>
#include <string>

namespace tavo::test {

// A setup of three species named by the words of `names`.
inline std::string setupText(const std::string& names, int slots, int totalStep) {
  std::string text = "N_species 3\n";
  const char* sep = names.c_str();
  for (int s = 0; s < 3; ++s) {
    const char* end = std::strchr(sep, ' ');
    const std::string name = end ? std::string(sep, end) : std::string(sep);
    sep = end ? end + 1 : sep;
    text += "specie " + name + " " + std::to_string(s) + " 1.0 1.0e-9 1.0e-12 " +
            std::to_string(slots) + " 0 0\n";
  }
  return text +
         "N_fwd 0 ;\nN_rev 0 ;\nrev_max_mol 0 ;\ntemperature(K) 300.0\nviscosity 1.0\n"
         "pH 7.0\ntotal_step " +
         std::to_string(totalStep) + "\ntime_step(s) 1.0e-6\n";
}

// 49 molecules on a 7 x 7 grid 0.02 scene units apart about the scene point
// c, in the plane of axes a and b, as one species block of a movie.
inline std::string gridBlock(int species, const double c[3], int a, int b) {
  std::string text = "specie " + std::to_string(species) + "\nalive 49\n";
  char buffer[128];
  for (int i = 0; i < 49; ++i) {
    double p[3] = {c[0], c[1], c[2]};
    p[a] += 0.02 * (i % 7 - 3);
    p[b] += 0.02 * (i / 7 - 3);
    std::snprintf(buffer, sizeof buffer, "%E %E %E ", p[0] * 1e-6, p[1] * 1e-6, p[2] * 1e-6);
    text += buffer;
  }
  return text + "\n";
}

// One frame: species 0 a grid at `first` (no molecule when null), species 1
// (orange) a grid in the x-y plane at `moving`, species 2 (blue) a grid in
// the x-z plane at (0, 1, 0).
inline std::string clusterFrame(int step, const double moving[3], const double* first) {
  static constexpr double kTop[3] = {0, 1, 0};
  return "step " + std::to_string(step) + "\n" +
         (first ? gridBlock(0, first, 0, 2) : std::string("specie 0\nalive 0\n\n")) +
         gridBlock(1, moving, 0, 1) + gridBlock(2, kTop, 0, 2);
}

// A movie of `frames` frames of three species of `perSpecies` molecules,
// spread over a cube of +-2 scene units; false if it cannot be written.
inline bool writeSpreadMovie(const std::string& path, int perSpecies, int frames) {
  std::FILE* movie = std::fopen(path.c_str(), "w");
  if (movie == nullptr) return false;
  unsigned seed = 7;
  auto draw = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return static_cast<double>((seed >> 8) & 0xffff) / 65535.0 * 4.0 - 2.0;
  };
  for (int k = 0; k < frames; ++k) {
    std::fprintf(movie, "step %d\n", k);
    for (int s = 0; s < 3; ++s) {
      std::fprintf(movie, "specie %d\nalive %d\n", s, perSpecies);
      for (int i = 0; i < perSpecies; ++i)
        std::fprintf(movie, "%E %E %E ", draw() * 1e-6, draw() * 1e-6, draw() * 1e-6);
      std::fprintf(movie, "\n");
    }
  }
  return std::fclose(movie) == 0;
}

}  // namespace tavo::test

#endif  // TAVO_TESTS_MOVIETEXT_H
