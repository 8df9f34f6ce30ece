// Many host threads at once, as a host that filters several frames
// concurrently: each thread has its own instance with its own settings and
// runs frames of random sizes (below and above the size at which the module
// shares a frame among its threads) through the run procedure; every output
// is compared with the reference. Between rounds the module is deinitialised,
// unloaded and loaded again. Built in every native preset; the native-tsan
// preset runs it under ThreadSanitizer.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "dialog/control_writes.h"
#include "engine/band_split.h"
#include "engine/kernels/smooth.h"
#include "tests/support/fake_registration_host.h"
#include "tests/support/frame_support.h"

namespace {

using namespace velbrin_test;

constexpr int kRounds = 3;
constexpr int kHostThreads = 6;
constexpr int kFramesPerThread = 4;

// The module loaded with dlopen and registered with the fake host; at the
// end of its scope deinitialised (which joins the band pool) and unloaded.
struct LoadedNativeModule {
  LoadedNativeModule() {
    handle = dlopen(VELBRIN_NATIVE_MODULE, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return;
    auto init = reinterpret_cast<FilterModuleInitProc>(dlsym(handle, "VirtualdubFilterModuleInit2"));
    deinit = reinterpret_cast<FilterModuleDeinitProc>(dlsym(handle, "VirtualdubFilterModuleDeinit"));
    g_fake_host = FakeRegistrationHost{};
    ff.addFilter = fake_add_filter;
    ff.removeFilter = fake_remove_filter;
    int version = 0, compatible = 0;
    if (init != nullptr && deinit != nullptr && init(&fm, &ff, version, compatible) == 0 && !g_fake_host.added.empty())
      def = g_fake_host.added.at(0);
  }
  ~LoadedNativeModule() {
    if (def != nullptr) deinit(&fm, &ff);
    if (handle != nullptr) {
      EXPECT_EQ(dlclose(handle), 0);
    }
  }
  void* handle = nullptr;
  FilterModuleDeinitProc deinit = nullptr;
  FilterModule fm{};
  FilterFunctions ff{};
  FilterDefinition* def = nullptr;
};

struct HostThreadResult {
  int frames = 0;
  std::vector<std::string> failures;
};

// One host thread: its own instance record, settings given through the
// script command (Level, Dynamic) and the record (Show noise, Disable).
void host_thread(FilterDefinition* def, FilterFunctions* ff, unsigned seed, HostThreadResult* result) {
  std::mt19937 rng(seed);
  std::vector<unsigned char> record(size_t(def->inst_data_size), 0xCD);
  FilterActivation fa{};
  fa.filter = def;
  fa.filter_data = record.data();
  if (def->initProc(&fa, ff) != 0) {
    result->failures.push_back("initProc failed");
    return;
  }
  CScriptValue argv[2] = {};
  argv[0].type = argv[1].type = kScriptInt;
  argv[0].value.i = int(rng() % 500);
  argv[1].value.i = int(rng() % 13) - 1;
  def->script_obj->functions[0].func(nullptr, &fa, argv, 2);
  FilterSettings& settings = *reinterpret_cast<FilterSettings*>(record.data());
  settings.showNoise = rng() % 4 == 0;
  settings.disable = rng() % 8 == 0;

  for (int n = 0; n < kFramesPerThread; ++n) {
    // Every other frame is large enough to be shared among threads.
    const bool large = n % 2 == 0;
    const int w = large ? 400 + int(rng() % 200) : 1 + int(rng() % 120);
    const int h = large ? kBandMinPixels / 400 + 1 + int(rng() % 60) : 1 + int(rng() % 40);
    TestFrame src(w, h, int(rng() % 5), rng() % 2 == 0);
    for (int i = 0; i < h; ++i)
      for (int j = 0; j < w; ++j) src.at(i, j) = rng() % 3 ? grey(100 + int(rng() % 40)) : uint32_t(rng());
    TestFrame dst(w, h, src.pad, src.bottom_up), want(w, h, src.pad, src.bottom_up);
    smooth_frame_c(SmoothFrame{src.row0(), want.row0(), w, h, src.pitch_words()},
                   SmoothParams{settings.level, settings.dynamic, settings.showNoise, settings.disable});
    VFBitmap sb = bitmap_of(src), db = bitmap_of(dst);
    fa.src = &sb;
    fa.dst = &db;
    if (def->runProc(&fa, ff) != 0) result->failures.push_back("runProc failed");
    if (dst.pixels() != want.pixels() || !dst.padding_untouched())
      result->failures.push_back("thread " + std::to_string(seed) + " frame " + std::to_string(n) + " " +
                                 std::to_string(w) + "x" + std::to_string(h) + " L=" + std::to_string(settings.level) +
                                 " D=" + std::to_string(settings.dynamic) + " differs from the reference");
    ++result->frames;
  }
}

TEST(ThreadStress, ManyHostThreadsThenDeinitAndReload) {
  for (int round = 0; round < kRounds; ++round) {
    // Different pool sizes per round: the variable is read when the pool starts.
    const char* threads[] = {"", "3", "2"};
    setenv("VELBRIN_THREADS", threads[round % 3], 1);
    LoadedNativeModule module;
    ASSERT_NE(module.def, nullptr);
    FilterDefinition* def = module.def;
    FilterFunctions& ff = module.ff;

    std::vector<HostThreadResult> results(kHostThreads);
    std::vector<std::thread> hosts;
    for (int t = 0; t < kHostThreads; ++t)
      hosts.emplace_back(host_thread, def, &ff, unsigned(round * 100 + t), &results[size_t(t)]);
    for (std::thread& t : hosts) t.join();
    for (const HostThreadResult& r : results) {
      EXPECT_EQ(r.frames, kFramesPerThread);
      for (const std::string& f : r.failures) ADD_FAILURE() << "round " << round << ": " << f;
    }

  }
  unsetenv("VELBRIN_THREADS");
}

// The dialog moves both sliders and flips both switches from its own thread,
// with its own writes (store_control), while the preview's frame runs on the
// band workers. A frame takes Level and Dynamic as they stand when it starts
// and follows the switches as it goes, so every frame is one of the four
// slider states with each pixel in one of the four switch states; under
// ThreadSanitizer the writer and the readers do not race.
TEST(ThreadStress, DialogChangesSettingsWhileBandsRun) {
  LoadedNativeModule module;
  ASSERT_NE(module.def, nullptr);
  FilterDefinition* def = module.def;
  FilterFunctions& ff = module.ff;
  std::vector<unsigned char> record(size_t(def->inst_data_size), 0);
  FilterActivation fa{};
  fa.filter = def;
  fa.filter_data = record.data();
  ASSERT_EQ(def->initProc(&fa, &ff), 0);
  FilterSettings& settings = *reinterpret_cast<FilterSettings*>(record.data());

  const int w = 640, h = kBandMinPixels / 640 + 40;  // shared among the band workers
  const int levels[2] = {100, 300}, dynamics[2] = {5, 1};
  std::mt19937 rng(7);
  TestFrame src(w, h), dst(w, h);
  for (int i = 0; i < h; ++i)
    for (int j = 0; j < w; ++j) src.at(i, j) = rng() % 3 ? grey(100 + int(rng() % 40)) : uint32_t(rng());
  std::vector<TestFrame> states;  // [slider state * 4 + switch state]
  for (int state = 0; state < 16; ++state) {
    states.emplace_back(w, h);
    smooth_frame_c(SmoothFrame{src.row0(), states.back().row0(), w, h, src.pitch_words()},
                   SmoothParams{levels[state >> 2 & 1], dynamics[state >> 3], state & 1, state >> 1 & 1});
  }
  std::atomic<bool> done{false};
  std::thread dialog([&] {
    for (unsigned n = 0; !done.load(); ++n) {
      store_control(settings, IDC_SHOWNOISE, int(n & 1));
      store_control(settings, IDC_DISABLE, int(n >> 1 & 1));
      store_control(settings, IDC_LEVEL, levels[n >> 2 & 1]);
      store_control(settings, IDC_DYNAMIC, dynamics[n >> 3 & 1]);
      std::this_thread::yield();
    }
  });
  VFBitmap sb = bitmap_of(src), db = bitmap_of(dst);
  fa.src = &sb;
  fa.dst = &db;
  for (int frame = 0; frame < 8; ++frame) {
    EXPECT_EQ(def->runProc(&fa, &ff), 0);  // no early return while the dialog's thread runs
    int fewest = w * h;  // pixels of this frame outside every switch state of the closest slider state
    for (int sliders = 0; sliders < 4; ++sliders) {
      int mismatches = 0;
      for (int i = 0; i < h; ++i)
        for (int j = 0; j < w; ++j) {
          bool one_of_them = false;
          for (int sw = 0; sw < 4; ++sw) one_of_them = one_of_them || dst.at(i, j) == states[size_t(sliders * 4 + sw)].at(i, j);
          mismatches += !one_of_them;
        }
      fewest = std::min(fewest, mismatches);
    }
    EXPECT_EQ(fewest, 0) << "frame " << frame;
  }
  done = true;
  dialog.join();
}

}  // namespace
