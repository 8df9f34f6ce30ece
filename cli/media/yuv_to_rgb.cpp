// 8-bit planar YUV to host frames in integer arithmetic.
#include "cli/media/yuv_to_rgb.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#include "cli/media/luma_weights.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace {

constexpr int kBits = 13;  // fractional bits of the weights
constexpr int32_t kRound = 1 << (kBits - 1);

std::atomic<bool> g_plain{false};  // YuvToRgb::use_plain_code

uint32_t clamp_byte(int32_t v) { return uint32_t(std::clamp(v, 0, 255)); }

// One pixel: luma y, chroma u and v as stored.
uint32_t pixel(int y, int u, int v, const YuvToRgbMatrix& m) {
  const int32_t luma = (y - m.y_offset) * m.y_gain + kRound;
  const int32_t cb = u - 128, cr = v - 128;
  return clamp_byte((luma + m.bu * cb) >> kBits) | clamp_byte((luma + m.gu * cb + m.gv * cr) >> kBits) << 8 |
         clamp_byte((luma + m.rv * cr) >> kBits) << 16 | 0xFF000000u;
}

// Columns first_x.. of picture row y.
void convert_row_plain(const YuvSource& in, int width, int y, const YuvToRgbMatrix& m, uint32_t* out, int first_x) {
  const int sx = in.log2_chroma_w;
  const uint8_t* const luma = in.data[0] + y * in.pitch[0];
  const uint8_t* const cb = in.data[1] + (y >> in.log2_chroma_h) * in.pitch[1];
  const uint8_t* const cr = in.data[2] + (y >> in.log2_chroma_h) * in.pitch[2];
  for (int x = first_x; x < width; ++x) out[x] = pixel(luma[x], cb[x >> sx], cr[x >> sx], m);
}

#if defined(__x86_64__) && defined(__GNUC__)
#define VELBRIN_AVX2 __attribute__((target("avx2")))

// Two 16-bit weights repeated over the lane pairs that vpmaddwd multiplies.
VELBRIN_AVX2 __m256i pair_weights(int32_t even, int32_t odd) {
  return _mm256_set1_epi32(int32_t(uint32_t(uint16_t(even)) | uint32_t(uint16_t(odd)) << 16));
}

// 16 chroma samples (as stored, minus 128) for 16 pixels: with sx = 1 eight
// samples each repeated, else sixteen.
VELBRIN_AVX2 __m256i chroma16(const uint8_t* p, int sx) {
  if (sx == 0) return _mm256_sub_epi16(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
                                       _mm256_set1_epi16(128));
  const __m128i c = _mm_sub_epi16(_mm_cvtepu8_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))),
                                  _mm_set1_epi16(128));
  return _mm256_set_m128i(_mm_unpackhi_epi16(c, c), _mm_unpacklo_epi16(c, c));
}

// The 32-bit sums a * wa + b * wb of 16 lanes of 16-bit a and b (w holds
// the weight pair), in two halves: lanes 0..3 and 8..11, then 4..7 and
// 12..15, as the in-lane unpacking leaves them.
struct Sums {
  __m256i lo, hi;
};
VELBRIN_AVX2 Sums weighted(__m256i a, __m256i b, __m256i w) {
  return {_mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), w), _mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), w)};
}
VELBRIN_AVX2 Sums plus(Sums x, Sums y) { return {_mm256_add_epi32(x.lo, y.lo), _mm256_add_epi32(x.hi, y.hi)}; }

// (sum + kRound) >> kBits, back to 16 bits in lane order (the packing undoes
// the unpacking's order).
VELBRIN_AVX2 __m256i rounded(Sums s) {
  const __m256i round = _mm256_set1_epi32(kRound);
  return _mm256_packs_epi32(_mm256_srai_epi32(_mm256_add_epi32(s.lo, round), kBits),
                            _mm256_srai_epi32(_mm256_add_epi32(s.hi, round), kBits));
}

