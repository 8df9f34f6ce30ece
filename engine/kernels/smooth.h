// The smoothing kernel's interface. It knows nothing of the host: it takes
// plain pixel pointers, the frame's size, one row stride (in pixels) shared
// by source and destination, and the settings record.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/filter_settings.h"

struct SmoothFrame {
  const uint32_t* src;  // row 0 at src[0]; row i at src[i * stride]
  uint32_t* dst;        // same geometry as src
  int width;
  int height;
  ptrdiff_t stride;  // in pixels, may be negative (rows stored bottom-up)
};

// The plain reference: one pixel at a time, exactly as the algorithm reads.
// Every faster kernel must produce the same bytes for every input.
// Level and Dynamic are read once at the start; showNoise and disable are
// read for each pixel. Nothing is done for a width or height below 1.
void smooth_frame_c(const SmoothFrame& frame, const FilterSettings* settings);

// Row stride in pixels from the width and the modulo in bytes: the modulo is
// shifted right arithmetically by two, so a negative modulo rounds down.
inline ptrdiff_t smooth_stride(int width, ptrdiff_t modulo) { return ptrdiff_t{width} + (modulo >> 2); }

// The kernel the run procedure uses: the fastest one this processor runs,
// producing the same bytes as smooth_frame_c.
void smooth_frame(const SmoothFrame& frame, const FilterSettings* settings);
