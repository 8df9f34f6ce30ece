// The frei0r contract cases (see frei0r_cases.h): tables of sizes and
// settings, each row named, each frame compared word for word.
#include "tests/conformance/frei0r_cases.h"

#include <atomic>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "engine/strength/frame_strength.h"
#include "tests/frei0r/frei0r_frames.h"
#include "tests/support/check.h"
#include "tests/support/frei0r_under_test.h"

namespace {

using namespace frei0r_test;

const double kNaN = std::numeric_limits<double>::quiet_NaN();

bool loaded(const Frei0rPlugin& p) {
  if (!p.ok()) CHECK_FAIL(p.error);
  return p.ok();
}

std::string size_name(int w, int h) { return std::to_string(w) + "x" + std::to_string(h); }

// The information hosts read, before f0r_init as MLT reads it, and the
// parameters' defaults: name, type, the host's scale named in the
// explanation, default.
void plugin_and_parameter_info(const std::string& path) {
  Frei0rPlugin p(path, false);
  if (!loaded(p)) return;
  f0r_plugin_info_t info{};
  p.get_plugin_info(&info);
  CHECK_EQ(std::string(info.name ? info.name : ""), std::string("Velbrin"));
  CHECK_EQ(info.plugin_type, F0R_PLUGIN_TYPE_FILTER);
  CHECK_EQ(info.color_model, F0R_COLOR_MODEL_BGRA8888);
  CHECK_EQ(info.frei0r_version, FREI0R_MAJOR_VERSION);
  CHECK_EQ(info.num_params, 5);
  CHECK(info.explanation != nullptr && info.author != nullptr);
  const struct {
    const char *name, *scale;
    int type;
    double default_value;
  } kParams[] = {{"Level", "0.25 = Level 100 of 0..400", F0R_PARAM_DOUBLE, 0.25},
                 {"Dynamic", "0.5 = Dynamic 5 of 0..10", F0R_PARAM_DOUBLE, 0.5},
                 {"Show noise", "0.5", F0R_PARAM_BOOL, 0},
                 {"Disable", "0.5", F0R_PARAM_BOOL, 0},
                 {"Auto", "0.5", F0R_PARAM_BOOL, 0}};
  CHECK_EQ(p.init(), 1);
  f0r_instance_t inst = p.construct(8, 8);
  for (int k = 0; k < 5; ++k) {
    CHECK_ROW(kParams[k].name);
    f0r_param_info_t pi{"", -1, ""};
    p.get_param_info(&pi, k);
    CHECK_EQ(std::string(pi.name), std::string(kParams[k].name));
    CHECK_EQ(pi.type, kParams[k].type);
    CHECK(std::strstr(pi.explanation, kParams[k].scale) != nullptr);
    CHECK_EQ(p.get(inst, k), kParams[k].default_value);
  }
  p.destruct(inst);
}

// Every row: a fresh instance, the four values set in order, then NaN for
// each (which must change nothing); the values read back; the frame run
// with two buffers (the input left alone) and twice in place (f0r_update2).
void frames_match_the_host_with_alpha_kept(const std::string& path) {
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
      {5, 5, {0.3762499999999999, 0.4499999999999999, 0, 0}, {150, 4, false, false}},  // 150.49999999999997, 4.499999999999999
      {17, 9, {kNaN, kNaN, kNaN, kNaN}, {100, 5, false, false}},
      {33, 31, {0.5, 0.65, 1, 0.5}, {200, 7, true, true}},
      {161, 3, {0.99875, 0.95, 1, 0}, {400, 10, true, false}},
      {3, 161, {0.3, 0.35, 0, 0}, {120, 4, false, false}},
      {401, 300, {0.25, 0.5, 0, 0}, {100, 5, false, false}},  // large: cut into bands
      {641, 481, {0.375, 0.4, 1, 0}, {150, 4, true, false}},
      {1920, 1080, {0.25, 0.5, 0, 0}, {100, 5, false, false}},
  };
  Frei0rPlugin p(path);
  if (!loaded(p)) return;
  uint64_t seed = 1;
  for (const auto& c : kCases) {
    CHECK_ROW(size_name(c.w, c.h) + " L" + std::to_string(c.want.level) + " D" + std::to_string(c.want.dynamic) +
              (c.want.show_noise ? " noise" : "") + (c.want.disable ? " disable" : ""));
    f0r_instance_t inst = p.construct(unsigned(c.w), unsigned(c.h));
    CHECK(inst != nullptr);
    if (inst == nullptr) continue;
    for (int k = 0; k < 4; ++k) p.set(inst, k, c.set[k]);
    for (int k = 0; k < 4; ++k) p.set(inst, k, kNaN);
    CHECK_EQ(p.get(inst, 0), c.want.level / 400.0);
    CHECK_EQ(p.get(inst, 1), c.want.dynamic / 10.0);
    CHECK_EQ(p.get(inst, 2), c.want.show_noise ? 1.0 : 0.0);
    CHECK_EQ(p.get(inst, 3), c.want.disable ? 1.0 : 0.0);

    const std::vector<uint32_t> in = picture(c.w, c.h, seed++);
    const std::vector<uint32_t> want = expected_output(in, c.w, c.h, c.want);
    const std::vector<uint32_t> in_copy = in;
    CHECK(p.run(inst, in) == want);
    CHECK(in == in_copy);  // the input is left alone
    for (int round = 0; round < 2; ++round) {  // the second reuses the instance's copy
      CHECK_ROW("in place, round " + std::to_string(round));
      std::vector<uint32_t> frame = in;
      p.update2(inst, 1.0, frame.data(), nullptr, nullptr, frame.data());
      CHECK(frame == want);
    }
    p.destruct(inst);
  }
}

