// The reference smoothing kernel: a plain transcription of the filter, one
// pixel at a time, kept simple so that it can be checked by reading. Every
// faster kernel is tested against it bit for bit.
#include <cstdint>

#include "engine/kernels/smooth.h"
#include "engine/kernels/smooth_rules.h"

namespace {

struct Offset {
  int row;
  int col;
};

// The twelve pairs of opposite neighbours, first member then second member.
// Together they cover the 24 non-centre positions of the 5x5 window once.
constexpr Offset kPairs[12][2] = {
    {{-2, -2}, {+2, +2}}, {{-1, -2}, {+1, +2}}, {{0, -2}, {0, +2}},   {{-2, -1}, {+2, +1}},
    {{-1, -1}, {+1, +1}}, {{0, -1}, {0, +1}},   {{-2, 0}, {+2, 0}},   {{-1, 0}, {+1, 0}},
    {{+1, -2}, {-1, +2}}, {{+2, -2}, {-2, +2}}, {{+1, -1}, {-1, +1}}, {{+2, -1}, {-2, +1}},
};

// Neighbour coordinate along one axis of length n. The near side falls back
// one position earlier than the far side: offset -2 needs i > 2 (so i = 2
// uses itself, not 0), offset -1 needs i > 1; offset +k needs i < n - k.
int clamp_axis(int i, int offset, int n) {
  if (offset < 0) return i > -offset ? i + offset : i;
  if (offset > 0) return i < n - offset ? i + offset : i;
  return i;
}

int channel(uint32_t pixel, int index) { return static_cast<int>((pixel >> (8 * index)) & 0xFF); }

int clamp_byte(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

}  // namespace

void smooth_frame_c(const SmoothFrame& frame, const SmoothParams& params) {
  const int w = frame.width;
  const int h = frame.height;
  if (w <= 0 || h <= 0) return;

  // Level and Dynamic are taken once per frame; switches that are followed
  // live are read again for every pixel, fixed ones once.
  const PairTolerance tolerance(params.level, params.dynamic);
  const bool followed = params.live_show_noise != nullptr || params.live_disable != nullptr;
  SmoothSwitches sw = current_switches(params);
  const ptrdiff_t stride = frame.stride;

  for (int i = 0; i < h; ++i) {
    for (int j = 0; j < w; ++j) {
      const uint32_t centre = frame.src[i * stride + j];
      const int y0 = brightness_key(centre);
      int sum[3] = {channel(centre, 0), channel(centre, 1), channel(centre, 2)};
      int count = 1;

      for (const auto& pair : kPairs) {
        const uint32_t a =
            frame.src[clamp_axis(i, pair[0].row, h) * stride + clamp_axis(j, pair[0].col, w)];
        const uint32_t z =
            frame.src[clamp_axis(i, pair[1].row, h) * stride + clamp_axis(j, pair[1].col, w)];
        const int ya = brightness_key(a);
        const int yz = brightness_key(z);
        const int64_t t = tolerance.of_pair(ya, yz);
        if (abs_diff(y0, ya) < t) {
          for (int c = 0; c < 3; ++c) sum[c] += channel(a, c);
          ++count;
        }
        if (abs_diff(y0, yz) < t) {
          for (int c = 0; c < 3; ++c) sum[c] += channel(z, c);
          ++count;
        }
      }

      if (followed) sw = current_switches(params);
      uint32_t out = params.keep_alpha ? centre & 0xFF000000u : 0;
      for (int c = 0; c < 3; ++c) {
        const int own = channel(centre, c);
        const int avg = sum[c] / count;
        int v = sw.show_noise ? 10 * (avg - own) + 127 : avg;
        if (sw.disable) v = own;
        out |= static_cast<uint32_t>(clamp_byte(v)) << (8 * c);
      }
      frame.dst[i * stride + j] = out;
    }
  }
}
