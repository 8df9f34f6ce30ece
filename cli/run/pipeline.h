// The frame pipeline: one thread decodes (with FFmpeg's decoder threads),
// N worker threads each convert a frame into the host's layout, run their
// own filter instance on it and convert it back to the encoder's pixel
// format, and the calling thread encodes (with the encoder's threads) and
// muxes in frame order, passing audio packets alongside. The stages
// overlap; the workers and the frames in flight are bounded by the thread
// count and by a memory budget (frame_budget.h).
#pragma once

#include <cstdint>
#include <string>

#include "cli/media/av_helpers.h"
#include "cli/host/filter_host.h"
#include "cli/run/frame_budget.h"
#include "cli/run/auto_strength.h"
#include "cli/run/frame_range.h"

class InputDamage;
class MediaInput;
class MediaOutput;
struct OutputChoice;
class ProgressLine;

struct PipelineSettings {
  FramePlan plan;  // workers and frames in flight
  FrameRange range;
  bool range_given = false;
  InstanceSettings instance;
  bool bypass = false;        // copy frames instead of filtering
  bool auto_strength = false; // --auto: Level and Dynamic from each frame's noise
  int64_t capture_at = -1;    // keep a copy of this decoded frame (for --compare)
};

// Processor time spent in each of velbrin's own per-frame steps, summed
// over the workers, in seconds.
struct StageTimes {
  double to_host = 0;    // decoded frame to host frame
  double filter = 0;     // the module's RunProc
  double from_host = 0;  // host frame to the encoder's pixel format
};

struct PipelineResult {
  StageTimes stages;
  int workers = 0;
  int64_t in_flight = 0;
  int64_t frames_written = 0;
  int64_t frames_decoded = 0;
  int64_t most_audio_queued = 0;  // bytes of audio waiting for their frames, at most
  FramePtr captured;  // the decoded frame capture_at, if reached
  StrengthSummary strength;  // --auto: what the frames measured and used
};

// With `output` null only the capture is made (decoding stops there).
// What the demuxer and decoders report goes to `damage`. Throws CliError;
// all threads are joined before it returns or throws.
PipelineResult run_pipeline(MediaInput& input, MediaOutput* output, const OutputChoice* choice,
                            const LoadedFilterModule& module, const PipelineSettings& settings, InputDamage& damage,
                            ProgressLine& progress);