// Auto: each frame filtered with the settings the engine gives it for the
// noise measured in it as the host lays it out (bottom row first), whatever
// Level and Dynamic say; one instance through frames of growing noise, a
// frame too small to measure (Level 0), a 1080p one (blocks sampled), and
// fine colour texture under light noise (Level lowered by the check).
void auto_follows_each_frames_noise(const std::string& path) {
  const struct {
    int w, h, noise;
    bool textured;
  } kFrames[] = {{64, 48, 0, false},  {64, 48, 6, false}, {64, 48, 20, false},      {64, 48, 40, false},
                 {17, 9, 30, false},  {1920, 1080, 12, false}, {160, 120, 8, true}};
  Frei0rPlugin p(path);
  if (!loaded(p)) return;
  for (const auto& f : kFrames) {
    CHECK_ROW(size_name(f.w, f.h) + " noise " + std::to_string(f.noise));
    f0r_instance_t inst = p.construct(unsigned(f.w), unsigned(f.h));
    CHECK(inst != nullptr);
    if (inst == nullptr) continue;
    const double settings[5] = {0.9, 0.1, 0, 0, 1};
    for (int k = 0; k < 5; ++k) p.set(inst, k, settings[k]);
    CHECK_EQ(p.get(inst, 4), 1.0);
    std::vector<uint32_t> in;
    TestRng rng{uint64_t(f.noise) + 7};
    for (int i = 0; i < f.h; ++i)
      for (int j = 0; j < f.w; ++j)
        in.push_back(f.textured ? colour_texture_pixel(i, j, f.noise, rng) : photo_pixel(i, j, f.w, f.h, f.noise, rng));
    const ptrdiff_t last = ptrdiff_t{f.h - 1} * f.w;
    const FrameStrength strength = strength_of_frame(in.data() + last, f.w, f.h, -ptrdiff_t{f.w} * 4);
    const StrengthSettings s = strength.settings;
    if (f.textured) CHECK(s.level < strength.rule.level);
    CHECK(p.run(inst, in) == expected_output(in, f.w, f.h, {s.level, s.dynamic, false, false}));
    p.destruct(inst);
  }
}

