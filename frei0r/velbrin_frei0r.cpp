// The frei0r front door: the filter as a frei0r 1.2 plug-in (velbrin.so on
// Linux, velbrin.dll on 64-bit Windows) for ffmpeg, MLT (Kdenlive, Shotcut)
// and GStreamer. It runs the engine's kernels and band pool on the host's
// BGRA frames and knows nothing of the VirtualDub record or host interface.
// The Windows file links no C runtime, as the module does: memory comes from
// plugin_memory.h and nothing here calls the C library.
//
// Frames come top row first. The VirtualDub host hands the module its frames
// bottom row first, and the filter does not commute with a vertical flip, so
// each frame is run as that host runs it: row 0 at the last row of memory
// and a negative stride, which costs no copy. Frei0r effects keep alpha:
// the kernels copy each source pixel's byte 3 as they write (keep_alpha),
// where the module's frames get 0.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>

#include "engine/band_pool.h"
#include "engine/band_split.h"
#include "engine/kernels/smooth.h"
#include "engine/setting_ranges.h"
#include "engine/strength/frame_strength.h"
#include "frei0r/plugin_memory.h"

// frei0r.h declares the entries for C and without a visibility: give them
// C linkage and export exactly these (everything else here is hidden; on
// Windows velbrin.def names the exports).
#if !defined(_WIN32)
#pragma GCC visibility push(default)
#endif
extern "C" {
#include <frei0r.h>
}
#if !defined(_WIN32)
#pragma GCC visibility pop
#endif

namespace {

constexpr int kLevelScale = kLevelMax;      // Level 0..400 <-> 0..1
constexpr int kDynamicScale = kDynamicMax;  // Dynamic 0..10 <-> 0..1
static_assert(kLevelMin == 0 && kDynamicMin == 0, "the host's 0..1 maps to ranges that start at 0");
// Level, Dynamic, Show noise and Disable keep the indices that saved projects
// and command lines give them; Auto came after them.
constexpr int kParamCount = 5;

struct Instance {
  int width;
  int height;
  size_t pixels;
  int level = kDefaultLevel;
  int dynamic = kDefaultDynamic;
  bool show_noise = false;
  bool disable = false;
  bool auto_strength = false;  // Level and Dynamic from each frame's noise
  // A copy of the input for updates whose input and output overlap: the
  // kernels read rows around the one they write, so they need the input
  // whole. Made on the first such update and kept for the next.
  uint32_t* scratch = nullptr;
};

double clamped(double v) { return v < 0 ? 0 : (v > 1 ? 1 : v); }

// round(clamped(v) x scale), halves away from zero, as std::lround gives it
// for these non-negative values, without calling the C library. The
// fraction x - whole is exact for a double.
int scaled(double v, int scale) {
  const double x = clamped(v) * scale;
  const int whole = int(x);
  return x - whole >= 0.5 ? whole + 1 : whole;
}

bool overlap(const uint32_t* a, const uint32_t* b, size_t pixels) {
  const uintptr_t x = reinterpret_cast<uintptr_t>(a), y = reinterpret_cast<uintptr_t>(b);
  const uintptr_t bytes = pixels * sizeof(uint32_t);
  return x < y + bytes && y < x + bytes;
}

}  // namespace

// Hosts that load the plug-in more than once in a process call f0r_init and
// f0r_deinit once per load (the file stays mapped, see CMakeLists.txt, so
// every load shares the one pool), and the pool counts them: it is open
// from the first f0r_init until the last f0r_deinit, which joins its
// workers. With no load in force (before f0r_init, or after the last
// f0r_deinit, when a host still destructs or even updates an instance, or
// an update that began before it is still running) the pool is closed and
// frames run on their calling threads alone, so no thread outlives
// f0r_deinit. A host that calls f0r_deinit more often than f0r_init still
// gets its workers joined.
int f0r_init() {
  band_pool_start();
  return 1;
}

void f0r_deinit() { band_pool_stop(); }

void f0r_get_plugin_info(f0r_plugin_info_t* info) {
  if (info == nullptr) return;
  info->name = "Velbrin";
  info->author = "Velbrin";
  info->plugin_type = F0R_PLUGIN_TYPE_FILTER;
  info->color_model = F0R_COLOR_MODEL_BGRA8888;
  info->frei0r_version = FREI0R_MAJOR_VERSION;
  info->major_version = 1;
  info->minor_version = 0;
  info->num_params = kParamCount;
  info->explanation =
      "Edge-preserving 5x5 smoothing: averages each pixel with the neighbours of similar brightness, "
      "bit for bit as the VirtualDub filter does; alpha is kept";
}

