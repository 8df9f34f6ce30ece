// The run procedure's frame splitter (see band_split.h).
#include "engine/band_split.h"

#include "engine/band_pool.h"
#include "engine/kernels/smooth_kernels.h"
#include "engine/kernels/smooth_plan.h"

namespace {

// Bands per thread when the caller leaves the size open: several, so that a
// thread slowed by other work on the machine (or a second frame) holds up
// little at the end, yet each band long enough that the two extra rows it
// converts above and below are little next to its own.
constexpr int kBandsPerThread = 8;
constexpr int kMinBandRows = 16;

struct BandContext {
  SmoothFastKernel kernel;
  const SmoothFrame* frame;
  const SmoothPlan* plan;
  int band_rows;
};

void run_band(const void* context, int band) {
  const BandContext& c = *static_cast<const BandContext*>(context);
  SmoothPlan plan = *c.plan;
  plan.row_begin = band * c.band_rows;
  const int rows_left = c.frame->height - plan.row_begin;
  plan.row_end = plan.row_begin + (rows_left < c.band_rows ? rows_left : c.band_rows);
  c.kernel(*c.frame, plan);
}

}  // namespace

void smooth_frame_split(const SmoothFrame& frame, const SmoothParams& params, const BandSplit& split) {
  const SmoothKernel& kernel = smooth_kernel_best();
  SmoothPlan plan;
  if (kernel.fast == nullptr || !make_smooth_plan(frame, params, &plan)) {
    smooth_frame_c(frame, params);
    return;
  }
  // The plan accepted the frame, so width and height are 1 .. INT_MAX - 4096.
  const int h = frame.height;
  const bool small = frame.width < split.min_pixels / h + (split.min_pixels % h != 0);  // w * h < min_pixels
  if (small || h < 2 || split.max_threads == 1) {
    kernel.fast(frame, plan);
    return;
  }
  int threads = band_pool_threads();
  if (split.max_threads > 0 && split.max_threads < threads) threads = split.max_threads;
  int rows = split.band_rows;
  if (rows <= 0) {
    const int bands = threads * kBandsPerThread;
    rows = h / bands + (h % bands != 0);
    if (rows < kMinBandRows) rows = kMinBandRows;
  }
  if (rows > h) rows = h;
  const int bands = h / rows + (h % rows != 0);
  if (threads <= 1 || bands <= 1) {
    kernel.fast(frame, plan);
    return;
  }
  const BandContext context{kernel.fast, &frame, &plan, rows};
  band_pool_run(BandWork{run_band, &context, bands, threads});
}
