// The AVX2 smoothing kernel: sixteen 16-bit lanes per vector. Only this file
// is compiled with -mavx2; the dispatcher runs it only where CPUID and the
// operating system report AVX2.
#include <immintrin.h>

#include "engine/kernels/smooth_kernels.h"
#include "engine/kernels/smooth_simd_body.h"

namespace {

// The reciprocal table as four 16-entry byte tables for VPSHUFB: low and
// high bytes, for passes 0..15 and 16..31.
struct ByteTables {
  uint8_t lo_a[16], lo_b[16], hi_a[16], hi_b[16];
};

constexpr ByteTables make_byte_tables() {
  ByteTables t{};
  for (int p = 0; p < 16; ++p) {
    t.lo_a[p] = static_cast<uint8_t>(kRecip.v[p] & 0xFF);
    t.hi_a[p] = static_cast<uint8_t>(kRecip.v[p] >> 8);
    t.lo_b[p] = static_cast<uint8_t>(kRecip.v[p + 16] & 0xFF);
    t.hi_b[p] = static_cast<uint8_t>(kRecip.v[p + 16] >> 8);
  }
  return t;
}
constexpr ByteTables kByteTables = make_byte_tables();

struct Avx2 {
  using V = __m256i;
  using Mask = __m256i;  // all ones in a lane that passes
  using Count = __m128i;
  struct Tables {
    V lo_a, lo_b, hi_a, hi_b;
  };
  static constexpr int kLanes = 16;
  static constexpr int kConvertPixels = 16;
  static constexpr int kPixels = 8;  // 32-bit pixels per vector

  static VELBRIN_INLINE V px_load(const uint32_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
  static VELBRIN_INLINE void px_store(uint32_t* p, V v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
  static VELBRIN_INLINE void px_stream(uint32_t* p, V v) { _mm256_stream_si256(reinterpret_cast<__m256i*>(p), v); }
  static VELBRIN_INLINE V px_set1(uint32_t v) { return _mm256_set1_epi32(static_cast<int>(v)); }
  static VELBRIN_INLINE V bit_or(V a, V b) { return _mm256_or_si256(a, b); }
  static VELBRIN_INLINE V bit_and(V a, V b) { return _mm256_and_si256(a, b); }
  static VELBRIN_INLINE V bit_xor(V a, V b) { return _mm256_xor_si256(a, b); }
  // Bytes 0..2 of every pixel zero.
  static VELBRIN_INLINE bool bgr_zero(V v) { return _mm256_testz_si256(v, _mm256_set1_epi32(0x00FFFFFF)) != 0; }

  static VELBRIN_INLINE V load(const uint16_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
  static VELBRIN_INLINE void store16(uint16_t* p, V v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
  static VELBRIN_INLINE V set1(int v) { return _mm256_set1_epi16(static_cast<short>(v)); }
  static VELBRIN_INLINE V lane_index() { return _mm256_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15); }
  static VELBRIN_INLINE Count shift_count(int s) { return _mm_cvtsi32_si128(s); }
  static VELBRIN_INLINE V table(const uint8_t* bytes) {
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes)));
  }
  static VELBRIN_INLINE Tables make_tables() {
    return {table(kByteTables.lo_a), table(kByteTables.lo_b), table(kByteTables.hi_a), table(kByteTables.hi_b)};
  }

  static VELBRIN_INLINE void pin(V& v) { __asm__("" : "+x"(v)); }
  static VELBRIN_INLINE V add(V a, V b) { return _mm256_add_epi16(a, b); }
  static VELBRIN_INLINE V sub(V a, V b) { return _mm256_sub_epi16(a, b); }
  // |a - b| for a, b in 0..10200: the difference fits a signed lane.
  static VELBRIN_INLINE V absdiff(V a, V b) { return _mm256_abs_epi16(_mm256_sub_epi16(a, b)); }
  static VELBRIN_INLINE V mulhi(V d, V m) { return _mm256_mulhi_epu16(d, m); }
  static VELBRIN_INLINE V shift_right(V v, Count s) { return _mm256_srl_epi16(v, s); }
  static VELBRIN_INLINE V keep_if_zero(V d, V base) {
    return _mm256_and_si256(_mm256_cmpeq_epi16(d, _mm256_setzero_si256()), base);
  }
  static VELBRIN_INLINE Mask less(V a, V b) { return _mm256_cmpgt_epi16(b, a); }
  static VELBRIN_INLINE V max16(V a, V b) { return _mm256_max_epi16(a, b); }
  // a holds columns -2..13 and b columns 2..17 of a block: per lane x, the
  // sum of columns x-2..x+2. [a's high half, columns 14..17 from b] continues
  // each 128-bit half of a, so one in-lane byte shift gives columns x-2+k.
  static VELBRIN_INLINE V sum5(V a, V b) {
    const V next = _mm256_permute2x128_si256(a, _mm256_srli_si256(b, 8), 0x31);
    return add(add(a, b), add(add(_mm256_alignr_epi8(next, a, 2), _mm256_alignr_epi8(next, a, 4)),
                              _mm256_alignr_epi8(next, a, 6)));
  }
  static VELBRIN_INLINE bool all(Mask m) { return _mm256_movemask_epi8(m) == -1; }
  static VELBRIN_INLINE V select(Mask m, V if_set, V if_clear) { return _mm256_blendv_epi8(if_clear, if_set, m); }
  static VELBRIN_INLINE V count_if(V passes, Mask m) { return _mm256_sub_epi16(passes, m); }
  static VELBRIN_INLINE V add_if(V sum, Mask m, V v) { return _mm256_add_epi16(sum, _mm256_and_si256(m, v)); }