void f0r_get_param_info(f0r_param_info_t* info, int param_index) {
  static constexpr struct {
    const char* name;
    int type;
    const char* explanation;
  } kParams[kParamCount] = {
      {"Level", F0R_PARAM_DOUBLE,
       "Brightness tolerance: Level = round(value x 400), 0.25 = Level 100 of 0..400; about 21 x the noise's "
       "standard deviation (0..255 scale) suits it: 0.25 (100) for light noise, 0.5 (210) for sigma 10, 1 (400) "
       "from sigma 19; unused while Auto is on"},
      {"Dynamic", F0R_PARAM_DOUBLE,
       "How strongly a pair's own contrast lowers its tolerance: Dynamic = round(value x 10), 0.5 = Dynamic 5 of "
       "0..10; unused while Auto is on"},
      {"Show noise", F0R_PARAM_BOOL, "Output ten times the change, centred on grey 127 (on at 0.5 and above)"},
      {"Disable", F0R_PARAM_BOOL, "Pass the frame through unchanged (on at 0.5 and above)"},
      {"Auto", F0R_PARAM_BOOL,
       "Set Level and Dynamic for each frame from the noise measured in it, as velbrin --auto does (on at 0.5 "
       "and above)"},
  };
  if (info == nullptr || param_index < 0 || param_index >= kParamCount) return;
  info->name = kParams[param_index].name;
  info->type = kParams[param_index].type;
  info->explanation = kParams[param_index].explanation;
}

f0r_instance_t f0r_construct(unsigned int width, unsigned int height) {
  // The kernels take int sizes; a frame whose bytes or last row's offset do
  // not fit a ptrdiff_t cannot be addressed. Frei0r's way to refuse is a
  // null instance.
  constexpr unsigned kMaxSide = std::numeric_limits<int>::max();
  if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide) return nullptr;
  const uint64_t pixels = uint64_t{width} * height;
  if (pixels > uint64_t(std::numeric_limits<ptrdiff_t>::max()) / sizeof(uint32_t) ||
      pixels > std::numeric_limits<size_t>::max() / sizeof(uint32_t))
    return nullptr;
  void* memory = plugin_allocate(sizeof(Instance));
  if (memory == nullptr) return nullptr;
  Instance* inst = new (memory) Instance;
  inst->width = int(width);
  inst->height = int(height);
  inst->pixels = size_t(pixels);
  return inst;
}

void f0r_destruct(f0r_instance_t instance) {
  Instance* inst = static_cast<Instance*>(instance);
  if (inst == nullptr) return;
  plugin_release(inst->scratch);
  plugin_release(inst);  // Instance holds nothing that needs destroying
}

void f0r_set_param_value(f0r_instance_t instance, f0r_param_t param, int param_index) {
  Instance* inst = static_cast<Instance*>(instance);
  if (inst == nullptr || param == nullptr) return;
  const double v = *static_cast<const double*>(param);
  if (std::isnan(v)) return;  // no value: the parameter stays as it was
  switch (param_index) {
    case 0: inst->level = scaled(v, kLevelScale); break;
    case 1: inst->dynamic = scaled(v, kDynamicScale); break;
    case 2: inst->show_noise = v >= 0.5; break;
    case 3: inst->disable = v >= 0.5; break;
    case 4: inst->auto_strength = v >= 0.5; break;
    default: break;
  }
}

void f0r_get_param_value(f0r_instance_t instance, f0r_param_t param, int param_index) {
  const Instance* inst = static_cast<const Instance*>(instance);
  if (inst == nullptr || param == nullptr) return;
  double* out = static_cast<double*>(param);
  switch (param_index) {
    case 0: *out = double(inst->level) / kLevelScale; break;
    case 1: *out = double(inst->dynamic) / kDynamicScale; break;
    case 2: *out = inst->show_noise ? 1 : 0; break;
    case 3: *out = inst->disable ? 1 : 0; break;
    case 4: *out = inst->auto_strength ? 1 : 0; break;
    default: break;
  }
}

void f0r_update(f0r_instance_t instance, double, const uint32_t* inframe, uint32_t* outframe) {
  Instance* inst = static_cast<Instance*>(instance);
  if (inst == nullptr || inframe == nullptr || outframe == nullptr) return;
  const size_t bytes = inst->pixels * sizeof(uint32_t);
  if (inst->disable) {
    // The kernels pass every B, G, R through; with the alpha kept that is
    // the input itself.
    if (inframe != outframe) std::memmove(outframe, inframe, bytes);
    return;
  }
  const uint32_t* src = inframe;
  if (overlap(inframe, outframe, inst->pixels)) {
    if (inst->scratch == nullptr) inst->scratch = static_cast<uint32_t*>(plugin_allocate(bytes));
    // Without memory for the copy the frame is left as it came rather than
    // filtered from pixels already overwritten.
    if (inst->scratch == nullptr) {
      if (inframe != outframe) std::memmove(outframe, inframe, bytes);
      return;
    }
    std::memcpy(inst->scratch, inframe, bytes);
    src = inst->scratch;
  }
  const ptrdiff_t last_row = ptrdiff_t{inst->height - 1} * inst->width;
  const SmoothFrame frame{src + last_row, outframe + last_row, inst->width, inst->height, -ptrdiff_t{inst->width}};
  SmoothParams params{inst->level, inst->dynamic, inst->show_noise, inst->disable};
  if (inst->auto_strength) {
    // Measured on the frame as it is run, bottom row first, so that the
    // blocks and the result are velbrin --auto's for the same pixels.
    const StrengthSettings s = strength_of_frame(frame.src, inst->width, inst->height, frame.stride * 4).settings;
    params.level = s.level;
    params.dynamic = s.dynamic;
  }
  params.keep_alpha = 1;
  smooth_frame_split(frame, params);
}

void f0r_update2(f0r_instance_t instance, double time, const uint32_t* inframe1, const uint32_t*, const uint32_t*,
                 uint32_t* outframe) {
  f0r_update(instance, time, inframe1, outframe);
}
