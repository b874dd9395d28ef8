// figureOptions.cpp - the figure options of tavo render and tavo view.
#include "cli/figureOptions.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>

#include "cli/arguments.h"
#include "scene/figure.h"

namespace tavo::cli {

namespace {

// "THETA,PHI,RADIUS", three finite numbers a float holds.
std::optional<scene::Camera> parseCamera(const std::string& text) {
  double v[3];
  char tail = 0;
  if (std::sscanf(text.c_str(), "%lf,%lf,%lf%c", &v[0], &v[1], &v[2], &tail) != 3)
    return std::nullopt;
  for (const double x : v)
    if (!std::isfinite(x) || std::fabs(x) > std::numeric_limits<float>::max()) return std::nullopt;
  return scene::Camera{static_cast<float>(v[0]), static_cast<float>(v[1]),
                       static_cast<float>(v[2])};
}

std::vector<std::string> splitNames(const std::string& text) {
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    names.push_back(text.substr(start, comma - start));
    start = comma + 1;
  }
  return names;
}

std::string speciesList(const Setup& setup) {
  std::string list;
  for (const Species& s : setup.species) list += (list.empty() ? "" : ", ") + s.name;
  return list;
}

std::size_t speciesIndex(const Setup& setup, const std::string& name, const char* option) {
  for (std::size_t q = 0; q < setup.species.size(); ++q)
    if (setup.species[q].name == name) return q;
  throw CLI::ValidationError(
      option, name + " is no species of the setup; its species are " + speciesList(setup));
}

std::string colourCheck(const std::string& text) {
  return scene::parseColour(text)
             ? ""
             : text + " is no colour: give #rrggbb or one of " + scene::colourNames();
}

}  // namespace

void addFigureOptions(CLI::App& command, FigureOptions& o, bool render) {
  command
      .add_option("--camera", o.camera,
                  wrap("fit: look at the centre of the molecules (of the regions, with "
                       "--regions) from the viewer's direction, near enough that they fill "
                       "90 % of the picture; or THETA,PHI,RADIUS, angles in radians and "
                       "distance as in the viewer; default 1,1,15, the viewer's start"))
      ->type_name("fit|THETA,PHI,RADIUS")
      ->check([](const std::string& text) {
        double v[3];
        char tail = 0;
        if (text == "fit" || parseCamera(text)) return std::string();
        if (std::sscanf(text.c_str(), "%lf,%lf,%lf%c", &v[0], &v[1], &v[2], &tail) == 3)
          return text + ": each of THETA,PHI,RADIUS must be a finite number of at most 3.4e38";
        return text + " is not fit or THETA,PHI,RADIUS, such as 1,1,15";
      });
  command
      .add_option("--sphere-scale", o.sphereScale,
                  wrap("draw spheres S times their species' size; auto: large enough that "
                       "the smallest species' spheres are 3 pixels across; default 1"))
      ->type_name("S|auto")
      ->check([](const std::string& text) {
        if (text == "auto") return std::string();
        std::string number = text;
        return numberIn(0, HUGE_VAL, false)(number);
      });
  command
      .add_option("--background", o.background,
                  wrap("background colour: a name such as white or #rrggbb; default black"))
      ->type_name("COLOR")
      ->check(colourCheck);
  if (render)
    command.add_flag("--transparent", o.transparent,
                     wrap("PNG pictures with a transparent background"));
  command
      .add_option("--palette", o.palette,
                  wrap("species colours: default (the viewer's), okabe-ito (safe for "
                       "colour-blind readers) or viridis"))
      ->type_name("NAME")
      ->check(CLI::IsMember({"default", "okabe-ito", "viridis"}));
  command.add_option("--color", o.colours, wrap("the colour of one species; repeatable"))
      ->type_name("NAME=COLOR")
      ->check([](const std::string& text) {
        const std::size_t equals = text.rfind('=');
        if (equals == std::string::npos || equals == 0)
          return text + " is not NAME=COLOR, such as A=#ff8800";
        return colourCheck(text.substr(equals + 1));
      });
  CLI::Option* hide =
      command.add_option("--hide", o.hide, wrap("species not drawn (and not in the legend)"))
          ->type_name("NAME[,NAME...]");
  CLI::Option* only =
      command.add_option("--only", o.only, wrap("the species drawn; the others are hidden"))
          ->type_name("NAME[,NAME...]");
  hide->excludes(only);
  command.add_flag("--scale-bar", o.scaleBar,
                   wrap("a bar of 1, 2 or 5 x 10^k metres at the distance of the point looked "
                        "at, labelled with its length"));
  command.add_flag("--no-axes", o.noAxes, wrap("no axis cross and no axis letters"));
  command.add_option("--title", o.title, wrap("a title at the top of the picture"))
      ->type_name("TEXT");
}

Figure resolveFigure(const FigureOptions& o, const Setup& setup) {
  Figure f;
  const std::size_t n = setup.species.size();
  if (o.camera == "fit")
    f.fit = true;
  else if (!o.camera.empty())
    f.camera = *parseCamera(o.camera);
  if (o.sphereScale == "auto")
    f.autoSphereScale = true;
  else
    f.sphereScale = std::strtod(o.sphereScale.c_str(), nullptr);
  if (!o.background.empty()) f.background = *scene::parseColour(o.background);
  f.transparent = o.transparent;
  f.colours =
      scene::paletteColours(*scene::parsePalette(o.palette), static_cast<int>(n), f.background);
  for (const std::string& c : o.colours) {
    const std::size_t equals = c.rfind('=');
    f.colours[speciesIndex(setup, c.substr(0, equals), "--color")] =
        *scene::parseColour(c.substr(equals + 1));
  }
  f.hidden.assign(n, !o.only.empty());
  if (!o.only.empty())
    for (const std::string& name : splitNames(o.only))
      f.hidden[speciesIndex(setup, name, "--only")] = false;
  if (!o.hide.empty())
    for (const std::string& name : splitNames(o.hide))
      f.hidden[speciesIndex(setup, name, "--hide")] = true;
  f.scaleBar = o.scaleBar;
  f.axes = !o.noAxes;
  f.title = o.title;
  return f;
}

}  // namespace tavo::cli
