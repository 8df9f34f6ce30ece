// How much noise a frame carries: the standard deviation of independent
// per-pixel, per-channel noise, on the 8-bit scale of the pixel values,
// measured from the frame alone.
//
// Texture and edges must not count as noise, or clean detailed pictures
// would be smoothed. The frame is cut into 16 x 16 blocks; in each, the
// channel differences B - G and R - G, where noise independent per channel
// stays and the texture shared by the channels cancels, go through the 3 x 3
// operator that cancels any locally planar picture (the outer product of
// [1 -2 1] with itself), and the block's mean absolute response is its
// noise reading. Texture and edges
// only ever raise a block's reading, so the blocks where the picture is
// flattest tell the noise: the readings of the lowest tenth of the blocks
// are averaged and scaled by what that average is for pure Gaussian noise.
// Blocks with many clipped values (0 or 255) are left out while enough
// others remain, since clipping hides noise. Large frames are sampled on
// a spread pattern of blocks, which keeps the cost to a small fraction of
// the filter's.
//
// Integer arithmetic throughout, so every machine and build gives the same
// result for the same pixels.
#pragma once

#include <cstddef>
#include <cstdint>

struct NoiseMeasure {
  int sigma_q8 = 0;    // sigma x 256, rounded: the exact result
  double sigma = 0;    // sigma_q8 / 256
  int blocks = 0;      // blocks measured (0: the frame is too small to tell)
  int flat_blocks = 0; // of them, the flattest ones whose readings were averaged
};

// `pixels` points at row 0; row i starts `pitch` bytes after row i - 1 (the
// pitch may be negative). Byte 3 of each pixel is ignored. Frames smaller
// than 18 x 18 have no whole block with its border: sigma 0, blocks 0.
NoiseMeasure measure_noise(const uint32_t* pixels, int width, int height, ptrdiff_t pitch);
