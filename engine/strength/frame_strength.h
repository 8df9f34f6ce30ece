// A frame's settings under Auto: its noise measured (noise_measure.h), the
// rule applied (strength_rule.h), and its Level lowered where the frame
// itself shows that less smoothing keeps more of it (level_check.h). Every
// door that offers Auto calls this, so they all give a frame the same
// settings.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/strength/level_check.h"
#include "engine/strength/noise_measure.h"
#include "engine/strength/strength_rule.h"

struct FrameStrength {
  NoiseMeasure noise;
  StrengthSettings rule;      // the rule's settings for the noise measured
  StrengthSettings settings;  // the frame's: the rule's, or a lower Level
};

// The frame as measure_noise takes it: row 0 at `pixels`, `pitch` bytes
// from row to row. Doors whose hosts lay frames out differently pass the
// VirtualDub host's layout (bottom row first), as they run the filter.
FrameStrength strength_of_frame(const uint32_t* pixels, int width, int height, ptrdiff_t pitch);
