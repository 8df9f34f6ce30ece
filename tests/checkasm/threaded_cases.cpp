// The threaded path through smooth_frame_split: every frame is cut into bands
// (one row, a few rows, the default size) and run with several thread
// counts; the bytes must equal the reference's whatever thread ran which
// band. Frames sit against guard pages (or have one after or before every
// row), so a band that reads past the frame's first or last row faults.
#include "tests/checkasm/threaded_cases.h"

#include <cstdio>

#include "engine/band_pool_hooks.h"
#include "engine/band_split.h"
#include "engine/kernels/smooth.h"
#include "tests/support/frame_content.h"
#include "tests/support/guarded_frame.h"

namespace {

struct BandCase {
  int w, h;
  ptrdiff_t stride;
  Placement placement;
  Content content;
};

uint64_t pixel_sum(const GuardedFrame& f) {
  uint64_t s = 0;
  for (int i = 0; i < f.height(); ++i)
    for (int j = 0; j < f.width(); ++j) s = s * 31 + f.at(i, j);
  return s;
}

void check_case(CheckRecord record, const BandCase& c, const SmoothParams& s, const int* threads, int thread_counts,
                const int* band_rows, int band_sizes, uint64_t seed) {
  GuardedFrame src(c.w, c.h, c.stride, c.placement);
  src.fill_all(seed);
  TestRng rng(seed);
  for (int i = 0; i < c.h; ++i)
    for (int j = 0; j < c.w; ++j) src.at(i, j) = content_pixel(c.content, i, j, c.w, c.h, s.level, rng);
  const uint64_t src_sum = pixel_sum(src);
  GuardedFrame ref(c.w, c.h, c.stride, c.placement);
  ref.fill_all(seed + 1);
  smooth_frame_c(SmoothFrame{src.row0(), ref.row0(), c.w, c.h, src.stride()}, s);

  for (int t = 0; t < thread_counts; ++t)
    for (int b = 0; b < band_sizes; ++b) {
      char what[200];
      std::snprintf(what, sizeof what, "bands of %d rows on %d threads: %dx%d stride %lld %s %s L=%d D=%d noise=%d",
                    band_rows[b], threads[t], c.w, c.h, static_cast<long long>(c.stride), placement_name(c.placement),
                    content_name(c.content), s.level, s.dynamic, s.show_noise);
      set_fault_context(what);
      GuardedFrame out(c.w, c.h, c.stride, c.placement);
      out.fill_all(seed + 1);
      BandSplit split;
      split.max_threads = threads[t];
      split.band_rows = band_rows[b];
      split.min_pixels = 0;  // small frames too
      smooth_frame_split(SmoothFrame{src.row0(), out.row0(), c.w, c.h, src.stride()}, s, split);
      ptrdiff_t diff = 0;
      const bool same = out.same_bytes(ref, &diff);
      const bool src_kept = pixel_sum(src) == src_sum;
      record(same && src_kept, std::string(what) + (same ? "" : ": differs from the reference at word " +
                                                                   std::to_string(static_cast<long long>(diff))) +
                                   (src_kept ? "" : ": source modified"));
    }
}

}  // namespace

void check_threaded_bands(CheckRecord record, bool quick) {
  // A pool as large as it may grow, so that "most threads" means that many;
  // each frame then takes at most the thread count under test.
  band_pool_start();
  band_pool_set_threads(kBandPoolMaxThreads);
  const int threads[] = {1, 2, 3, kBandPoolMaxThreads};
  const int band_rows[] = {1, 2, 3, 0};
  const SmoothParams settings[] = {{100, 5, 0, 0}, {400, 10, 1, 0}, {60, 11, 0, 0},
                                     {250, -3, 0, 1}};

  // Heights 1 to 9: bands at every distance from the top and bottom rows,
  // where the row clamp differs.
  const int widths[] = {1, 7, 33, 370, 1000};
  const Placement placements[] = {Placement::kHighGuard, Placement::kLowGuard, Placement::kRowGuardAfter,
                                  Placement::kRowGuardBefore};
  int n = 0;
  for (int w : widths)
    for (int h = 1; h <= 9; ++h) {
      const int variant = n++;
      if (quick && variant % 2) continue;
      const Placement pl = placements[variant % 4];
      const ptrdiff_t stride = (variant / 4) % 2 ? -(w + variant % 5) : w + variant % 5;
      const BandCase c{w, h, stride, pl, static_cast<Content>(variant % static_cast<int>(Content::kCount))};
      check_case(record, c, settings[variant % 4], threads, 4, band_rows, 4, 7000 + static_cast<uint64_t>(variant));
    }

  // Taller frames: many more bands than threads, uneven last bands, and a
  // frame of the default band size's scale.
  const BandCase tall[] = {
      {17, 200, 17, Placement::kHighGuard, Content::kNoise},
      {400, 150, -403, Placement::kLowGuard, Content::kPhoto},
      {1920, 67, 1920, Placement::kHighGuard, Content::kNearThreshold},
      {640, 360, -640, Placement::kHighGuard, Content::kPhoto},
  };
  const int tall_rows[] = {1, 5, 64, 0};
  for (const BandCase& c : tall)
    for (const SmoothParams& s : {settings[0], settings[1]})
      check_case(record, c, s, threads, 4, tall_rows, quick ? 2 : 4, 7100 + static_cast<uint64_t>(c.w));

  // Back to what VELBRIN_THREADS and the processors say, and closed.
  band_pool_set_threads(0);
  band_pool_stop();
}
