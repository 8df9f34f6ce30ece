// Per-frame set-up of the vector kernels: the frame checks that send a call
// to the reference kernel, and the exact 16-bit form of the pair tolerance
// (see smooth_plan.h for the argument).
#include "engine/kernels/smooth_plan.h"

#include <climits>

namespace {

constexpr int kMaxKey = 2550;  // B + 6G + 3R of white

// Frames of at least this many bytes are written with streaming stores: a
// 1080p frame (8 MB) read and written does not stay in a processor's own
// cache, and ordinary stores first read each destination line. Inside
// ffmpeg at 1080p they took the frei0r plug-in's update from 2.4 to 1.9 ms
// a frame. Smaller frames are likely still cached when the host reads
// them, and keep ordinary stores.
constexpr uint64_t kStreamStoreBytes = 4u << 20;

int64_t clamp64(int64_t v, int64_t lo, int64_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

// Address range [lo, hi) in bytes covered by the pixels of a frame.
struct Extent {
  uint64_t lo, hi;
};

Extent extent_of(const void* row0, int width, int height, ptrdiff_t stride) {
  const int64_t last = int64_t{height - 1} * stride;  // words from row 0 to row h - 1
  const int64_t first_word = last < 0 ? last : 0;
  const int64_t end_word = (last > 0 ? last : 0) + width;
  const uint64_t base = reinterpret_cast<uintptr_t>(row0);
  return {base + static_cast<uint64_t>(first_word * 4), base + static_cast<uint64_t>(end_word * 4)};
}

// The widest key spread that lets every member of every pair pass, as the
// vector kernels test it. If every 4Y of a window lies within D of one
// value, any two differ by at most 2D: each member's 4e and each pair's
// difference d are at most 2D. The pair's threshold is T4 = base - Q(d) (or
// base + Q(d) >= base), and Q never decreases with d, so T4 >= base - Q(2D).
// With 2D < base - Q(2D), 4e <= 2D < T4 for every member: all 24 pass, the
// count is 25 and the sums are the window's. Returns the largest such D
// (2D + Q(2D) grows with D), or -1 if there is none.
int box_reach(const SmoothPlan& p) {
  auto quotient = [&](int d) { return p.rule == PairRule::kMinusQuotient ? ((d * p.multiplier) >> 16) >> p.shift : 0; };
  auto passes = [&](int reach) { return 2 * reach < p.base - quotient(2 * reach); };
  if (!passes(0)) return -1;
  int lo = 0, hi = 4 * kMaxKey;  // passes(lo); keys never differ by more than 4 * kMaxKey
  if (passes(hi)) return hi;
  while (hi - lo > 1) {
    const int mid = lo + (hi - lo) / 2;
    (passes(mid) ? lo : hi) = mid;
  }
  return lo;
}

}  // namespace

bool find_quotient_multiplier(int64_t k_abs, uint16_t* multiplier, int* shift, int* offset) {
  if (k_abs < 1) return false;
  for (int s = 0; s < 16; ++s) {
    const int64_t scale = int64_t{1} << (16 + s);
    // 2^(16+s) / |K| rounded up and down, kept to 16 bits (|K| = 1 needs
    // 65535, one below 2^16, and lands in the window with offset -1); for
    // |K| > 2550 the quotient is always 0 and M = 0 is the candidate.
    const int64_t candidates[3] = {k_abs > kMaxKey ? 0 : -1, (scale + k_abs - 1) / k_abs, scale / k_abs};
    for (int64_t m : candidates) {
      if (m < 0) continue;
      if (m > 0xFFFF) m = 0xFFFF;
      // Spread of Q(d) - 4q over every key difference; q grows by one at
      // each multiple of k_abs.
      int64_t lo = INT64_MAX, hi = INT64_MIN, q = 0, next = k_abs;
      for (int64_t d = 0; d <= kMaxKey; ++d) {
        if (d == next) {
          ++q;
          next += k_abs;
        }
        const int64_t diff = ((4 * d * m) >> (16 + s)) - 4 * q;
        lo = diff < lo ? diff : lo;
        hi = diff > hi ? diff : hi;
      }
      if (hi - lo <= 3 && lo >= -4 && lo <= 4) {
        *multiplier = static_cast<uint16_t>(m);
        *shift = s;
        *offset = static_cast<int>(lo);
        return true;
      }
    }
  }
  return false;
}

bool make_smooth_plan(const SmoothFrame& frame, const SmoothParams& params, SmoothPlan* plan) {
  const int w = frame.width;
  const int h = frame.height;
  if (w <= 0 || h <= 0) return false;
  // The kernels step through columns and rows with int arithmetic a few
  // hundred past the current position; absurd sizes go to the reference.
  if (w > INT_MAX - 4096 || h > INT_MAX - 4096) return false;
  const ptrdiff_t stride = frame.stride;
  // Destination rows that share words: the last store wins, so stores must
  // come in the reference's order.
  if (h > 1 && stride < w && stride > -ptrdiff_t{w}) return false;
  const Extent src = extent_of(frame.src, w, h, stride);
  const Extent dst = extent_of(frame.dst, w, h, stride);
  if (src.lo < dst.hi && dst.lo < src.hi) return false;

  // Level and Dynamic are read once, here.
  const int64_t level = params.level;
  const int64_t divisor = int64_t{11} - params.dynamic;
  plan->params = &params;
  plan->row_begin = 0;
  plan->row_end = h;
  plan->stream_stores = static_cast<uint64_t>(w) * static_cast<uint64_t>(h) * 4 >= kStreamStoreBytes;
  plan->box_reach = -1;
  if (divisor == 0) {
    plan->rule = PairRule::kEqualKeysOnly;
    plan->multiplier = 0;
    plan->shift = 0;
    plan->base = static_cast<int>(4 * clamp64(level, 0, kMaxKey + 1));
    return true;
  }
  const int64_t k_abs = divisor > 0 ? divisor : -divisor;
  uint16_t m = 0;
  int s = 0, a = 0;
  if (!find_quotient_multiplier(k_abs, &m, &s, &a)) return false;
  plan->multiplier = m;
  plan->shift = s;
  if (divisor > 0) {
    plan->rule = PairRule::kMinusQuotient;
    plan->base = static_cast<int>(4 * clamp64(level, 0, 2 * kMaxKey + 1) + a);
  } else {
    plan->rule = PairRule::kPlusQuotient;
    plan->base = static_cast<int>(4 * clamp64(level, -(kMaxKey + 1), kMaxKey + 1) - 3 - a);
  }
  plan->box_reach = box_reach(*plan);
  return true;
}
