// Collecting what the demuxer and decoders report about the input.
#include "cli/run/input_damage.h"

#include <cstdarg>
#include <cstdio>
#include <utility>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

#include "cli/media/av_helpers.h"
#include "cli/media/log_tap.h"

namespace {

std::mutex g_listener_mutex;
InputDamage* g_listener = nullptr;

// Whether a log message comes from the input's side: a demuxer, a decoder,
// or a codec context without a codec (a demuxer's own parser context).
bool from_input(void* avcl) {
  if (avcl == nullptr) return false;
  const AVClass* c = *static_cast<const AVClass**>(avcl);
  if (c == nullptr) return false;
  const AVClassCategory category = c->get_category != nullptr ? c->get_category(avcl) : c->category;
  if (category == AV_CLASS_CATEGORY_DEMUXER || category == AV_CLASS_CATEGORY_DECODER) return true;
  return c == avcodec_get_class() && static_cast<const AVCodecContext*>(avcl)->codec == nullptr;
}

extern "C" void log_and_listen(void* avcl, int level, const char* format, va_list args) {
  if (level <= AV_LOG_ERROR && from_input(avcl)) {
    char text[512];
    va_list copy;
    va_copy(copy, args);
    std::vsnprintf(text, sizeof text, format, copy);
    va_end(copy);
    // Called on FFmpeg's own threads, through C: nothing may be thrown
    // from here. Out of memory, the message is lost; the decoder's failure
    // that follows still ends the run.
    try {
      std::string message = text;
      while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
      std::lock_guard<std::mutex> lock(g_listener_mutex);
      if (g_listener != nullptr) g_listener->logged(message);
    } catch (...) {
    }
  }
  va_list tapped;
  va_copy(tapped, args);
  LogTap::offer(level, format, tapped);
  va_end(tapped);
  av_log_default_callback(avcl, level, format, args);
}

// Corrupt frames named in the warning; more are counted.
constexpr int64_t kCorruptFramesNamed = 5;

std::string plural(int64_t n, const char* word) { return std::to_string(n) + " " + word + (n == 1 ? "" : "s"); }

std::string position_text(int64_t frames, double seconds) {
  char text[64];
  std::snprintf(text, sizeof text, "at %.1f s (after frame %lld)", seconds, static_cast<long long>(frames - 1));
  if (frames > 0) return text;
  // After a seek to a range's key frame no frame is counted yet: its time
  // says where.
  if (seconds > 0) {
    std::snprintf(text, sizeof text, "at %.1f s", seconds);
    return text;
  }
  return "before the first frame";
}

}  // namespace

InputDamage::InputDamage(std::string shown) : shown_(std::move(shown)) {
  std::lock_guard<std::mutex> lock(g_listener_mutex);
  g_listener = this;
  av_log_set_callback(log_and_listen);
}

InputDamage::~InputDamage() {
  std::lock_guard<std::mutex> lock(g_listener_mutex);
  if (g_listener == this) g_listener = nullptr;
}

void InputDamage::reading_at(int64_t frames, double seconds) {
  frames_ = frames;
  seconds_ = seconds;
}

void InputDamage::record(const std::string& what, const std::string& where, double seconds, int64_t frame) {
  if (!listening_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (holding_) {
    if (seconds < held_from_) return;  // before the key frame the range starts from
    if (held_++ == 0) first_held_ = what + " " + where;
    if (frame >= 0) held_frames_.push_back(frame);
    return;
  }
  if (faults_++ == 0) first_ = what + " " + where;
  if (frame >= 0 && corrupt_count_++ < kCorruptFramesNamed) corrupt_.push_back(frame);
}

void InputDamage::count_held() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!holding_) return;
  holding_ = false;
  if (held_ > 0 && faults_ == 0) first_ = first_held_;
  faults_ += held_;
  held_ = 0;
  for (int64_t frame : held_frames_)
    if (corrupt_count_++ < kCorruptFramesNamed) corrupt_.push_back(frame);
  held_frames_.clear();
}

void InputDamage::drop_held(double key_seconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  held_from_ = key_seconds;
  held_ = 0;
  first_held_.clear();
  held_frames_.clear();
}

std::string InputDamage::first_logged() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return first_logged_;
}

void InputDamage::logged(const std::string& message) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (first_logged_.empty()) first_logged_ = message;
  }
  record("FFmpeg reported \"" + message + "\"", position_text(frames_, seconds_), seconds_);
}

void InputDamage::read_error(int err) {
  record("reading stopped with \"" + av_error_text(err) + "\"", position_text(frames_, seconds_), seconds_);
}

void InputDamage::decode_error(int err) {
  record("the decoder failed with \"" + av_error_text(err) + "\"", position_text(frames_, seconds_), seconds_);
}

void InputDamage::corrupt_frame(int64_t number, double seconds) {
  char where[64];
  std::snprintf(where, sizeof where, "at %.1f s", seconds);
  record("the decoder flagged frame " + std::to_string(number) + " as corrupt", where, seconds, number);
}

void InputDamage::missing_picture(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (missing_.empty()) missing_ = name;
}

bool InputDamage::damaged() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return faults_ > 0 || !missing_.empty();
}

std::string InputDamage::warning(int64_t frames_written, bool pictures) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (faults_ == 0 && missing_.empty()) return "";
  std::string line = shown_;
  if (!missing_.empty()) {
    line += " is incomplete: '" + missing_ + "' is missing";
  } else {
    line += " is damaged: " + first_;
    if (faults_ > 1) line += ", and " + plural(faults_ - 1, "more fault");
    // The frames whose pictures the decoder could not make whole: where
    // to look in the output.
    if (corrupt_count_ > 0 && (corrupt_count_ > 1 || first_.find(" as corrupt") == std::string::npos)) {
      std::string frames;
      for (int64_t frame : corrupt_) frames += (frames.empty() ? "" : ", ") + std::to_string(frame);
      if (corrupt_count_ > int64_t(corrupt_.size())) frames += " and " + std::to_string(corrupt_count_ - int64_t(corrupt_.size())) + " more";
      line += " (" + std::string(corrupt_count_ == 1 ? "frame " : "frames ") + frames + " flagged as corrupt)";
    }
  }
  return line + "; " + plural(frames_written, pictures ? "picture" : "frame") +
         " written, all that could be read (exit status 3)";
}
