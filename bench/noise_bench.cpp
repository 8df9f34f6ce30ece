// What Auto adds to a frame against the filter's own cost on it (1920x1080
// unless --size says otherwise), all on one thread: the whole of it (the
// noise measurement, the rule and the check of the Level on strips), the
// measurement alone, and the fastest kernel at Level 210 and Dynamic 8 (a
// setting --auto gives for noise of deviation 10), timed in alternating
// rounds so that a busy machine slows them alike. Prints each one's median
// time and Auto's ratio to the filter, which must stay at most 0.2.
//
// Usage: velbrin_noise_bench [--rounds N] [--size WxH]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/kernels/smooth.h"
#include "engine/strength/frame_strength.h"
#include "engine/strength/noise_measure.h"
#include "tests/support/frame_content.h"

namespace {

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

template <typename Body>
double milliseconds(Body body) {
  const auto t0 = std::chrono::steady_clock::now();
  body();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 31, w = 1920, h = 1080;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--size") == 0 && std::sscanf(argv[i + 1], "%dx%d", &w, &h) != 2) return 2;
  }
  std::vector<uint32_t> src(size_t(w) * size_t(h)), dst(src.size());
  TestRng rng(2024);
  for (int i = 0; i < h; ++i)
    for (int j = 0; j < w; ++j) src[size_t(i) * size_t(w) + size_t(j)] = photo_pixel(i, j, w, h, 17, rng);
  const SmoothFrame frame{src.data(), dst.data(), w, h, w};
  const SmoothParams params{210, 8, 0, 0};
  std::vector<double> filter_ms, measure_ms, auto_ms;
  volatile int sink = 0;
  FrameStrength strength;
  for (int r = 0; r < rounds; ++r) {
    filter_ms.push_back(milliseconds([&] { smooth_frame(frame, params); }));
    measure_ms.push_back(milliseconds([&] { sink = sink + measure_noise(src.data(), w, h, ptrdiff_t{w} * 4).sigma_q8; }));
    auto_ms.push_back(milliseconds([&] { strength = strength_of_frame(src.data(), w, h, ptrdiff_t{w} * 4); }));
  }
  const double f = median(filter_ms), m = median(measure_ms), a = median(auto_ms);
  std::printf("%dx%d, %d rounds, one thread: filter %.3f ms; Auto %.3f ms (noise measurement %.3f ms, sigma %.2f, "
              "Level %d of the rule's %d); Auto against the filter %.3f, the measurement alone %.3f "
              "(each at most 0.2)\n",
              w, h, rounds, f, a, m, strength.noise.sigma, strength.settings.level, strength.rule.level, a / f, m / f);
  return 0;
}
