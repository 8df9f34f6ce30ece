// The settings for a measured amount of noise: one rule for every door
// (velbrin --auto and --measure, the frei0r plug-in's Auto).
#pragma once

struct StrengthSettings {
  int level;
  int dynamic;
};

// Level about 21 x sigma (kLevelPerSigma in engine/setting_ranges.h) up to
// the top of its range, Dynamic 8; below the noise of a clean photograph
// Level falls to 0, so that pictures without noise keep their fine texture.
// `sigma_q8` is the deviation x 256, as NoiseMeasure gives it.
StrengthSettings strength_for_noise_q8(int sigma_q8);

// The same from a deviation given as a plain number (rounded to 1/256).
StrengthSettings strength_for_noise(double sigma);
