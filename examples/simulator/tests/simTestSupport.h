// simTestSupport.h - helpers of the simulator's tests: one shared region file,
// setup files written from species and reaction lists, loading a world.
#ifndef TAVOSIM_TESTS_SIMTESTSUPPORT_H
#define TAVOSIM_TESTS_SIMTESTSUPPORT_H

#include <string>
#include <vector>

#include "simulator.h"

namespace tavosim::test {

// Regions of the shared region file (the table loads once per process).
enum Region {
  kHugeBox = 0,        // box of edge 1 m about the origin
  kSmallBox = 1,       // box of edge 1e-6 m
  kSphere = 2,         // sphere of radius 5e-7 m
  kSphereShell = 3,    // radii 4e-7 and 5e-7 m
  kCylinder = 4,       // radius 2e-7 m, length 1e-6 m
  kBoxShell = 5,       // outer edge 1e-6 m, inner 6e-7 m
  kCylinderShell = 6,  // radii 1e-7 and 2e-7 m, length 1e-6 m
};
extern const char* const kRegionFile;  // text of the shared region file

struct Species {
  std::string name;
  double diffusion;  // m^2/s
  int slots;
  int alive;
  int region;
};

// Setup file text; reactions are whole lines such as "f 0 + 1 = 2 ; kf 1e-16 ;".
std::string setupText(const std::vector<Species>& species, const std::vector<std::string>& fwd,
                      const std::vector<std::string>& rev, int totalStep, double timeStep);

void writeFile(const std::string& path, const std::string& text);
std::string readFile(const std::string& path);

// Loads `setup` into the store (the shared regions and the Gaussian table
// on first use), seeds the generator, places the molecules and prepares sim.
void loadWorld(const std::string& setup, unsigned int seed, Simulation& sim);

}  // namespace tavosim::test

#endif  // TAVOSIM_TESTS_SIMTESTSUPPORT_H
