// A frame's settings under Auto: its noise measured (noise_measure.h) and
// the rule applied (strength_rule.h). Every door that offers Auto calls
// this, so they all give a frame the same settings.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/strength/noise_measure.h"
#include "engine/strength/strength_rule.h"

struct FrameStrength {
  NoiseMeasure noise;
  StrengthSettings settings;
};

// The frame as measure_noise takes it: row 0 at `pixels`, `pitch` bytes
// from row to row. Doors whose hosts lay frames out differently pass the
// VirtualDub host's layout (bottom row first), as they run the filter.
FrameStrength strength_of_frame(const uint32_t* pixels, int width, int height, ptrdiff_t pitch);
