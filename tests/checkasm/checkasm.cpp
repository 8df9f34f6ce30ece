// The kernel checker: for every smoothing kernel this processor runs, and
// for the dispatcher's choice, compare the output with the reference kernel
// bit for bit on frames of many sizes, strides, contents and settings,
// placed against guard pages so that any access outside the pixels faults.
// Also checks, exhaustively, the fast arithmetic the vector kernels rely on.
// Prints each failure with its case and first differing pixel, and a closing
// line "N passed, N failed"; exits non-zero on any failure.
//
// Usage: velbrin_checkasm --help
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/kernels/cpu_features.h"
#include "engine/kernels/smooth.h"
#include "engine/kernels/smooth_kernels.h"
#include "engine/kernels/smooth_plan.h"
#include "engine/kernels/smooth_rules.h"
#include "tests/support/frame_content.h"
#include "tests/support/guarded_frame.h"
#include "tests/checkasm/threaded_cases.h"

namespace {

struct Tally {
  long passed = 0, failed = 0;
  void record(bool ok, const std::string& what) {
    if (ok) {
      ++passed;
    } else {
      ++failed;
      if (failed <= 50) std::printf("FAIL %s\n", what.c_str());
    }
  }
};

Tally g_tally;
std::vector<SmoothKernel> g_kernels;  // vector kernels, plus the dispatcher's choice
bool g_quick = false;

// The dispatcher itself, under test as a kernel: the run procedure's path.
void via_dispatch(const SmoothFrame&, const SmoothPlan&) {}
constexpr const char* kDispatchName = "smooth_frame";

struct KernelCall {
  const SmoothKernel* kernel;
  const SmoothFrame* frame;
  const SmoothParams* params;
};

void run_call(void* p) {
  const KernelCall& c = *static_cast<const KernelCall*>(p);
  if (std::strcmp(c.kernel->name, kDispatchName) == 0) smooth_frame(*c.frame, *c.params);
  else smooth_frame_with(*c.kernel, *c.frame, *c.params);
}

#if defined(_WIN32) && defined(__i386__)
// 32-bit Windows hosts call the module with the stack only 4-byte aligned.
// Every kernel call of the checker goes through this trampoline, which
// calls with the stack 4 bytes off the 16-byte alignment the compiler
// otherwise assumes, so a kernel that spills vectors without realigning
// faults here.
extern "C" void velbrin_call_misaligned(void (*fn)(void*), void* arg);
__asm__(
    ".text\n"
    ".globl _velbrin_call_misaligned\n"
    "_velbrin_call_misaligned:\n"
    "  pushl %ebp\n"
    "  movl %esp, %ebp\n"
    "  andl $-16, %esp\n"
    "  subl $8, %esp\n"
    "  pushl 12(%ebp)\n"  // the argument: esp is now 4 mod 16
    "  call *8(%ebp)\n"   // so the callee starts 4 bytes off its usual alignment
    "  movl %ebp, %esp\n"
    "  popl %ebp\n"
    "  ret\n");
constexpr bool kMisalignedCalls = true;
#else
void velbrin_call_misaligned(void (*fn)(void*), void* arg) { fn(arg); }
constexpr bool kMisalignedCalls = false;
#endif

void run_kernel(const SmoothKernel& k, const SmoothFrame& frame, const SmoothParams& s) {
  KernelCall call{&k, &frame, &s};
  velbrin_call_misaligned(run_call, &call);
}

std::string settings_text(const SmoothParams& s) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "L=%d D=%d noise=%d disable=%d%s", s.level, s.dynamic, s.show_noise, s.disable,
                s.keep_alpha ? " keep-alpha" : "");
  return buf;
}

struct FrameCase {
  int w, h;
  ptrdiff_t stride;
  Placement placement;
  Content content;
  uint64_t seed;
};

std::string case_text(const FrameCase& c, const SmoothParams& s) {
  char buf[200];
  std::snprintf(buf, sizeof buf, "%dx%d stride %lld %s %s seed %llu %s", c.w, c.h, static_cast<long long>(c.stride),
                placement_name(c.placement), content_name(c.content), static_cast<unsigned long long>(c.seed),
                settings_text(s).c_str());
  return buf;
}

uint64_t checksum(const GuardedFrame& f) {
  // Pixels only: the padding of a source is never written either, but the
  // pixels are what a faulty kernel would be likely to touch.
  // 64-bit FNV-1a over the pixel words: any change to one word changes it.
  constexpr uint64_t kFnvOffsetBasis = 1469598103934665603ull, kFnvPrime = 1099511628211ull;
  uint64_t h = kFnvOffsetBasis;
  for (int i = 0; i < f.height(); ++i)
    for (int j = 0; j < f.width(); ++j) h = (h ^ f.at(i, j)) * kFnvPrime;
  return h;
}

