// The rule from noise to settings (see strength_rule.h).
#include "engine/strength/strength_rule.h"

#include "engine/setting_ranges.h"

namespace {

// Below this deviation (x 256) the picture is taken as clean: what a clean
// photograph reads is its own grain and compression, which smoothing would
// only take detail from. Above it Level rises from 0, reaching the plain
// rule kLevelPerSigma x sigma at twice the threshold and following it
// after, so a measurement near the threshold moves Level by little.
constexpr int kCleanQ8 = 256;

int clamp(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }

}  // namespace

StrengthSettings strength_for_noise_q8(int sigma_q8) {
  int effective = sigma_q8;
  if (sigma_q8 <= kCleanQ8)
    effective = 0;
  else if (sigma_q8 < 2 * kCleanQ8)
    effective = 2 * (sigma_q8 - kCleanQ8);
  // Rounded to the nearest whole Level; large values are clamped before the
  // product could overflow.
  const int capped = clamp(effective, 0, kLevelMax * 256);
  const int level = (capped * kLevelPerSigma + 128) / 256;
  return {clamp(level, kLevelMin, kLevelMax), clamp(kAutoDynamic, kDynamicMin, kDynamicMax)};
}

StrengthSettings strength_for_noise(double sigma) {
  // NaN and negatives read as no noise; huge values as the most.
  if (!(sigma > 0)) return strength_for_noise_q8(0);
  if (sigma > double(kLevelMax)) return strength_for_noise_q8(kLevelMax * 256);
  return strength_for_noise_q8(int(sigma * 256 + 0.5));
}
