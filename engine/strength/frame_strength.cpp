// A frame's settings under Auto (see frame_strength.h).
#include "engine/strength/frame_strength.h"

FrameStrength strength_of_frame(const uint32_t* pixels, int width, int height, ptrdiff_t pitch) {
  FrameStrength f;
  f.noise = measure_noise(pixels, width, height, pitch);
  f.rule = strength_for_noise_q8(f.noise.sigma_q8);
  f.settings = checked_settings(pixels, width, height, pitch, f.noise.sigma_q8, f.rule);
  return f;
}
