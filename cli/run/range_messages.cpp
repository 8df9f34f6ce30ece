// The wording of a range the input fell short of.
#include "cli/run/range_messages.h"

namespace {

std::string frames_text(int64_t n) { return std::to_string(n) + (n == 1 ? " frame" : " frames"); }

}  // namespace

std::string range_option_text(const FrameRange& range) {
  std::string text = "--frames " + std::to_string(range.first);
  if (range.last == range.first) return text;
  return text + "-" + (range.last == INT64_MAX ? "" : std::to_string(range.last));
}

std::string range_cut_short_note(const FrameRange& range, int64_t frames_decoded, int64_t frames_written) {
  if (range.last == INT64_MAX || frames_written == 0 || frames_decoded > range.last) return "";
  return range_option_text(range) + ": the input ends at frame " + std::to_string(frames_decoded - 1) + "; wrote " +
         frames_text(frames_written);
}

std::string frames_short_reason(int64_t frames_decoded, const std::string& missing_picture) {
  std::string text = "the input has only " + frames_text(frames_decoded) + " (counted from 0)";
  if (!missing_picture.empty()) text += ": '" + missing_picture + "' is missing, where the sequence stops";
  return text;
}
