// The checker's --bench: each checked kernel timed against the reference on
// a 1080p frame, in the same run.
#pragma once

#include <vector>

#include "engine/kernels/smooth_kernels.h"

void time_kernels(const std::vector<SmoothKernel>& kernels);
