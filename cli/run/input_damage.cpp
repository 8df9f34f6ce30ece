// Comparing what was read with what the container or the sequence promised.
#include "cli/run/input_damage.h"

#include <algorithm>
#include <cstdio>

#include "cli/input/media_input.h"
#include "cli/run/pipeline.h"

namespace {

std::string count_of(int64_t n, const char* word) {
  return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

std::string seconds_text(int64_t us) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", double(us) / 1e6);
  return text;
}

}  // namespace

std::string input_damage(const MediaInput& input, const MediaInput::FrameCount& expected, const FrameRange& range,
                         const PipelineResult& result) {
  // Reading stopped at the end of the asked range: nothing after it counts.
  const bool range_reached = range.last != INT64_MAX && result.frames_decoded > range.last;
  // A container that counts its frames is compared by count; one that gives
  // a duration, by time, which holds for a variable frame rate too.
  const int64_t promised = expected.frames < 0 ? -1 : std::min(expected.frames, range.last == INT64_MAX ? expected.frames : range.last + 1);
  const bool short_count = !range_reached && promised > result.frames_decoded;
  const int64_t reached = expected.whole_file ? result.read_end_us : result.decoded_end_us;
  const bool short_time =
      !range_reached && expected.frames < 0 && expected.end_us > 0 && reached < expected.end_us - expected.slack_us;
  if (!short_count && !short_time && result.damaged_packets == 0) return "";

  const bool sequence = input.format()->iformat == av_find_input_format("image2");
  const char* unit = sequence ? "picture" : "frame";
  const std::string name = input.path() == "-" ? "standard input" : "'" + input.path() + "'";
  std::string line = name + (sequence && short_count ? " is incomplete: " : " is damaged: ");
  // A missing picture is the one read error of a sequence: name it alone.
  if (short_count && !expected.first_missing.empty())
    line += "'" + expected.first_missing + "' is missing; ";
  else if (result.damaged_packets > 0)
    line += count_of(result.damaged_packets, "unreadable packet") + " skipped; ";
  if (short_time)
    line += std::string(expected.whole_file ? "it stops at " : "its video stops at ") + seconds_text(reached) + " of " +
            seconds_text(expected.end_us) + "; ";
  if (promised >= 0)
    line += std::to_string(result.frames_written) + " of " + count_of(promised - std::min(range.first, promised), unit) + " written";
  else
    line += count_of(result.frames_written, unit) + " written";
  return line + ", all that could be read (exit status 3)";
}
