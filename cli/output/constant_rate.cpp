// Placing frames into a constant frame rate.
#include "cli/output/constant_rate.h"

#include <algorithm>
#include <cmath>

ConstantRateSlots::Copies ConstantRateSlots::place(double at, double lasts) {
  if (!(lasts > 0)) lasts = 1;
  double gap = at - double(next_);
  // A frame that starts a little before the next free interval takes it.
  if (gap < 0 && gap + lasts > 0) {
    lasts += gap;
    gap = 0;
  }
  const double reach = gap + lasts;  // intervals from the next free one to this frame's end
  int64_t total = 1;
  if (reach < -1.1) total = 0;
  else if (reach > 1.1) total = std::llround(reach);
  Copies c;
  if (any_ && total > 1 && gap > 1.1) c.previous = std::min<int64_t>(std::llround(gap - 0.6), total);
  c.current = total - c.previous;
  if (total == 0) ++dropped_;
  repeated_ += std::max<int64_t>(total - 1, 0);
  next_ += total;
  any_ = true;  // the caller keeps this frame as the one before the next, written or not
  return c;
}

std::string ConstantRateSlots::summary() const {
  if (repeated_ == 0 && dropped_ == 0) return "";
  auto frames = [](int64_t n) { return std::to_string(n) + (n == 1 ? " frame " : " frames "); };
  if (dropped_ == 0) return frames(repeated_) + "repeated";
  if (repeated_ == 0) return frames(dropped_) + "dropped";
  return frames(repeated_) + "repeated, " + std::to_string(dropped_) + " dropped";
}