// Pixel (i, j) of a frame w x h made for one case; nullptr: the case's Content.
using PixelFill = uint32_t (*)(int i, int j, int w, int h, uint64_t seed, TestRng& rng);

// One frame, every kernel, several settings.
void check_frame(const FrameCase& c, const std::vector<SmoothParams>& settings, PixelFill fill = nullptr) {
  GuardedFrame src(c.w, c.h, c.stride, c.placement);
  src.fill_all(c.seed * 3 + 1);
  TestRng rng(c.seed);
  const int level_hint = settings.empty() ? 100 : settings[0].level;
  for (int i = 0; i < c.h; ++i)
    for (int j = 0; j < c.w; ++j)
      src.at(i, j) = fill != nullptr ? fill(i, j, c.w, c.h, c.seed, rng)
                                     : content_pixel(c.content, i, j, c.w, c.h, level_hint, rng);
  const uint64_t src_sum = checksum(src);

  for (const SmoothParams& s : settings) {
    GuardedFrame ref(c.w, c.h, c.stride, c.placement);
    ref.fill_all(c.seed * 3 + 2);
    const std::string what = case_text(c, s);
    set_fault_context(("reference on " + what).c_str());
    smooth_frame_c(SmoothFrame{src.row0(), ref.row0(), c.w, c.h, src.stride()}, s);
    for (const SmoothKernel& k : g_kernels) {
      GuardedFrame out(c.w, c.h, c.stride, c.placement);
      out.fill_all(c.seed * 3 + 2);
      const std::string label = std::string(k.name) + " " + what;
      set_fault_context(label.c_str());
      run_kernel(k, SmoothFrame{src.row0(), out.row0(), c.w, c.h, src.stride()}, s);
      ptrdiff_t diff = 0;
      bool ok = out.same_bytes(ref, &diff);
      std::string detail;
      if (!ok) {
        // Word position relative to row 0 -> row and column when it is a pixel.
        char buf[160];
        const ptrdiff_t st = out.stride();
        long long row = st != 0 ? static_cast<long long>((diff - (diff % st + st) % st) / st) : 0;
        long long col = static_cast<long long>(diff - row * st);
        std::snprintf(buf, sizeof buf, ": first difference at word %lld (row %lld, col %lld): expected %08X got %08X",
                      static_cast<long long>(diff), row, col, ref.row0()[diff], out.row0()[diff]);
        detail = buf;
      }
      if (ok && checksum(src) != src_sum) {
        ok = false;
        detail = ": source modified";
      }
      g_tally.record(ok, label + detail);
    }
  }
}

// The settings grid: Level and Dynamic far outside the dialog's ranges,
// including the values where the fast arithmetic changes form.
const int kLevels[] = {0,    1,    7,     50,    100,     117,     200,      201,   400,   1000,  2550,  2551,
                       5100, 5101, 5102,  70000, INT_MAX, -1,      -7,       -400,  -2550, -2551, -2552, INT_MIN};
const int kDynamics[] = {0,     1,     2,    3,    4,    5,       6,       7,           8,           9,
                         10,    11,    12,   13,   -1,   -2,      -7,      -100,        -2539,       -2540,
                         -2541, 2561,  2562, 2563, 1000, INT_MIN, INT_MAX, INT_MIN + 1, INT_MAX - 1};
const int kSwitches[][2] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}, {7, 0}, {0, -3}};

SmoothParams make(int level, int dynamic, int noise = 0, int disable = 0, int keep_alpha = 0) {
  SmoothParams s{};
  s.level = level;
  s.dynamic = dynamic;
  s.show_noise = noise;
  s.disable = disable;
  s.keep_alpha = keep_alpha;
  return s;
}

// Every Level x Dynamic of the grid on a few small frames.
void group_settings_grid() {
  const FrameCase frames[] = {
      {37, 23, 41, Placement::kHighGuard, Content::kNearThreshold, 11},
      {21, 9, -21, Placement::kLowGuard, Content::kPhoto, 12},
      {19, 6, 19, Placement::kHighGuard, Content::kNoise, 13},
  };
  int k = 0;
  for (const FrameCase& f : frames) {
    std::vector<SmoothParams> all;
    for (int level : kLevels)
      for (int dynamic : kDynamics) {
        const int* sw = kSwitches[k++ % 6];
        all.push_back(make(level, dynamic, sw[0], sw[1]));
      }
    if (g_quick) all.resize(all.size() / 3);
    check_frame(f, all);
  }
}

