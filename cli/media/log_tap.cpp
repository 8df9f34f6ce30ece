// Keeping the first error FFmpeg logs while a tap is held.
#include "cli/media/log_tap.h"

#include <cstdio>

#include "cli/media/av_helpers.h"

extern "C" {
#include <libavutil/log.h>
}

namespace {

thread_local LogTap* t_tap = nullptr;

// "Found no DV profile for 64x48 yuv420p video. Valid DV profiles are:"
// gives its first sentence; the list that follows is not the reason, nor
// are a message's further lines.
std::string reason_of(std::string text) {
  // Its first line: what follows explains at length.
  if (const size_t line_end = text.find('\n'); line_end != std::string::npos && line_end + 1 < text.size())
    text.erase(line_end);
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  if (!text.empty() && text.back() == ':') {
    const size_t stop = text.rfind(". ");
    if (stop != std::string::npos) text.erase(stop);
  }
  return text;
}

}  // namespace

LogTap::LogTap() : outer_(t_tap) { t_tap = this; }

LogTap::~LogTap() { t_tap = outer_; }

void LogTap::offer(int level, const char* format, va_list args) {
  if (t_tap == nullptr || level > AV_LOG_ERROR || !t_tap->first_.empty()) return;
  char text[512];
  std::vsnprintf(text, sizeof text, format, args);
  t_tap->first_ = reason_of(text);
}

std::string LogTap::reason(int err) const { return first_.empty() ? av_error_text(err) : first_; }