// 16 pixels of a row at a time: bytes widened to 16 bits, multiplied and
// added in pairs (vpmaddwd), the same integer sums as `pixel`, so the same
// bytes; a test compares them. Returns the columns done.
VELBRIN_AVX2 int convert_row_avx2(const YuvSource& in, int width, int y, const YuvToRgbMatrix& m, uint32_t* out) {
  const int done = width & ~15;
  const int sx = in.log2_chroma_w;
  const uint8_t* const luma = in.data[0] + y * in.pitch[0];
  const uint8_t* const cb = in.data[1] + (y >> in.log2_chroma_h) * in.pitch[1];
  const uint8_t* const cr = in.data[2] + (y >> in.log2_chroma_h) * in.pitch[2];
  const __m256i w_blue = pair_weights(m.y_gain, m.bu), w_green = pair_weights(m.y_gain, m.gu);
  const __m256i w_green_cr = pair_weights(m.gv, 0), w_red = pair_weights(m.y_gain, m.rv);
  const __m256i offset = _mm256_set1_epi16(int16_t(m.y_offset)), opaque = _mm256_set1_epi16(255);
  for (int x = 0; x < done; x += 16) {
    const __m256i l =
        _mm256_sub_epi16(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(luma + x))), offset);
    const __m256i u = chroma16(cb + (x >> sx), sx), v = chroma16(cr + (x >> sx), sx);
    const __m256i b = rounded(weighted(l, u, w_blue));
    const __m256i g = rounded(plus(weighted(l, u, w_green), weighted(v, _mm256_setzero_si256(), w_green_cr)));
    const __m256i r = rounded(weighted(l, v, w_red));
    // Per 128-bit lane (pixels 0..7, then 8..15): B G bytes and R A bytes,
    // interleaved into B G R A words, then the lanes put in pixel order.
    const __m256i bg = _mm256_packus_epi16(b, g), ra = _mm256_packus_epi16(r, opaque);
    const __m256i br = _mm256_unpacklo_epi8(bg, ra), ga = _mm256_unpackhi_epi8(bg, ra);
    const __m256i lo = _mm256_unpacklo_epi8(br, ga), hi = _mm256_unpackhi_epi8(br, ga);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), _mm256_permute2x128_si256(lo, hi, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x + 8), _mm256_permute2x128_si256(lo, hi, 0x31));
  }
  return done;
}

bool avx2_allowed() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has && !g_plain.load(std::memory_order_relaxed);
}
#else
int convert_row_avx2(const YuvSource&, int, int, const YuvToRgbMatrix&, uint32_t*) { return 0; }
bool avx2_allowed() { return false; }
#endif

}  // namespace

std::optional<YuvToRgbMatrix> yuv_to_rgb_matrix(AVColorSpace space, bool full_range) {
  const std::optional<LumaWeights> weights = luma_weights(space);
  if (!weights) return std::nullopt;
  const double kr = weights->kr, kb = weights->kb, kg = 1 - kr - kb;
  const double one = double(1 << kBits);
  const double luma_scale = full_range ? 1.0 : 255.0 / 219.0, chroma_scale = full_range ? 1.0 : 255.0 / 224.0;
  auto fixed = [&](double v) { return int32_t(std::lround(v * one)); };
  YuvToRgbMatrix m{};
  m.y_gain = fixed(luma_scale);
  m.y_offset = full_range ? 0 : 16;
  m.rv = fixed(2 * (1 - kr) * chroma_scale);
  m.bu = fixed(2 * (1 - kb) * chroma_scale);
  m.gu = fixed(-2 * (1 - kb) * kb / kg * chroma_scale);
  m.gv = fixed(-2 * (1 - kr) * kr / kg * chroma_scale);
  return m;
}

void yuv_to_rgb_reference(const YuvSource& in, int width, int height, const YuvToRgbMatrix& m, uint32_t* top,
                          ptrdiff_t pitch) {
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      top[ptrdiff_t(y) * pitch + x] =
          pixel(in.data[0][y * in.pitch[0] + x], in.data[1][(y >> in.log2_chroma_h) * in.pitch[1] + (x >> in.log2_chroma_w)],
                in.data[2][(y >> in.log2_chroma_h) * in.pitch[2] + (x >> in.log2_chroma_w)], m);
}

void YuvToRgb::use_plain_code(bool plain) { g_plain.store(plain, std::memory_order_relaxed); }

void YuvToRgb::convert(const YuvSource& in, int width, int height, const YuvToRgbMatrix& m, uint32_t* top,
                       ptrdiff_t pitch) {
  const bool vector = avx2_allowed();
  for (int y = 0; y < height; ++y) {
    uint32_t* const out = top + ptrdiff_t(y) * pitch;
    convert_row_plain(in, width, y, m, out, vector ? convert_row_avx2(in, width, y, m, out) : 0);
  }
}
