// xyz.h - a frame as extended XYZ: the count line, the comment line
//   Properties=species:S:1:pos:R:3 step=<step> time=<seconds>
// and one line per live molecule: species name, x, y and z, every length
// multiplied by `scale`, in the shortest text that reads back as the same
// double.
#ifndef TAVO_FORMATS_XYZ_H
#define TAVO_FORMATS_XYZ_H

#include "formats/movie.h"
#include "formats/output.h"
#include "formats/setup.h"

namespace tavo::formats {

void writeXyzFrame(const Frame& frame, const Setup& setup, double scale, Output& out);

}  // namespace tavo::formats

#endif  // TAVO_FORMATS_XYZ_H
