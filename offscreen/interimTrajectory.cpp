// interimTrajectory.cpp - a stand-in for the trajectory module until its
// implementation is merged: setups and movies through the data store. Built
// only while trajectory/ has no sources of its own.
#include <cstdio>
#include <cstring>
#include <vector>

#include "datastore/dataFetcher.h"
#include "trajectory/trajectory.h"

namespace tavo {

Setup Setup::read(const std::string& path) {
  if (!data_initialization_success()) initDataStructure_fromFile(path.c_str());
  Setup s;
  s.path = path;
  char name[100];
  for (int i = 0; i < numSpecies(); ++i) {
    Species sp;
    sp.id = i;
    ::name(i, name);
    sp.name = name;
    sp.size = size(i);
    sp.slots = speciePopulation(i);
    s.species.push_back(sp);
  }
  s.totalStep = ::totalStep();
  s.timeStep = dt();
  return s;
}

int Setup::speciesId(std::string_view n) const {
  for (const Species& sp : species)
    if (sp.name == n) return sp.id;
  return -1;
}

struct Movie::Impl {
  Setup setup;
  std::string path;
  std::vector<long long> offsets;
};

Movie::Movie(Setup setup, const std::string& moviePath, Indexing)
    : impl_(std::make_unique<Impl>()) {
  impl_->setup = std::move(setup);
  impl_->path = moviePath;
  std::FILE* f = std::fopen(moviePath.c_str(), "r");
  if (f == nullptr) throw Error(moviePath + ": cannot open the movie");
  char line[4096];
  long long at = std::ftell(f);
  while (std::fgets(line, sizeof line, f) != nullptr) {
    if (std::strncmp(line, "step", 4) == 0) impl_->offsets.push_back(at);
    at = std::ftell(f);
  }
  std::fclose(f);
}
Movie::Movie(const std::string& setupPath, const std::string& moviePath, Indexing indexing)
    : Movie(Setup::read(setupPath), moviePath, indexing) {}
Movie::~Movie() = default;
Movie::Movie(Movie&&) noexcept = default;
Movie& Movie::operator=(Movie&&) noexcept = default;
const Setup& Movie::setup() const { return impl_->setup; }
const std::string& Movie::path() const { return impl_->path; }
std::size_t Movie::size() const { return impl_->offsets.size(); }

void Movie::read(std::size_t k, Frame& into) const {
  if (k >= size()) throw Error(impl_->path + ": no frame " + std::to_string(k));
  long long at = impl_->offsets[k];
  readMovie_fromFile(impl_->path.c_str(), &at);
  into.index = k;
  into.step = readCurrentStep();
  into.time = into.step * impl_->setup.timeStep;
  into.positions.resize(static_cast<std::size_t>(numSpecies()));
  for (int s = 0; s < numSpecies(); ++s) {
    auto& p = into.positions[static_cast<std::size_t>(s)];
    p.clear();
    for (int i = 0; i < speciePopulation(s); ++i) {
      if (!alive(s, i)) continue;
      double x, y, z;
      position(s, i, &x, &y, &z);
      p.insert(p.end(), {x, y, z});
    }
  }
}

std::int64_t Movie::offset(std::size_t k) const { return impl_->offsets.at(k); }
std::int64_t Movie::line(std::size_t) const { return 0; }
int Movie::step(std::size_t k) const { return read(k).step; }
int Movie::count(std::size_t k, int species) const { return read(k).count(species); }
std::vector<int> Movie::counts(std::size_t k) const {
  const Frame f = read(k);
  std::vector<int> c;
  for (std::size_t s = 0; s < f.positions.size(); ++s) c.push_back(f.count(static_cast<int>(s)));
  return c;
}
std::int64_t Movie::indexedBytes() const { return 0; }
std::int64_t Movie::fileBytes() const { return 0; }
std::int64_t Movie::partialBytes() const { return 0; }
bool Movie::complete() const { return true; }
std::size_t Movie::refresh(std::int64_t) { return 0; }

Frame Movie::read(std::size_t k) const {
  Frame f;
  read(k, f);
  return f;
}

}  // namespace tavo