// Sizes, strides and placements with a few settings each.
void group_geometry() {
  const int widths[] = {1,  2,  3,  4,  5,  6,   7,   8,   9,   15,  16,  17,  18,  19,  31,  32,   33,   34,
                        35, 47, 48, 63, 64, 65,  66,  67,  100, 127, 128, 129, 351, 352, 353, 367, 368,  369,
                        370, 371, 372, 373, 383, 384, 385, 704, 705, 735, 736, 737, 740, 1000, 1919};
  const int heights[] = {1, 2, 3, 4, 5, 6, 7};
  const std::vector<SmoothParams> settings = {make(100, 5),          make(400, 10, 1), make(201, 10, 0, 0),
                                              make(60, 11),          make(100, 5, 0, 0, 1), make(400, 10, 1, 0, 1),
                                              make(150, 4, 0, 1, 1)};
  uint64_t seed = 1000;
  int n = 0;
  for (int w : widths)
    for (int h : heights) {
      const int variant = n++;
      const ptrdiff_t pads[] = {0, 1, 3, 17};
      const ptrdiff_t pad = pads[variant % 4];
      const ptrdiff_t stride = (variant % 3 == 1) ? -(w + pad) : w + pad;
      const Placement pl = variant % 2 ? Placement::kHighGuard : Placement::kLowGuard;
      const Content content = static_cast<Content>(variant % static_cast<int>(Content::kCount));
      if (g_quick && variant % 3 != 0) continue;
      check_frame({w, h, stride, pl, content, seed++}, {settings[static_cast<size_t>(variant) % settings.size()]});
    }
  // Tall and narrow, wide and short, and frames large enough for several tiles.
  const FrameCase big[] = {
      {1, 300, 1, Placement::kHighGuard, Content::kPhoto, 1},
      {2, 100, -2, Placement::kLowGuard, Content::kNoise, 2},
      {3, 77, 5, Placement::kHighGuard, Content::kPhoto, 3},
      {5, 64, -9, Placement::kHighGuard, Content::kNearThreshold, 4},
      {9, 33, 9, Placement::kLowGuard, Content::kPhoto, 5},
      {17, 50, -17, Placement::kHighGuard, Content::kNoise, 6},
      {1500, 1, 1500, Placement::kHighGuard, Content::kPhoto, 7},
      {1920, 9, 1920, Placement::kHighGuard, Content::kPhoto, 8},
      {1920, 8, -1925, Placement::kLowGuard, Content::kNearThreshold, 9},
      {3001, 4, 3003, Placement::kHighGuard, Content::kPhoto, 10},
      {4100, 2, -4100, Placement::kHighGuard, Content::kNoise, 11},
      {640, 40, 700, Placement::kLowGuard, Content::kPhoto, 12},
      // Several tiles and several bands of rows.
      {400, 150, 400, Placement::kHighGuard, Content::kPhoto, 13},
      {1000, 70, -1003, Placement::kLowGuard, Content::kNearThreshold, 14},
      {17, 200, 17, Placement::kHighGuard, Content::kNoise, 15},
      // Widths whose last column tile would be narrower than one vector
      // (AVX-512, AVX2 and SSE2 respectively), so it starts earlier.
      {4938, 3, 4938, Placement::kHighGuard, Content::kPhoto, 16},
      {8101, 2, -8101, Placement::kHighGuard, Content::kNoise, 17},
      {16563, 2, 16570, Placement::kLowGuard, Content::kPhoto, 18},
  };
  for (const FrameCase& f : big)
    check_frame(f, {make(100, 5), make(400, 10, 1), make(3000, -3, 0, 0), make(100, 5, 0, 0, 1)});
  // Strides that make rows share memory: 0 (every row the same words) and
  // shorter than a row, both ways.
  const FrameCase shared[] = {
      {10, 4, 0, Placement::kLowGuard, Content::kPhoto, 21},
      {33, 5, 16, Placement::kHighGuard, Content::kNoise, 22},
      {33, 5, -16, Placement::kHighGuard, Content::kNoise, 23},
      {20, 3, -1, Placement::kLowGuard, Content::kNoise, 24},
      {1, 6, 0, Placement::kLowGuard, Content::kNoise, 25},
  };
  for (const FrameCase& f : shared) check_frame(f, {make(100, 5), make(400, 10, 1)});
}

// A guard page after (or before) every row: reading one word past a row's
// end (or before its start) faults, even in the middle of the frame.
void group_row_guards() {
  const int widths[] = {1, 2, 3, 4, 5, 7, 8, 9, 12, 15, 16, 17, 23, 31, 32, 33, 40, 63, 64, 65, 100, 369, 1000, 1024};
  const int heights[] = {1, 2, 3, 5, 9};
  uint64_t seed = 5000;
  int n = 0;
  for (int w : widths)
    for (int h : heights) {
      const int variant = n++;
      if (g_quick && variant % 2) continue;
      const Placement pl = variant % 2 ? Placement::kRowGuardAfter : Placement::kRowGuardBefore;
      const ptrdiff_t sign = (variant / 2) % 2 ? -1 : 1;
      check_frame({w, h, sign, pl, static_cast<Content>(variant % static_cast<int>(Content::kCount)), seed++},
                  {make(100, 5), make(400, 10, 1)});
    }
}

