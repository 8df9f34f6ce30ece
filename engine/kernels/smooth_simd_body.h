// The vector smoothing kernel, written once for every instruction set. An
// instruction-set file defines a struct of operations on its vector type
// (loads, 16-bit arithmetic, the pass test, masked sums, the average, pixel
// packing) and instantiates smooth_fast_body<Ops>. Everything here has
// internal linkage, so code compiled with one set's flags can never stand in
// for another's at link time.
//
// Design, per call:
//  * Source rows are converted once into 16-bit planes B, G, R and 4Y
//    (brightness key times four, see smooth_plan.h) in a ring of five rows on
//    the stack (about 15 KiB, fixed: wide frames are cut into column tiles of
//    at most kMaxTile columns, each converted with two extra columns on
//    either side). The frame is worked in bands of kBandRows output rows,
//    and each band tile by tile from left to right, so that a band's rows
//    stay in cache and in the address translation buffers; a tile converts
//    each source row once, plus the two rows above and below its band.
//  * Each output row takes its five neighbour rows from the ring; the
//    clamped rows at the top and bottom are only different row pointers.
//  * Vectors of output columns load each neighbour at its column offset.
//    Near the left and right edges the column clamp depends on the position
//    (offset -2 uses the column itself for columns 0..2, +2 for the last two
//    columns, and so on), so those blocks replace the lanes where the clamp
//    applies by the same row's centre column, lane by lane.
//  * Lanes that lie outside the frame (a frame narrower than one vector)
//    compute from zero-filled plane entries and are not stored; nothing is
//    read from the source outside its pixels, and only pixels are written.
//  * Blocks whose every window is flat (the 25 pixels share B, G, R) are
//    written without the pair arithmetic; see "Flat windows" below. Blocks
//    whose keys all lie close together take the plain 5x5 average, since
//    every member passes there; see smooth_box_block.
//  * Large frames (SmoothPlan::stream_stores) are written with streaming
//    stores wherever a vector's address is aligned for one; byte 3 is
//    merged before the store, never by reading the output back.
//  * Show noise and Disable are taken once per row (of a tile) instead of
//    once per pixel: when they are followed live (see SmoothParams) the
//    result differs from the reference's only if another thread flips one
//    while that row is being worked, and then both answers are a mix of the
//    old and the new setting.
#pragma once

#include <cstddef>
#include <cstdint>

#include <xmmintrin.h>  // _mm_sfence

#include "engine/kernels/smooth.h"
#include "engine/kernels/smooth_plan.h"

#define VELBRIN_INLINE inline __attribute__((always_inline))
#define VELBRIN_INLINE_LAMBDA __attribute__((always_inline))

// The 32-bit Windows ABI only keeps the stack 4-byte aligned at a call from
// foreign code; the kernel entries realign it for the vector spills.
#if defined(__i386__)
#define VELBRIN_KERNEL_ENTRY __attribute__((force_align_arg_pointer))
#else
#define VELBRIN_KERNEL_ENTRY
#endif

