// The SSE2 smoothing kernel: eight 16-bit lanes per vector. SSE2 is the
// baseline of every 64-bit x86 build and of the 32-bit module's supported
// processors; this file alone is compiled with -msse2 on 32-bit builds.
#include <emmintrin.h>

#include "engine/kernels/smooth_kernels.h"
#include "engine/kernels/smooth_simd_body.h"

namespace {

struct Sse2 {
  using V = __m128i;
  using Mask = __m128i;  // all ones in a lane that passes
  using Count = __m128i;
  struct Tables {};
  static constexpr int kLanes = 8;
  static constexpr int kConvertPixels = 8;
  static constexpr int kPixels = 4;  // 32-bit pixels per vector

  static VELBRIN_INLINE V px_load(const uint32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
  static VELBRIN_INLINE void px_store(uint32_t* p, V v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
  static VELBRIN_INLINE void px_stream(uint32_t* p, V v) { _mm_stream_si128(reinterpret_cast<__m128i*>(p), v); }
  static VELBRIN_INLINE V px_set1(uint32_t v) { return _mm_set1_epi32(static_cast<int>(v)); }
  static VELBRIN_INLINE V bit_or(V a, V b) { return _mm_or_si128(a, b); }
  static VELBRIN_INLINE V bit_and(V a, V b) { return _mm_and_si128(a, b); }
  static VELBRIN_INLINE V bit_xor(V a, V b) { return _mm_xor_si128(a, b); }
  // Bytes 0..2 of every pixel zero.
  static VELBRIN_INLINE bool bgr_zero(V v) {
    const V bgr = _mm_and_si128(v, _mm_set1_epi32(0x00FFFFFF));
    return _mm_movemask_epi8(_mm_cmpeq_epi32(bgr, _mm_setzero_si128())) == 0xFFFF;
  }

  static VELBRIN_INLINE V load(const uint16_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
  static VELBRIN_INLINE void store16(uint16_t* p, V v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
  static VELBRIN_INLINE V set1(int v) { return _mm_set1_epi16(static_cast<short>(v)); }
  static VELBRIN_INLINE V lane_index() { return _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7); }
  static VELBRIN_INLINE Count shift_count(int s) { return _mm_cvtsi32_si128(s); }
  static VELBRIN_INLINE Tables make_tables() { return {}; }

  static VELBRIN_INLINE void pin(V& v) { __asm__("" : "+x"(v)); }
  static VELBRIN_INLINE V add(V a, V b) { return _mm_add_epi16(a, b); }
  static VELBRIN_INLINE V sub(V a, V b) { return _mm_sub_epi16(a, b); }
  // |a - b| for a, b in 0..10200: both differences fit a signed lane.
  static VELBRIN_INLINE V absdiff(V a, V b) { return _mm_max_epi16(_mm_sub_epi16(a, b), _mm_sub_epi16(b, a)); }
  static VELBRIN_INLINE V mulhi(V d, V m) { return _mm_mulhi_epu16(d, m); }
  static VELBRIN_INLINE V shift_right(V v, Count s) { return _mm_srl_epi16(v, s); }
  static VELBRIN_INLINE V keep_if_zero(V d, V base) { return _mm_and_si128(_mm_cmpeq_epi16(d, _mm_setzero_si128()), base); }
  static VELBRIN_INLINE Mask less(V a, V b) { return _mm_cmpgt_epi16(b, a); }
  static VELBRIN_INLINE V max16(V a, V b) { return _mm_max_epi16(a, b); }
  // a holds columns -2..5 and b columns 2..9 of a block: per lane x, the
  // sum of columns x-2..x+2. Lanes x + k past a's come from b's upper half.
  template <int K>
  static VELBRIN_INLINE V shifted(V a, V b) {
    return _mm_or_si128(_mm_srli_si128(a, 2 * K), _mm_slli_si128(_mm_srli_si128(b, 8), 16 - 2 * K));
  }
  static VELBRIN_INLINE V sum5(V a, V b) {
    return add(add(a, b), add(add(shifted<1>(a, b), shifted<2>(a, b)), shifted<3>(a, b)));
  }
  static VELBRIN_INLINE bool all(Mask m) { return _mm_movemask_epi8(m) == 0xFFFF; }
  static VELBRIN_INLINE V select(Mask m, V if_set, V if_clear) {
    return _mm_or_si128(_mm_and_si128(m, if_set), _mm_andnot_si128(m, if_clear));
  }
  static VELBRIN_INLINE V count_if(V passes, Mask m) { return _mm_sub_epi16(passes, m); }
  static VELBRIN_INLINE V add_if(V sum, Mask m, V v) { return _mm_add_epi16(sum, _mm_and_si128(m, v)); }

  // Reciprocal per lane: no byte shuffle in SSE2, so each lane's entry is
  // fetched through a general register (passes is at most 24).
  static VELBRIN_INLINE V recip(V passes, const Tables&) {
    V r = _mm_setzero_si128();
    r = _mm_insert_epi16(r, kRecip.v[_mm_extract_epi16(passes, 0) & 31], 0);
    r = _mm_insert_epi16(r, kRecip.v[_mm_extract_epi16(passes, 1) & 31], 1);
    r = _mm_insert_epi16(r, kRecip.v[_mm_extract_epi16(passes, 2) & 31], 2);
    r = _mm_insert_epi16(r, kRecip.v[_mm_extract_epi16(passes, 3) & 31], 3);
    r = _mm_insert_epi16(r, kRecip.v[_mm_extract_epi16(passes, 4) & 31], 4);
    r = _mm_insert_epi16(r, kRecip.v[_mm_extract_epi16(passes, 5) & 31], 5);
    r = _mm_insert_epi16(r, kRecip.v[_mm_extract_epi16(passes, 6) & 31], 6);
    r = _mm_insert_epi16(r, kRecip.v[_mm_extract_epi16(passes, 7) & 31], 7);
    return r;
  }
  static VELBRIN_INLINE V divide(V sum, V passes, V recip) {
    const V q0 = _mm_mulhi_epu16(sum, recip);
    const V count = _mm_sub_epi16(passes, _mm_cmpeq_epi16(passes, passes));
    const V rem = _mm_sub_epi16(sum, _mm_mullo_epi16(q0, count));
    return _mm_sub_epi16(q0, _mm_cmpgt_epi16(rem, passes));
  }
  static VELBRIN_INLINE V noise(V avg, V own) {
    return _mm_add_epi16(_mm_mullo_epi16(_mm_sub_epi16(avg, own), _mm_set1_epi16(10)), _mm_set1_epi16(127));
  }
  static VELBRIN_INLINE void pack_pixels(V b, V g, V r, V* first, V* second) {
    const V bg = _mm_packus_epi16(b, g);                   // b0..b7 g0..g7, clamped to 0..255
    const V r0 = _mm_packus_epi16(r, _mm_setzero_si128());  // r0..r7 0..0
    const V br = _mm_unpacklo_epi8(bg, r0);                // b0 r0 b1 r1 ...
    const V g0 = _mm_unpackhi_epi8(bg, r0);                // g0 0 g1 0 ...
    *first = _mm_unpacklo_epi8(br, g0);
    *second = _mm_unpackhi_epi8(br, g0);
  }
  static VELBRIN_INLINE void convert(const uint32_t* src, uint16_t* planes) {
    const V p0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
    const V p1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4));
    const V ff = _mm_set1_epi32(0xFF);
    const V b = _mm_packs_epi32(_mm_and_si128(p0, ff), _mm_and_si128(p1, ff));
    const V g = _mm_packs_epi32(_mm_and_si128(_mm_srli_epi32(p0, 8), ff), _mm_and_si128(_mm_srli_epi32(p1, 8), ff));
    const V r = _mm_packs_epi32(_mm_and_si128(_mm_srli_epi32(p0, 16), ff), _mm_and_si128(_mm_srli_epi32(p1, 16), ff));
    const V y4 = _mm_add_epi16(_mm_slli_epi16(b, 2),
                               _mm_add_epi16(_mm_mullo_epi16(g, _mm_set1_epi16(24)), _mm_mullo_epi16(r, _mm_set1_epi16(12))));
    store16(planes + kPlaneB * kPlanePitch, b);
    store16(planes + kPlaneG * kPlanePitch, g);
    store16(planes + kPlaneR * kPlanePitch, r);
    store16(planes + kPlaneY * kPlanePitch, y4);
  }
};

}  // namespace

VELBRIN_KERNEL_ENTRY void smooth_fast_sse2(const SmoothFrame& frame, const SmoothPlan& plan) {
  smooth_fast_body<Sse2>(frame, plan);
}

VELBRIN_KERNEL_ENTRY void smooth_divide_sse2(const uint16_t* sums, const uint16_t* passes, uint16_t* out, int n) {
  divide_lanes<Sse2>(sums, passes, out, n);
}
