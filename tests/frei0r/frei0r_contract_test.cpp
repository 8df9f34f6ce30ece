// The frei0r plug-in as a host sees it: build/native/frei0r-1/velbrin.so
// loaded with dlopen and driven through its f0r_* entries alone. Frames are
// compared with the reference kernel run as the VirtualDub host runs it
// (bottom row first) with the input's alpha kept.
#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <stdlib.h>

#include <cmath>
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
  template <typename F>
  F entry(const char* name) {
    return handle != nullptr ? reinterpret_cast<F>(dlsym(handle, name)) : nullptr;
  }
  decltype(&f0r_init) init = entry<decltype(&f0r_init)>("f0r_init");
  decltype(&f0r_deinit) deinit = entry<decltype(&f0r_deinit)>("f0r_deinit");
  decltype(&f0r_get_plugin_info) plugin_info = entry<decltype(&f0r_get_plugin_info)>("f0r_get_plugin_info");
  decltype(&f0r_get_param_info) param_info = entry<decltype(&f0r_get_param_info)>("f0r_get_param_info");
  decltype(&f0r_construct) construct = entry<decltype(&f0r_construct)>("f0r_construct");
  decltype(&f0r_destruct) destruct = entry<decltype(&f0r_destruct)>("f0r_destruct");
  decltype(&f0r_set_param_value) set = entry<decltype(&f0r_set_param_value)>("f0r_set_param_value");
  decltype(&f0r_get_param_value) get = entry<decltype(&f0r_get_param_value)>("f0r_get_param_value");
  decltype(&f0r_update) update = entry<decltype(&f0r_update)>("f0r_update");
  decltype(&f0r_update2) update2 = entry<decltype(&f0r_update2)>("f0r_update2");
  bool inited = handle != nullptr && init != nullptr && init() == 1;

  bool ok() const {
    return inited && deinit && plugin_info && param_info && construct && destruct && set && get && update && update2;
  }
  ~Plugin() {
    if (inited) deinit();
    if (handle != nullptr) dlclose(handle);
  }
  void set_value(f0r_instance_t inst, int index, double v) { set(inst, &v, index); }
  double value(f0r_instance_t inst, int index) {
    double v = -7;
    get(inst, &v, index);
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

TEST(Frei0rContract, PluginAndParameterInfo) {
  Plugin p;
  ASSERT_TRUE(p.ok()) << dlerror();
  f0r_plugin_info_t info{};
  p.plugin_info(&info);
  EXPECT_STREQ(info.name, "Velbrin");
  EXPECT_EQ(info.plugin_type, F0R_PLUGIN_TYPE_FILTER);
  EXPECT_EQ(info.color_model, F0R_COLOR_MODEL_BGRA8888);
  EXPECT_EQ(info.frei0r_version, FREI0R_MAJOR_VERSION);
  EXPECT_EQ(info.num_params, 4);
  ASSERT_NE(info.explanation, nullptr);
  ASSERT_NE(info.author, nullptr);

  const struct {
    const char* name;
    int type;
    const char* scale;  // the host's own scale, named in the explanation
    double default_value;
  } kParams[] = {{"Level", F0R_PARAM_DOUBLE, "0.25 = Level 100 of 0..400", 0.25},
                 {"Dynamic", F0R_PARAM_DOUBLE, "0.5 = Dynamic 5 of 0..10", 0.5},
                 {"Show noise", F0R_PARAM_BOOL, "0.5", 0},
                 {"Disable", F0R_PARAM_BOOL, "0.5", 0}};
  f0r_instance_t inst = p.construct(8, 8);
  for (int k = 0; k < 4; ++k) {
    f0r_param_info_t pi{};
    p.param_info(&pi, k);
    ASSERT_NE(pi.name, nullptr);
    EXPECT_STREQ(pi.name, kParams[k].name);
    EXPECT_EQ(pi.type, kParams[k].type) << pi.name;
    EXPECT_NE(std::strstr(pi.explanation, kParams[k].scale), nullptr) << pi.explanation;
    EXPECT_EQ(p.value(inst, k), kParams[k].default_value) << pi.name;
  }
  p.destruct(inst);
}

// Every case: a fresh instance, the four values set in order, then NaN for
// each (which must change nothing); the values read back; the frame run
// with two buffers and in place; both must be the reference's bytes with
// the input's alpha, and the input must be left alone.
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
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " Level " + std::to_string(c.want.level) +
                 " Dynamic " + std::to_string(c.want.dynamic) + (c.want.show_noise ? " Show noise" : "") +
                 (c.want.disable ? " Disable" : ""));
    f0r_instance_t inst = p.construct(unsigned(c.w), unsigned(c.h));
    ASSERT_NE(inst, nullptr);
    for (int k = 0; k < 4; ++k) p.set_value(inst, k, c.set[k]);
    for (int k = 0; k < 4; ++k) p.set_value(inst, k, kNaN);
    EXPECT_EQ(p.value(inst, 0), c.want.level / 400.0);
    EXPECT_EQ(p.value(inst, 1), c.want.dynamic / 10.0);
    EXPECT_EQ(p.value(inst, 2), c.want.show_noise ? 1 : 0);
    EXPECT_EQ(p.value(inst, 3), c.want.disable ? 1 : 0);

    const std::vector<uint32_t> in = picture(c.w, c.h, seed++);
    const std::vector<uint32_t> want = expected_output(in, c.w, c.h, c.want);
    std::vector<uint32_t> in_copy = in;
    EXPECT_EQ(first_difference(p.run(inst, in_copy), want), -1) << "two buffers";
    EXPECT_EQ(first_difference(in_copy, in), -1) << "the input was changed";
    for (int round = 0; round < 2; ++round) {  // the second reuses the instance's copy
      std::vector<uint32_t> frame = in;
      p.update2(inst, 1.0, frame.data(), nullptr, nullptr, frame.data());
      EXPECT_EQ(first_difference(frame, want), -1) << "in place, round " << round;
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
  } kSizes[] = {
      {0, 0, false},          {0, 1, false},
      {1, 0, false},          {0x80000000u, 1, false},       // wider than the kernels' int
      {1, 0x80000000u, false}, {0xFFFFFFFFu, 0xFFFFFFFFu, false},
      {0x7FFFFFFFu, 0x7FFFFFFFu, false},                       // bytes overflow ptrdiff_t
      {0x7FFFFFFFu, 0x40000001u, false},                       // just over 2^63 bytes
      {0x40000000u, 0x7FFFFFFFu, true},                        // just under (nothing is allocated)
      {1, 1, true},           {0x7FFFFFFFu, 1, true},
      {65536, 32768, true},
  };
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
  p.set_value(nullptr, 0, 0.5);
  EXPECT_EQ(p.value(nullptr, 0), -7);
  p.destruct(nullptr);
  EXPECT_EQ(frame[0] + frame[1] + frame[2] + frame[3], 10u);

  f0r_instance_t inst = p.construct(2, 2);
  for (int index : {-1, 4, 1000, std::numeric_limits<int>::min()}) {
    p.set_value(inst, index, 0.9);
    EXPECT_EQ(p.value(inst, index), -7) << index;
    f0r_param_info_t pi{"untouched", 77, nullptr};
    p.param_info(&pi, index);
    EXPECT_STREQ(pi.name, "untouched");
    EXPECT_EQ(pi.type, 77);
  }
  EXPECT_EQ(p.value(inst, 0), 0.25);
  EXPECT_EQ(p.value(inst, 1), 0.5);
  EXPECT_EQ(p.value(inst, 2), 0);
  EXPECT_EQ(p.value(inst, 3), 0);
  p.update(inst, 0, nullptr, frame);
  p.update(inst, 0, frame, nullptr);
  EXPECT_EQ(frame[0] + frame[1] + frame[2] + frame[3], 10u);
  p.destruct(inst);
}

