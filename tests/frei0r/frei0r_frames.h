// What the frei0r plug-in must make of a frame, for the tests that load it
// themselves and for those that run it in real hosts: the VirtualDub host's
// view of the same picture (bottom row first) through the reference kernel,
// with the input's alpha in byte 3.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/kernels/smooth.h"
#include "tests/support/frame_content.h"

namespace frei0r_test {

struct Settings {
  int level = 100;
  int dynamic = 5;
  bool show_noise = false;
  bool disable = false;
};

// Top row first, as frei0r stores it.
inline std::vector<uint32_t> expected_output(const std::vector<uint32_t>& in, int w, int h, const Settings& s) {
  std::vector<uint32_t> out(in.size());
  const ptrdiff_t last = ptrdiff_t{h - 1} * w;
  smooth_frame_c(SmoothFrame{in.data() + last, out.data() + last, w, h, -ptrdiff_t{w}},
                 SmoothParams{s.level, s.dynamic, s.show_noise, s.disable});
  for (size_t k = 0; k < in.size(); ++k) out[k] = (out[k] & 0x00FFFFFFu) | (in[k] & 0xFF000000u);
  return out;
}

// A photograph-like picture with noise and random alpha.
inline std::vector<uint32_t> picture(int w, int h, uint64_t seed) {
  std::vector<uint32_t> p;
  TestRng rng(seed);
  for (int i = 0; i < h; ++i)
    for (int j = 0; j < w; ++j) p.push_back(photo_pixel(i, j, w, h, 8, rng));
  return p;
}

}  // namespace frei0r_test
