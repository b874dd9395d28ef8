// compressed_bench.cpp - reading compressed movies and large frames, each
// against its baseline in the same run:
//   Index/*        indexing a gzip movie (made by gzip) against gzip -dc >
//                  /dev/null, and a tavo compress .zst against zstd -dc
//   RandomFrame/*  a random frame of the plain movie, of the gzip one (at
//                  most one checkpoint span inflated) and of the .zst one
//   LargeFrame/*   a 10^6-molecule frame: the one-thread parse through the
//                  read window (numbers read byte-wise and 16 bytes at a
//                  time), against Movie::read (fetched and parsed in two
//                  halves at once)
//   Compress/*     tavo compress's writer at a few levels: speed, and the
//                  text's size over the compressed size (counter "ratio")
// The movies are written to a temporary folder and removed at the end.
// --full: a 410 MB movie of 10^5-molecule frames and a 10^6-molecule frame
// (the figures); without it, small ones (the smoke test).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench/benchSupport.h"
#include "formats/compressed.h"
#include "formats/movie.h"
#include "trajectory/trajectory.h"

namespace {

struct Files {
  std::string folder, setup, movie, gzip, zst, large, largeSetup;
  int molecules = 0, frames = 0, largeMolecules = 0;
  std::size_t compressBytes = 0;  // text given to the writer
} files;

void writeSetup(const std::string& path, int slots) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  std::fprintf(f,
               "N_species 1\nspecie A 0 1.0 1.0e-9 1.0e-12 %d %d 0\nN_fwd 0 ;\nN_rev 0 ;\n"
               "rev_max_mol 0 ;\ntemperature(K) 300.0\nviscosity 1.0\npH 7.0\ntotal_step 10\n"
               "time_step(s) 1.0e-6\n",
               slots, slots);
  std::fclose(f);
}

void writeMovie(const std::string& path, int molecules, int frames) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  std::mt19937_64 rng(3);
  std::uniform_real_distribution<double> u(-1e-6, 1e-6);
  for (int k = 0; k < frames; ++k) {
    std::fprintf(f, "step %d\nspecie 0\nalive %d\n", k, molecules);
    for (int i = 0; i < 3 * molecules; ++i) std::fprintf(f, "%E ", u(rng));
    std::fprintf(f, "\n");
  }
  std::fclose(f);
}

bool run(const std::string& command) { return std::system(command.c_str()) == 0; }

// The folder and the sizes; the movies are written on first use, so that a
// run of some benchmarks writes only what they read.
void chooseFiles(bool full) {
  char pattern[] = "/tmp/tavo_compressed_bench_XXXXXX";
  files.folder = mkdtemp(pattern);
  files.molecules = full ? 100000 : 2000;
  files.frames = full ? 105 : 20;
  files.largeMolecules = full ? 1000000 : 40000;
  files.compressBytes = full ? std::size_t{32} << 20 : std::size_t{1} << 16;
  files.setup = files.folder + "/m.Tavosetup";
  files.movie = files.folder + "/m.Tavomovie";
  files.gzip = files.movie + ".gz";
  files.zst = files.folder + "/c.zst";
  files.largeSetup = files.folder + "/large.Tavosetup";
  files.large = files.folder + "/large.Tavomovie";
}

// The movie of many frames, gzipped by gzip and compressed by tavo
// compress's writer as the command drives it.
void needMovies() {
  static bool made = false;
  if (made) return;
  made = true;
  writeSetup(files.setup, files.molecules);
  writeMovie(files.movie, files.molecules, files.frames);
  if (!run("gzip -1 -kf " + files.movie)) std::abort();
  tavo::Movie movie(files.setup, files.movie);
  using tavo::formats::SeekableWriter;
  SeekableWriter w(SeekableWriter::Format::zstdSeekable,
                   SeekableWriter::defaultLevel(SeekableWriter::Format::zstdSeekable));
  std::vector<char> text(static_cast<std::size_t>(movie.fileBytes()));
  movie.readText(0, text.data(), text.size());
  for (std::size_t k = 0; k < movie.size(); ++k) {
    auto from = static_cast<std::size_t>(movie.offset(k));
    auto to =
        static_cast<std::size_t>(k + 1 < movie.size() ? movie.offset(k + 1) : movie.fileBytes());
    w.add(std::string_view(text.data() + from, to - from), true);
  }
  w.finish();
  std::FILE* f = std::fopen(files.zst.c_str(), "wb");
  std::fwrite(w.ready().data(), 1, w.ready().size(), f);
  std::fclose(f);
}

void needLarge() {
  static bool made = false;
  if (made) return;
  made = true;
  writeSetup(files.largeSetup, files.largeMolecules);
  writeMovie(files.large, files.largeMolecules, 2);
}

