// viewCommand.cpp - tavo view: a window on a movie of any length, complete
// or still growing, with the viewer's picture and keys, a timeline, jumps,
// playback rates and follow mode.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/figureOptions.h"
#include "explorer/explorer.h"
#include "offscreen/render.h"

namespace tavo::cli {

void addViewCommand(CLI::App& app) {
  struct Options {
    MovieArguments files;
    std::int64_t frame = 0;
    std::string style = "points";
    explorer::Options run;
    FigureOptions figure;
  };
  auto options = std::make_shared<Options>();
  CLI::App* command = app.add_subcommand(
      "view", "Explore a movie in a window: play, jump to any frame, follow a growing movie");
  addMovieArguments(*command, options->files);
  command
      ->add_option("--regions", options->run.regions,
                   wrap("draw the regions of this region file as wireframes (r turns them "
                        "on and off)"))
      ->type_name("FILE");
  CLI::Option* frame =
      command
          ->add_option("--frame", options->frame,
                       wrap("open paused at frame K; negative K counts from the end"))
          ->type_name("K");
  CLI::Option* follow =
      command->add_flag("--follow", options->run.follow,
                        wrap("show the newest complete frame, and the newest again as the "
                             "file grows"));
  frame->excludes(follow);
  command
      ->add_option("--style", options->style,
                   wrap("points: the viewer's picture; spheres: each molecule a shaded sphere "
                        "of its species' size (v switches)"))
      ->check(CLI::IsMember({"points", "spheres"}));
  addFigureOptions(*command, options->figure, false);
  addSizeOption(*command, options->run.width, options->run.height, offscreen::kMaxPictureSide,
                wrap("window size in pixels; default 500x500, the viewer's window"));
  command->footer(
      wrap("The window opens at once, however large the movie: the index is built and frames "
           "are read ahead in the background. Playback starts at frame 0 and loops at the "
           "last complete frame.\n\n"
           "Keys (the viewer's, and more):\n",
           kTextWidth) +
      explorer::keyHelp() +
      wrap("\nExamples:\n"
           "  tavo view run.Tavosetup run.Tavomovie\n"
           "  tavo view run.Tavosetup run.Tavomovie --frame -1 --regions run.regions\n"
           "  tavo view run.Tavosetup growing.Tavomovie --follow\n"
           "  tavo view run.Tavosetup run.Tavomovie --camera fit --background white "
           "--palette okabe-ito",
           kTextWidth));
  command->callback([options, frame] {
    explorer::Options& run = options->run;
    run.setup = options->files.setup;
    run.movie = options->files.movie;
    run.style = options->style == "spheres" ? scene::Style::spheres : scene::Style::points;
    if (frame->count() > 0) run.startFrame = options->frame;
    const Figure figure = resolveFigure(options->figure, Setup::read(run.setup));
    run.fit = figure.fit;
    run.camera = figure.camera;
    run.autoSphereScale = figure.autoSphereScale;
    run.sphereScale = figure.sphereScale;
    run.colours = figure.colours;
    run.hidden = figure.hidden;
    run.background = figure.background;
    run.scaleBar = figure.scaleBar;
    run.axes = figure.axes;
    run.title = figure.title;
    explorer::run(run);
  });
}

}  // namespace tavo::cli
