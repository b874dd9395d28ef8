// drawSource.h - the generator behind every random draw, and a seam through
// which tests replace it with scripted values. Not installed.
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

}  // namespace tavo::detail

#endif  // TAVO_SAMPLING_DRAWSOURCE_H