// Sizes a host may ask for: frei0r's way to refuse one is a null instance,
// and every entry must take a null instance (or null frame) without harm.
// Indexes out of range change nothing and write nothing.
void refused_sizes_null_instances_and_bad_indexes(const std::string& path) {
  const struct {
    unsigned w, h;
    bool instance;
  } kSizes[] = {{0, 0, false}, {0, 1, false}, {1, 0, false},
                {0x80000000u, 1, false}, {1, 0x80000000u, false},  // wider or taller than the kernels' int
                {0xFFFFFFFFu, 0xFFFFFFFFu, false}, {0x7FFFFFFFu, 0x7FFFFFFFu, false},
                {0x7FFFFFFFu, 0x40000001u, false},  // just over 2^63 bytes
                {0x40000000u, 0x7FFFFFFFu, true},   // just under (an instance allocates no frame)
                {1, 1, true}, {0x7FFFFFFFu, 1, true}, {65536, 32768, true}};
  Frei0rPlugin p(path);
  if (!loaded(p)) return;
  for (const auto& s : kSizes) {
    CHECK_ROW(std::to_string(s.w) + "x" + std::to_string(s.h));
    f0r_instance_t inst = p.construct(s.w, s.h);
    CHECK_EQ(inst != nullptr, s.instance);
    p.destruct(inst);
  }
  uint32_t frame[4] = {1, 2, 3, 4};
  p.update(nullptr, 0, frame, frame);
  p.update2(nullptr, 0, frame, frame, frame, frame);
  p.set(nullptr, 0, 0.5);
  CHECK_EQ(p.get(nullptr, 0), -7.0);
  p.destruct(nullptr);

  f0r_instance_t inst = p.construct(2, 2);
  for (int index : {-1, 5, 1000, std::numeric_limits<int>::min()}) {
    CHECK_ROW("index " + std::to_string(index));
    p.set(inst, index, 0.9);
    CHECK_EQ(p.get(inst, index), -7.0);
    f0r_param_info_t pi{"untouched", 77, nullptr};
    p.get_param_info(&pi, index);
    CHECK_EQ(std::string(pi.name), std::string("untouched"));
  }
  CHECK(p.get(inst, 0) == 0.25 && p.get(inst, 1) == 0.5 && p.get(inst, 2) == 0 && p.get(inst, 3) == 0);
  p.update(inst, 0, nullptr, frame);
  p.update(inst, 0, frame, nullptr);
  CHECK(frame[0] == 1 && frame[1] == 2 && frame[2] == 3 && frame[3] == 4);
  p.destruct(inst);
}

// The pool's workers while a load is in force: one per processor but the
// caller's own (at most 64 threads a frame).
int pool_workers() {
  const int processors = processors_available();
  return (processors > 64 ? 64 : processors) - 1;
}

