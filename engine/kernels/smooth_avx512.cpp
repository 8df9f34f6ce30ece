// The AVX-512 smoothing kernel (F, BW, VL): thirty-two 16-bit lanes per
// vector, and mask registers, so that a member that passes is added to the
// sums with one masked addition per channel instead of an AND and an add.
// Only this file is compiled with the AVX-512 flags; the dispatcher runs it
// only where CPUID and the operating system report them.
// GCC 12's AVX-512 shift intrinsics start from _mm512_undefined_epi32(),
// which its own -Wmaybe-uninitialized misreads as a use of an unset value.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#include "engine/kernels/smooth_kernels.h"
#include "engine/kernels/smooth_simd_body.h"

namespace {

struct Avx512 {
  using V = __m512i;
  using Mask = __mmask32;
  using Count = __m128i;
  struct Tables {
    V recip;  // the 32 reciprocal entries, one per lane, for VPERMW
  };
  static constexpr int kLanes = 32;
  static constexpr int kConvertPixels = 32;
  static constexpr int kPixels = 16;  // 32-bit pixels per vector

  static VELBRIN_INLINE V px_load(const uint32_t* p) { return _mm512_loadu_si512(p); }
  static VELBRIN_INLINE void px_store(uint32_t* p, V v) { _mm512_storeu_si512(p, v); }
  static VELBRIN_INLINE void px_stream(uint32_t* p, V v) { _mm512_stream_si512(reinterpret_cast<V*>(p), v); }
  static VELBRIN_INLINE V px_set1(uint32_t v) { return _mm512_set1_epi32(static_cast<int>(v)); }
  static VELBRIN_INLINE V bit_or(V a, V b) { return _mm512_or_si512(a, b); }
  static VELBRIN_INLINE V bit_and(V a, V b) { return _mm512_and_si512(a, b); }
  static VELBRIN_INLINE V bit_xor(V a, V b) { return _mm512_xor_si512(a, b); }
  // Bytes 0..2 of every pixel zero.
  static VELBRIN_INLINE bool bgr_zero(V v) { return _mm512_test_epi32_mask(v, _mm512_set1_epi32(0x00FFFFFF)) == 0; }

  static VELBRIN_INLINE V load(const uint16_t* p) { return _mm512_loadu_si512(p); }
  static VELBRIN_INLINE void store16(uint16_t* p, V v) { _mm512_storeu_si512(p, v); }
  static VELBRIN_INLINE V set1(int v) { return _mm512_set1_epi16(static_cast<short>(v)); }
  static VELBRIN_INLINE V lane_index() {
    return _mm512_set_epi16(31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17, 16, 15, 14, 13, 12, 11, 10, 9, 8,
                            7, 6, 5, 4, 3, 2, 1, 0);
  }
  static VELBRIN_INLINE Count shift_count(int s) { return _mm_cvtsi32_si128(s); }
  static VELBRIN_INLINE Tables make_tables() { return {_mm512_loadu_si512(kRecip.v)}; }

  static VELBRIN_INLINE void pin(V& v) { __asm__("" : "+v"(v)); }
  static VELBRIN_INLINE V add(V a, V b) { return _mm512_add_epi16(a, b); }
  static VELBRIN_INLINE V sub(V a, V b) { return _mm512_sub_epi16(a, b); }
  // |a - b| for a, b in 0..10200: the difference fits a signed lane.
  static VELBRIN_INLINE V absdiff(V a, V b) { return _mm512_abs_epi16(_mm512_sub_epi16(a, b)); }
  static VELBRIN_INLINE V mulhi(V d, V m) { return _mm512_mulhi_epu16(d, m); }
  static VELBRIN_INLINE V shift_right(V v, Count s) { return _mm512_srl_epi16(v, s); }
  static VELBRIN_INLINE V keep_if_zero(V d, V base) {
    return _mm512_maskz_mov_epi16(_mm512_cmpeq_epi16_mask(d, _mm512_setzero_si512()), base);
  }
  static VELBRIN_INLINE Mask less(V a, V b) { return _mm512_cmpgt_epi16_mask(b, a); }
  static VELBRIN_INLINE V max16(V a, V b) { return _mm512_max_epi16(a, b); }
  // a holds columns -2..29 and b columns 2..33 of a block: per lane x, the
  // sum of columns x-2..x+2. Column x-2+k is lane x+k of a, or lane x+k-4
  // of b (VPERMT2W picks from both).
  template <int K>
  static VELBRIN_INLINE V shifted(V a, V b) {
    alignas(64) static constexpr uint16_t index[32] = {
        K + 0,  K + 1,  K + 2,  K + 3,  K + 4,  K + 5,  K + 6,  K + 7,  K + 8,  K + 9,  K + 10,
        K + 11, K + 12, K + 13, K + 14, K + 15, K + 16, K + 17, K + 18, K + 19, K + 20, K + 21,
        K + 22, K + 23, K + 24, K + 25, K + 26, K + 27, K + 28, K + 29 >= 32 ? 32 + K + 29 - 4 : K + 29,
        K + 30 >= 32 ? 32 + K + 30 - 4 : K + 30, K + 31 >= 32 ? 32 + K + 31 - 4 : K + 31};
    return _mm512_permutex2var_epi16(a, _mm512_load_si512(index), b);
  }
  static VELBRIN_INLINE V sum5(V a, V b) {
    return add(add(a, b), add(add(shifted<1>(a, b), shifted<2>(a, b)), shifted<3>(a, b)));
  }
  static VELBRIN_INLINE bool all(Mask m) { return m == 0xFFFFFFFFu; }
  static VELBRIN_INLINE V select(Mask m, V if_set, V if_clear) { return _mm512_mask_blend_epi16(m, if_clear, if_set); }
  static VELBRIN_INLINE V count_if(V passes, Mask m) { return _mm512_mask_add_epi16(passes, m, passes, _mm512_set1_epi16(1)); }
  static VELBRIN_INLINE V add_if(V sum, Mask m, V v) { return _mm512_mask_add_epi16(sum, m, sum, v); }