// Random frames, strides, contents and settings.
void group_random(uint64_t seed, int count) {
  TestRng rng(seed);
  for (int n = 0; n < count; ++n) {
    const int w = rng.below(4) == 0 ? rng.range(1, 9) : rng.range(1, 420);
    const int h = rng.below(4) == 0 ? rng.range(1, 5) : rng.range(1, 24);
    const ptrdiff_t pad = rng.below(3) == 0 ? 0 : rng.range(1, 40);
    const ptrdiff_t stride = rng.below(2) ? w + pad : -(w + pad);
    const Placement pl = rng.below(2) ? Placement::kHighGuard : Placement::kLowGuard;
    const Content content = static_cast<Content>(rng.below(static_cast<int>(Content::kCount)));
    std::vector<SmoothParams> s;
    for (int k = 0; k < 2; ++k) {
      const int level = rng.below(3) == 0 ? static_cast<int>(rng.u32()) : kLevels[rng.below(int(sizeof kLevels / sizeof(int)))];
      const int dynamic = rng.below(4) == 0 ? static_cast<int>(rng.u32()) : kDynamics[rng.below(int(sizeof kDynamics / sizeof(int)))];
      const int* sw = kSwitches[rng.below(6)];
      s.push_back(make(level, dynamic, sw[0], sw[1]));
    }
    check_frame({w, h, stride, pl, content, rng.next()}, s);
  }
}

// Flat areas: windows whose 25 pixels share B, G, R (byte 3 random, which
// must not matter) take the kernels' shortcut; the pictures put a
// disturbance at every column phase, so flat blocks meet noise, a one-step
// change in a single channel, other flat colours and the frame's edges on
// every side of every lane.
uint32_t flat_pixel(int i, int j, int w, int h, uint64_t seed, TestRng& rng) {
  const uint32_t alpha = rng.u32() & 0xFF000000u;  // byte 3 differs everywhere
  const int kind = static_cast<int>(seed % 7);
  const int phase = static_cast<int>((seed / 7) % static_cast<uint64_t>(w));  // column of the disturbance
  const int row = static_cast<int>((seed / 7 / static_cast<uint64_t>(w)) % static_cast<uint64_t>(h));
  const uint32_t base = 0x00406080u + static_cast<uint32_t>(seed % 5) * 0x00112233u;
  switch (kind) {
    case 0:  // one colour throughout
      return base | alpha;
    case 1:  // one noisy pixel
      return (i == row && j == phase ? rng.u32() & 0x00FFFFFFu : base) | alpha;
    case 2:  // a noisy column, one to three pixels wide
      return (j >= phase && j < phase + 1 + static_cast<int>(seed % 3) ? rng.u32() & 0x00FFFFFFu : base) | alpha;
    case 3:  // two flat halves differing by one step in one channel
      return (j < phase ? base : base + (1u << (8 * (seed % 3)))) | alpha;
    case 4:  // noise along the frame's edges, flat inside
      return (i == 0 || j == 0 || i == h - 1 || j == w - 1 || j == phase ? rng.u32() & 0x00FFFFFFu : base) | alpha;
    case 5:  // four flat quadrants, and a one-pixel step in one channel at (row, phase)
      return ((i < row ? 0u : 0x00010000u) + (j < phase ? 0u : 0x00000100u) + base +
              (i == row && j == phase ? 1u : 0u)) | alpha;
    default:  // flat rows with noisy rows between them
      return ((i % 7 == static_cast<int>(seed % 7) || j == phase) ? rng.u32() & 0x00FFFFFFu : base) | alpha;
  }
}

