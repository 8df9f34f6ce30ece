// --auto: each frame's Level and Dynamic from the noise measured in that
// frame (engine/strength/), and what a run measured and used, summed up.
#pragma once

#include <cstdint>
#include <string>

#include "engine/strength/noise_measure.h"
#include "engine/strength/strength_rule.h"

// The settings for one frame in the host's layout (rows of `width` pixels
// with no gap), and what was measured.
struct FrameStrength {
  NoiseMeasure noise;
  StrengthSettings settings;
};
FrameStrength strength_of_frame(const uint32_t* words, int width, int height);

// What the frames of a run measured and used: ranges, and the mean
// deviation for one fixed setting close to them.
class StrengthSummary {
 public:
  void add(const FrameStrength& frame);
  void merge(const StrengthSummary& other);
  int64_t frames() const { return frames_; }

  // The fixed setting the rule gives for the mean deviation.
  StrengthSettings fixed_setting() const;
  // "noise σ 8.1–9.4, Level 170–197, Dynamic 8" (one value where the range
  // is one).
  std::string measured_line() const;

 private:
  int64_t frames_ = 0;
  int64_t sigma_q8_total_ = 0;
  int sigma_q8_min_ = 0, sigma_q8_max_ = 0;
  int level_min_ = 0, level_max_ = 0;
  int dynamic_min_ = 0, dynamic_max_ = 0;
};

// "--level 180 --dynamic 8".
std::string setting_options(const StrengthSettings& s);
