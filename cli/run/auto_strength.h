// --auto: each frame's Level and Dynamic from the noise measured in that
// frame (engine/strength/), and what a run measured and used, summed up.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/strength/frame_strength.h"

// What the frames of a run measured and used: ranges, and the medians of
// their deviations and Levels for one fixed setting close to them (a few
// frames of another kind, such as a clean title, do not move it).
class StrengthSummary {
 public:
  void add(const FrameStrength& frame);
  void merge(const StrengthSummary& other);
  int64_t frames() const { return int64_t(levels_.size()); }

  // The median deviation x 256; the frames' median Level and Dynamic.
  int median_sigma_q8() const;
  StrengthSettings fixed_setting() const;
  // "noise σ 8.1–9.4, Level 170–197, Dynamic 8" (one value where the range
  // is one).
  std::string measured_line() const;

 private:
  // Each frame's, in the order added.
  std::vector<int> sigmas_q8_, levels_, dynamics_;
};

// "--level 180 --dynamic 8".
std::string setting_options(const StrengthSettings& s);