void group_flat() {
  // Level and Dynamic where a flat window's pairs all pass, where none does
  // (Level 0 and below) and at the ends of the int range; the switches and
  // keep_alpha on and off.
  const std::vector<SmoothParams> settings = {
      make(100, 5),          make(0, 5, 1),           make(-7, 11, 0, 0, 1), make(1, 0, 1, 0, 1),
      make(INT_MIN, 3, 0, 0), make(INT_MAX, -2, 1, 0), make(400, 10, 0, 1, 1), make(250, INT_MAX, 1, 1, 0),
      make(5101, INT_MIN, 0, 0, 1), make(100, 5, 1, 0, 1),
  };
  // Every width 1..40, the disturbance at every column, several heights.
  size_t n = 0;
  for (int w = 1; w <= 40; ++w)
    for (int phase = 0; phase < w; ++phase) {
      if (g_quick && phase % 3 != 0) continue;
      for (int kind = 0; kind < 7; ++kind, ++n) {
        const int h = 1 + static_cast<int>(n % 9);
        const uint64_t seed = static_cast<uint64_t>(kind) + 7 * (static_cast<uint64_t>(phase) + static_cast<uint64_t>(w) * (n % 5));
        const ptrdiff_t stride = n % 3 == 1 ? -(w + static_cast<ptrdiff_t>(n % 4)) : w + static_cast<ptrdiff_t>(n % 4);
        const Placement pl = n % 2 ? Placement::kHighGuard : Placement::kLowGuard;
        check_frame({w, h, stride, pl, Content::kFlat, seed}, {settings[n % settings.size()], settings[(n + 3) % settings.size()]},
                    flat_pixel);
      }
    }
  // Wider frames: several vectors, tiles and bands of rows; the disturbance
  // at each column phase of the widest vector around a tile's edge.
  const int wide[][2] = {{64, 12}, {65, 9}, {100, 20}, {367, 7}, {369, 8}, {740, 70}, {1920, 9}, {1001, 140}};
  for (const auto& size : wide)
    for (int phase = 0; phase < 40; ++phase) {
      if (g_quick && phase % 4 != 0) continue;
      for (int kind = 0; kind < 7; ++kind, ++n) {
        const int w = size[0], h = size[1];
        const int col = (phase * 37 + (phase % 2 ? 0 : 350)) % w;
        const uint64_t seed = static_cast<uint64_t>(kind) + 7 * (static_cast<uint64_t>(col) + static_cast<uint64_t>(w) * (n % 5));
        const ptrdiff_t stride = n % 2 ? -w : w + 5;
        check_frame({w, h, stride, n % 3 ? Placement::kHighGuard : Placement::kLowGuard, Content::kFlat, seed},
                    {settings[n % settings.size()]}, flat_pixel);
      }
    }
  // A guard page after (or before) every row, so that the shortcut's reads
  // are held to the row too.
  for (int w : {8, 9, 16, 17, 32, 33, 38, 39, 40, 64, 72}) {
    for (int kind = 0; kind < 7; ++kind, ++n) {
      const uint64_t seed = static_cast<uint64_t>(kind) + 7 * static_cast<uint64_t>(w / 2);
      check_frame({w, 7, n % 2 ? 1 : -1, n % 2 ? Placement::kRowGuardAfter : Placement::kRowGuardBefore, Content::kFlat, seed},
                  {make(100, 5), make(0, 5, 1, 0, 1)}, flat_pixel);
    }
  }
}

// Smooth windows, where every member passes and the kernels take the box
// average: keys one step s below, at or above a middle value (s in key
// units, put on blue, green and red so that the channels differ too), with
// s at the widest spread the plan lets through and one beyond it. A plan
// that let one spread too many through would take the box average where
// the reference turns a member away. Every Dynamic form, Levels over the
// dialog's range and past it, Show noise and byte 3 kept.
int g_key_step = 0;
uint32_t key_step_pixel(int, int, int, int, uint64_t, TestRng& rng) {
  const int offset = (static_cast<int>(rng.next() % 3) - 1) * g_key_step;  // -s, 0 or +s
  const int g = offset / 6, rest = offset - 6 * g, r = rest / 3, b = rest - 3 * r;  // B + 6G + 3R = offset
  return pack_bgr(120 + b, 128 + g, 125 + r, static_cast<uint32_t>(rng.next() & 0xFF));
}

void group_smooth() {
  const int dynamics[] = {0, 5, 8, 10, 12, 14, -3};
  uint64_t seed = 5000;
  for (int dynamic : dynamics)
    for (int level = 1; level <= 1200; level += (level < 420 ? 1 : 37)) {
      const SmoothParams s = make(level, dynamic, level % 3 == 0, 0, level % 2);
      uint32_t a = 0, b = 0;
      SmoothPlan plan;
      if (!make_smooth_plan(SmoothFrame{&a, &b, 1, 1, 1}, s, &plan) || plan.box_reach < 0) continue;
      // The widest step inside the reach, and the first one past it (in 4Y,
      // the kernels' key units; a step is in Y, four of those).
      for (int step : {plan.box_reach / 4, plan.box_reach / 4 + 1}) {
        if (step > 120) continue;  // the channels hold steps up to about 120 around their middles
        if (g_quick && step != plan.box_reach / 4 + 1) continue;
        g_key_step = step;
        check_frame({70, 9, 70 + (level & 1), Placement::kHighGuard, Content::kPhoto, seed++}, {s}, key_step_pixel);
      }
    }
}

