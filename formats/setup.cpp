// setup.cpp - a setup file read into a value, by the parser that loads the
// data store (readSetup), without touching the store.
#include <cerrno>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>

#include "formats/setup.h"

namespace tavo {

namespace {

// The parser's messages span lines ("Syntax error:\n\t..."); ours are one
// line, naming the file.
std::string oneLine(const std::string& path, const std::string& message) {
  std::string line;
  for (char c : message) {
    bool blank = c == '\n' || c == '\t' || c == ' ' || c == '\r';
    if (!blank)
      line.push_back(c);
    else if (!line.empty() && line.back() != ' ')
      line.push_back(' ');
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  if (line.find(path) != std::string::npos) return line;
  return path + ": " + line;
}

}  // namespace

Setup Setup::read(const std::string& path) {
  // A folder opens for reading but holds no text: refused as the system
  // refuses to read it, rather than reported as a malformed file.
  std::error_code unknown;
  if (std::filesystem::is_directory(path, unknown))
    throw Error(path + ": cannot open the setup (Is a directory)", EISDIR);
  detail::SetupData data;
  try {
    data = detail::readSetup(path.c_str(), nullptr);
  } catch (const Error& e) {
    throw Error(oneLine(path, e.what()), e.errorNumber());
  }

  Setup setup;
  setup.path = path;
  setup.species.reserve(data.species.size());
  for (const detail::SpeciesRow& row : data.species) {
    Species s;
    s.id = row.id;
    s.name = row.name;
    s.mass = row.mass;
    s.size = row.size;
    s.diffusion = row.diffConst;
    s.slots = row.total;
    s.initialAlive = row.alive;
    s.region = row.region;
    setup.species.push_back(std::move(s));
  }
  for (const detail::ReactionLine& line : data.lines) {
    auto record = static_cast<std::size_t>(line.record);
    if (line.forward) {
      const ForwardReaction& r = data.p_fwd[record];
      setup.forward.push_back({r.reagent, r.partner, r.product, r.kf});
    } else {
      const ReverseReaction& r = data.p_rev[record];
      ReverseReactionLine rev;
      rev.reactant = r.reagent;
      rev.products.assign(r.products.begin(), r.products.begin() + r.numProducts);
      rev.kr = r.kr;
      setup.reverse.push_back(std::move(rev));
    }
  }
  setup.temperature = data.temperature;
  setup.viscosity = data.viscosity;
  setup.pH = data.pH;
  setup.totalStep = data.total_step;
  setup.timeStep = data.time_step;
  return setup;
}

int Setup::speciesId(std::string_view name) const {
  for (const Species& s : species)
    if (s.name == name) return s.id;
  return -1;
}

}  // namespace tavo
