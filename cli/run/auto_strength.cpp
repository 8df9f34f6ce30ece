// --auto's per-frame settings and their summary (see auto_strength.h).
#include "cli/run/auto_strength.h"

#include <algorithm>
#include <cstdio>

#include "engine/filter_settings.h"

void StrengthSummary::add(const FrameStrength& f) {
  StrengthSummary one;
  one.frames_ = 1;
  one.sigmas_q8_ = {f.noise.sigma_q8};
  one.levels_ = {f.settings.level};
  one.sigma_q8_min_ = one.sigma_q8_max_ = f.noise.sigma_q8;
  one.level_min_ = one.level_max_ = f.settings.level;
  one.dynamic_min_ = one.dynamic_max_ = f.settings.dynamic;
  merge(one);
}

void StrengthSummary::merge(const StrengthSummary& other) {
  if (other.frames_ == 0) return;
  if (frames_ == 0) {
    *this = other;
    return;
  }
  frames_ += other.frames_;
  sigmas_q8_.insert(sigmas_q8_.end(), other.sigmas_q8_.begin(), other.sigmas_q8_.end());
  levels_.insert(levels_.end(), other.levels_.begin(), other.levels_.end());
  sigma_q8_min_ = std::min(sigma_q8_min_, other.sigma_q8_min_);
  sigma_q8_max_ = std::max(sigma_q8_max_, other.sigma_q8_max_);
  level_min_ = std::min(level_min_, other.level_min_);
  level_max_ = std::max(level_max_, other.level_max_);
  dynamic_min_ = std::min(dynamic_min_, other.dynamic_min_);
  dynamic_max_ = std::max(dynamic_max_, other.dynamic_max_);
}

namespace {

// The middle value; of two middle ones, their mean rounded up.
int median(std::vector<int> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2] + 1) / 2;
}

std::string range_text(const char* format, double low, double high) {
  char buf[64];
  if (std::snprintf(buf, sizeof buf, format, low) < 0) return {};
  std::string text = buf;
  char high_text[32];
  std::snprintf(high_text, sizeof high_text, format, high);
  if (text != high_text) text += std::string("\u2013") + high_text;
  return text;
}

}  // namespace

int StrengthSummary::median_sigma_q8() const { return median(sigmas_q8_); }

StrengthSettings StrengthSummary::fixed_setting() const {
  if (frames_ == 0) return {kDefaultLevel, kDefaultDynamic};
  // The frames' own Levels, as the check of each frame left them, rather
  // than the rule's for the median noise: on finely textured footage the
  // frames ask for less than the rule says.
  return {median(levels_), strength_for_noise_q8(median_sigma_q8()).dynamic};
}

std::string StrengthSummary::measured_line() const {
  if (frames_ == 0) return "no frames measured";
  return "noise \u03c3 " + range_text("%.1f", sigma_q8_min_ / 256.0, sigma_q8_max_ / 256.0) + ", Level " +
         range_text("%.0f", level_min_, level_max_) + ", Dynamic " + range_text("%.0f", dynamic_min_, dynamic_max_);
}

std::string setting_options(const StrengthSettings& s) {
  return "--level " + std::to_string(s.level) + " --dynamic " + std::to_string(s.dynamic);
}
