// Splitting a video into --frames ranges for several workers: each range
// starts at a key frame, so that no worker decodes frames it does not
// write, and the ranges cover every frame once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/run/frame_range.h"

struct SegmentPlan {
  std::vector<FrameRange> ranges;  // in order, side by side, all closed
  // What the user should know about the plan: fewer ranges than asked, and
  // how uneven they came out. Empty when the plan is as asked and even.
  std::vector<std::string> notes;
};

// `key` holds, for each frame by the frame clock, whether it is a key frame.
// Each boundary after the first is the key frame nearest the ideal even
// split, after the previous boundary; where key frames are too sparse,
// fewer ranges than `workers` come out. No frames: no range.
SegmentPlan plan_segments(const std::vector<bool>& key, int workers);

// "0-287\n288-527\n...": the plan as velbrin prints it.
std::string ranges_text(const SegmentPlan& plan);
