// h5md.h - a movie as an H5MD file (HDF5, written with libhdf5), in the
// padded slot layout: every frame holds every slot of every species, in
// setup order, live molecules first. With F frames, N slots and S species:
//
//   /h5md                    version [1 1]; author/name; creator/name, version
//   /particles/all/position  value [F][N][3] float64, NaN in empty slots, with
//                            its length unit; step [F] int32; time [F] float64 (s)
//   /particles/all/box       dimension 3, boundary none none none
//   /particles/all/species   [N] int32: the species ID of each slot (constant)
//   /particles/all/alive     value [F][N] int8: 1 live, 0 empty; step, time
//   /observables/counts      value [F][S] int32: live molecules of each
//                            species; step, time
//   /parameters              the setup: temperature, viscosity, pH, total_step
//                            and time_step (s) as attributes; the species'
//                            name, size (scaled, with its unit), mass,
//                            diffusion (m2 s-1) and slots as datasets of
//                            /parameters/species
//
// The step and time of alive and counts are links to those of position.
// Frame data are chunked one frame a chunk and compressed (shuffle, gzip).
// Lengths are in metres multiplied by `scale`; the unit attribute names the
// result ("nm" for 1e9: MDAnalysis knows no metres). Nothing in the file
// depends on when it was written, so an export is reproducible byte for
// byte.
#ifndef TAVO_FORMATS_H5MD_H
#define TAVO_FORMATS_H5MD_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "formats/error.h"
#include "formats/setup.h"

namespace tavo::formats {

// Who made the file: H5MD's author and creator.
struct H5mdCreator {
  std::string author;   // the person (their login name)
  std::string program;  // "tavo"
  std::string version;
};

class H5mdWriter {
 public:
  // Whether this build can write H5MD (libhdf5 was found when it was built).
  static bool available();

  // Creates `path` (new or truncated) for `frames` frames of `setup`.
  // Throws Error naming the file, also when the build has no libhdf5.
  H5mdWriter(const std::string& path, const Setup& setup, std::size_t frames, double scale,
             const H5mdCreator& creator);
  ~H5mdWriter();  // closes an unfinished file; the caller removes it
  H5mdWriter(const H5mdWriter&) = delete;
  H5mdWriter& operator=(const H5mdWriter&) = delete;

  // Frame `i` (below `frames`): x y z of every slot in metres (NaN in empty
  // slots), 1 or 0 per slot, and the live molecules of each species.
  void write(std::size_t i, int step, double time, const double* positions,
             const std::uint8_t* alive, const std::vector<int>& counts);
  // Writes the steps and times and closes the file; throws Error when
  // anything could not be written (a full disk shows here).
  void close();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tavo::formats

#endif  // TAVO_FORMATS_H5MD_H
