// The frei0r plug-in as a host sees it: build/native/frei0r-1/velbrin.so
// loaded with dlopen and driven through its f0r_* entries alone. Frames are
// compared with the reference kernel run as the VirtualDub host runs it
// (bottom row first) with the input's alpha kept.
#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <stdlib.h>

#include <atomic>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "tests/frei0r/frei0r_frames.h"

extern "C" {
#include <frei0r.h>
}

namespace {

using namespace frei0r_test;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// One load of the plug-in: dlopen and f0r_init; f0r_deinit and dlclose at
// the end of its scope.
struct Plugin {
  void* handle = dlopen(VELBRIN_FREI0R_PLUGIN, RTLD_NOW | RTLD_LOCAL);
#define VELBRIN_ENTRY(name) \
  decltype(&::f0r_##name) name = handle ? reinterpret_cast<decltype(&::f0r_##name)>(dlsym(handle, "f0r_" #name)) : nullptr;
  VELBRIN_ENTRY(init) VELBRIN_ENTRY(deinit) VELBRIN_ENTRY(get_plugin_info) VELBRIN_ENTRY(get_param_info)
  VELBRIN_ENTRY(construct) VELBRIN_ENTRY(destruct) VELBRIN_ENTRY(set_param_value) VELBRIN_ENTRY(get_param_value)
  VELBRIN_ENTRY(update) VELBRIN_ENTRY(update2)
#undef VELBRIN_ENTRY
  bool inited = init && init() == 1;  // frei0r_plugin_exports checks that every entry is there

  bool ok() const { return inited && update2; }
  ~Plugin() {
    if (inited) deinit();
    if (handle) dlclose(handle);
  }
  void set(f0r_instance_t inst, int index, double v) { set_param_value(inst, &v, index); }
  double get(f0r_instance_t inst, int index) {
    double v = -7;  // left alone by a refused read
    get_param_value(inst, &v, index);
    return v;
  }
  std::vector<uint32_t> run(f0r_instance_t inst, const std::vector<uint32_t>& in) {
    std::vector<uint32_t> out(in.size(), 0x5A5A5A5Au);
    update(inst, 0.0, in.data(), out.data());
    return out;
  }
};

// Threads of this process now: the pool's workers show up here.
int process_threads() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/task")) {
    while (const dirent* e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
  }
  return n;
}

// The information hosts read, and the parameters' defaults: name, type,
// the host's scale named in the explanation, default.
TEST(Frei0rContract, PluginAndParameterInfo) {
  Plugin p;
  ASSERT_TRUE(p.ok()) << dlerror();
  f0r_plugin_info_t info{};
  p.get_plugin_info(&info);
  EXPECT_STREQ(info.name, "Velbrin");
  EXPECT_TRUE(info.plugin_type == F0R_PLUGIN_TYPE_FILTER && info.color_model == F0R_COLOR_MODEL_BGRA8888 &&
              info.frei0r_version == FREI0R_MAJOR_VERSION && info.num_params == 4 && info.explanation && info.author);
  const struct {
    const char *name, *scale;
    int type;
    double default_value;
  } kParams[] = {{"Level", "0.25 = Level 100 of 0..400", F0R_PARAM_DOUBLE, 0.25},
                 {"Dynamic", "0.5 = Dynamic 5 of 0..10", F0R_PARAM_DOUBLE, 0.5},
                 {"Show noise", "0.5", F0R_PARAM_BOOL, 0},
                 {"Disable", "0.5", F0R_PARAM_BOOL, 0}};
  f0r_instance_t inst = p.construct(8, 8);
  for (int k = 0; k < 4; ++k) {
    f0r_param_info_t pi{"", -1, ""};
    p.get_param_info(&pi, k);
    EXPECT_STREQ(pi.name, kParams[k].name);
    EXPECT_TRUE(pi.type == kParams[k].type && std::strstr(pi.explanation, kParams[k].scale)) << pi.explanation;
    EXPECT_EQ(p.get(inst, k), kParams[k].default_value) << pi.name;
  }
  p.destruct(inst);
}

// Every case: a fresh instance, the four values set in order, then NaN for
// each (which must change nothing); the values read back; the frame run
// with two buffers (the input left alone) and twice in place (f0r_update2).
TEST(Frei0rContract, FramesMatchTheHostWithAlphaKept) {
  const struct {
    int w, h;
    double set[4];
    Settings want;
  } kCases[] = {
      {1, 1, {0.25, 0.5, 0, 0}, {100, 5, false, false}},
      {1, 7, {1, 1, 0, 0}, {400, 10, false, false}},
      {7, 1, {0, 0, 0, 0}, {0, 0, false, false}},
      {2, 2, {-1, -3, 0.49, 0.49}, {0, 0, false, false}},
      {3, 5, {7, 2, 0.5, -1}, {400, 10, true, false}},
      {5, 3, {0.62625, 0.45, 1, 0}, {251, 5, true, false}},  // 250.5 and 4.5: halves away from zero
      {4, 4, {0.00125, 0.05, 0, 0}, {1, 1, false, false}},
      {6, 6, {0.37375, 0.25, 0, 0}, {150, 3, false, false}},
      {17, 9, {kNaN, kNaN, kNaN, kNaN}, {100, 5, false, false}},
      {33, 31, {0.5, 0.65, 1, 0.5}, {200, 7, true, true}},
      {161, 3, {0.99875, 0.95, 1, 0}, {400, 10, true, false}},
      {3, 161, {0.3, 0.35, 0, 0}, {120, 4, false, false}},
      {401, 300, {0.25, 0.5, 0, 0}, {100, 5, false, false}},  // large: cut into bands
      {641, 481, {0.5, 0.35, 1, 0}, {200, 4, true, false}},
      {1920, 1080, {0.25, 0.5, 0, 0}, {100, 5, false, false}},
  };
  Plugin p;
  ASSERT_TRUE(p.ok()) << dlerror();
  uint64_t seed = 1;
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " L" << c.want.level << " D" << c.want.dynamic << " noise "
                                    << c.want.show_noise << " disable " << c.want.disable);
    f0r_instance_t inst = p.construct(unsigned(c.w), unsigned(c.h));
    ASSERT_NE(inst, nullptr);
    for (int k = 0; k < 4; ++k) p.set(inst, k, c.set[k]);
    for (int k = 0; k < 4; ++k) p.set(inst, k, kNaN);
    EXPECT_EQ(p.get(inst, 0), c.want.level / 400.0);
    EXPECT_EQ(p.get(inst, 1), c.want.dynamic / 10.0);
    EXPECT_EQ(p.get(inst, 2), c.want.show_noise);
    EXPECT_EQ(p.get(inst, 3), c.want.disable);

