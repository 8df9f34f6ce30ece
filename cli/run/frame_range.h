// The frames a run reads: chosen with --frames, counted from 0 in the order
// they are shown.
#pragma once

#include <cstdint>

struct FrameRange {
  int64_t first = 0;
  int64_t last = INT64_MAX;  // inclusive; INT64_MAX when open-ended
};
