// The frame pipeline: one thread decodes, N worker threads each run their
// own filter instance on different frames (converting into and out of the
// host's layout), and the calling thread encodes and muxes in frame order,
// copying audio packets alongside. The three stages overlap, and the
// number of frames in flight is bounded.
#pragma once

#include <cstdint>
#include <string>

#include "cli/av_helpers.h"
#include "cli/filter_host.h"
#include "cli/options.h"

class MediaInput;
class MediaOutput;
struct OutputChoice;
class Progress;

struct PipelineSettings {
  int threads = 1;
  FrameRange range;
  bool range_given = false;
  InstanceSettings instance;
  bool bypass = false;        // copy frames instead of filtering
  int64_t capture_at = -1;    // keep a copy of this decoded frame (for --compare)
};

struct PipelineResult {
  int64_t frames_written = 0;
  int64_t frames_decoded = 0;
  int64_t damaged_packets = 0;
  FramePtr captured;  // the decoded frame capture_at, if reached
};

// With `output` null only the capture is made (decoding stops there).
// Throws CliError; all threads are joined before it returns or throws.
PipelineResult run_pipeline(MediaInput& input, MediaOutput* output, const OutputChoice* choice,
                            const LoadedFilterModule& module, const PipelineSettings& settings, Progress& progress);
