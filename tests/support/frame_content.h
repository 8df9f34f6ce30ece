// Pixel content for the kernel checker, the fuzz seeds and the benchmark:
// noise, flat colour, near-threshold texture and a synthetic photograph
// (smooth shading, hard edges, thin lines, fine texture and sensor noise).
// Deterministic for a given seed, so a failing case can be replayed.
#pragma once

#include <cstdint>

enum class Content : int { kNoise, kFlat, kNearThreshold, kExtremes, kPhoto, kCount };

inline const char* content_name(Content c) {
  switch (c) {
    case Content::kNoise: return "noise";
    case Content::kFlat: return "flat";
    case Content::kNearThreshold: return "near-threshold";
    case Content::kExtremes: return "extremes";
    case Content::kPhoto: return "photo";
    default: return "?";
  }
}

// Small fast generator (splitmix64), the same on every platform.
struct TestRng {
  uint64_t state;
  explicit TestRng(uint64_t seed) : state(seed) {}
  uint64_t next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint32_t u32() { return static_cast<uint32_t>(next() >> 32); }
  int below(int n) { return static_cast<int>(next() % static_cast<uint64_t>(n)); }
  int range(int lo, int hi) { return lo + below(hi - lo + 1); }  // inclusive
};

inline int clamp_channel(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

inline uint32_t pack_bgr(int b, int g, int r, uint32_t byte3) {
  return static_cast<uint32_t>(clamp_channel(b)) | static_cast<uint32_t>(clamp_channel(g)) << 8 |
         static_cast<uint32_t>(clamp_channel(r)) << 16 | (byte3 & 0xFF000000u);
}

// Fine texture of its own in each channel (as in fur or brush strokes),
// channel c's value at (i, j): the texture that smoothing takes for noise.
inline int colour_texture_value(int i, int j, int c) {
  return 128 + static_cast<int>((static_cast<uint32_t>(j * 7919 + i * 104729 + c * 15485863) * 2654435761u) >> 27) *
                   3 - 48;
}

// That texture with noise of about +-amp on top.
inline uint32_t colour_texture_pixel(int i, int j, int amp, TestRng& rng) {
  int v[3];
  for (int c = 0; c < 3; ++c) v[c] = colour_texture_value(i, j, c) + (amp > 0 ? rng.range(-amp, amp) : 0);
  return pack_bgr(v[0], v[1], v[2], 0);
}

// A photograph-like picture of size w x h at (i, j): a lit gradient sky,
// a few discs and bars with hard edges, a one-pixel line, fine texture and
// noise of about +-amp.
inline uint32_t photo_pixel(int i, int j, int w, int h, int amp, TestRng& rng) {
  const int W = w > 1 ? w : 2, H = h > 1 ? h : 2;
  int b = 40 + 120 * i / H + 30 * j / W;
  int g = 70 + 90 * i / H + 60 * j / W;
  int r = 110 + 60 * j / W - 40 * i / H;
  // discs
  const int cx[3] = {W / 4, W / 2, 3 * W / 4}, cy[3] = {H / 3, 2 * H / 3, H / 2}, rad[3] = {H / 5 + 2, H / 4 + 3, H / 6 + 1};
  const int tone[3][3] = {{200, 180, 60}, {30, 40, 50}, {90, 200, 230}};
  for (int k = 0; k < 3; ++k) {
    const int dx = j - cx[k], dy = i - cy[k];
    if (dx * dx + dy * dy < rad[k] * rad[k]) {
      b = tone[k][0] + (dx * 40) / (rad[k] + 1);
      g = tone[k][1] + (dy * 30) / (rad[k] + 1);
      r = tone[k][2];
    }
  }
  // a bar and a thin line
  if (j > W / 8 && j < W / 8 + W / 20 + 1 && i > H / 10) b = g = r = 235;
  if (i == H / 2 + 1 || j == (W * 5) / 8) b = g = r = 15;
  // texture: a fine periodic pattern in part of the picture
  if (i > (3 * H) / 4) {
    const int t = ((i * 7 + j * 3) % 11) - 5;
    b += 3 * t;
    g += 2 * t;
    r += t;
  }
  const int n = amp > 0 ? rng.range(-amp, amp) : 0;
  return pack_bgr(b + n, g + rng.range(-amp / 2, amp / 2) + n, r + n, rng.u32());
}

// Fills pixel (i, j) of content `c`; `level` steers near-threshold content so
// that many key differences sit close to the pair tolerances.
inline uint32_t content_pixel(Content c, int i, int j, int w, int h, int level, TestRng& rng) {
  switch (c) {
    case Content::kNoise: return rng.u32();
    case Content::kFlat: return 0x00406080u | (rng.u32() & 0xFF000000u);
    case Content::kNearThreshold: {
      // Greys around a base whose key steps are near Level / 10.
      const int step = level > 0 && level < 2550 ? level / 10 : 10;
      const int v = 128 + ((i + j) % 3 - 1) * (step + rng.range(-1, 1)) / 10 * 10 / 10 + rng.range(-2, 2);
      const int u = rng.range(-1, 1);
      return pack_bgr(v + u, v, v - u, rng.u32());
    }
    case Content::kExtremes: {
      const uint32_t bits = rng.u32();
      return ((bits & 1) ? 0xFFu : 0u) | ((bits & 2) ? 0xFF00u : 0u) | ((bits & 4) ? 0xFF0000u : 0u) | (bits & 0xFF000000u);
    }
    case Content::kPhoto:
    default: return photo_pixel(i, j, w, h, 6, rng);
  }
}