void IndexTool(benchmark::State& state, const char* tool, const std::string* path) {
  needMovies();
  for (auto _ : state)
    if (!run(std::string(tool) + " -dc " + *path + " > /dev/null")) state.SkipWithError("failed");
}
void IndexMovie(benchmark::State& state, const std::string* path) {
  needMovies();
  std::size_t memory = 0;
  std::int64_t text = 0;
  for (auto _ : state) {
    tavo::Movie movie(files.setup, *path);
    memory = movie.accessMemory();
    text = movie.fileBytes();
  }
  state.counters["checkpoint_memory_percent"] =
      100.0 * static_cast<double>(memory) / static_cast<double>(text);
}
BENCHMARK_CAPTURE(IndexTool, GzipDc, "gzip", &files.gzip)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(IndexMovie, Gzip, &files.gzip)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(IndexTool, ZstdDc, "zstd", &files.zst)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(IndexMovie, SeekableZstd, &files.zst)->Unit(benchmark::kMillisecond);

// A random frame each time from a movie opened once; the idle cursors are
// spread over the file by the frames before.
void RandomFrame(benchmark::State& state, const std::string* path) {
  needMovies();
  const tavo::Movie movie(files.setup, *path);
  std::mt19937 rng(9);
  tavo::Frame frame;
  for (int warm = 0; warm < 2; ++warm) movie.read(rng() % movie.size(), frame);
  for (auto _ : state) movie.read(rng() % movie.size(), frame);
}
BENCHMARK_CAPTURE(RandomFrame, Plain, &files.movie)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RandomFrame, Gzip, &files.gzip)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RandomFrame, SeekableZstd, &files.zst)->Unit(benchmark::kMillisecond);

class Rows final : public tavo::detail::FrameSink {
 public:
  double* coordinates(int, int count) override {
    xyz.resize(3 * static_cast<std::size_t>(count));
    return xyz.data();
  }
  std::vector<double> xyz;
};

void LargeFrameOneThread(benchmark::State& state) {
  needLarge();
  const bool wideBefore = tavo::detail::useWideNumbers(state.range(0) != 0);
  const tavo::Movie movie(files.largeSetup, files.large);
  const int fd = ::open(files.large.c_str(), O_RDONLY);
  std::vector<char> window;
  Rows rows;
  const int slots[] = {files.largeMolecules};
  for (int warm = 0; warm < 2; ++warm) {  // buffers grown, pages touched
    tavo::detail::MovieInput in(fd, movie.offset(1), window, files.large.c_str());
    tavo::detail::readFrame(in, slots, rows);
  }
  for (auto _ : state) {
    tavo::detail::MovieInput in(fd, movie.offset(1), window, files.large.c_str());
    tavo::detail::readFrame(in, slots, rows);
  }
  ::close(fd);
  tavo::detail::useWideNumbers(wideBefore);
}
// wide:0 is the byte-wise number reading, the parse as it was before the
// 16-byte one.
BENCHMARK(LargeFrameOneThread)->ArgName("wide")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void LargeFrameRead(benchmark::State& state) {
  needLarge();
  const tavo::Movie movie(files.largeSetup, files.large);
  tavo::Frame frame;
  for (int warm = 0; warm < 2; ++warm) movie.read(1, frame);
  for (auto _ : state) movie.read(1, frame);
}
BENCHMARK(LargeFrameRead)->Unit(benchmark::kMillisecond);

void Compress(benchmark::State& state, tavo::formats::SeekableWriter::Format format) {
  needMovies();
  const tavo::Movie movie(files.setup, files.movie);
  std::vector<char> text(
      std::min<std::size_t>(static_cast<std::size_t>(movie.fileBytes()), files.compressBytes));
  text.resize(movie.readText(0, text.data(), text.size()));
  std::size_t size = 0;
  for (auto _ : state) {
    tavo::formats::SeekableWriter w(format, static_cast<int>(state.range(0)));
    w.add(std::string_view(text.data(), text.size()), true);
    w.finish();
    size = w.ready().size();
  }
  state.counters["ratio"] = static_cast<double>(text.size()) / static_cast<double>(size);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK_CAPTURE(Compress, Zstd, tavo::formats::SeekableWriter::Format::zstdSeekable)
    ->Arg(1)
    ->Arg(3)
    ->Arg(9)
    ->Arg(19)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Compress, Bgzf, tavo::formats::SeekableWriter::Format::bgzf)
    ->Arg(1)
    ->Arg(6)
    ->Arg(9)
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  bool full = false;
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--full") == 0) {
      full = true;
      for (int j = i; j + 1 < argc; ++j) argv[j] = argv[j + 1];
      --argc;
      break;
    }
  chooseFiles(full);
  return tavo::bench::runBenchmarks(argc, argv, [] { run("rm -rf " + files.folder); });
}
