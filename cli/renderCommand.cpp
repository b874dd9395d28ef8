// renderCommand.cpp - tavo render: pictures and videos of a movie, drawn
// offscreen with no display.
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <memory>
#include <string>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/figureOptions.h"
#include "cli/movieInput.h"
#include "cli/progress.h"
#include "formats/output.h"
#include "formats/regions.h"
#include "offscreen/render.h"

namespace tavo::cli {

using formats::requireNotInput;

void addRenderCommand(CLI::App& app) {
  struct Options {
    MovieArguments files;
    std::string output;
    FrameSlice frames = parseFrameSlice(":");
    std::string style = "points";
    std::string regions;
    bool noOverlay = false;
    double framesPerSecond = 25.0;
    offscreen::Settings settings;
    FigureOptions figure;
  };
  auto options = std::make_shared<Options>();
  CLI::App* command = app.add_subcommand(
      "render", "Draw frames as PNG pictures or a video, offscreen, with no display");
  addMovieArguments(*command, options->files);
  command
      ->add_option("-o,--output", options->output,
                   wrap("NAME.png for one picture, a name with a frame number field such as "
                        "frames/f%05d.png for one picture per frame, NAME.mp4 or NAME.webm for "
                        "a video"))
      ->required()
      ->type_name("PATH");
  CLI::Option* frames = addFramesOption(*command, options->frames);
  addSizeOption(*command, options->settings.width, options->settings.height,
                offscreen::kMaxPictureSide,
                wrap("picture size in pixels; default 500x500, the viewer's window"));
  command
      ->add_option("--style", options->style,
                   wrap("points: the viewer's picture; spheres: each molecule a shaded sphere "
                        "of its species' size"))
      ->type_name("STYLE")
      ->check(CLI::IsMember({"points", "spheres"}));
  command->add_flag("--no-overlay", options->noOverlay,
                    wrap("no legend, step, time or axis letters"));
  addFigureOptions(*command, options->figure, true);
  command
      ->add_option("--regions", options->regions,
                   wrap("draw the regions of this region file as wireframes"))
      ->type_name("FILE");
  command
      ->add_option("--fps", options->framesPerSecond,
                   wrap("frames per second of a video, from 0.001 to 1000; default 25"))
      ->check(numberIn(0.001, 1000));
  addQuietFlag(*command);
  command->footer(
      wrap("Frames: one picture draws frame 0 unless --frames picks one; a sequence or a video "
           "draws every frame unless --frames picks some. Sequence pictures are numbered by frame "
           "index, so parts rendered separately (one --frames range each) make one sequence.\n\n"
           "Videos are encoded by the ffmpeg program (Debian package ffmpeg) from raw frames.\n\n"
           "Examples:\n"
           "  tavo render run.Tavosetup run.Tavomovie --output last.png --frames -1\n"
           "  tavo render run.Tavosetup run.Tavomovie --output f%05d.png --frames 0:100\n"
           "  tavo render run.Tavosetup run.Tavomovie --output run.mp4 --size 1920x1080 "
           "--style spheres\n"
           "  tavo render run.Tavosetup run.Tavomovie --output figure.png --camera fit "
           "--style spheres --sphere-scale auto --scale-bar --palette okabe-ito "
           "--background white",
           kTextWidth));
  command->callback([options, frames] {
    const auto start = std::chrono::steady_clock::now();
    offscreen::Settings& settings = options->settings;
    settings.style = options->style == "spheres" ? scene::Style::spheres : scene::Style::points;
    settings.overlay = !options->noOverlay;
    offscreen::OutputKind kind;
    try {
      kind = offscreen::outputKind(options->output);
    } catch (const offscreen::UsageError& e) {
      throw CLI::ValidationError("--output", e.what());
    }
    try {
      if (kind == offscreen::OutputKind::video)
        offscreen::requireVideoSize(settings.width, settings.height);
    } catch (const offscreen::UsageError& e) {
      throw CLI::ValidationError(e.what());
    }
    std::vector<std::string> inputs = {options->files.setup, options->files.movie};
    if (!options->regions.empty()) inputs.push_back(options->regions);
    // A single name, with "%%" read as "%".
    const std::string single = offscreen::sequenceName(options->output, 0);
    if (kind != offscreen::OutputKind::sequence) requireNotInput(single, inputs);
    if (!options->regions.empty()) {
      if (!std::ifstream(options->regions))
        throw Error(options->regions +
                    ": cannot open the region file (--regions): " + std::strerror(errno));
      settings.regions = formats::readRegions(options->regions);
    }

    Movie movie = openMovie(options->files.setup, options->files.movie);
    const Figure figure = resolveFigure(options->figure, movie.setup());
    if (figure.transparent && kind == offscreen::OutputKind::video)
      throw CLI::ValidationError("--transparent", "a video has no transparent background");
    settings.fit = figure.fit;
    settings.camera = figure.camera;
    settings.autoSphereScale = figure.autoSphereScale;
    settings.sphereScale = figure.sphereScale;
    settings.colours = figure.colours;
    settings.hidden = figure.hidden;
    settings.background = figure.background;
    settings.transparent = figure.transparent;
    settings.scaleBar = figure.scaleBar;
    settings.axes = figure.axes;
    settings.title = figure.title;
    const FrameSlice slice = frames->count() > 0 || kind != offscreen::OutputKind::picture
                                 ? options->frames
                                 : parseFrameSlice("0");
    const std::vector<std::size_t> picked = selectFrames(slice, movie.size(), movie.path());
    Progress progress("rendering " + options->output, static_cast<std::int64_t>(picked.size()));
    try {
      offscreen::render(
          movie, picked, options->output, settings, options->framesPerSecond,
          [&progress](std::size_t done) { progress.update(static_cast<std::int64_t>(done)); },
          inputs);
    } catch (const offscreen::UsageError& e) {
      throw CLI::ValidationError(e.what());
    }
    reportWritten(kind != offscreen::OutputKind::sequence ? single
                  : picked.empty()
                      ? options->output
                      : offscreen::sequenceName(options->output, picked.front()) + " to " +
                            offscreen::sequenceName(options->output, picked.back()),
                  picked.size(), start);
  });
}

}  // namespace tavo::cli
