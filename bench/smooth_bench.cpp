// Benchmark of the smoothing kernels on one 1920x1080 frame of synthetic
// photographic content plus noise: the reference, every vector kernel this
// processor runs, the dispatcher's choice and a memcpy of the frame, timed
// in interleaved rounds (each round runs every variant once, in a rotating
// order), so that all ratios come from the same run and a busy machine
// slows every variant alike. Prints the median time per frame, megapixels
// per second, the speed-up over the reference and the time relative to
// memcpy.
//
// Usage: velbrin_bench [--rounds N] [--ref-rounds N] [--size WxH]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/kernels/smooth.h"
#include "engine/kernels/smooth_kernels.h"
#include "tests/support/frame_content.h"

namespace {

struct Variant {
  std::string name;
  SmoothKernel kernel;  // unused for memcpy
  enum Kind { kKernel, kDispatch, kMemcpy } kind;
  int rounds;
  std::vector<double> ms;
};

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 31, ref_rounds = 5, w = 1920, h = 1080;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--rounds") && i + 1 < argc) rounds = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--ref-rounds") && i + 1 < argc) ref_rounds = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--size") && i + 1 < argc) std::sscanf(argv[++i], "%dx%d", &w, &h);
  }
  if (rounds < 1 || ref_rounds < 1 || ref_rounds > rounds || w < 1 || h < 1) {
    std::fprintf(stderr, "bad arguments\n");
    return 2;
  }

  const size_t pixels = static_cast<size_t>(w) * static_cast<size_t>(h);
  std::vector<uint32_t> src(pixels), dst(pixels);
  TestRng rng(2024);
  for (int i = 0; i < h; ++i)
    for (int j = 0; j < w; ++j) src[static_cast<size_t>(i) * w + j] = photo_pixel(i, j, w, h, 6, rng);
  const SmoothFrame frame{src.data(), dst.data(), w, h, w};

  SmoothKernel supported[8];
  const int n = smooth_kernels_supported(supported, 8);
  std::vector<Variant> variants;
  for (int i = 0; i < n; ++i) {
    const bool reference = supported[i].fast == nullptr;
    variants.push_back({reference ? "c (reference)" : supported[i].name, supported[i], Variant::kKernel,
                        reference ? ref_rounds : rounds, {}});
  }
  variants.push_back({"smooth_frame (dispatch)", {}, Variant::kDispatch, rounds, {}});
  variants.push_back({"memcpy", {}, Variant::kMemcpy, rounds, {}});

  struct Setting {
    const char* label;
    SmoothParams s;
  };
  Setting settings[2] = {{"Level 100, Dynamic 5", {}}, {"Level 400, Dynamic 10, Show noise", {}}};
  settings[0].s.level = 100;
  settings[0].s.dynamic = 5;
  settings[1].s.level = 400;
  settings[1].s.dynamic = 10;
  settings[1].s.show_noise = 1;

  std::printf("velbrin_bench: %dx%d frame, synthetic photograph plus noise, %d-bit build, %d rounds (reference %d)\n", w, h,
              static_cast<int>(8 * sizeof(void*)), rounds, ref_rounds);
  for (const Setting& st : settings) {
    for (Variant& v : variants) v.ms.clear();
    auto run = [&](const Variant& v) {
      if (v.kind == Variant::kMemcpy) std::memcpy(dst.data(), src.data(), pixels * 4);
      else if (v.kind == Variant::kDispatch) smooth_frame(frame, st.s);
      else smooth_frame_with(v.kernel, frame, st.s);
    };
    for (const Variant& v : variants) run(v);  // warm-up
    for (int r = 0; r < rounds; ++r)
      for (size_t k = 0; k < variants.size(); ++k) {
        Variant& v = variants[(k + static_cast<size_t>(r)) % variants.size()];
        if (r >= v.rounds) continue;
        const auto t0 = std::chrono::steady_clock::now();
        run(v);
        const auto t1 = std::chrono::steady_clock::now();
        v.ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
      }
    const double ref_ms = median(variants[0].ms);
    const double copy_ms = median(variants.back().ms);
    std::printf("\nsettings: %s\n", st.label);
    std::printf("%-26s %10s %10s %14s %14s\n", "variant", "ms/frame", "MP/s", "vs reference", "vs memcpy");
    for (const Variant& v : variants) {
      const double ms = median(v.ms);
      std::printf("%-26s %10.3f %10.1f %13.1fx %13.1fx\n", v.name.c_str(), ms, static_cast<double>(pixels) / ms / 1000.0,
                  ref_ms / ms, ms / copy_ms);
    }
  }
  return 0;
}