    const std::vector<uint32_t> in = picture(c.w, c.h, seed++);
    const std::vector<uint32_t> want = expected_output(in, c.w, c.h, c.want);
    const std::vector<uint32_t> in_copy = in;
    EXPECT_TRUE(p.run(inst, in) == want) << "two buffers";
    EXPECT_TRUE(in == in_copy) << "the input was changed";
    for (int round = 0; round < 2; ++round) {  // the second reuses the instance's copy
      std::vector<uint32_t> frame = in;
      p.update2(inst, 1.0, frame.data(), nullptr, nullptr, frame.data());
      EXPECT_TRUE(frame == want) << "in place, round " << round;
    }
    p.destruct(inst);
  }
}

// Sizes a host may ask for: frei0r's way to refuse one is a null instance,
// and every entry must take a null instance (or null frame) without harm.
// Indexes out of range change nothing and write nothing.
TEST(Frei0rContract, RefusedSizesNullInstancesAndBadIndexes) {
  const struct {
    unsigned w, h;
    bool instance;
  } kSizes[] = {{0, 0, false}, {0, 1, false}, {1, 0, false},
                {0x80000000u, 1, false}, {1, 0x80000000u, false},  // wider or taller than the kernels' int
                {0xFFFFFFFFu, 0xFFFFFFFFu, false}, {0x7FFFFFFFu, 0x7FFFFFFFu, false},
                {0x7FFFFFFFu, 0x40000001u, false},  // just over 2^63 bytes
                {0x40000000u, 0x7FFFFFFFu, true},   // just under (an instance allocates no frame)
                {1, 1, true}, {0x7FFFFFFFu, 1, true}, {65536, 32768, true}};
  Plugin p;
  ASSERT_TRUE(p.ok()) << dlerror();
  for (const auto& s : kSizes) {
    f0r_instance_t inst = p.construct(s.w, s.h);
    EXPECT_EQ(inst != nullptr, s.instance) << s.w << "x" << s.h;
    p.destruct(inst);
  }
  uint32_t frame[4] = {1, 2, 3, 4};
  p.update(nullptr, 0, frame, frame);
  p.update2(nullptr, 0, frame, frame, frame, frame);
  p.set(nullptr, 0, 0.5);
  EXPECT_EQ(p.get(nullptr, 0), -7);
  p.destruct(nullptr);

  f0r_instance_t inst = p.construct(2, 2);
  for (int index : {-1, 4, 1000, std::numeric_limits<int>::min()}) {
    p.set(inst, index, 0.9);
    EXPECT_EQ(p.get(inst, index), -7) << index;
    f0r_param_info_t pi{"untouched", 77, nullptr};
    p.get_param_info(&pi, index);
    EXPECT_STREQ(pi.name, "untouched");
  }
  EXPECT_TRUE(p.get(inst, 0) == 0.25 && p.get(inst, 1) == 0.5 && p.get(inst, 2) == 0 && p.get(inst, 3) == 0);
  p.update(inst, 0, nullptr, frame);
  p.update(inst, 0, frame, nullptr);
  EXPECT_TRUE(frame[0] == 1 && frame[1] == 2 && frame[2] == 3 && frame[3] == 4);
  p.destruct(inst);
}