// Frames of 4 MiB and more, which the kernels write with streaming stores:
// rows placed where a vector store is aligned and where it is not (odd
// strides, both directions), photographic and flat content, byte 3 cleared
// and kept.
void group_streaming() {
  const std::vector<SmoothParams> settings = {make(100, 5), make(100, 5, 0, 0, 1), make(400, 10, 1, 0, 1)};
  check_frame({1280, 1024, 1280, Placement::kHighGuard, Content::kPhoto, 41}, settings);
  if (g_quick) return;
  check_frame({1283, 1021, -1291, Placement::kLowGuard, Content::kNoise, 42}, settings);
  check_frame({1536, 1024, 1541, Placement::kHighGuard, Content::kPhoto, 43}, settings, flat_pixel);
}

// Source and destination in one buffer, the same or overlapping: every
// kernel must then give exactly what the reference gives (it reads pixels
// that were already written).
void group_aliasing() {
  struct Alias {
    int w, h;
    ptrdiff_t stride, dst_offset;  // destination row 0 relative to source row 0, in words
  };
  const Alias cases[] = {{1, 1, 1, 0},    {17, 5, 17, 0},    {40, 9, -44, 0}, {33, 6, 33, 1},
                         {33, 6, 33, -35}, {64, 7, 70, 140}, {20, 20, 20, 399}, {370, 5, 372, 3}};
  for (const Alias& a : cases) {
    const ptrdiff_t margin = 4 * (a.w + (a.stride < 0 ? -a.stride : a.stride)) + 1000;
    const ptrdiff_t rows = static_cast<ptrdiff_t>(a.h) * (a.stride < 0 ? -a.stride : a.stride);
    std::vector<uint32_t> base(static_cast<size_t>(2 * margin + rows + a.w + 2 * (a.dst_offset < 0 ? -a.dst_offset : a.dst_offset)));
    TestRng rng(static_cast<uint64_t>(a.w * 31 + a.h));
    for (uint32_t& x : base) x = content_pixel(Content::kPhoto, rng.below(50), rng.below(50), 50, 50, 100, rng);
    const ptrdiff_t src0 = margin + (a.stride < 0 ? rows : 0) + (a.dst_offset < 0 ? -a.dst_offset : 0);
    for (const SmoothParams& s : {make(100, 5), make(400, 10, 1)}) {
      std::vector<uint32_t> expect = base;
      smooth_frame_c(SmoothFrame{expect.data() + src0, expect.data() + src0 + a.dst_offset, a.w, a.h, a.stride}, s);
      for (const SmoothKernel& k : g_kernels) {
        std::vector<uint32_t> got = base;
        run_kernel(k, SmoothFrame{got.data() + src0, got.data() + src0 + a.dst_offset, a.w, a.h, a.stride}, s);
        char buf[160];
        std::snprintf(buf, sizeof buf, "%s aliasing %dx%d stride %lld dst offset %lld %s", k.name, a.w, a.h,
                      static_cast<long long>(a.stride), static_cast<long long>(a.dst_offset), settings_text(s).c_str());
        g_tally.record(got == expect, buf);
      }
    }
  }
}

// Switches followed live (as the run procedure passes them): the words the
// pointers name decide, whatever the snapshot says.
void group_live_switches() {
  const int states[][2] = {{1, 0}, {0, 1}, {1, 1}, {0, 0}};
  for (const int* live : states) {
    const int live_noise = live[0], live_disable = live[1];
    SmoothParams followed = make(250, 7, !live_noise, !live_disable);
    followed.live_show_noise = &live_noise;
    followed.live_disable = &live_disable;
    const SmoothParams fixed = make(250, 7, live_noise, live_disable);
    for (const int w : {5, 40, 700}) {
      const FrameCase f{w, 9, w + 3, Placement::kHighGuard, Content::kPhoto, static_cast<uint64_t>(w)};
      GuardedFrame src(f.w, f.h, f.stride, f.placement);
      src.fill_all(77);
      GuardedFrame ref(f.w, f.h, f.stride, f.placement), out(f.w, f.h, f.stride, f.placement);
      ref.fill_all(78);
      smooth_frame_c(SmoothFrame{src.row0(), ref.row0(), f.w, f.h, src.stride()}, fixed);
      for (const SmoothKernel& k : g_kernels) {
        out.fill_all(78);
        run_kernel(k, SmoothFrame{src.row0(), out.row0(), f.w, f.h, src.stride()}, followed);
        ptrdiff_t diff = 0;
        g_tally.record(out.same_bytes(ref, &diff), std::string(k.name) + " live switches " + case_text(f, fixed));
      }
    }
  }
}

