// Host frames to 8-bit planar YUV in integer arithmetic.
#include "cli/media/rgb_to_yuv.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#include "cli/media/luma_weights.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace {

constexpr int kBits = 15;  // fractional bits of the weights

std::atomic<bool> g_plain{false};  // RgbToYuv::use_plain_code

int channel(uint32_t word, int c) { return int(word >> (8 * c) & 0xFF); }  // 0 blue, 1 green, 2 red

uint8_t clamp_byte(int32_t v) { return uint8_t(std::clamp(v, 0, 255)); }

// Luma of one pixel; the weights are positive and sum to at most 1, so it
// needs no clamping.
uint8_t luma(uint32_t p, const RgbToYuvMatrix& m) {
  const int32_t round = (m.y_offset << kBits) + (1 << (kBits - 1));
  return uint8_t((m.y[0] * channel(p, 2) + m.y[1] * channel(p, 1) + m.y[2] * channel(p, 0) + round) >> kBits);
}

// A chroma sample from the red, green and blue sums of 2^log2_count pixels.
uint8_t chroma(const int32_t* w, int32_t r, int32_t g, int32_t b, int log2_count) {
  const int shift = kBits + log2_count;
  return clamp_byte((w[0] * r + w[1] * g + w[2] * b + (128 << shift) + (1 << (shift - 1))) >> shift);
}

}  // namespace

std::optional<RgbToYuvMatrix> rgb_to_yuv_matrix(AVColorSpace space, bool full_range) {
  const std::optional<LumaWeights> weights = luma_weights(space);
  if (!weights) return std::nullopt;
  const double kr = weights->kr, kb = weights->kb;
  const double one = double(1 << kBits);
  const double luma_scale = full_range ? 1.0 : 219.0 / 255.0, chroma_scale = full_range ? 1.0 : 224.0 / 255.0;
  RgbToYuvMatrix m{};
  // Rounded so that the weights sum exactly: white is 235 (255), grey has
  // no chroma.
  const int32_t luma_sum = int32_t(std::lround(luma_scale * one));
  m.y[0] = int32_t(std::lround(kr * luma_scale * one));
  m.y[2] = int32_t(std::lround(kb * luma_scale * one));
  m.y[1] = luma_sum - m.y[0] - m.y[2];
  const double half = 0.5 * chroma_scale * one;
  m.u[2] = int32_t(std::lround(half));
  m.u[0] = int32_t(std::lround(-half * kr / (1 - kb)));
  m.u[1] = -m.u[0] - m.u[2];
  m.v[0] = int32_t(std::lround(half));
  m.v[2] = int32_t(std::lround(-half * kb / (1 - kr)));
  m.v[1] = -m.v[0] - m.v[2];
  m.y_offset = full_range ? 0 : 16;
  return m;
}

void rgb_to_yuv_reference(const uint32_t* top, ptrdiff_t pitch, int width, int height, const RgbToYuvMatrix& m,
                          const YuvPlanes& out) {
  auto pixel = [&](int x, int y) {
    return top[ptrdiff_t(std::min(y, height - 1)) * pitch + std::min(x, width - 1)];
  };
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) out.data[0][y * out.pitch[0] + x] = luma(pixel(x, y), m);
  const int sx = out.log2_chroma_w, sy = out.log2_chroma_h;
  const int cw = (width + (1 << sx) - 1) >> sx, ch = (height + (1 << sy) - 1) >> sy;
  for (int cy = 0; cy < ch; ++cy)
    for (int cx = 0; cx < cw; ++cx) {
      int32_t sum[3] = {0, 0, 0};  // red, green, blue
      for (int dy = 0; dy < (1 << sy); ++dy)
        for (int dx = 0; dx < (1 << sx); ++dx)
          for (int c = 0; c < 3; ++c) sum[c] += channel(pixel((cx << sx) + dx, (cy << sy) + dy), 2 - c);
      out.data[1][cy * out.pitch[1] + cx] = chroma(m.u, sum[0], sum[1], sum[2], sx + sy);
      out.data[2][cy * out.pitch[2] + cx] = chroma(m.v, sum[0], sum[1], sum[2], sx + sy);
    }
}