  // Reciprocal per lane with byte shuffles. Both bytes of a lane index the
  // tables with the lane's pass count p (0..24): p + 0x70 with unsigned
  // saturation keeps p < 16 below 0x80 and sends p >= 16 to 0x80 or above,
  // which VPSHUFB turns into 0; p - 16 is negative (top bit set, so 0) for
  // p < 16 and the index into the second tables otherwise.
  static VELBRIN_INLINE V recip(V passes, const Tables& t) {
    const V idx = _mm256_or_si256(passes, _mm256_slli_epi16(passes, 8));
    const V ia = _mm256_adds_epu8(idx, _mm256_set1_epi8(0x70));
    const V ib = _mm256_sub_epi8(idx, _mm256_set1_epi8(0x10));
    const V lo = _mm256_or_si256(_mm256_shuffle_epi8(t.lo_a, ia), _mm256_shuffle_epi8(t.lo_b, ib));
    const V hi = _mm256_or_si256(_mm256_shuffle_epi8(t.hi_a, ia), _mm256_shuffle_epi8(t.hi_b, ib));
    // Both bytes of lo hold the low byte of the entry, both of hi the high.
    return _mm256_blendv_epi8(lo, hi, _mm256_set1_epi16(static_cast<short>(0xFF00)));
  }
  static VELBRIN_INLINE V divide(V sum, V passes, V recip) {
    const V q0 = _mm256_mulhi_epu16(sum, recip);
    const V count = _mm256_sub_epi16(passes, _mm256_cmpeq_epi16(passes, passes));
    const V rem = _mm256_sub_epi16(sum, _mm256_mullo_epi16(q0, count));
    return _mm256_sub_epi16(q0, _mm256_cmpgt_epi16(rem, passes));
  }
  static VELBRIN_INLINE V noise(V avg, V own) {
    return _mm256_add_epi16(_mm256_mullo_epi16(_mm256_sub_epi16(avg, own), _mm256_set1_epi16(10)), _mm256_set1_epi16(127));
  }
  static VELBRIN_INLINE void pack_pixels(V b, V g, V r, V* first, V* second) {
    // In-lane packing: each 128-bit half holds pixels 0..7 and 8..15.
    const V bg = _mm256_packus_epi16(b, g);                      // b g, clamped to 0..255
    const V r0 = _mm256_packus_epi16(r, _mm256_setzero_si256());  // r 0
    const V br = _mm256_unpacklo_epi8(bg, r0);
    const V g0 = _mm256_unpackhi_epi8(bg, r0);
    const V lo = _mm256_unpacklo_epi8(br, g0);  // pixels 0..3 | 8..11
    const V hi = _mm256_unpackhi_epi8(br, g0);  // pixels 4..7 | 12..15
    *first = _mm256_permute2x128_si256(lo, hi, 0x20);
    *second = _mm256_permute2x128_si256(lo, hi, 0x31);
  }
  static VELBRIN_INLINE void convert(const uint32_t* src, uint16_t* planes) {
    const V p0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src));
    const V p1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 8));
    // Pixels 0..3 | 8..11 and 4..7 | 12..15, so that the in-lane packs
    // below come out in pixel order.
    const V a = _mm256_permute2x128_si256(p0, p1, 0x20);
    const V c = _mm256_permute2x128_si256(p0, p1, 0x31);
    const V ff = _mm256_set1_epi32(0xFF);
    const V b = _mm256_packs_epi32(_mm256_and_si256(a, ff), _mm256_and_si256(c, ff));
    const V g = _mm256_packs_epi32(_mm256_and_si256(_mm256_srli_epi32(a, 8), ff), _mm256_and_si256(_mm256_srli_epi32(c, 8), ff));
    const V r = _mm256_packs_epi32(_mm256_and_si256(_mm256_srli_epi32(a, 16), ff), _mm256_and_si256(_mm256_srli_epi32(c, 16), ff));
    const V y4 = _mm256_add_epi16(_mm256_slli_epi16(b, 2), _mm256_add_epi16(_mm256_mullo_epi16(g, _mm256_set1_epi16(24)),
                                                                             _mm256_mullo_epi16(r, _mm256_set1_epi16(12))));
    store16(planes + kPlaneB * kPlanePitch, b);
    store16(planes + kPlaneG * kPlanePitch, g);
    store16(planes + kPlaneR * kPlanePitch, r);
    store16(planes + kPlaneY * kPlanePitch, y4);
  }
};

}  // namespace

VELBRIN_KERNEL_ENTRY void smooth_fast_avx2(const SmoothFrame& frame, const SmoothPlan& plan) {
  smooth_fast_body<Avx2>(frame, plan);
}

VELBRIN_KERNEL_ENTRY void smooth_divide_avx2(const uint16_t* sums, const uint16_t* passes, uint16_t* out, int n) {
  divide_lanes<Avx2>(sums, passes, out, n);
}
