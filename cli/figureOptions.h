// figureOptions.h - the options of tavo render and tavo view that make a
// picture fit for a paper or a talk: framing, sphere scale, background,
// palette and species colours, hidden species, scale bar, axes and title.
#ifndef TAVO_CLI_FIGUREOPTIONS_H
#define TAVO_CLI_FIGUREOPTIONS_H

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "scene/view.h"
#include "trajectory/trajectory.h"

namespace tavo::cli {

// The options as given.
struct FigureOptions {
  std::string camera;             // "fit", THETA,PHI,RADIUS or "" (the viewer's start)
  std::string sphereScale = "1";  // a positive number or "auto"
  std::string background;         // a colour or ""
  bool transparent = false;       // tavo render only
  std::string palette = "default";
  std::vector<std::string> colours;  // NAME=COLOR
  std::string hide, only;            // NAME[,NAME...]
  bool scaleBar = false;
  bool noAxes = false;
  std::string title;
};

// What they ask for, with species named by their setup.
struct Figure {
  bool fit = false;
  scene::Camera camera;
  bool autoSphereScale = false;
  double sphereScale = 1.0;
  std::vector<scene::Colour> colours;  // per species
  std::vector<bool> hidden;            // per species
  scene::Colour background{0.0f, 0.0f, 0.0f};
  bool transparent = false;
  bool scaleBar = false;
  bool axes = true;
  std::string title;
};

// Adds the options; `render` adds --transparent and words the help for
// pictures rather than a window.
void addFigureOptions(CLI::App& command, FigureOptions& options, bool render);

// The options against the setup's species; a name that is no species
// throws CLI::ValidationError naming the species there are.
Figure resolveFigure(const FigureOptions& options, const Setup& setup);

}  // namespace tavo::cli

#endif  // TAVO_CLI_FIGUREOPTIONS_H