namespace {

// The conversion in plain loops from column `first_x` (even) on. Built
// twice, for AVX2 and for any x86-64, and picked when loaded: the loops
// are integer arithmetic, so both give the same bytes (for a 1080p 4:2:0
// frame the AVX2 build takes about 1.5 ms, the SSE2 one 3 ms; the
// hand-written AVX2 code below about 1 ms).
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
__attribute__((target_clones("avx2", "default")))
#endif
void convert_rows(const uint32_t* top, ptrdiff_t pitch, int width, int height, const RgbToYuvMatrix& m,
                  const YuvPlanes& out, int32_t* r, int32_t* g, int32_t* b, int first_x) {
  const int sx = out.log2_chroma_w, sy = out.log2_chroma_h;
  const int cw = (width + (1 << sx) - 1) >> sx, ch = (height + (1 << sy) - 1) >> sy;
  const int32_t y0 = m.y[0], y1 = m.y[1], y2 = m.y[2];
  const int32_t y_round = (m.y_offset << kBits) + (1 << (kBits - 1));
  const int shift = kBits + sx + sy;
  const int32_t c_round = (128 << shift) + (1 << (shift - 1));
  for (int cy = 0; cy < ch; ++cy) {
    // The picture rows this chroma row covers; at an odd bottom edge the
    // last row counts twice.
    const int ya = cy << sy, yb = std::min(ya + (1 << sy) - 1, height - 1);
    const uint32_t* const pa = top + ptrdiff_t(ya) * pitch;
    const uint32_t* const pb = top + ptrdiff_t(yb) * pitch;
    for (int y = ya; y <= yb; ++y) {
      const uint32_t* const p = top + ptrdiff_t(y) * pitch;
      uint8_t* const dst = out.data[0] + y * out.pitch[0];
      for (int x = first_x; x < width; ++x) {
        const uint32_t w = p[x];
        dst[x] = uint8_t((y0 * int32_t(w >> 16 & 0xFF) + y1 * int32_t(w >> 8 & 0xFF) + y2 * int32_t(w & 0xFF) +
                          y_round) >> kBits);
      }
    }
    // Column sums of red, green and blue over those rows.
    if (sy == 1) {
      for (int x = first_x; x < width; ++x) {
        const uint32_t wa = pa[x], wb = pb[x];
        r[x] = int32_t(wa >> 16 & 0xFF) + int32_t(wb >> 16 & 0xFF);
        g[x] = int32_t(wa >> 8 & 0xFF) + int32_t(wb >> 8 & 0xFF);
        b[x] = int32_t(wa & 0xFF) + int32_t(wb & 0xFF);
      }
    } else {
      for (int x = first_x; x < width; ++x) {
        const uint32_t wa = pa[x];
        r[x] = int32_t(wa >> 16 & 0xFF);
        g[x] = int32_t(wa >> 8 & 0xFF);
        b[x] = int32_t(wa & 0xFF);
      }
    }
    // At an odd right edge the last column counts twice.
    r[width] = r[width - 1], g[width] = g[width - 1], b[width] = b[width - 1];
    uint8_t* const du = out.data[1] + cy * out.pitch[1];
    uint8_t* const dv = out.data[2] + cy * out.pitch[2];
    if (sx == 1) {
      for (int cx = first_x >> 1; cx < cw; ++cx) {
        const int32_t rs = r[2 * cx] + r[2 * cx + 1], gs = g[2 * cx] + g[2 * cx + 1], bs = b[2 * cx] + b[2 * cx + 1];
        du[cx] = clamp_byte((m.u[0] * rs + m.u[1] * gs + m.u[2] * bs + c_round) >> shift);
        dv[cx] = clamp_byte((m.v[0] * rs + m.v[1] * gs + m.v[2] * bs + c_round) >> shift);
      }
    } else {
      for (int cx = first_x; cx < cw; ++cx) {
        du[cx] = clamp_byte((m.u[0] * r[cx] + m.u[1] * g[cx] + m.u[2] * b[cx] + c_round) >> shift);
        dv[cx] = clamp_byte((m.v[0] * r[cx] + m.v[1] * g[cx] + m.v[2] * b[cx] + c_round) >> shift);
      }
    }
  }
}

#if defined(__x86_64__) && defined(__GNUC__)
#define VELBRIN_AVX2 __attribute__((target("avx2")))

// Weights for vpmaddwd on pixel bytes widened to 16 bits (blue, green,
// red, alpha): one set for even pixels, one for odd ones.
VELBRIN_AVX2 __m256i pair_weights(const int32_t* even, const int32_t* odd) {
  const auto w = [](int32_t v) { return int16_t(v); };
  return _mm256_setr_epi16(w(even[2]), w(even[1]), w(even[0]), 0, w(odd[2]), w(odd[1]), w(odd[0]), 0,
                           w(even[2]), w(even[1]), w(even[0]), 0, w(odd[2]), w(odd[1]), w(odd[0]), 0);
}

// Luma of 8 pixels, in order, as 32-bit values.
VELBRIN_AVX2 __m256i luma8(__m256i p, __m256i weights, __m256i round) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i lo = _mm256_madd_epi16(_mm256_unpacklo_epi8(p, zero), weights);  // pixels 0 1 | 4 5
  const __m256i hi = _mm256_madd_epi16(_mm256_unpackhi_epi8(p, zero), weights);  // pixels 2 3 | 6 7
  return _mm256_srai_epi32(_mm256_add_epi32(_mm256_hadd_epi32(lo, hi), round), kBits);
}

// 32-bit values of 16 samples (8 in `a`, 8 in `b`, packed in lanes) to 16
// bytes in order, saturated to 0..255.
VELBRIN_AVX2 __m128i bytes16(__m256i a, __m256i b) {
  const __m256i words = _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), 0xD8);
  return _mm_packus_epi16(_mm256_castsi256_si128(words), _mm256_extracti128_si256(words, 1));
}

