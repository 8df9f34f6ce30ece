// Level and Dynamic: their ranges and defaults, and the rule that sets them
// from the noise a frame carries. Every door reads them here: the module's
// settings and dialog, velbrin's options and help, the frei0r plug-in, and
// the editors' descriptions (tests/frei0r checks those against this file).
#pragma once

// Level: the base brightness tolerance. Neighbours whose brightness differs
// by less than about Level / 16 from a pixel's are averaged with it.
constexpr int kLevelMin = 0;
constexpr int kLevelMax = 400;
constexpr int kDefaultLevel = 100;

// Dynamic: how strongly a pair's own contrast lowers its tolerance (the
// pair divisor is 11 - Dynamic).
constexpr int kDynamicMin = 0;
constexpr int kDynamicMax = 10;
constexpr int kDefaultDynamic = 5;

// The rule from noise to settings (engine/strength/strength_rule.h): Level
// about kLevelPerSigma x the noise's standard deviation on the 8-bit scale,
// with Dynamic kAutoDynamic. Measured on photographs with added Gaussian
// noise, this stays within a tenth of a decibel of the best fixed setting.
constexpr int kLevelPerSigma = 21;
constexpr int kAutoDynamic = 8;
