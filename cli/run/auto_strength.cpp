// --auto's per-frame settings and their summary (see auto_strength.h).
#include "cli/run/auto_strength.h"

#include <algorithm>
#include <cstdio>

#include "engine/filter_settings.h"

void StrengthSummary::add(const FrameStrength& f) {
  sigmas_q8_.push_back(f.noise.sigma_q8);
  levels_.push_back(f.settings.level);
  dynamics_.push_back(f.settings.dynamic);
}

void StrengthSummary::merge(const StrengthSummary& other) {
  sigmas_q8_.insert(sigmas_q8_.end(), other.sigmas_q8_.begin(), other.sigmas_q8_.end());
  levels_.insert(levels_.end(), other.levels_.begin(), other.levels_.end());
  dynamics_.insert(dynamics_.end(), other.dynamics_.begin(), other.dynamics_.end());
}

namespace {

// The middle value; of two middle ones, their mean rounded up.
int median(std::vector<int> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2] + 1) / 2;
}

// "8.1–9.4" for the values' range, one value where the range is one.
std::string range_text(const char* format, const std::vector<int>& values, double scale) {
  const auto [lowest, highest] = std::minmax_element(values.begin(), values.end());
  const double low = *lowest / scale, high = *highest / scale;
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
  if (frames() == 0) return {kDefaultLevel, kDefaultDynamic};
  // The frames' own Levels, as the check of each frame left them, rather
  // than the rule's for the median noise: on finely textured footage the
  // frames ask for less than the rule says.
  return {median(levels_), median(dynamics_)};
}

std::string StrengthSummary::measured_line() const {
  if (frames() == 0) return "no frames measured";
  return "noise \u03c3 " + range_text("%.1f", sigmas_q8_, 256.0) + ", Level " + range_text("%.0f", levels_, 1.0) +
         ", Dynamic " + range_text("%.0f", dynamics_, 1.0);
}

std::string setting_options(const StrengthSettings& s) {
  return "--level " + std::to_string(s.level) + " --dynamic " + std::to_string(s.dynamic);
}
