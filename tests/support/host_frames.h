// Guarded frames as a host hands them to the run procedure, and the outputs
// they are compared with, for the cases that drive the module through the
// host interface.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/filter_settings.h"
#include "host/vd_filter.h"
#include "tests/support/guarded_frame.h"

// The host's bitmap record of a frame: pitch and modulo from its stride.
VFBitmap bitmap_of(const GuardedFrame& f);
// Every accessible byte from `seed`, then the pixels a picture: shading,
// edges and noise, one row in five random bytes, byte 3 junk throughout.
void fill_picture(GuardedFrame& f, uint64_t seed);
// The reference kernel's output for the pixels of `src` under `settings`.
std::vector<uint32_t> reference_output(const GuardedFrame& src, const FilterSettings& settings);
// The source with byte 3 cleared: what the filter shows when it passes the frame through.
std::vector<uint32_t> passed_through(const GuardedFrame& src);
// Index of the first differing pixel, or -1.
long first_difference(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b);
