#include "simTestSupport.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "datastore/dataFetcher.h"
#include "geometry/geometry.h"
#include "sampling/randomNumber.h"

namespace tavosim::test {

const char* const kRegionFile =
    "N_regions 7\n"
    "0 box ( 0 0 0 ) ( 1 1 1 )\n"
    "1 box ( 0 0 0 ) ( 1e-6 1e-6 1e-6 )\n"
    "2 sphere ( 0 0 0 ) ( 5e-7 )\n"
    "3 sphereshell ( 0 0 0 ) ( 4e-7 5e-7 )\n"
    "4 cylinder ( 0 0 0 ) ( 2e-7 1e-6 )\n"
    "5 boxshell ( 0 0 0 ) ( 1e-6 1e-6 1e-6 6e-7 6e-7 6e-7 )\n"
    "6 cylindershell ( 0 0 0 ) ( 1e-7 2e-7 1e-6 )\n";

std::string setupText(const std::vector<Species>& species, const std::vector<std::string>& fwd,
                      const std::vector<std::string>& rev, int totalStep, double timeStep) {
  std::ostringstream out;
  out.precision(17);
  out << "N_species " << species.size() << "\n";
  for (std::size_t s = 0; s < species.size(); ++s) {
    const Species& sp = species[s];
    out << "specie " << sp.name << " " << s << " 1.0 1e-9 " << sp.diffusion << " " << sp.slots
        << " " << sp.alive << " " << sp.region << "\n";
  }
  out << "N_fwd " << fwd.size() << " ;\nN_rev " << rev.size() << " ;\nrev_max_mol 2 ;\n";
  for (const auto& line : fwd) out << line << "\n";
  for (const auto& line : rev) out << line << "\n";
  out << "temperature(K) 300.0\nviscosity 1.0\npH 7.0\ntotal_step " << totalStep
      << "\ntime_step(s) " << timeStep << "\n";
  return out.str();
}

void writeFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void loadWorld(const std::string& setup, unsigned int seed, Simulation& sim) {
  if (!geo_initialization_success()) {
    writeFile("shared.regions", kRegionFile);
    initGeometry_fromFile("shared.regions");
    init_inverse_3DGaussian();
  }
  if (data_initialization_success()) deleteDataStructure();
  writeFile("test.Tavosetup", setup);
  initDataStructure_fromFile("test.Tavosetup");
  initRand_fromSeed(seed);
  placeInitialMolecules();
  prepare(sim);
}

}  // namespace tavosim::test