// U and V of the 2x2 blocks of 8 pixels of two rows: U0 V0 U1 V1 | U2 V2 U3 V3.
VELBRIN_AVX2 __m256i chroma4(__m256i a, __m256i b, __m256i weights, __m256i round, int shift) {
  const __m256i zero = _mm256_setzero_si256();
  __m256i lo = _mm256_add_epi16(_mm256_unpacklo_epi8(a, zero), _mm256_unpacklo_epi8(b, zero));
  __m256i hi = _mm256_add_epi16(_mm256_unpackhi_epi8(a, zero), _mm256_unpackhi_epi8(b, zero));
  // Each pixel pair's sum in both halves of its 128 bits.
  lo = _mm256_add_epi16(lo, _mm256_shuffle_epi32(lo, 0x4E));
  hi = _mm256_add_epi16(hi, _mm256_shuffle_epi32(hi, 0x4E));
  const __m256i uv = _mm256_hadd_epi32(_mm256_madd_epi16(lo, weights), _mm256_madd_epi16(hi, weights));
  return _mm256_srai_epi32(_mm256_add_epi32(uv, round), shift);
}

// 4:2:0 with AVX2, 16 pixels of two rows at a time, as libyuv does it: the
// pixel bytes widened to 16 bits and multiplied and added in pairs
// (vpmaddwd) with the weights, then the pairs added (vphaddd). The same
// integer arithmetic as the plain loops, so the same bytes; a test compares
// them. Returns the columns done; the plain loops do the rest.
VELBRIN_AVX2 int convert_420_avx2(const uint32_t* top, ptrdiff_t pitch, int width, int height,
                                  const RgbToYuvMatrix& m, const YuvPlanes& out) {
  const int done = width & ~15;
  if (done == 0) return 0;
  const __m256i luma_w = pair_weights(m.y, m.y);
  const __m256i chroma_w = pair_weights(m.u, m.v);
  const __m256i y_round = _mm256_set1_epi32((m.y_offset << kBits) + (1 << (kBits - 1)));
  constexpr int kShift = kBits + 2;
  const __m256i c_round = _mm256_set1_epi32((128 << kShift) + (1 << (kShift - 1)));
  // U0 V0 U1 V1 ... U7 V7 to U0..U7 V0..V7.
  const __m128i split = _mm_setr_epi8(0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15);
  const int ch = (height + 1) >> 1;
  for (int cy = 0; cy < ch; ++cy) {
    const int ya = 2 * cy, yb = std::min(ya + 1, height - 1);
    const uint32_t* const pa = top + ptrdiff_t(ya) * pitch;
    const uint32_t* const pb = top + ptrdiff_t(yb) * pitch;
    uint8_t* const ra = out.data[0] + ya * out.pitch[0];
    uint8_t* const rb = out.data[0] + yb * out.pitch[0];
    uint8_t* const du = out.data[1] + cy * out.pitch[1];
    uint8_t* const dv = out.data[2] + cy * out.pitch[2];
    for (int x = 0; x < done; x += 16) {
      const __m256i a0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pa + x));
      const __m256i a1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pa + x + 8));
      const __m256i b0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pb + x));
      const __m256i b1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pb + x + 8));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(ra + x), bytes16(luma8(a0, luma_w, y_round), luma8(a1, luma_w, y_round)));
      if (yb != ya)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(rb + x), bytes16(luma8(b0, luma_w, y_round), luma8(b1, luma_w, y_round)));
      const __m128i uv = _mm_shuffle_epi8(
          bytes16(chroma4(a0, b0, chroma_w, c_round, kShift), chroma4(a1, b1, chroma_w, c_round, kShift)), split);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(du + x / 2), uv);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(dv + x / 2), _mm_unpackhi_epi64(uv, uv));
    }
  }
  return done;
}

bool avx2_allowed() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has && !g_plain.load(std::memory_order_relaxed);
}
#else
int convert_420_avx2(const uint32_t*, ptrdiff_t, int, int, const RgbToYuvMatrix&, const YuvPlanes&) { return 0; }
bool avx2_allowed() { return false; }
#endif

}  // namespace

void RgbToYuv::use_plain_code(bool plain) { g_plain.store(plain, std::memory_order_relaxed); }

void RgbToYuv::convert(const uint32_t* top, ptrdiff_t pitch, int width, int height, const RgbToYuvMatrix& m,
                       const YuvPlanes& out) {
  for (auto& s : sum_) s.resize(size_t(width) + 1);
  const bool vector = out.log2_chroma_w == 1 && out.log2_chroma_h == 1 && avx2_allowed();
  const int first_x = vector ? convert_420_avx2(top, pitch, width, height, m, out) : 0;
  convert_rows(top, pitch, width, height, m, out, sum_[0].data(), sum_[1].data(), sum_[2].data(), first_x);
}
