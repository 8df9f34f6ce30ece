// Guarded frames for the host-interface cases (see host_frames.h).
#include "tests/support/host_frames.h"

#include "engine/kernels/smooth.h"
#include "tests/support/frame_content.h"

VFBitmap bitmap_of(const GuardedFrame& f) {
  VFBitmap b{};
  b.data = f.row0();
  b.depth = 32;
  b.w = f.width();
  b.h = f.height();
  b.pitch = f.stride() * 4;
  b.modulo = (f.stride() - f.width()) * 4;
  return b;
}

void fill_picture(GuardedFrame& f, uint64_t seed) {
  f.fill_all(seed);
  TestRng rng(seed);
  for (int i = 0; i < f.height(); ++i)
    for (int j = 0; j < f.width(); ++j)
      f.at(i, j) = i % 5 == 3 ? rng.u32() : photo_pixel(i, j, f.width(), f.height(), 9, rng);
}

std::vector<uint32_t> reference_output(const GuardedFrame& src, const FilterSettings& settings) {
  const int w = src.width(), h = src.height();
  std::vector<uint32_t> in = src.pixels(), out(in.size(), 0);
  smooth_frame_c(SmoothFrame{in.data(), out.data(), w, h, w},
                 SmoothParams{settings.level, settings.dynamic, settings.showNoise, settings.disable});
  return out;
}

std::vector<uint32_t> passed_through(const GuardedFrame& src) {
  std::vector<uint32_t> out = src.pixels();
  for (uint32_t& px : out) px &= 0x00FFFFFFu;
  return out;
}

long first_difference(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  if (a.size() != b.size()) return 0;
  for (size_t k = 0; k < a.size(); ++k)
    if (a[k] != b[k]) return long(k);
  return -1;
}
