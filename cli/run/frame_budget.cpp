// Fitting workers and frames in flight into the memory budget.
#include "cli/run/frame_budget.h"

#include <algorithm>
#include <cstdio>

extern "C" {
#include <libavutil/imgutils.h>
}

#include "cli/cli_error.h"
#include "cli/media/host_frame.h"

namespace {

std::string gigabytes(int64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f GB", double(bytes) / 1e9);
  return text;
}

}  // namespace

int64_t picture_bytes(int width, int height, AVPixelFormat format) {
  const int size = format == AV_PIX_FMT_NONE ? -1 : av_image_get_buffer_size(format, width, height, 1);
  // Formats FFmpeg cannot size (hardware, unknown) count as 4 bytes a pixel.
  return size > 0 ? std::max<int64_t>(size, int64_t(width) * height) : HostFrame::bytes(width, height);
}

FramePlan plan_frames(const std::string& input, int width, int height, AVPixelFormat decoded, AVPixelFormat encoded,
                      int threads, int64_t budget) {
  const int64_t worker = 2 * HostFrame::bytes(width, height);
  const int64_t job = picture_bytes(width, height, decoded) + picture_bytes(width, height, encoded);
  // The decoder's and the encoder's own pictures.
  const int64_t fixed = job;
  const int64_t least = fixed + worker + job;
  if (least > budget)
    throw CliError("'" + input + "' is " + std::to_string(width) + "x" + std::to_string(height) +
                   ": filtering it takes about " + gigabytes(least) + ", more than the " + gigabytes(budget) +
                   " velbrin allows itself; scale it down first");
  FramePlan plan;
  plan.workers = int(std::clamp<int64_t>((budget - fixed) / (worker + job), 1, std::max(threads, 1)));
  // Two frames per worker keep every stage busy; the budget may allow fewer.
  const int64_t wanted = int64_t(plan.workers) * 2 + 1;
  plan.in_flight = std::clamp<int64_t>((budget - fixed - plan.workers * worker) / job, plan.workers, wanted);
  plan.peak_bytes = fixed + plan.workers * worker + plan.in_flight * job;
  return plan;
}
