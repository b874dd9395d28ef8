// compressCommand.cpp - tavo compress: a movie as a compressed file that
// keeps random access (seekable zstd, or gzip in the BGZF layout), its
// blocks ending on frame boundaries.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/movieInput.h"
#include "formats/compressed.h"
#include "formats/output.h"

namespace tavo::cli {

using formats::OutputFile;
using formats::SeekableWriter;

namespace {

constexpr std::size_t kPiece = std::size_t{1} << 20;  // text read at a time

// Feeds the text [from, to) to the writer in pieces, a block boundary
// allowed after its last byte; returns how many bytes there were.
std::int64_t addText(const Movie& movie, std::int64_t from, std::int64_t to, SeekableWriter& w,
                     OutputFile& out, std::vector<char>& buffer) {
  std::int64_t at = from;
  while (to < 0 || at < to) {
    std::size_t want = to < 0 ? kPiece
                              : static_cast<std::size_t>(std::min<std::int64_t>(
                                    to - at, static_cast<std::int64_t>(kPiece)));
    std::size_t got = movie.readText(at, buffer.data(), want);
    at += static_cast<std::int64_t>(got);
    const bool last = got < want || (to >= 0 && at == to);
    w.add(std::string_view(buffer.data(), got), last);
    out.text(w.ready());
    w.ready().clear();
    if (got < want) {
      if (to >= 0)
        throw Error(movie.path() +
                    ": the text ends before the frames indexed in it; the file "
                    "has been cut or rewritten");
      break;
    }
  }
  return at - from;
}

}  // namespace

void addCompressCommand(CLI::App& app) {
  struct Options {
    MovieArguments files;
    std::string output;
    int level = 0;
  };
  auto options = std::make_shared<Options>();
  CLI::App* command = app.add_subcommand(
      "compress", "Compress a movie for random access: seekable zstd (.zst) or BGZF gzip (.gz)");
  addMovieArguments(*command, options->files);
  command
      ->add_option("-o,--output", options->output,
                   wrap("the file to write, ending in .zst (zstd, seekable) or .gz (gzip, BGZF); "
                        "replaced only once it is complete, never one of the inputs"))
      ->required()
      ->type_name("PATH");
  CLI::Option* levelOption =
      command
          ->add_option("--level", options->level,
                       wrap("compression level: 1 to 19 for .zst (default 1; 19 is the smallest "
                            "and slowest), 1 to 9 for .gz (default 6)"))
          ->type_name("N");
  addQuietFlag(*command);
  command->footer(wrap(
      "Writes the movie's text exactly, in blocks compressed one by one, each ending on a frame "
      "boundary where frames are small enough: .zst files are zstd frames followed by a seek "
      "table (the zstd seekable layout), .gz files are gzip members of at most 64 KiB with the "
      "block size in the header (the BGZF layout). Every tavo command reads either directly "
      "and reaches any frame without decompressing from the start; zstd -dc and gzip -dc give "
      "back the text byte for byte. MOVIE may itself be compressed, or - for standard "
      "input.\n\n"
      "Examples:\n"
      "  tavo compress run.Tavosetup run.Tavomovie -o run.Tavomovie.zst\n"
      "  tavo compress run.Tavosetup run.Tavomovie -o run.Tavomovie.gz --level 9\n"
      "  tavo info run.Tavosetup run.Tavomovie.zst",
      kTextWidth));
  command->callback([options, levelOption] {
    const std::string& path = options->output;
    const bool zst = path.size() > 4 && path.ends_with(".zst");
    const bool gz = path.size() > 3 && path.ends_with(".gz");
    if (!zst && !gz)
      throw CLI::ValidationError("--output: " + path +
                                 " must end in .zst (seekable zstd) or .gz (BGZF gzip)");
    const int maxLevel = zst ? 19 : 9;
    const SeekableWriter::Format format =
        zst ? SeekableWriter::Format::zstdSeekable : SeekableWriter::Format::bgzf;
    const int level =
        levelOption->count() > 0 ? options->level : SeekableWriter::defaultLevel(format);
    if (level < 1 || level > maxLevel)
      throw CLI::ValidationError("--level: " + std::to_string(options->level) +
                                 " is not from 1 to " + std::to_string(maxLevel) + " for a " +
                                 (zst ? ".zst" : ".gz") + " file");
    formats::requireNotInput(path, {options->files.setup, options->files.movie});
    SeekableWriter writer(format, level);
    OutputFile out(path);
    std::vector<char> buffer(kPiece);
    std::int64_t written = 0;  // text handed to the writer
    // Frames as they are indexed, each its own stretch of text; a stream is
    // let go of behind them.
    Movie movie = openMovieOnce(options->files.setup, options->files.movie,
                                [&](const Movie& m, std::size_t first, std::size_t last) {
                                  for (std::size_t k = first; k < last; ++k) {
                                    std::int64_t end =
                                        k + 1 < m.size() ? m.offset(k + 1) : m.indexedBytes();
                                    if (k == 0 && m.offset(0) > 0)
                                      written += addText(m, 0, m.offset(0), writer, out, buffer);
                                    written += addText(m, written, end, writer, out, buffer);
                                  }
                                });
    addText(movie, written, -1, writer, out, buffer);  // what follows the last frame
    writer.finish();
    out.text(writer.ready());
    out.commit();
  });
}

}  // namespace tavo::cli
