// Per-frame parameters of the vector kernels, worked out once per call in
// portable code: which form of the pair tolerance applies, its constants
// (checked against the exact rule for every possible key difference), and
// whether the frame has to go to the reference kernel instead.
//
// The vector kernels keep brightness keys scaled by four (4Y, at most 10200)
// in 16-bit lanes. For a pair with key difference d and a member at key
// distance e from the centre, the exact rule is "e < T" with
// T = L - d / K (64-bit, truncating). The kernels evaluate "4e < T4" with a
// 16-bit T4 chosen so that the outcome is the same for every e in 0..2550:
//
//  * K > 0 (rule kMinusQuotient): Level is first clamped to Lc in 0..5101.
//    L <= 0 gives T <= 0 and Lc = 0 gives T <= 0 too: nothing passes either
//    way, since e >= 0. L >= 5101 gives T >= 2551 > e and so does Lc = 5101:
//    everything passes. Between, Lc = L. Then Q = (4d * M) >> (16 + s) is
//    verified to lie in [4q + a, 4q + a + 3] for every d in 0..2550, where
//    q = d / K, and T4 = (4Lc + a) - Q lies in [4Tc - 3, 4Tc] with
//    Tc = Lc - q. Hence 4e < T4 exactly when e < Tc: e <= Tc - 1 gives
//    4e <= 4Tc - 4 < T4, and e >= Tc gives 4e >= 4Tc >= T4.
//  * K < 0 (rule kPlusQuotient): T = L + d / |K|. Level is clamped to
//    -2551..2551 (L <= -2551 lets nothing pass, L >= 2551 everything, for
//    both L and the clamped value), and T4 = (4Lc - 3 - a) + Q lies in
//    [4Tc - 3, 4Tc] with Tc = Lc + q, by the same argument.
//  * K = 0 (rule kEqualKeysOnly, Dynamic 11): a pair with equal keys keeps
//    T = L, any other pair passes nothing. Level is clamped to 0..2551 and
//    T4 = (d == 0 ? 4Lc : 0).
//  * |K| > 2550: d / K is 0 for every key difference; M = 0 gives Q = 0.
// The offset a is kept within -4..4, so every T4 lies in -10215..20412 and
// every 4e in 0..10200: signed 16-bit lanes hold them and the signed
// compare is exact.
#pragma once

#include <cstdint>

#include "engine/kernels/smooth.h"

enum class PairRule : int {
  kMinusQuotient,  // K > 0: T4 = base - Q
  kPlusQuotient,   // K < 0: T4 = base + Q
  kEqualKeysOnly,  // K = 0: T4 = base where the pair's keys are equal, else 0
};

struct SmoothPlan {
  const SmoothParams* params;  // the switches are read from here once per row
  PairRule rule;
  uint16_t multiplier;  // M
  int shift;            // s
  int base;             // fits a signed 16-bit lane
  // Output rows this call writes: row_begin .. row_end - 1 (the whole frame
  // unless the caller narrows it). Rows outside are still read as the
  // neighbours of the band's first and last rows, so a frame cut into bands
  // comes out the same as in one piece.
  int row_begin;
  int row_end;
  // Large frames are written with streaming (non-temporal) stores where a
  // vector's address allows: such a frame does not stay in the caches
  // anyway, and a store that first reads its line from memory costs twice
  // the traffic. See kStreamStoreBytes in smooth_plan.cpp.
  bool stream_stores;
  // Smooth windows: when every 4Y of a window lies within box_reach of one
  // value, every member of every pair passes (see box_reach in smooth_plan.cpp), and the
  // output is the window's plain average. -1 when no window qualifies
  // (Level too low, or Dynamic 11).
  int box_reach;
};

// Multiplier for the quotient of a key difference by |K|: on success,
// Q(d) = (4d * multiplier) >> (16 + shift) lies in [4(d / k_abs) + offset,
// 4(d / k_abs) + offset + 3] for every d in 0..2550 (checked here, for every
// d). Returns false if no such multiplier was found (the caller then uses the
// reference kernel).
bool find_quotient_multiplier(int64_t k_abs, uint16_t* multiplier, int* shift, int* offset);

// Fills `plan` for one call. Returns false when the frame must be left to the
// reference kernel: nothing to do (width or height below 1), a width or
// height within 4096 of INT_MAX (no real frame), source and
// destination overlapping (the reference then reads already-filtered pixels,
// which a row cache would not), destination rows overlapping each other (the
// order of stores then decides the result), or no exact multiplier.
bool make_smooth_plan(const SmoothFrame& frame, const SmoothParams& params, SmoothPlan* plan);