  // Reciprocal per lane: a 32-entry word table lookup (passes is at most 24).
  static VELBRIN_INLINE V recip(V passes, const Tables& t) { return _mm512_permutexvar_epi16(passes, t.recip); }
  static VELBRIN_INLINE V divide(V sum, V passes, V recip) {
    const V q0 = _mm512_mulhi_epu16(sum, recip);
    const V one = _mm512_set1_epi16(1);
    const V rem = _mm512_sub_epi16(sum, _mm512_mullo_epi16(q0, _mm512_add_epi16(passes, one)));
    return _mm512_mask_add_epi16(q0, _mm512_cmpgt_epi16_mask(rem, passes), q0, one);
  }
  static VELBRIN_INLINE V noise(V avg, V own) {
    return _mm512_add_epi16(_mm512_mullo_epi16(_mm512_sub_epi16(avg, own), _mm512_set1_epi16(10)), _mm512_set1_epi16(127));
  }
  static VELBRIN_INLINE void pack_pixels(V b, V g, V r, V* first, V* second) {
    // In-lane packing: 128-bit lane k holds pixels 8k..8k+3 in lo and
    // 8k+4..8k+7 in hi; the two permutes put the lanes in pixel order.
    const V bg = _mm512_packus_epi16(b, g);  // clamped to 0..255
    const V r0 = _mm512_packus_epi16(r, _mm512_setzero_si512());
    const V br = _mm512_unpacklo_epi8(bg, r0);
    const V g0 = _mm512_unpackhi_epi8(bg, r0);
    const V lo = _mm512_unpacklo_epi8(br, g0);
    const V hi = _mm512_unpackhi_epi8(br, g0);
    *first = _mm512_permutex2var_epi64(lo, _mm512_setr_epi64(0, 1, 8, 9, 2, 3, 10, 11), hi);
    *second = _mm512_permutex2var_epi64(lo, _mm512_setr_epi64(4, 5, 12, 13, 6, 7, 14, 15), hi);
  }
  static VELBRIN_INLINE void convert(const uint32_t* src, uint16_t* planes) {
    const V p0 = _mm512_loadu_si512(src);
    const V p1 = _mm512_loadu_si512(src + 16);
    // Pixels 0..3, 8..11, 16..19, 24..27 and 4..7, 12..15, 20..23, 28..31,
    // so that the in-lane packs below come out in pixel order.
    const V a = _mm512_permutex2var_epi64(p0, _mm512_setr_epi64(0, 1, 4, 5, 8, 9, 12, 13), p1);
    const V c = _mm512_permutex2var_epi64(p0, _mm512_setr_epi64(2, 3, 6, 7, 10, 11, 14, 15), p1);
    const V ff = _mm512_set1_epi32(0xFF);
    const V b = _mm512_packs_epi32(_mm512_and_si512(a, ff), _mm512_and_si512(c, ff));
    const V g = _mm512_packs_epi32(_mm512_and_si512(_mm512_srli_epi32(a, 8), ff), _mm512_and_si512(_mm512_srli_epi32(c, 8), ff));
    const V r = _mm512_packs_epi32(_mm512_and_si512(_mm512_srli_epi32(a, 16), ff), _mm512_and_si512(_mm512_srli_epi32(c, 16), ff));
    const V y4 = _mm512_add_epi16(_mm512_slli_epi16(b, 2), _mm512_add_epi16(_mm512_mullo_epi16(g, _mm512_set1_epi16(24)),
                                                                             _mm512_mullo_epi16(r, _mm512_set1_epi16(12))));
    store16(planes + kPlaneB * kPlanePitch, b);
    store16(planes + kPlaneG * kPlanePitch, g);
    store16(planes + kPlaneR * kPlanePitch, r);
    store16(planes + kPlaneY * kPlanePitch, y4);
  }
};

}  // namespace

VELBRIN_KERNEL_ENTRY void smooth_fast_avx512(const SmoothFrame& frame, const SmoothPlan& plan) {
  smooth_fast_body<Avx512>(frame, plan);
}

VELBRIN_KERNEL_ENTRY void smooth_divide_avx512(const uint16_t* sums, const uint16_t* passes, uint16_t* out, int n) {
  divide_lanes<Avx512>(sums, passes, out, n);
}