// The average step of each vector kernel, on every reachable (count, sum).
void group_divide() {
  std::vector<uint16_t> sums, passes;
  for (int c = 1; c <= 25; ++c)
    for (int sum = 0; sum <= 255 * c; ++sum) {
      sums.push_back(static_cast<uint16_t>(sum));
      passes.push_back(static_cast<uint16_t>(c - 1));
    }
  while (sums.size() % 32) {
    sums.push_back(0);
    passes.push_back(0);
  }
  for (const SmoothKernel& k : g_kernels) {
    if (k.divide == nullptr) continue;
    std::vector<uint16_t> out(sums.size(), 0xFFFF);
    k.divide(sums.data(), passes.data(), out.data(), static_cast<int>(sums.size()));
    for (int c = 1; c <= 25; ++c) {
      bool ok = true;
      int bad_sum = -1;
      for (size_t i = 0; i < sums.size() && ok; ++i)
        if (passes[i] == c - 1 && out[i] != sums[i] / c) {
          ok = false;
          bad_sum = sums[i];
        }
      char buf[120];
      std::snprintf(buf, sizeof buf, "%s average: every sum 0..%d / %d%s", k.name, 255 * c, c,
                    ok ? "" : (" wrong at sum " + std::to_string(bad_sum)).c_str());
      g_tally.record(ok, buf);
    }
  }
}

// The 16-bit tolerance of each plan against the exact 64-bit rule: for each
// key difference d, the number of centre distances e in 0..2550 that pass
// (both tests are "e below a threshold", so equal counts mean equal results
// for every e), and T4 within a signed 16-bit lane.
void group_tolerance_model() {
  // Multipliers exist and are exact for every divisor a pair can see.
  bool all_found = true;
  long worst = 0;
  for (int64_t k = 1; k <= 6000 && all_found; ++k) {
    uint16_t m = 0;
    int s = 0, a = 0;
    if (!find_quotient_multiplier(k, &m, &s, &a)) {
      all_found = false;
      worst = static_cast<long>(k);
      break;
    }
    for (int d = 0; d <= 2550; ++d) {
      const int64_t q = d / k;
      const int64_t delta = ((int64_t{4} * d * m) >> (16 + s)) - 4 * q - a;
      if (delta < 0 || delta > 3) {
        all_found = false;
        worst = static_cast<long>(k);
        break;
      }
    }
  }
  g_tally.record(all_found, "quotient multipliers for |K| 1..6000" +
                                (all_found ? std::string() : " wrong for |K| = " + std::to_string(worst)));

  uint32_t a_pixel = 0, b_pixel = 0;
  for (int level : kLevels)
    for (int dynamic : kDynamics) {
      const SmoothParams s = make(level, dynamic);
      SmoothPlan plan;
      const bool made = make_smooth_plan(SmoothFrame{&a_pixel, &b_pixel, 1, 1, 1}, s, &plan);
      const PairTolerance exact(level, dynamic);
      bool ok = made;
      int bad_d = -1;
      for (int d = 0; d <= 2550 && ok; ++d) {
        const int64_t t_exact = exact.of_pair(0, d);
        const int64_t pass_exact = t_exact <= 0 ? 0 : (t_exact > 2551 ? 2551 : t_exact);
        int64_t t4 = 0;
        const int64_t q = ((int64_t{4} * d * plan.multiplier) >> 16) >> plan.shift;
        switch (plan.rule) {
          case PairRule::kMinusQuotient: t4 = plan.base - q; break;
          case PairRule::kPlusQuotient: t4 = plan.base + q; break;
          case PairRule::kEqualKeysOnly: t4 = d == 0 ? plan.base : 0; break;
        }
        if (t4 < -32768 || t4 > 32767 || plan.base < -32768 || plan.base > 32767) ok = false;
        // e passes when 4e < t4: e < ceil(t4 / 4)
        const int64_t bound = t4 <= 0 ? 0 : (t4 + 3) / 4;
        const int64_t pass_model = bound > 2551 ? 2551 : bound;
        if (pass_model != pass_exact) ok = false;
        if (!ok) bad_d = d;
      }
      g_tally.record(ok, "tolerance model " + settings_text(s) + (ok ? "" : " wrong at d = " + std::to_string(bad_d)));
    }
}

