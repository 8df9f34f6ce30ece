// Chooses the kernel that smooth_frame runs.
#include "engine/smooth.h"

void smooth_frame(const SmoothFrame& frame, const FilterSettings* settings) { smooth_frame_c(frame, settings); }
