// Choosing the boundaries of the segments.
#include "cli/run/segment_plan.h"

#include <algorithm>
#include <cstdlib>

namespace {

std::string frames_text(int64_t n) { return std::to_string(n) + (n == 1 ? " frame" : " frames"); }

}  // namespace

SegmentPlan plan_segments(const std::vector<bool>& key, int workers) {
  SegmentPlan plan;
  const int64_t total = int64_t(key.size());
  if (total == 0 || workers < 1) return plan;
  std::vector<int64_t> starts = {0};
  for (int k = 1; k < workers; ++k) {
    const int64_t ideal = (int64_t(k) * total + workers / 2) / workers;
    int64_t best = -1;
    for (int64_t f = starts.back() + 1; f < total; ++f)
      if (key[size_t(f)] && (best < 0 || std::llabs(f - ideal) < std::llabs(best - ideal))) best = f;
    if (best > starts.back()) starts.push_back(best);
  }
  int64_t largest = 0, smallest = INT64_MAX;
  for (size_t i = 0; i < starts.size(); ++i) {
    const int64_t end = i + 1 < starts.size() ? starts[i + 1] - 1 : total - 1;
    plan.ranges.push_back(FrameRange{starts[i], end});
    largest = std::max(largest, end - starts[i] + 1);
    smallest = std::min(smallest, end - starts[i] + 1);
  }
  const int64_t made = int64_t(plan.ranges.size());
  if (made < workers)
    plan.notes.push_back(std::to_string(workers) + " ranges asked, " + std::to_string(made) +
                         " possible: the video's " + frames_text(total) + " have too few key frames to start more at");
  if (made > 1 && largest != smallest)
    plan.notes.push_back("the ranges hold " + std::to_string(smallest) + " to " + frames_text(largest) +
                         " (key frames lie unevenly)");
  return plan;
}

std::string ranges_text(const SegmentPlan& plan) {
  std::string text;
  for (const FrameRange& r : plan.ranges) text += std::to_string(r.first) + "-" + std::to_string(r.last) + "\n";
  return text;
}
