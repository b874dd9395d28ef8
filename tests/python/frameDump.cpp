// frameDump SETUP MOVIE OUT: writes every frame of MOVIE as the C++ reader
// gives it, as native float64 values: for each frame its step, then for each
// species its live count and its coordinates x0 y0 z0 x1 ... The Python
// tests compare the module's arrays with these, bit for bit.
#include <cstdio>
#include <exception>

#include "trajectory/trajectory.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: frameDump SETUP MOVIE OUT\n");
    return 2;
  }
  try {
    const tavo::Movie movie(argv[1], argv[2]);
    std::FILE* out = std::fopen(argv[3], "wb");
    if (!out) throw tavo::Error(std::string(argv[3]) + ": cannot write");
    tavo::Frame frame;
    for (std::size_t k = 0; k < movie.size(); ++k) {
      movie.read(k, frame);
      const double step = frame.step;
      std::fwrite(&step, sizeof step, 1, out);
      for (const auto& xyz : frame.positions) {
        const double count = static_cast<double>(xyz.size() / 3);
        std::fwrite(&count, sizeof count, 1, out);
        std::fwrite(xyz.data(), sizeof(double), xyz.size(), out);
      }
    }
    if (std::fclose(out) != 0) throw tavo::Error(std::string(argv[3]) + ": cannot write");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "frameDump: %s\n", e.what());
    return 1;
  }
  return 0;
}