// Host threads, each with its own instances and settings, run frames below
// and above the size at which the pool shares a frame while the main thread
// undoes the load (MLT calls f0r_deinit while its consumer may still run a
// frame) and then loads it again. Every frame is the reference's; once
// f0r_deinit has returned and the updates under way have ended, no worker is
// left, whatever the interleaving; f0r_init brings the pool back. The
// native-tsan preset runs this.
TEST(Frei0rThreads, OwnInstancesRacingDeinitAndReload) {
  unsetenv("VELBRIN_THREADS");
  std::thread([] {}).join();  // ThreadSanitizer starts its own thread with the first one made
  const int baseline = process_threads();
  cpu_set_t cpus;
  const bool pooled = sched_getaffinity(0, sizeof cpus, &cpus) == 0 && CPU_COUNT(&cpus) > 1;
  constexpr int kHosts = 4;
  struct Frame {
    int w, h;
    Settings s;
    std::vector<uint32_t> in, want;
  };
  for (int cycle = 0; cycle < 8; ++cycle) {
    SCOPED_TRACE("cycle " + std::to_string(cycle));
    Plugin p;
    ASSERT_TRUE(p.ok()) << dlerror();
    std::atomic<int> updates[kHosts] = {}, wrong{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> hosts;
    for (int t = 0; t < kHosts; ++t)
      hosts.emplace_back([&, t] {
        TestRng rng(uint64_t(cycle * 10 + t));
        std::vector<Frame> frames;  // a small one, then one the pool shares
        for (bool big : {false, true}) {
          const int w = big ? 400 + rng.below(100) : 1 + rng.below(60), h = big ? 250 + rng.below(40) : 1 + rng.below(30);
          const Settings s{rng.below(401), rng.below(11), rng.below(3) == 0, rng.below(8) == 0};
          const std::vector<uint32_t> in = picture(w, h, rng.next());
          frames.push_back({w, h, s, in, expected_output(in, w, h, s)});
        }
        for (int n = 0; !stop.load(); ++n) {
          const Frame& f = frames[size_t(n % 2)];
          f0r_instance_t inst = p.construct(unsigned(f.w), unsigned(f.h));
          const double values[4] = {f.s.level / 400.0, f.s.dynamic / 10.0, double(f.s.show_noise), double(f.s.disable)};
          for (int k = 0; k < 4; ++k) p.set(inst, k, values[k]);
          wrong += p.run(inst, f.in) != f.want;
          p.destruct(inst);
          ++updates[t];
        }
      });
    // Waits until every host has run `more` updates after the counts in `from`.
    auto each_did = [&](int more) {
      int from[kHosts];
      for (int t = 0; t < kHosts; ++t) from[t] = updates[t].load();
      for (int t = 0; t < kHosts; ++t)
        while (updates[t].load() < from[t] + more) std::this_thread::yield();
    };
    each_did(2 + cycle % 3);  // the deinit lands at different points of the hosts' frames
    EXPECT_TRUE(!pooled || process_threads() > baseline + kHosts) << "the pool never started";
    p.deinit();
    p.inited = false;
    each_did(2);  // the updates under way have ended, and whole ones ran after
    EXPECT_EQ(process_threads(), baseline + kHosts) << "a thread outlived f0r_deinit";
    p.inited = p.init() == 1;  // the hosts are still running: no early return
    EXPECT_TRUE(p.inited);
    each_did(2);
    EXPECT_TRUE(!pooled || process_threads() > baseline + kHosts) << "the pool did not come back";
    stop = true;
    for (std::thread& t : hosts) t.join();
    EXPECT_EQ(wrong.load(), 0);
  }
  EXPECT_EQ(process_threads(), baseline);
}

}  // namespace
