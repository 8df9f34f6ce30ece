// Host frames (bottom-up BGRX words) to 8-bit planar YUV, for lossy
// outputs.
//
// Integer arithmetic only, so the result is the same on every processor
// whatever code the compiler makes of it. Each luma sample is one pixel
// through the matrix with 15 fractional bits; each chroma sample is the
// average of the pixels it covers (2x2 for 4:2:0, 2x1 for 4:2:2, the pixel
// itself for 4:4:4; at an odd right or bottom edge the last column or row
// counts twice). A box average is what undoes the nearest-neighbour chroma
// upsampling of the way in (yuv_to_rgb.h), so a round trip keeps chroma best.
// No library does this: libyuv goes back to YUV in BT.601 only, swscale
// costs five to six times as much at 1080p (see docs/velbrin-speed.md).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "cli/media/av_helpers.h"

// The matrix and range of one YUV output in 15-bit fixed point.
struct RgbToYuvMatrix {
  int32_t y[3];  // red, green, blue weights of luma
  int32_t u[3];  // of Cb; they sum to 0, so grey gives exactly 128
  int32_t v[3];  // of Cr; likewise
  int32_t y_offset;  // 16 for limited range, 0 for full
};

// The matrix of a colour space and range; none for a space it does not know.
std::optional<RgbToYuvMatrix> rgb_to_yuv_matrix(AVColorSpace space, bool full_range);

// Where the converted picture goes: three planes, top row first, and the
// chroma subsampling as powers of two (0 or 1 each; 4:2:0 is 1, 1).
struct YuvPlanes {
  uint8_t* data[3];
  ptrdiff_t pitch[3];
  int log2_chroma_w;
  int log2_chroma_h;
};

// The plain statement of the conversion, one sample at a time: what the
// quick one must give bit for bit. `top` is the picture's top row, `pitch`
// the step in words from one picture row to the next one down (negative
// for the host's bottom-up frames).
void rgb_to_yuv_reference(const uint32_t* top, ptrdiff_t pitch, int width, int height, const RgbToYuvMatrix& m,
                          const YuvPlanes& out);

// The same result a row pair at a time: 4:2:0 with AVX2 where the
// processor has it, the rest in loops the compiler vectorises. Keeps its
// scratch rows between calls.
class RgbToYuv {
 public:
  // With true, AVX2 is not used (for VELBRIN_CPU_MASK=c and the tests).
  static void use_plain_code(bool plain);
  void convert(const uint32_t* top, ptrdiff_t pitch, int width, int height, const RgbToYuvMatrix& m,
               const YuvPlanes& out);

 private:
  std::vector<int32_t> sum_[3];  // red, green, blue of the rows one chroma row covers
};
