// 8-bit planar YUV to host frames (BGRX words), for inputs on their way to
// the filter when the output is lossy.
//
// Integer arithmetic only, so the result is the same on every processor
// whatever code the compiler makes of it. Each pixel takes its own luma and
// the chroma sample that covers it (repeated, not interpolated: the way
// back averages the pixels a sample covers, which gives that sample back),
// through the matrix with 13 fractional bits, rounded to nearest; byte 3 is
// 255. The way back (rgb_to_yuv.h) then gives every sample whose colour lies
// inside the RGB cube back exactly. libyuv works with 6 fractional bits
// (48 dB instead of 65 in a round trip of a 1080p BT.709 clip), swscale's
// exact flags cost four times as much and round less well (44 dB); see
// docs/velbrin-speed.md.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "cli/media/av_helpers.h"

// The matrix and range of one YUV input in 13-bit fixed point. Every weight
// fits a signed 16-bit lane (at most 2.15 x 8192).
struct YuvToRgbMatrix {
  int32_t y_gain;    // of luma minus y_offset, in each of red, green, blue
  int32_t y_offset;  // 16 for limited range, 0 for full
  int32_t rv;        // red from Cr - 128
  int32_t gu, gv;    // green from Cb - 128 and Cr - 128 (both negative)
  int32_t bu;        // blue from Cb - 128
};

// The matrix of a colour space and range; none for a space it does not know.
std::optional<YuvToRgbMatrix> yuv_to_rgb_matrix(AVColorSpace space, bool full_range);

// The picture to convert: three planes, top row first, and the chroma
// subsampling as powers of two (0 or 1 each; 4:2:0 is 1, 1).
struct YuvSource {
  const uint8_t* data[3];
  ptrdiff_t pitch[3];
  int log2_chroma_w;
  int log2_chroma_h;
};

// The plain statement of the conversion, one pixel at a time: what the quick
// one must give bit for bit. `top` is the picture's top row, `pitch` the step
// in words from one picture row to the next one down (negative for the
// host's bottom-up frames).
void yuv_to_rgb_reference(const YuvSource& in, int width, int height, const YuvToRgbMatrix& m, uint32_t* top,
                          ptrdiff_t pitch);

// The same result with AVX2 where the processor has it, 16 pixels at a time.
class YuvToRgb {
 public:
  // With true, AVX2 is not used (for VELBRIN_CPU_MASK=c and the tests).
  static void use_plain_code(bool plain);
  static void convert(const YuvSource& in, int width, int height, const YuvToRgbMatrix& m, uint32_t* top,
                      ptrdiff_t pitch);
};