// Eight host threads, each with its own instance and settings, on frames
// below and above the size at which the pool shares a frame; then the host's
// unload and reload: f0r_deinit leaves no thread behind, an instance used
// after it (as MLT does) still gives the right frame without starting any,
// and f0r_init brings the pool back. The native-tsan preset runs this.
TEST(Frei0rThreads, OwnInstancesThenDeinitAndReload) {
  unsetenv("VELBRIN_THREADS");
  const int baseline = process_threads();
  cpu_set_t cpus;
  const bool several_cpus = sched_getaffinity(0, sizeof cpus, &cpus) == 0 && CPU_COUNT(&cpus) > 1;
  const std::vector<uint32_t> large = picture(480, 240, 99);
  const Settings defaults;
  const std::vector<uint32_t> large_want = expected_output(large, 480, 240, defaults);

  for (int cycle = 0; cycle < 3; ++cycle) {
    SCOPED_TRACE("cycle " + std::to_string(cycle));
    Plugin p;
    ASSERT_TRUE(p.ok()) << dlerror();
    std::vector<std::string> failures[8];
    std::vector<std::thread> hosts;
    for (int t = 0; t < 8; ++t)
      hosts.emplace_back([&p, &failures, t, cycle] {
        TestRng rng(uint64_t(cycle * 10 + t));
        for (int n = 0; n < 3; ++n) {
          const bool big = (n + t) % 2 == 0;
          const int w = big ? 400 + rng.below(100) : 1 + rng.below(60);
          const int h = big ? 250 + rng.below(40) : 1 + rng.below(30);
          const Settings s{rng.below(401), rng.below(11), rng.below(3) == 0, rng.below(8) == 0};
          f0r_instance_t inst = p.construct(unsigned(w), unsigned(h));
          p.set_value(inst, 0, s.level / 400.0);
          p.set_value(inst, 1, s.dynamic / 10.0);
          p.set_value(inst, 2, s.show_noise);
          p.set_value(inst, 3, s.disable);
          const std::vector<uint32_t> in = picture(w, h, rng.next());
          if (first_difference(p.run(inst, in), expected_output(in, w, h, s)) != -1)
            failures[t].push_back(std::to_string(w) + "x" + std::to_string(h) + " differs from the reference");
          p.destruct(inst);
        }
      });
    for (std::thread& t : hosts) t.join();
    for (const auto& f : failures)
      for (const std::string& line : f) ADD_FAILURE() << line;
    if (several_cpus) {
      EXPECT_GT(process_threads(), baseline) << "the pool never started";
    }

    f0r_instance_t kept = p.construct(480, 240);
    p.deinit();
    EXPECT_EQ(process_threads(), baseline) << "f0r_deinit left threads";
    EXPECT_EQ(first_difference(p.run(kept, large), large_want), -1) << "update after f0r_deinit";
    EXPECT_EQ(process_threads(), baseline) << "an update after f0r_deinit started threads";
    p.destruct(kept);
    p.inited = p.init() == 1;
    ASSERT_TRUE(p.inited);
    kept = p.construct(480, 240);
    EXPECT_EQ(first_difference(p.run(kept, large), large_want), -1) << "update after f0r_init again";
    if (several_cpus) {
      EXPECT_GT(process_threads(), baseline) << "the pool did not come back";
    }
    p.destruct(kept);
  }
  EXPECT_EQ(process_threads(), baseline);
}

}  // namespace