// Host threads, each with its own instances and settings, keep running
// frames below and above the size at which the pool shares a frame while
// another thread undoes the load (MLT calls f0r_deinit while its consumer
// may still run a frame) and then loads it again. Every frame is the
// reference's; once f0r_deinit has returned and the updates under way have
// ended, no worker is left, whatever the interleaving; f0r_init brings the
// pool back. The file stays mapped throughout. The native-tsan preset runs
// this under ThreadSanitizer.
void own_instances_racing_deinit_and_reload(const std::string& path) {
  clear_thread_cap();
  run_host_threads(1, [](int) {});  // ThreadSanitizer starts its own thread with the first one made
  const int baseline = process_threads();
  CHECK(baseline > 0);
  constexpr int kHosts = 4;
  const bool pooled = pool_workers() > 0;
  for (int cycle = 0; cycle < 6; ++cycle) {
    CHECK_ROW("cycle " + std::to_string(cycle));
    Frei0rPlugin p(path);
    if (!loaded(p)) return;
    std::atomic<int> updates[kHosts] = {}, wrong{0};
    std::atomic<bool> stop{false};
    // Waits until every host has run `more` updates after now.
    auto each_did = [&](int more) {
      int from[kHosts];
      for (int t = 0; t < kHosts; ++t) from[t] = updates[t].load();
      for (int t = 0; t < kHosts; ++t)
        while (updates[t].load() < from[t] + more) yield_thread();
    };
    // Whether the pool's workers are running beside the host threads (a new
    // thread may take a moment to be listed; the hosts keep the pool busy).
    auto pool_running = [&] {
      for (int k = 0; k < 100; ++k, pause_ms(10))
        if (process_threads() > baseline + kHosts + 1) return true;
      return false;
    };
    run_host_threads(kHosts + 1, [&](int t) {
      if (t == kHosts) {  // the host's own thread: unload and reload under way
        each_did(2 + cycle % 3);  // the deinit lands at different points of the hosts' frames
        CHECK(!pooled || pool_running());
        p.deinit();
        each_did(2);  // the updates under way have ended, and whole ones ran after
        CHECK_EQ(settled_threads(baseline + kHosts + 1), baseline + kHosts + 1);  // no worker outlived f0r_deinit
        CHECK_EQ(p.init(), 1);
        each_did(2);
        CHECK(!pooled || pool_running());  // the pool is back
        stop = true;
        return;
      }
      TestRng rng(uint64_t(cycle * 10 + t));
      struct Frame {
        int w, h;
        Settings s;
        std::vector<uint32_t> in, want;
      };
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
    CHECK_EQ(wrong.load(), 0);
  }
  CHECK_EQ(settled_threads(baseline), baseline);
  CHECK(plugin_mapped(path));
}

// MLT's way: a load unloaded without f0r_deinit while the pool's workers
// wait. The file stays mapped, so they wait in place; a new load finds the
// same copy and runs frames; the workers go with the last f0r_deinit, even
// one that comes late.
void unload_without_deinit_then_load_again(const std::string& path) {
  clear_thread_cap();
  const int baseline = process_threads();
  const std::vector<uint32_t> large = picture(500, 260, 7);
  const Settings s{150, 4, true, false};
  const std::vector<uint32_t> want = expected_output(large, 500, 260, s);
  const double values[4] = {0.375, 0.4, 1, 0};
  auto run_large = [&](Frei0rPlugin& p) {
    f0r_instance_t inst = p.construct(500, 260);
    for (int k = 0; k < 4; ++k) p.set(inst, k, values[k]);
    CHECK(p.run(inst, large) == want);
    p.destruct(inst);
  };
  {
    Frei0rPlugin first(path);
    if (!loaded(first)) return;
    run_large(first);
    CHECK_EQ(process_threads(), baseline + pool_workers());
    first.unload_without_deinit();
  }
  CHECK(plugin_mapped(path));
  CHECK_EQ(process_threads(), baseline + pool_workers());  // waiting, in code still mapped
  Frei0rPlugin second(path);
  if (!loaded(second)) return;
  run_large(second);
  CHECK_EQ(process_threads(), baseline + pool_workers());
  second.deinit();  // the first load is still in force
  run_large(second);
  CHECK_EQ(process_threads(), baseline + pool_workers());
  second.deinit_entry();  // the first load's f0r_deinit, late
  CHECK_EQ(settled_threads(baseline), baseline);
}

const Frei0rCase kCases[] = {
    {"PluginAndParameterInfo", "plug-in and parameter information, defaults", false, plugin_and_parameter_info},
    {"FramesMatchTheHostWithAlphaKept", "frames of many sizes and settings equal the reference, alpha kept", false,
     frames_match_the_host_with_alpha_kept},
    {"AutoFollowsEachFramesNoise", "Auto: each frame filtered with the rule's setting for its own noise", false,
     auto_follows_each_frames_noise},
    {"RefusedSizesNullInstancesAndBadIndexes", "refused sizes, null instances and frames, indexes out of range",
     false, refused_sizes_null_instances_and_bad_indexes},
    {"OwnInstancesRacingDeinitAndReload", "host threads with their own instances running through f0r_deinit and reload",
     true, own_instances_racing_deinit_and_reload},
    {"UnloadWithoutDeinitThenLoadAgain", "unloaded without f0r_deinit (as MLT does), loaded again", true,
     unload_without_deinit_then_load_again},
};

}  // namespace

const Frei0rCase* frei0r_cases(int* count) {
  *count = int(sizeof kCases / sizeof kCases[0]);
  return kCases;
}
