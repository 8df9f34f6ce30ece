// How much smoothing a noisy frame gains from, checked on the frame itself.
//
// The rule from noise to Level (strength_rule.h) suits most pictures, but
// fine texture in several colours (fur, brush strokes) at light noise is
// better left nearly as it is: smoothing takes more texture than noise.
// Whether it does can be told without the clean picture. For noise of known
// deviation s, the mean squared error of a filter's output f(y) against the
// clean picture is estimated without bias by Stein's risk
//
//   |f(y) - y|^2 / N - s^2 + 2 s^2 div f(y) / N,
//
// where div f is the sum of each output value's change per unit change of
// its own input value. The divergence is read by running the filter once
// more on the input with every value moved by +1 or -1 at random, b:
// div f ~ b . (f(y + b) - f(y)). Both runs are on strips spread over the
// frame (1.6 % of a 1080p frame), for the rule's Level, three quarters and
// half of it, and none; Level 0 leaves a frame as it is, so its risk is
// known without a run. The Level with the least risk is the frame's.
//
// The moves come from a fixed sequence, and everything is integer, so the
// choice depends on the frame's pixels alone, on every machine and build.
// No memory is allocated (the frei0r plug-in's Windows file has none to
// offer beyond its own heap); the strips take about 90 KB of stack.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/strength/strength_rule.h"

// Stein's risk of the filter at `level` and `dynamic` on the strips, x 65536
// and summed over the values measured rather than averaged: comparable
// between Levels of one frame and deviation. `values` gets how many values
// were measured (0 when the frame is too small for a strip, 68 x 20
// pixels: risk 0).
int64_t level_risk(const uint32_t* pixels, int width, int height, ptrdiff_t pitch, int sigma_q8, int level,
                   int dynamic, int64_t* values = nullptr);

// Of the rule's Level `rule.level`, three quarters and half of it, and none,
// the one with the least risk (ties go to the higher; half is tried only
// where three quarters beat the rule's); Dynamic as the rule says. Frames
// too small for a strip keep the rule's settings.
StrengthSettings checked_settings(const uint32_t* pixels, int width, int height, ptrdiff_t pitch, int sigma_q8,
                                  StrengthSettings rule);
