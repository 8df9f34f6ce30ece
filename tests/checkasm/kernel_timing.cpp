// Timing for the checker's --bench: one 1920x1080 frame of synthetic
// photograph, each kernel run in interleaved rounds (so a busy machine slows
// them alike) and its median compared with the reference's. The benchmark in
// bench/ does the same with more variants and settings; this is the quick
// look after a change to one kernel.
#include "tests/checkasm/kernel_timing.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "engine/kernels/smooth.h"
#include "tests/support/frame_content.h"

namespace {

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

void time_kernels(const std::vector<SmoothKernel>& kernels) {
  constexpr int kWidth = 1920, kHeight = 1080, kRounds = 9, kReferenceRounds = 3;
  std::vector<uint32_t> src(size_t{kWidth} * kHeight), dst(src.size());
  TestRng rng(2024);
  for (int i = 0; i < kHeight; ++i)
    for (int j = 0; j < kWidth; ++j) src[size_t(i) * kWidth + size_t(j)] = photo_pixel(i, j, kWidth, kHeight, 6, rng);
  const SmoothFrame frame{src.data(), dst.data(), kWidth, kHeight, kWidth};
  const SmoothParams params{100, 5, 0, 0};

  // Row 0 is the reference; the dispatcher's entry runs smooth_frame itself.
  std::vector<std::vector<double>> ms(kernels.size() + 1);
  auto run = [&](size_t k) {
    const auto t0 = std::chrono::steady_clock::now();
    if (k == 0) smooth_frame_c(frame, params);
    else if (kernels[k - 1].fast == nullptr || std::strcmp(kernels[k - 1].name, "smooth_frame") == 0)
      smooth_frame(frame, params);
    else smooth_frame_with(kernels[k - 1], frame, params);
    ms[k].push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
  };
  for (int r = 0; r < kRounds; ++r)
    for (size_t k = 0; k < ms.size(); ++k)
      if (k != 0 || r < kReferenceRounds) run(k);
  const double reference = median(ms[0]);
  std::printf("\nbench: %dx%d, Level 100, Dynamic 5, median of %d rounds (reference %d)\n", kWidth, kHeight, kRounds,
              kReferenceRounds);
  std::printf("%-14s %10s %12s\n", "kernel", "ms/frame", "vs reference");
  std::printf("%-14s %10.3f %11.1fx\n", "c", reference, 1.0);
  for (size_t k = 1; k < ms.size(); ++k)
    std::printf("%-14s %10.3f %11.1fx\n", kernels[k - 1].name, median(ms[k]), reference / median(ms[k]));
}
