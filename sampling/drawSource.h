// drawSource.h - the generator behind every random draw, and the sampling
// module's test seams (scripted draws, the Gaussian table's built-in copy).
// Not installed.
#ifndef TAVO_SAMPLING_DRAWSOURCE_H
#define TAVO_SAMPLING_DRAWSOURCE_H

namespace tavo::detail {

constexpr int kDrawMax = 32767;  // draws are 15-bit values, 0..32767

// The next generator value, 0..kDrawMax. Every primitive draw calls it once.
int nextDraw();

// Replaces the generator by `source` (nullptr restores the generator). The
// source must return values in 0..kDrawMax.
using DrawSource = int (*)();
DrawSource setDrawSource(DrawSource source);

// Number of generator values consumed since the process started.
unsigned long long drawCount();

// With `enabled` false the Gaussian table is loaded from the working
// directory only, never from the library's compiled-in copy, so that a
// missing file can be tested.
void setGaussianTableFallbacks(bool enabled);

}  // namespace tavo::detail

#endif  // TAVO_SAMPLING_DRAWSOURCE_H
