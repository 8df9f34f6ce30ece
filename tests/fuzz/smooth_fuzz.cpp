// libFuzzer target: derives a frame's size, stride, settings and pixels from
// the input, runs every kernel this processor supports (and the dispatcher,
// and the run procedure's split into bands of rows on 1, 2, 3 and 64
// threads) and the reference, and aborts on the first byte that differs. Frames sit in
// heap blocks of exactly their extent, so AddressSanitizer reports any access
// outside the pixels' span; padding between rows is compared too, so a
// write into it shows as a difference.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/band_pool_hooks.h"
#include "engine/band_split.h"
#include "engine/kernels/smooth.h"
#include "engine/kernels/smooth_kernels.h"

namespace {

struct Reader {
  const uint8_t* data;
  size_t size, pos = 0;
  uint8_t byte() { return pos < size ? data[pos++] : 0; }
  int32_t int32() {
    uint32_t v = 0;
    for (int k = 0; k < 4; ++k) v |= static_cast<uint32_t>(byte()) << (8 * k);
    return static_cast<int32_t>(v);
  }
};

// Level or Dynamic: raw 32-bit values, 16-bit values, or values near the
// dialog's range, chosen by two bits of a mode byte.
int32_t setting(int32_t raw, unsigned mode, int lo, int span) {
  switch (mode & 3) {
    case 0: return raw;
    case 1: return static_cast<int16_t>(raw);
    default: return lo + static_cast<int32_t>(static_cast<uint32_t>(raw) % static_cast<uint32_t>(span));
  }
}

struct Layout {
  int w, h;
  ptrdiff_t stride;
  ptrdiff_t lo, words;  // extent of the pixels relative to row 0, in words
};

Layout layout(int w, int h, ptrdiff_t stride) {
  const ptrdiff_t last = static_cast<ptrdiff_t>(h - 1) * stride;
  const ptrdiff_t lo = last < 0 ? last : 0;
  const ptrdiff_t hi = (last > 0 ? last : 0) + w;
  return {w, h, stride, lo, hi - lo};
}

[[noreturn]] void fail(const char* kernel, const Layout& l, const SmoothParams& s, ptrdiff_t word) {
  std::fprintf(stderr, "MISMATCH kernel %s: %dx%d stride %td L=%d D=%d noise=%d disable=%d keep-alpha=%d at word %td\n",
               kernel, l.w, l.h, l.stride, s.level, s.dynamic, s.show_noise, s.disable, s.keep_alpha, word);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in{data, size};
  const uint8_t b0 = in.byte(), b1 = in.byte(), b2 = in.byte();
  int w = 1 + b0 % 64;
  if (b1 & 0x80) w += 330;  // wider than one column tile
  const int h = 1 + (b1 & 0x7F) % 24;
  ptrdiff_t stride = w + (b2 & 7);
  if (b2 & 0x08) stride = -stride;
  if ((b2 & 0x30) == 0x30) stride = (b2 & 0x08) ? -(w / 2) : w / 2;  // rows sharing words
  const bool in_place = (b2 & 0xC0) == 0xC0;

  SmoothParams s{};
  const uint8_t mode = in.byte();
  s.level = setting(in.int32(), mode, -60, 5300);
  s.dynamic = setting(in.int32(), mode >> 2, -4, 20);
  const uint8_t switches = in.byte();
  s.show_noise = (switches & 1) ? (switches >> 4) | 1 : 0;
  s.disable = (switches & 2) ? 1 : 0;
  s.keep_alpha = (switches & 4) ? 1 : 0;
  const uint8_t smooth = in.byte();
  // Rows per band for the split runs: one row, a few, or the default size.
  const int band_rows = smooth >> 6 == 3 ? 0 : 1 + (smooth >> 6) * ((smooth >> 1) & 7);

  // Pixels: from the rest of the input, cycled; with `smooth`, as small
  // steps around a grey so that many pairs sit near their tolerance; with
  // bit 4 of `smooth` (and not bit 0), as long runs of one colour (byte 3
  // changing all along), so that whole windows are flat and meet other
  // colours, one-step changes in one channel and single odd pixels.
  const Layout l = layout(w, h, stride);
  std::vector<uint32_t> src(static_cast<size_t>(l.words));
  const size_t rest = in.pos < size ? size - in.pos : 0;
  uint32_t grey = 128;
  uint32_t flat_colour = 0x00336699u;
  for (size_t k = 0; k < src.size(); ++k) {
    auto at = [&](size_t offset) { return rest ? data[in.pos + (3 * k + offset) % rest] : static_cast<uint8_t>(k * 37 + offset); };
    const uint8_t x = at(0), y = at(1), z = at(2);
    if (smooth & 1) {
      grey = (grey + (x & 7) - 3) & 0xFF;
      src[k] = grey * 0x010101u + ((y & 3) - 1) + (static_cast<uint32_t>(z) << 24);
    } else if (smooth & 0x10) {
      if (x >= 0xFC) {
        // x = 0xFC: a new colour; 0xFD: one step in one channel; 0xFE: this
        // pixel alone differs; 0xFF: back to the first colour.
        if (x == 0xFC) flat_colour = y | static_cast<uint32_t>(z) << 8 | static_cast<uint32_t>(y ^ z) << 16;
        else if (x == 0xFD) flat_colour = (flat_colour + (1u << (8 * (y % 3)))) & 0x00FFFFFFu;
        else if (x == 0xFF) flat_colour = 0x00336699u;
      }
      const uint32_t colour = x == 0xFE ? flat_colour ^ (1u << (z % 24)) : flat_colour;
      src[k] = colour | static_cast<uint32_t>(y ^ static_cast<uint8_t>(k)) << 24;
    } else {
      src[k] = x | static_cast<uint32_t>(y) << 8 | static_cast<uint32_t>(z) << 16 | static_cast<uint32_t>(x ^ z) << 24;
    }
  }
  std::vector<uint32_t> fill(static_cast<size_t>(l.words));
  for (size_t k = 0; k < fill.size(); ++k) fill[k] = 0xA5000000u ^ static_cast<uint32_t>(k * 2654435761u);

  SmoothKernel kernels[8];
  const int n = smooth_kernels_supported(kernels, 8);
  // Variants 0..n-1: each kernel; n: the dispatcher; n+1..n+4: the split on
  // kThreads[k] threads.
  static const int kThreads[] = {1, 2, 3, kBandPoolMaxThreads};
  static const bool pool_ready = (band_pool_start(), band_pool_set_threads(kBandPoolMaxThreads), true);
  (void)pool_ready;
  const int variants = n + 1 + 4;
  char name[64];
  auto run = [&](int k, const SmoothFrame& f) -> const char* {
    if (k < n) {
      smooth_frame_with(kernels[k], f, s);
      return kernels[k].name;
    }
    if (k == n) {
      smooth_frame(f, s);
      return "smooth_frame";
    }
    BandSplit split;
    split.max_threads = kThreads[k - n - 1];
    split.band_rows = band_rows;
    split.min_pixels = 0;
    smooth_frame_split(f, s, split);
    std::snprintf(name, sizeof name, "split, %d threads, bands of %d rows", split.max_threads, band_rows);
    return name;
  };
  if (in_place) {
    std::vector<uint32_t> expect = src;
    smooth_frame_c(SmoothFrame{expect.data() - l.lo, expect.data() - l.lo, w, h, stride}, s);
    for (int k = 0; k < variants; ++k) {
      std::vector<uint32_t> got = src;
      const char* what = run(k, SmoothFrame{got.data() - l.lo, got.data() - l.lo, w, h, stride});
      if (got != expect) fail(what, l, s, -1);
    }
    return 0;
  }
  std::vector<uint32_t> expect = fill;
  smooth_frame_c(SmoothFrame{src.data() - l.lo, expect.data() - l.lo, w, h, stride}, s);
  const std::vector<uint32_t> original = src;
  for (int k = 0; k < variants; ++k) {
    std::vector<uint32_t> got = fill;
    const char* what = run(k, SmoothFrame{src.data() - l.lo, got.data() - l.lo, w, h, stride});
    for (size_t q = 0; q < got.size(); ++q)
      if (got[q] != expect[q]) fail(what, l, s, static_cast<ptrdiff_t>(q) + l.lo);
    if (src != original) fail(what, l, s, -1);
  }
  return 0;
}
