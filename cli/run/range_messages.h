// What a run says about a --frames range the input did not fill.
#pragma once

#include <cstdint>
#include <string>

#include "cli/run/frame_range.h"

// "--frames 290-310", "--frames 5-", "--frames 6": as the user may write it.
std::string range_option_text(const FrameRange& range);

// The note for a closed range that the input ended within, after
// `frames_decoded` frames, of which `frames_written` were written; "" when
// the range was whole or nothing was written (the run then fails).
std::string range_cut_short_note(const FrameRange& range, int64_t frames_decoded, int64_t frames_written);

// Why a range got no frame: "the input has only 5 frames (counted from 0)",
// naming the picture a sequence is missing where its reading stopped.
std::string frames_short_reason(int64_t frames_decoded, const std::string& missing_picture);
