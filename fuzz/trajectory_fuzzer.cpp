// trajectory_fuzzer.cpp - the movie index and frame reader on arbitrary
// bytes, against a plain token-by-token reading of the whole text with
// strtod (tests/trajectory/movieReference.h):
//   - the frames that reading accepts are indexed with the same byte, line,
//     step and live counts, and read back with the same bits;
//   - where it ends cleanly or in a partial frame the index ends there too,
//     with the same partial bytes, whether the file is indexed at once, in
//     pieces, or grown by an append;
//   - a step equal to or below the one before starts a new run;
//   - a coordinate that is not a number makes its frame's read throw;
//   - the same text gzipped (with a checkpoint every 64 bytes of text, so
//     that reads start from many) and zstd-compressed gives the same index
//     and frames, read back to front;
//   - nothing else is ever thrown but tavo::Error.
// The first byte chooses the setup: three species of 3, 1 and 5 slots, one
// of 2, or none.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include <zlib.h>
#include <zstd.h>

#include "formats/compressed.h"
#include "tests/trajectory/movieReference.h"
#include "trajectory/trajectory.h"

namespace {

using tavo::test::ReferenceMovie;

std::string g_path, g_packed;

void writeAll(const char* mode, std::string_view text, const std::string& path = g_path) {
  std::FILE* f = std::fopen(path.c_str(), mode);
  if (f == nullptr) __builtin_trap();
  if (!text.empty() && std::fwrite(text.data(), 1, text.size(), f) != text.size()) __builtin_trap();
  std::fclose(f);
}

using tavo::test::setupOf;

// Refreshes until the scan reaches the end; false when it threw.
bool indexAll(tavo::Movie& movie, std::int64_t budget) {
  try {
    int calls = 0;
    do {
      if (++calls > 5000) __builtin_trap();  // no progress
      movie.refresh(budget);
    } while (!movie.complete());
    return true;
  } catch (const tavo::Error&) {
    return false;
  }
}

// The text as one gzip member (zstd: one frame), made by the libraries.
std::string gzipped(std::string_view text) {
  z_stream z{};
  if (deflateInit2(&z, 6, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY) != Z_OK) __builtin_trap();
  std::string out(deflateBound(&z, static_cast<uLong>(text.size())) + 32, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  if (deflate(&z, Z_FINISH) != Z_STREAM_END) __builtin_trap();
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}
std::string zstdPacked(std::string_view text) {
  std::string out(ZSTD_compressBound(text.size()), '\0');
  std::size_t n = ZSTD_compress(out.data(), out.size(), text.data(), text.size(), 3);
  if (ZSTD_isError(n)) __builtin_trap();
  out.resize(n);
  return out;
}

bool sameIndex(const tavo::Movie& a, const tavo::Movie& b) {
  if (a.size() != b.size() || a.indexedBytes() != b.indexedBytes() ||
      a.partialBytes() != b.partialBytes())
    return false;
  for (std::size_t k = 0; k < a.size(); ++k)
    if (a.offset(k) != b.offset(k) || a.line(k) != b.line(k) || a.step(k) != b.step(k) ||
        a.counts(k) != b.counts(k))
      return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_path = "/tmp/tavo_trajectory_fuzz_" + std::to_string(getpid()) + ".Tavomovie";
  g_packed = g_path + ".packed";
  tavo::formats::setGzipCheckpointSpan(64);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  static const std::vector<int> kSetups[] = {{3, 1, 5}, {2}, {}};
  const std::vector<int>& slots = kSetups[data[0] % 3];
  const std::size_t split = data[1] % 64;  // where the file is cut for the growth check
  std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);
  const ReferenceMovie ref = tavo::test::referenceParse(text, slots);

  const std::size_t accepted = ref.frames.size();
  const bool exact = ref.end != ReferenceMovie::End::damaged;

  writeAll("wb", text);
  tavo::Movie movie(setupOf(slots), g_path, tavo::Movie::Indexing::later);
  const bool indexed = indexAll(movie, -1);
  if (movie.size() < accepted) __builtin_trap();
  if (exact) {
    if (!indexed || movie.size() != accepted || movie.indexedBytes() != ref.indexedBytes ||
        movie.partialBytes() != static_cast<std::int64_t>(text.size()) - ref.indexedBytes)
      __builtin_trap();
  }

  tavo::Frame frame;
  for (std::size_t k = 0; k < movie.size(); ++k) {
    bool read = true;
    try {
      movie.read(k, frame);
    } catch (const tavo::Error&) {
      read = false;
    }
    if (k >= accepted) {
      // The damaged frame itself, where the index has it, must not be read.
      if (k == accepted && read && ref.damagedNumber && movie.offset(k) == ref.indexedBytes)
        __builtin_trap();
      continue;
    }
    const tavo::test::ReferenceFrame& f = ref.frames[k];
    if (!read || movie.offset(k) != f.offset || movie.line(k) != f.line ||
        movie.step(k) != f.step || movie.counts(k) != f.counts || frame.step != f.step)
      __builtin_trap();
    for (std::size_t s = 0; s < slots.size(); ++s)
      if (!tavo::test::sameBits(frame.positions[s], f.positions[s])) __builtin_trap();
  }
  // Runs, where the index holds exactly the reference's frames.
  if (movie.size() == accepted) {
    std::size_t first = 0;
    const std::vector<tavo::Run> runs = movie.runs();
    for (std::size_t r = 0; r < runs.size(); ++r) {
      if (first >= accepted) __builtin_trap();
      std::size_t end = first + 1;
      while (end < accepted && ref.frames[end].step > ref.frames[end - 1].step) ++end;
      if (runs[r].firstFrame != first || runs[r].frames != end - first ||
          runs[r].firstStep != ref.frames[first].step ||
          runs[r].lastStep != ref.frames[end - 1].step)
        __builtin_trap();
      first = end;
    }
    if (first != accepted) __builtin_trap();
  }
  if (!exact) return 0;

  // Compressed, the same index and frames, read last first.
  for (const std::string& packed : {gzipped(text), zstdPacked(text)}) {
    writeAll("wb", packed, g_packed);
    tavo::Movie other(setupOf(slots), g_packed, tavo::Movie::Indexing::later);
    if (!indexAll(other, -1) || !sameIndex(movie, other)) __builtin_trap();
    for (std::size_t k = other.size(); k-- > 0;) {
      other.read(k, frame);
      for (std::size_t s = 0; s < slots.size(); ++s)
        if (!tavo::test::sameBits(frame.positions[s], ref.frames[k].positions[s])) __builtin_trap();
    }
  }

  // The same index in pieces of a few bytes, and grown by an append.
  tavo::Movie pieces(setupOf(slots), g_path, tavo::Movie::Indexing::later);
  if (!indexAll(pieces, static_cast<std::int64_t>(split)) || !sameIndex(movie, pieces))
    __builtin_trap();
  std::size_t cut = text.size() * split / 64;
  writeAll("wb", text.substr(0, cut));
  tavo::Movie grown(setupOf(slots), g_path);
  writeAll("ab", text.substr(cut));
  if (!indexAll(grown, -1) || grown.refresh() != 0 || !sameIndex(movie, grown)) __builtin_trap();
  return 0;
}