namespace {

constexpr int kRingRows = 5;
constexpr int kPlanes = 4;                 // B, G, R, 4Y
constexpr int kPlanePitch = 372;           // 16-bit entries per plane row
constexpr int kMaxTile = kPlanePitch - 4;  // output columns per tile
constexpr int kBandRows = 64;              // output rows per band
constexpr int kMaxBlocks = kMaxTile / 8 + 1;  // vectors of output columns per tile, for the narrowest vectors
static_assert(kMaxBlocks <= 64, "a row's flat blocks fit a 64-bit mask");
// Distances to the frame's left and right edge are only compared with 1..3;
// capped at this they stay within a signed 16-bit lane after the lane index
// (below 32) is added or subtracted.
constexpr int kEdgeDistanceCap = 16000;
constexpr int kPlaneB = 0, kPlaneG = 1, kPlaneR = 2, kPlaneY = 3;
static_assert(kRingRows * kPlanes * kPlanePitch * sizeof(uint16_t) <= 15 * 1024, "row ring stays within the stack budget");

// Averages: sum / count for count 1..25 and sum at most 255 * count. With
// r = 65536 / count (65535 for count 1), q0 = (sum * r) >> 16 is q or q - 1
// (r <= 65536 / count, and sum * (65536 / count - r) < 65536), so one
// correction gives the exact quotient: q = q0 + (sum - q0 * count >= count).
// kRecip is indexed by passes = count - 1; entries past 24 are never used.
struct RecipTable {
  uint16_t v[32];
};

constexpr RecipTable make_recip() {
  RecipTable t{};
  for (int p = 0; p < 32; ++p) {
    const int c = p + 1;
    t.v[p] = static_cast<uint16_t>(c == 1 ? 0xFFFF : (p < 25 ? 65536 / c : 0));
  }
  return t;
}
constexpr RecipTable kRecip = make_recip();

constexpr int divide_model(int sum, int passes) {
  const int c = passes + 1;
  const int q0 = static_cast<int>((static_cast<uint32_t>(sum) * kRecip.v[passes]) >> 16);
  const int rem = sum - q0 * c;
  return q0 + (rem > passes ? 1 : 0);
}

// Exhaustive over every reachable (count, sum), at compile time.
constexpr bool divide_model_exact() {
  for (int c = 1; c <= 25; ++c)
    for (int sum = 0; sum <= 255 * c; ++sum)
      if (divide_model(sum, c - 1) != sum / c) return false;
  return true;
}
static_assert(divide_model_exact(), "reciprocal with one correction step is exact for every count and sum");

// The twelve pairs of opposite neighbours (row offset, column offset of the
// first member, then of the second), in the reference's order.
//   (-2,-2)/(+2,+2) (-1,-2)/(+1,+2) (0,-2)/(0,+2)   (-2,-1)/(+2,+1)
//   (-1,-1)/(+1,+1) (0,-1)/(0,+1)   (-2,0)/(+2,0)   (-1,0)/(+1,0)
//   (+1,-2)/(-1,+2) (+2,-2)/(-2,+2) (+1,-1)/(-1,+1) (+2,-1)/(-2,+1)

template <class Ops>
struct BlockState {
  using V = typename Ops::V;
  using Mask = typename Ops::Mask;
  const uint16_t* rows[5];  // ring rows for row offsets -2..+2, at the block's first column
  V y0, sum_b, sum_g, sum_r, passes;
  Mask edge[4];  // per column offset -2, -1, +1, +2: lanes where the offset clamps to the column itself
};

template <class Ops>
struct FrameConsts {
  using V = typename Ops::V;
  V base, multiplier, zero;
  typename Ops::Count shift;
  typename Ops::Tables tables;
  V box_limit;                // plan.box_reach + 1: a key spread below it qualifies a block
  V box_passes, box_recip;    // 24 members passed, and its reciprocal
};

// One neighbour plane vector at (row offset R, column offset O).
template <class Ops, int R, int O, int kPlane, bool kEdge>
VELBRIN_INLINE typename Ops::V neighbour(const BlockState<Ops>& st) {
  const uint16_t* p = st.rows[R + 2] + kPlane * kPlanePitch;
  if constexpr (kEdge && O != 0) return Ops::select(st.edge[O < 0 ? O + 2 : O + 1], Ops::load(p), Ops::load(p + O));
  else return Ops::load(p + O);
}

// The quotient Q of a key difference; most divisors need no final shift.
template <class Ops, bool kShift>
VELBRIN_INLINE typename Ops::V quotient(typename Ops::V d, const FrameConsts<Ops>& k) {
  const typename Ops::V high = Ops::mulhi(d, k.multiplier);
  if constexpr (kShift) return Ops::shift_right(high, k.shift);
  else return high;
}

template <class Ops, PairRule kRule, bool kShift, bool kEdge, int RA, int OA, int RZ, int OZ>
VELBRIN_INLINE void pair(BlockState<Ops>& st, const FrameConsts<Ops>& k) {
  using V = typename Ops::V;
  const V ya = neighbour<Ops, RA, OA, kPlaneY, kEdge>(st);
  const V yz = neighbour<Ops, RZ, OZ, kPlaneY, kEdge>(st);
  const V d = Ops::absdiff(ya, yz);
  V t;
  if constexpr (kRule == PairRule::kMinusQuotient) t = Ops::sub(k.base, quotient<Ops, kShift>(d, k));
  else if constexpr (kRule == PairRule::kPlusQuotient) t = Ops::add(k.base, quotient<Ops, kShift>(d, k));
  else t = Ops::keep_if_zero(d, k.base);
  const typename Ops::Mask ma = Ops::less(Ops::absdiff(st.y0, ya), t);
  const typename Ops::Mask mz = Ops::less(Ops::absdiff(st.y0, yz), t);
  st.passes = Ops::count_if(st.passes, ma);
  st.passes = Ops::count_if(st.passes, mz);
  st.sum_b = Ops::add_if(st.sum_b, ma, neighbour<Ops, RA, OA, kPlaneB, kEdge>(st));
  st.sum_g = Ops::add_if(st.sum_g, ma, neighbour<Ops, RA, OA, kPlaneG, kEdge>(st));
  st.sum_r = Ops::add_if(st.sum_r, ma, neighbour<Ops, RA, OA, kPlaneR, kEdge>(st));
  st.sum_b = Ops::add_if(st.sum_b, mz, neighbour<Ops, RZ, OZ, kPlaneB, kEdge>(st));
  st.sum_g = Ops::add_if(st.sum_g, mz, neighbour<Ops, RZ, OZ, kPlaneG, kEdge>(st));
  st.sum_r = Ops::add_if(st.sum_r, mz, neighbour<Ops, RZ, OZ, kPlaneR, kEdge>(st));
  // Keep the sums pair by pair: left alone, the compiler regroups the 48
  // additions into trees, which keeps all 24 masks alive at once and spills
  // them. (An empty statement; it only pins the value in a register here.)
  Ops::pin(st.sum_b);
  Ops::pin(st.sum_g);
  Ops::pin(st.sum_r);
  Ops::pin(st.passes);
}

// Stores one vector of pixels: a streaming store where asked and the address
// is aligned for one, else an ordinary store.
template <class Ops>
VELBRIN_INLINE void put_pixels(uint32_t* p, typename Ops::V v, bool stream) {
  if (stream && reinterpret_cast<uintptr_t>(p) % sizeof(typename Ops::V) == 0) Ops::px_stream(p, v);
  else Ops::px_store(p, v);
}

// The last steps of a block: Show noise from the averages and the centre's
// own channels, packing, byte 3 (0, or the source's at `alpha` when given,
// merged before the store: a streamed line is not read back), the store.
template <class Ops>
VELBRIN_INLINE void finish_block(typename Ops::V b, typename Ops::V g, typename Ops::V r, typename Ops::V own_b,
                                 typename Ops::V own_g, typename Ops::V own_r, bool show_noise, uint32_t* out,
                                 const uint32_t* alpha, bool stream) {
  using V = typename Ops::V;
  if (show_noise) {
    b = Ops::noise(b, own_b);
    g = Ops::noise(g, own_g);
    r = Ops::noise(r, own_r);
  }
  V first, second;
  Ops::pack_pixels(b, g, r, &first, &second);  // clamps to 0..255, byte 3 = 0
  if (alpha != nullptr) {
    const V high = Ops::px_set1(0xFF000000u);
    first = Ops::bit_or(first, Ops::bit_and(Ops::px_load(alpha), high));
    second = Ops::bit_or(second, Ops::bit_and(Ops::px_load(alpha + Ops::kPixels), high));
  }
  put_pixels<Ops>(out, first, stream);
  put_pixels<Ops>(out + Ops::kPixels, second, stream);
}

// One vector of output pixels: Ops::kLanes columns starting at the plane
// position the row pointers in `st` point at; byte 3 as finish_block says.
template <class Ops, PairRule kRule, bool kShift, bool kEdge>
VELBRIN_INLINE void smooth_block(BlockState<Ops>& st, const FrameConsts<Ops>& k, bool show_noise, uint32_t* out,
                                 const uint32_t* alpha, bool stream) {
  static_assert(Ops::kLanes == 2 * Ops::kPixels, "a block packs into two pixel vectors");
  using V = typename Ops::V;
  const uint16_t* centre = st.rows[2];
  const V own_b = Ops::load(centre + kPlaneB * kPlanePitch);
  const V own_g = Ops::load(centre + kPlaneG * kPlanePitch);
  const V own_r = Ops::load(centre + kPlaneR * kPlanePitch);
  st.y0 = Ops::load(centre + kPlaneY * kPlanePitch);
  st.sum_b = own_b;
  st.sum_g = own_g;
  st.sum_r = own_r;
  st.passes = k.zero;

  pair<Ops, kRule, kShift, kEdge, -2, -2, +2, +2>(st, k);
  pair<Ops, kRule, kShift, kEdge, -1, -2, +1, +2>(st, k);
  pair<Ops, kRule, kShift, kEdge, 0, -2, 0, +2>(st, k);
  pair<Ops, kRule, kShift, kEdge, -2, -1, +2, +1>(st, k);
  pair<Ops, kRule, kShift, kEdge, -1, -1, +1, +1>(st, k);
  pair<Ops, kRule, kShift, kEdge, 0, -1, 0, +1>(st, k);
  pair<Ops, kRule, kShift, kEdge, -2, 0, +2, 0>(st, k);
  pair<Ops, kRule, kShift, kEdge, -1, 0, +1, 0>(st, k);
  pair<Ops, kRule, kShift, kEdge, +1, -2, -1, +2>(st, k);
  pair<Ops, kRule, kShift, kEdge, +2, -2, -2, +2>(st, k);
  pair<Ops, kRule, kShift, kEdge, +1, -1, -1, +1>(st, k);
  pair<Ops, kRule, kShift, kEdge, +2, -1, -2, +1>(st, k);

  const V recip = Ops::recip(st.passes, k.tables);
  finish_block<Ops>(Ops::divide(st.sum_b, st.passes, recip), Ops::divide(st.sum_g, st.passes, recip),
                    Ops::divide(st.sum_r, st.passes, recip), own_b, own_g, own_r, show_noise, out, alpha, stream);
}

// Smooth windows. When every 4Y of a block's windows lies within
// plan.box_reach of one value, every member of every pair passes (the
// argument is at box_reach in smooth_plan.cpp): the count is 25 and each
// sum is the window's, so the output is the 5x5 box average, summed here
// column by column over the five rows and then across five columns instead
// of through the twelve pairs. The test takes the block's 5 x (L + 4) keys
// against its first centre key; it is made on blocks away from the
// frame's edges (clamped windows repeat pixels), and only under a rule
// whose threshold never falls below base - Q(d). Returns false, having
// written nothing, when the block does not qualify.
template <class Ops>
VELBRIN_INLINE bool smooth_box_block(const BlockState<Ops>& st, const FrameConsts<Ops>& k, bool show_noise,
                                     uint32_t* out, const uint32_t* alpha, bool stream) {
  using V = typename Ops::V;
  // Columns -2..L-3 and 2..L+1 of the block: together the window columns of
  // every lane.
  const V ref = Ops::set1(st.rows[2][kPlaneY * kPlanePitch]);
  V spread = k.zero;
  for (int r = 0; r < 5; ++r) {
    const uint16_t* y = st.rows[r] + kPlaneY * kPlanePitch;
    spread = Ops::max16(spread, Ops::max16(Ops::absdiff(Ops::load(y - 2), ref), Ops::absdiff(Ops::load(y + 2), ref)));
  }
  if (!Ops::all(Ops::less(spread, k.box_limit))) return false;
  // Each channel summed down the five rows for columns -2..L-3 and 2..L+1,
  // then across five columns within registers (sums stay below 25 * 256).
  V sums[kPlanes - 1];
  for (int plane = 0; plane < kPlanes - 1; ++plane) {
    const uint16_t* p = st.rows[0] + plane * kPlanePitch;
    V left = Ops::load(p - 2), right = Ops::load(p + 2);
    for (int r = 1; r < 5; ++r) {
      p = st.rows[r] + plane * kPlanePitch;
      left = Ops::add(left, Ops::load(p - 2));
      right = Ops::add(right, Ops::load(p + 2));
    }
    sums[plane] = Ops::sum5(left, right);
  }
  const uint16_t* centre = st.rows[2];
  finish_block<Ops>(Ops::divide(sums[kPlaneB], k.box_passes, k.box_recip),
                    Ops::divide(sums[kPlaneG], k.box_passes, k.box_recip),
                    Ops::divide(sums[kPlaneR], k.box_passes, k.box_recip), Ops::load(centre + kPlaneB * kPlanePitch),
                    Ops::load(centre + kPlaneG * kPlanePitch), Ops::load(centre + kPlaneR * kPlanePitch), show_noise,
                    out, alpha, stream);
  return true;
}

// Flat windows. When the 25 pixels of a window (as the reference clamps it
// at the frame's edges) all have the same blue, green and red, the
// reference's result follows without the pair arithmetic:
//  * every key is the same, so every pair's difference d is 0 and its
//    tolerance T is L - 0 / K = L for any K != 0, and L for K = 0 too (equal
//    keys keep L); every member's distance to the centre is 0;
//  * so either every member passes (L > 0: count 25, each channel's sum
//    25 * v) or none does (L <= 0, any Level the reference takes: count 1,
//    sum v); either way the average is v / 1 = 25v / 25 = v, the centre's
//    own value, whatever Level and Dynamic are;
//  * the output is then the centre's B, G, R (normal, and Disable, which
//    passes the pixel through anyway), or 10 * (v - v) + 127 = 127 in each
//    channel with Show noise; byte 3 is 0, or the source's with keep_alpha
//    (taken with the pixel, see store_flat).
// Byte 3 of the source plays no part in the keys or sums, so it is masked
// out of the comparison.
//
// The test works on the source words, row by row: when a row is converted
// into the ring, each of the tile's blocks (L output columns j..j+L-1 away
// from the left and right edges, which read columns j-2..j+L+1) records
// whether those L+4 pixels of that row all share one B, G, R, and which. A
// block is then flat when its five rows recorded the same value: five
// loads and compares per block instead of the 24 pairs, and each row is
// looked at once, not once for each of the five output rows that read it.
// Blocks at the edges, where the columns clamp, record kNotFlat and take
// the general path. Noisy content should pay next to nothing for this: the
// row test stops after two scalar compares, and rows are only looked at
// every fourth row while none has a uniform piece (see smooth_tile); a row
// whose five rows are not all marked as having one skips the block test,
// and runs the same block loop as before.
constexpr uint32_t kNotFlat = 0xFFFFFFFFu;  // never a 24-bit value

// B, G, R of p[0] if p[-2..L+1] all share them, else kNotFlat.
template <class Ops>
VELBRIN_INLINE uint32_t row_flat(const uint32_t* p) {
  constexpr int L = Ops::kLanes;
  constexpr int P = Ops::kPixels;
  const uint32_t centre = p[0];
  if (((centre ^ p[-2]) | (centre ^ p[L + 1])) & 0x00FFFFFFu) return kNotFlat;
  const typename Ops::V ref = Ops::px_set1(centre);
  // Three loads cover columns j-2..j+L+1 (the last two overlap).
  const typename Ops::V d =
      Ops::bit_or(Ops::bit_or(Ops::bit_xor(Ops::px_load(p - 2), ref), Ops::bit_xor(Ops::px_load(p - 2 + P), ref)),
                  Ops::bit_xor(Ops::px_load(p + L + 2 - P), ref));
  return Ops::bgr_zero(d) ? centre & 0x00FFFFFFu : kNotFlat;
}

// Each block's row_flat for one row of a tile (columns xs..x1-1 of a frame
// w wide); blocks at the frame's edges get kNotFlat. Returns whether any
// block's piece is uniform. Kept out of line: the tile's loop around the
// pairs is compiled as tightly as without it.
template <class Ops>
__attribute__((noinline)) bool record_flat_row(const uint32_t* s, uint32_t* u, int xs, int x1, int w) {
  constexpr int L = Ops::kLanes;
  bool any = false;
  for (int jb = xs, b = 0; jb < x1; jb += L, ++b) {
    const int j = jb + L <= x1 ? jb : (x1 - L >= xs ? x1 - L : -1);
    u[b] = (j <= 2 || j + L + 1 >= w) ? kNotFlat : row_flat<Ops>(s + j);
    any |= u[b] != kNotFlat;
  }
  return any;
}

// Output of a flat block: (source & and_mask) | or_value, L pixels. The
// centre row's pixels j..j+L-1 carry the window's B, G, R, so with
// and_mask 0x00FFFFFF (or all ones to keep byte 3) this is the centre's own
// value, and with 0 (or 0xFF000000) and 0x7F7F7F the Show noise grey.
template <class Ops>
VELBRIN_INLINE void store_flat(uint32_t* out, const uint32_t* src, uint32_t and_mask, uint32_t or_value, bool stream) {
  const typename Ops::V a = Ops::px_set1(and_mask), o = Ops::px_set1(or_value);
  for (int k = 0; k < Ops::kLanes; k += Ops::kPixels)
    put_pixels<Ops>(out + k, Ops::bit_or(Ops::bit_and(Ops::px_load(src + k), a), o), stream);
}

// Byte 3 of n source pixels into n output pixels.
VELBRIN_INLINE void merge_alpha(uint32_t* out, const uint32_t* src, int n) {
  for (int c = 0; c < n; ++c) out[c] = (out[c] & 0x00FFFFFFu) | (src[c] & 0xFF000000u);
}

VELBRIN_INLINE void convert_pixel(uint32_t p, uint16_t* planes) {
  const unsigned b = p & 0xFF, g = (p >> 8) & 0xFF, r = (p >> 16) & 0xFF;
  planes[kPlaneB * kPlanePitch] = static_cast<uint16_t>(b);
  planes[kPlaneG * kPlanePitch] = static_cast<uint16_t>(g);
  planes[kPlaneR * kPlanePitch] = static_cast<uint16_t>(r);
  planes[kPlaneY * kPlanePitch] = static_cast<uint16_t>(4 * (b + 6 * g + 3 * r));
}

// Converts n source pixels into plane entries 0..n-1 of `planes`. Vector
// chunks only ever read inside the n pixels: the last chunk is moved back to
// end at pixel n (pixels converted twice come out the same).
template <class Ops>
VELBRIN_INLINE void convert_span(const uint32_t* src, uint16_t* planes, int n) {
  constexpr int C = Ops::kConvertPixels;
  if (n < C) {
    for (int j = 0; j < n; ++j) convert_pixel(src[j], planes + j);
    return;
  }
  int j = 0;
  for (; j + C <= n; j += C) Ops::convert(src + j, planes + j);
  if (j < n) Ops::convert(src + n - C, planes + n - C);
}

template <class Ops, PairRule kRule, bool kShift>
void smooth_tile(const SmoothFrame& f, const SmoothPlan& plan, const FrameConsts<Ops>& k,
                 uint16_t (*ring)[kPlanes * kPlanePitch], uint32_t (*flat)[kMaxBlocks], int xs, int x1, int row_begin,
                 int row_end) {
  using V = typename Ops::V;
  constexpr int L = Ops::kLanes;
  const int w = f.width, h = f.height;
  const ptrdiff_t stride = f.stride;
  const bool keep_alpha = plan.params->keep_alpha != 0;
  const uint32_t keep_mask = keep_alpha ? 0xFFFFFFFFu : 0x00FFFFFFu;  // of a passed-through pixel
  const bool stream = plan.stream_stores;

  // Plane entry e of a ring row holds column xs - 2 + e. Converted columns:
  // c0..c1-1; entries outside them (beyond the frame) are zero.
  const int c0 = xs - 2 > 0 ? xs - 2 : 0;
  const int c1 = x1 + 2 < w ? x1 + 2 : w;
  const int e0 = c0 - (xs - 2), e1 = c1 - (xs - 2);
  const int fill_end = (x1 - xs > L ? x1 - xs : L) + 4;
  for (int slot = 0; slot < kRingRows; ++slot)
    for (int plane = 0; plane < kPlanes; ++plane) {
      uint16_t* p = ring[slot] + plane * kPlanePitch;
      for (int e = 0; e < e0; ++e) p[e] = 0;
      for (int e = e1; e < fill_end; ++e) p[e] = 0;
    }
  const int blocks = (x1 - xs + L - 1) / L;
  // A row entering the ring: converted into the planes, and each block's
  // flatness in it recorded. Where rows have no uniform piece at all (noisy
  // content), only every fourth row is looked at, until one has: a row not
  // looked at counts as having none, which only sends its blocks the
  // general way, and a flat area is found at most three rows late.
  bool any_flat[kRingRows];  // the ring row has a uniform piece
  bool looking = true;
  bool box_looking = true;  // see try_box below
  auto convert_row = [&](int row) {
    const uint32_t* s = f.src + row * stride;
    const int slot = row % kRingRows;
    convert_span<Ops>(s + c0, ring[slot] + e0, c1 - c0);
    bool any = false;
    if (looking || (row & 3) == 0) {
      any = record_flat_row<Ops>(s, flat[slot], xs, x1, w);
      looking = any;
    }
    any_flat[slot] = any;
  };
  // A tile reads a short piece of each source row, one row after another:
  // fetch the pieces a few rows ahead, which the hardware's own prefetch
  // does not foresee across such strides. (A prefetch never faults.)
  constexpr int kAhead = 4;
  auto prefetch_row = [&](int row) {
    if (row >= h) return;
    const char* s = reinterpret_cast<const char*>(f.src + row * stride + c0);
    for (int b = 0; b < (c1 - c0) * 4; b += 64) __builtin_prefetch(s + b, 0, 3);
  };
  for (int row = row_begin; row < row_begin + kAhead; ++row) prefetch_row(row);

  // Rows row_begin - 2 .. row_begin + 1 (those that exist) fill the ring;
  // each output row then adds the row two below it.
  for (int row = row_begin - 2 > 0 ? row_begin - 2 : 0; row < row_begin + 2 && row < h; ++row) convert_row(row);

  for (int i = row_begin; i < row_end; ++i) {
    prefetch_row(i + kAhead);
    if (i + 2 < h) convert_row(i + 2);
    const int row_of[5] = {i > 2 ? i - 2 : i, i > 1 ? i - 1 : i, i, i < h - 1 ? i + 1 : i, i < h - 2 ? i + 2 : i};
    const SmoothSwitches sw = current_switches(*plan.params);
    const bool show_noise = sw.show_noise;
    const bool disable = sw.disable;
    uint32_t* drow = f.dst + i * stride;

    const uint32_t* srow = f.src + i * stride;
    if (disable) {
      for (int j = xs; j < x1; ++j) drow[j] = srow[j] & keep_mask;
      continue;
    }

    // The row's flat blocks, one bit each: the five rows recorded one value.
    const uint32_t* const u[5] = {flat[row_of[0] % kRingRows], flat[row_of[1] % kRingRows], flat[i % kRingRows],
                                  flat[row_of[3] % kRingRows], flat[row_of[4] % kRingRows]};
    uint64_t flat_blocks = 0;
    if (any_flat[row_of[0] % kRingRows] && any_flat[row_of[1] % kRingRows] && any_flat[i % kRingRows] &&
        any_flat[row_of[3] % kRingRows] && any_flat[row_of[4] % kRingRows])
      for (int b = 0; b < blocks; ++b) {
        const uint32_t v = u[2][b];
        const bool same = v != kNotFlat && u[0][b] == v && u[1][b] == v && u[3][b] == v && u[4][b] == v;
        flat_blocks |= uint64_t{same} << b;
      }
    // A flat window's output (see store_flat): its own B, G, R, or 127 in
    // each channel with Show noise; byte 3 the source's or 0.
    const uint32_t flat_and = show_noise ? (keep_alpha ? 0xFF000000u : 0u) : keep_mask;
    const uint32_t flat_or = show_noise ? 0x007F7F7Fu : 0u;

    // Smooth blocks are looked for in every row while rows have them, else
    // (noisy content) in every fourth row only, so that noise pays little
    // for the test.
    const bool try_box = kRule != PairRule::kEqualKeysOnly && plan.box_reach >= 0 && (box_looking || (i & 3) == 0);
    bool box_found = false;

    // The row's blocks, in one loop for rows with flat blocks and in another,
    // without the flat test, for the others (noisy content).
    auto row_blocks = [&]<bool kSomeFlat>() VELBRIN_INLINE_LAMBDA {
      BlockState<Ops> st;
      for (int jb = xs, b = 0; jb < x1; jb += L, ++b) {
        int j = jb;
        bool partial = false;
        if (j + L > x1) {
          if (x1 - L >= xs) j = x1 - L;  // last block moved back; its first columns are recomputed identically
          else partial = true;           // the whole frame is narrower than one vector
        }
        if (kSomeFlat && ((flat_blocks >> b) & 1)) {
          store_flat<Ops>(drow + j, srow + j, flat_and, flat_or, stream);
          continue;
        }
        const int e = j - xs + 2;  // plane entry of column j
        for (int r = 0; r < 5; ++r) st.rows[r] = ring[row_of[r] % kRingRows] + e;
        alignas(64) uint32_t tail[L];
        uint32_t* out = partial ? tail : drow + j;
        // A partial block goes through `tail`, which is stored normally and
        // given byte 3 as it is copied out.
        const uint32_t* alpha = keep_alpha && !partial ? srow + j : nullptr;
        const bool stream_block = stream && !partial;
        if (j <= 2 || j + L + 1 >= w) {
          // Lanes where a column offset clamps: -2 for columns 0..2, -1 for
          // 0..1, +1 for the last column, +2 for the last two.
          const V lane = Ops::lane_index();
          const V left = Ops::add(Ops::set1(j < kEdgeDistanceCap ? j : kEdgeDistanceCap), lane);
          const int to_right = w - 1 - j;
          const V right = Ops::sub(Ops::set1(to_right < kEdgeDistanceCap ? to_right : kEdgeDistanceCap), lane);
          st.edge[0] = Ops::less(left, Ops::set1(3));
          st.edge[1] = Ops::less(left, Ops::set1(2));
          st.edge[2] = Ops::less(right, Ops::set1(1));
          st.edge[3] = Ops::less(right, Ops::set1(2));
          smooth_block<Ops, kRule, kShift, true>(st, k, show_noise, out, alpha, stream_block);
        } else if (!try_box || !smooth_box_block<Ops>(st, k, show_noise, out, alpha, stream_block)) {
          smooth_block<Ops, kRule, kShift, false>(st, k, show_noise, out, alpha, stream_block);
        } else {
          box_found = true;
        }
        if (partial) {
          for (int c = 0; c < x1 - j; ++c) drow[j + c] = tail[c];
          if (keep_alpha) merge_alpha(drow + j, srow + j, x1 - j);
        }
      }
    };
    if (flat_blocks != 0) row_blocks.template operator()<true>();
    else row_blocks.template operator()<false>();
    if (try_box) box_looking = box_found;
  }
}

template <class Ops, PairRule kRule, bool kShift>
void smooth_frame_tiles(const SmoothFrame& f, const SmoothPlan& plan, const FrameConsts<Ops>& k) {
  constexpr int L = Ops::kLanes;
  constexpr int kTileMax = (kMaxTile / L) * L;
  alignas(64) uint16_t ring[kRingRows][kPlanes * kPlanePitch];
  uint32_t flat[kRingRows][kMaxBlocks];  // per ring row, per block of a tile: see row_flat
  const int w = f.width;
  const int tiles = (w + kTileMax - 1) / kTileMax;
  const int even = (w + tiles - 1) / tiles;
  const int tile = (even + L - 1) / L * L;  // at most kTileMax
  // Bands of rows, and within a band the tiles from left to right: the rows
  // of a band stay in cache and in the address translation buffers while
  // its tiles pass over them. (Destination rows share no words here, so the
  // order of stores does not matter.)
  for (int band = plan.row_begin; band < plan.row_end; band += kBandRows) {
    const int band_end = band + kBandRows < plan.row_end ? band + kBandRows : plan.row_end;
    for (int x0 = 0; x0 < w; x0 += tile) {
      const int x1 = x0 + tile < w ? x0 + tile : w;
      // A last tile narrower than one vector starts earlier instead; the
      // columns it shares with the tile before come out the same.
      const int xs = (x1 - x0 < L && w >= L) ? x1 - L : x0;
      smooth_tile<Ops, kRule, kShift>(f, plan, k, ring, flat, xs, x1, band, band_end);
    }
  }
}

template <class Ops>
void smooth_fast_body(const SmoothFrame& f, const SmoothPlan& plan) {
  FrameConsts<Ops> k;
  k.base = Ops::set1(plan.base);
  k.multiplier = Ops::set1(plan.multiplier);
  k.zero = Ops::set1(0);
  k.shift = Ops::shift_count(plan.shift);
  k.tables = Ops::make_tables();
  k.box_limit = Ops::set1(plan.box_reach + 1);
  k.box_passes = Ops::set1(24);
  k.box_recip = Ops::recip(k.box_passes, k.tables);
  const bool shift = plan.shift != 0;
  switch (plan.rule) {
    case PairRule::kMinusQuotient:
      if (shift) smooth_frame_tiles<Ops, PairRule::kMinusQuotient, true>(f, plan, k);
      else smooth_frame_tiles<Ops, PairRule::kMinusQuotient, false>(f, plan, k);
      break;
    case PairRule::kPlusQuotient:
      if (shift) smooth_frame_tiles<Ops, PairRule::kPlusQuotient, true>(f, plan, k);
      else smooth_frame_tiles<Ops, PairRule::kPlusQuotient, false>(f, plan, k);
      break;
    case PairRule::kEqualKeysOnly: smooth_frame_tiles<Ops, PairRule::kEqualKeysOnly, false>(f, plan, k); break;
  }
  // Streaming stores are weakly ordered: drain them before the caller (or
  // the thread that waits for this band) reads the frame.
  if (plan.stream_stores) _mm_sfence();
}

// Test hook body: the average step on n lanes, vector by vector.
template <class Ops>
void divide_lanes(const uint16_t* sums, const uint16_t* passes, uint16_t* out, int n) {
  const typename Ops::Tables tables = Ops::make_tables();
  constexpr int L = Ops::kLanes;
  for (int i = 0; i + L <= n; i += L) {
    const typename Ops::V p = Ops::load(passes + i);
    Ops::store16(out + i, Ops::divide(Ops::load(sums + i), p, Ops::recip(p, tables)));
  }
}

}  // namespace
