// The frei0r plug-in's update against the VirtualDub module's run procedure
// on the same 1080p frame (unless --size names another) with the same
// threads: the plug-in loaded with dlopen as a host loads it, the run
// procedure linked in as velbrin_bench runs it. Interleaved rounds, medians;
// the plug-in's figure includes what it adds to the kernel (the frame run
// bottom row first, alpha kept), and the in-place update its copy of the
// input as well.
//
// Usage: velbrin_frei0r_bench PLUGIN.so [--rounds N] [--size WxH]
#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/band_pool.h"
#include "engine/filter_settings.h"
#include "engine/run_proc.h"
#include "tests/support/frame_content.h"

namespace {

using Construct = void* (*)(unsigned, unsigned);
using Destruct = void (*)(void*);
using Update = void (*)(void*, double, const uint32_t*, uint32_t*);
using Init = int (*)();
using Deinit = void (*)();

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 31, w = 1920, h = 1080;
  bool bad = argc < 2;
  for (int i = 2; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--rounds") && i + 1 < argc) rounds = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--size") && i + 1 < argc) bad |= std::sscanf(argv[++i], "%dx%d", &w, &h) != 2;
    else bad = true;
  }
  if (bad || rounds < 1 || w < 1 || h < 1) {
    std::fprintf(stderr, "usage: velbrin_frei0r_bench PLUGIN.so [--rounds N] [--size WxH]\n");
    return 2;
  }
  void* plugin = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (plugin == nullptr) {
    std::fprintf(stderr, "%s\n", dlerror());
    return 1;
  }
  const auto init = reinterpret_cast<Init>(dlsym(plugin, "f0r_init"));
  const auto deinit = reinterpret_cast<Deinit>(dlsym(plugin, "f0r_deinit"));
  const auto construct = reinterpret_cast<Construct>(dlsym(plugin, "f0r_construct"));
  const auto destruct = reinterpret_cast<Destruct>(dlsym(plugin, "f0r_destruct"));
  const auto update = reinterpret_cast<Update>(dlsym(plugin, "f0r_update"));
  if (!init || !deinit || !construct || !destruct || !update || init() != 1) return 1;
  band_pool_start();  // this process's own pool, for RunProc, as the module's Init opens it

  const size_t pixels = size_t(w) * size_t(h);
  std::vector<uint32_t> src(pixels), dst(pixels), frame(pixels);
  TestRng rng(2024);
  for (int i = 0; i < h; ++i)
    for (int j = 0; j < w; ++j) src[size_t(i) * size_t(w) + size_t(j)] = photo_pixel(i, j, w, h, 6, rng);

  // The host's view of the frame for the run procedure, Level 100, Dynamic 5
  // as the plug-in's defaults.
  VFBitmap src_bitmap{}, dst_bitmap{};
  src_bitmap.data = src.data();
  src_bitmap.w = w;
  src_bitmap.h = h;
  src_bitmap.pitch = ptrdiff_t{w} * 4;
  dst_bitmap = src_bitmap;
  dst_bitmap.data = dst.data();
  FilterSettings record{};
  record.level = kDefaultLevel;
  record.dynamic = kDefaultDynamic;
  FilterActivation fa{};
  fa.filter_data = &record;
  fa.src = &src_bitmap;
  fa.dst = &dst_bitmap;
  void* inst = construct(unsigned(w), unsigned(h));

  const char* names[3] = {"RunProc (module)", "f0r_update", "f0r_update in place"};
  std::vector<double> ms[3];
  auto run = [&](int k) {
    if (k == 0) RunProc(&fa, nullptr);
    else if (k == 1) update(inst, 0, src.data(), dst.data());
    else {
      std::memcpy(frame.data(), src.data(), pixels * 4);  // not timed below: only the update is
      const auto t0 = std::chrono::steady_clock::now();
      update(inst, 0, frame.data(), frame.data());
      return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    }
    return 0.0;
  };
  for (int k = 0; k < 3; ++k) run(k);  // warm-up, and both pools started
  for (int r = 0; r < rounds; ++r)
    for (int n = 0; n < 3; ++n) {
      const int k = (n + r) % 3;
      const auto t0 = std::chrono::steady_clock::now();
      const double inner = run(k);
      const auto t1 = std::chrono::steady_clock::now();
      ms[k].push_back(k == 2 ? inner : std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
  std::printf("frei0r plug-in vs the module's run procedure: %dx%d, Level 100 Dynamic 5, %d threads, median of %d rounds\n",
              w, h, band_pool_threads(), rounds);
  const double base = median(ms[0]);
  for (int k = 0; k < 3; ++k)
    std::printf("  %-22s %8.3f ms  %5.2fx RunProc's time\n", names[k], median(ms[k]), median(ms[k]) / base);
  destruct(inst);
  deinit();
  band_pool_stop();
  dlclose(plugin);
  return 0;
}
