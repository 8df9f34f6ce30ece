// Benchmark of the smoothing kernels on frames of synthetic photographic
// content plus noise (1920x1080 unless --size names others): the reference,
// every vector kernel this processor runs, the dispatcher's choice (one
// thread, as before the pool), the run procedure through an activation
// record with one thread and with every thread of the pool, and a memcpy of
// the frame, timed
// in interleaved rounds (each round runs every variant once, in a rotating
// order), so that all ratios come from the same run and a busy machine
// slows every variant alike. Prints the median time per frame, megapixels
// per second, the speed-up over the reference and the time relative to
// memcpy.
//
// Usage: velbrin_bench [--rounds N] [--ref-rounds N] [--size WxH[,WxH...]]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/band_pool.h"
#include "engine/band_split.h"
#include "engine/filter_settings.h"
#include "engine/run_proc.h"
#include "engine/kernels/smooth.h"
#include "engine/kernels/smooth_kernels.h"
#include "tests/support/frame_content.h"

namespace {

struct Variant {
  std::string name;
  SmoothKernel kernel;  // unused for memcpy
  enum Kind { kKernel, kDispatch, kSplitOne, kRunProc, kMemcpy } kind;
  int rounds;
  std::vector<double> ms;
};

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

void bench_size(int w, int h, int rounds, int ref_rounds) {
  const size_t pixels = static_cast<size_t>(w) * static_cast<size_t>(h);
  std::vector<uint32_t> src(pixels), dst(pixels);
  TestRng rng(2024);
  for (int i = 0; i < h; ++i)
    for (int j = 0; j < w; ++j) src[static_cast<size_t>(i) * w + j] = photo_pixel(i, j, w, h, 6, rng);
  const SmoothFrame frame{src.data(), dst.data(), w, h, w};
  // The host's view of the same frame, for the run procedure.
  VFBitmap src_bitmap{}, dst_bitmap{};
  src_bitmap.data = src.data();
  src_bitmap.w = w;
  src_bitmap.h = h;
  src_bitmap.pitch = static_cast<ptrdiff_t>(w) * 4;
  dst_bitmap = src_bitmap;
  dst_bitmap.data = dst.data();

  SmoothKernel supported[8];
  const int n = smooth_kernels_supported(supported, 8);
  std::vector<Variant> variants;
  for (int i = 0; i < n; ++i) {
    const bool reference = supported[i].fast == nullptr;
    variants.push_back({reference ? "c (reference)" : supported[i].name, supported[i], Variant::kKernel,
                        reference ? ref_rounds : rounds, {}});
  }
  variants.push_back({"smooth_frame (dispatch)", {}, Variant::kDispatch, rounds, {}});
  variants.push_back({"split, 1 thread", {}, Variant::kSplitOne, rounds, {}});
  variants.push_back({"RunProc, " + std::to_string(band_pool_threads()) + " threads", {}, Variant::kRunProc, rounds, {}});
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

  std::printf("\n=== %dx%d frame (%s the %d-pixel threshold for threads) ===\n", w, h,
              pixels < static_cast<size_t>(kBandMinPixels) ? "below" : "at or above", kBandMinPixels);
  for (Setting& st : settings) {
    for (Variant& v : variants) v.ms.clear();
    // The instance record the host would hand the run procedure.
    FilterSettings record{};
    record.level = st.s.level;
    record.dynamic = st.s.dynamic;
    record.showNoise = st.s.show_noise;
    FilterActivation fa{};
    fa.filter_data = &record;
    fa.src = &src_bitmap;
    fa.dst = &dst_bitmap;
    BandSplit one_thread;
    one_thread.max_threads = 1;
    auto run = [&](const Variant& v) {
      switch (v.kind) {
        case Variant::kMemcpy: std::memcpy(dst.data(), src.data(), pixels * 4); break;
        case Variant::kDispatch: smooth_frame(frame, st.s); break;
        case Variant::kSplitOne: smooth_frame_split(frame, st.s, one_thread); break;
        case Variant::kRunProc: RunProc(&fa, nullptr); break;
        case Variant::kKernel: smooth_frame_with(v.kernel, frame, st.s); break;
      }
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
    const double one_ms = median(variants[variants.size() - 3].ms);
    std::printf("\nsettings: %s\n", st.label);
    std::printf("%-26s %10s %10s %14s %14s %12s\n", "variant", "ms/frame", "MP/s", "vs reference", "vs memcpy",
                "vs 1 thread");
    for (const Variant& v : variants) {
      const double ms = median(v.ms);
      std::printf("%-26s %10.3f %10.1f %13.1fx %13.1fx %11.2fx\n", v.name.c_str(), ms,
                  static_cast<double>(pixels) / ms / 1000.0, ref_ms / ms, ms / copy_ms, one_ms / ms);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 31, ref_rounds = 5;
  std::vector<std::pair<int, int>> sizes;
  bool bad = false;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--rounds") && i + 1 < argc) rounds = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--ref-rounds") && i + 1 < argc) ref_rounds = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--size") && i + 1 < argc) {
      std::string list = argv[++i];
      for (size_t at = 0; at <= list.size();) {
        const size_t comma = std::min(list.find(',', at), list.size());
        int w = 0, h = 0;
        if (std::sscanf(list.substr(at, comma - at).c_str(), "%dx%d", &w, &h) != 2 || w < 1 || h < 1) bad = true;
        sizes.push_back({w, h});
        at = comma + 1;
      }
    } else bad = true;
  }
  if (sizes.empty()) sizes.push_back({1920, 1080});
  if (bad || rounds < 1 || ref_rounds < 1 || ref_rounds > rounds) {
    std::fprintf(stderr, "bad arguments\n");
    return 2;
  }
  band_pool_start();  // as the module's Init opens it
  std::printf("velbrin_bench: synthetic photograph plus noise, %d-bit build, %d rounds (reference %d), pool of %d threads\n",
              static_cast<int>(8 * sizeof(void*)), rounds, ref_rounds, band_pool_threads());
  for (const auto& [w, h] : sizes) bench_size(w, h, rounds, ref_rounds);
  band_pool_stop();
  return 0;
}
