// What a run could not read of its input. A damaged input (a file cut
// short, unreadable packets, a picture missing from a sequence) still gives
// an output of everything that could be read, but the run says what was lost
// and ends with its own exit status, so that a script that removes the
// originals after a clean run leaves these alone.
#pragma once

#include <string>

#include "cli/input/media_input.h"
#include "cli/run/frame_range.h"

struct PipelineResult;

// One line for the user ("'x.mkv' is damaged: ..."), or "" when nothing
// was lost. `expected` is what the input promised (read once, before the
// run), `range` the part of it that was asked for.
std::string input_damage(const MediaInput& input, const MediaInput::FrameCount& expected, const FrameRange& range,
                         const PipelineResult& result);