void usage() {
  std::printf(
      "usage: velbrin_checkasm [--quick] [--seed N] [--test GROUP] [--function KERNEL] [--list]\n"
      "                        [--expect-dispatch KERNEL]\n"
      "  --test GROUP        run one group of checks (see --list)\n"
      "  --function KERNEL   check one kernel only (sse2, avx2, avx512, smooth_frame)\n"
      "  --expect-dispatch K fail unless the dispatcher runs kernel K; exit 77 (skipped) if this\n"
      "                      processor cannot run K\n"
      "VELBRIN_CPU_MASK (c, sse2, avx2, avx512 or a bit mask) caps what the dispatcher may pick.\n");
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t seed = 20240601;
  const char* only_group = nullptr;
  const char* only_kernel = nullptr;
  const char* expect_dispatch = nullptr;
  bool list = false;
  for (int i = 1; i < argc; ++i) {
    const bool has_value = i + 1 < argc;
    if (std::strcmp(argv[i], "--quick") == 0) g_quick = true;
    else if (std::strcmp(argv[i], "--list") == 0) list = true;
    else if (std::strcmp(argv[i], "--seed") == 0 && has_value) seed = std::strtoull(argv[++i], nullptr, 10);
    else if (std::strcmp(argv[i], "--test") == 0 && has_value) only_group = argv[++i];
    else if (std::strcmp(argv[i], "--function") == 0 && has_value) only_kernel = argv[++i];
    else if (std::strcmp(argv[i], "--expect-dispatch") == 0 && has_value) expect_dispatch = argv[++i];
    else {
      usage();
      return 2;
    }
  }
  install_fault_reporter();

  struct Group {
    const char* name;
    void (*run)();
  };
  static uint64_t s_seed;
  s_seed = seed;
  const Group groups[] = {
      {"divide", group_divide},
      {"tolerance", group_tolerance_model},
      {"settings-grid", group_settings_grid},
      {"geometry", group_geometry},
      {"row-guards", group_row_guards},
      {"flat", group_flat},
      {"streaming", group_streaming},
      {"smooth", group_smooth},
      {"aliasing", group_aliasing},
      {"live-switches", group_live_switches},
      {"random", [] { group_random(s_seed, g_quick ? 60 : 300); }},
      {"threaded-bands", [] { check_threaded_bands([](bool ok, const std::string& what) { g_tally.record(ok, what); }, g_quick); }},
  };
  if (list) {
    for (const Group& g : groups) std::printf("%s\n", g.name);
    return 0;
  }

  SmoothKernel supported[8];
  const int n = smooth_kernels_supported(supported, 8);
  const char* built[8];
  const int nb = smooth_kernels_built(built, 8);
  const char* cap = std::getenv("VELBRIN_CPU_MASK");
  std::printf("kernels built:");
  for (int i = 0; i < nb; ++i) std::printf(" %s", built[i]);
  std::printf("\ndispatcher runs: %s%s%s%s\n", smooth_kernel_chosen(), cap ? " (VELBRIN_CPU_MASK=" : "",
              cap ? cap : "", cap ? ")" : "");
  for (int i = 0; i < n; ++i)
    if (supported[i].fast != nullptr) g_kernels.push_back(supported[i]);
  g_kernels.push_back(SmoothKernel{kDispatchName, via_dispatch, nullptr});
  if (only_kernel != nullptr) {
    std::vector<SmoothKernel> chosen;
    for (const SmoothKernel& k : g_kernels)
      if (std::strcmp(k.name, only_kernel) == 0) chosen.push_back(k);
    if (chosen.empty()) {
      std::printf("kernel %s is not built or this processor (or VELBRIN_CPU_MASK) rules it out\n", only_kernel);
      return 2;
    }
    g_kernels = chosen;
  }
  std::printf("kernels checked:");
  for (const SmoothKernel& k : g_kernels) std::printf(" %s", k.name);
  std::printf("\n");
  if (kMisalignedCalls) std::printf("kernels are called with the stack 4 bytes off 16-byte alignment\n");
  std::fflush(stdout);

  if (expect_dispatch != nullptr) {
    // The cap must reach the dispatcher: it runs exactly the level asked
    // for, provided this processor has it.
    bool is_built = false;
    for (int i = 0; i < nb; ++i) is_built = is_built || std::strcmp(built[i], expect_dispatch) == 0;
    const unsigned needs = cpu_cap_from_text(expect_dispatch);
    if (!is_built || (cpu_features() & needs) != needs) {
      std::printf("skipped: %s is not built or this processor cannot run it\n", expect_dispatch);
      return 77;
    }
    g_tally.record(std::strcmp(smooth_kernel_chosen(), expect_dispatch) == 0,
                   std::string("dispatcher runs ") + smooth_kernel_chosen() + ", expected " + expect_dispatch);
  }

  bool group_found = only_group == nullptr;
  for (const Group& g : groups) {
    if (only_group != nullptr && std::strcmp(only_group, g.name) != 0) continue;
    group_found = true;
    const long before_pass = g_tally.passed, before_fail = g_tally.failed;
    g.run();
    std::printf("%-28s %6ld passed, %ld failed\n", g.name, g_tally.passed - before_pass, g_tally.failed - before_fail);
    std::fflush(stdout);
  }
  if (!group_found) {
    std::printf("no group %s (--list shows them)\n", only_group);
    return 2;
  }
  std::printf("%ld passed, %ld failed\n", g_tally.passed, g_tally.failed);
  return g_tally.failed == 0 ? 0 : 1;
}
