// FFmpeg's own reason for a refusal: an encoder that will not open returns
// only EINVAL, and says why in its log ("Found no DV profile for 64x48
// yuv420p video"). A tap held around such a call keeps the first error
// logged on its thread, for the message that goes to the user.
#pragma once

#include <cstdarg>
#include <string>

class LogTap {
 public:
  LogTap();
  ~LogTap();
  LogTap(const LogTap&) = delete;
  LogTap& operator=(const LogTap&) = delete;

  // The first error logged on this thread while the tap was held, without
  // a closing list's introduction ("... Valid DV profiles are:"); "" when
  // none.
  const std::string& first_error() const { return first_; }
  // Why a call failed with `err`: the first error logged, or else the
  // error code's own text.
  std::string reason(int err) const;

  // Called by the process's log callback for every message.
  static void offer(int level, const char* format, va_list args);

 private:
  LogTap* outer_;
  std::string first_;
};
