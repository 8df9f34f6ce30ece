// Drawing the progress line.
#include "cli/run/progress_line.h"

#include <cstdio>
#include <utility>

#include "cli/run/progress_report.h"

ProgressLine::ProgressLine(bool enabled, int64_t total, std::string label)
    : enabled_(enabled), total_(total), label_(std::move(label)), start_(std::chrono::steady_clock::now()), last_draw_(start_) {}

double ProgressLine::frames_per_second() const { return final_fps_ >= 0 ? final_fps_ : 0.0; }

double ProgressLine::rate(int64_t done) const {
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  return seconds > 0 ? double(done) / seconds : 0.0;
}

void ProgressLine::update(int64_t done, int64_t out_time_us) {
  if (report_ != nullptr) report_->update(done, rate(done), out_time_us);
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  if (drawn_ && now - last_draw_ < std::chrono::milliseconds(200)) return;
  last_draw_ = now;
  drawn_ = true;
  const double fps = rate(done);
  constexpr int kBarWidth = 30;
  char line[160];
  const std::string label = label_.empty() ? label_ : label_ + "  ";
  int n = 0;
  if (total_ > 0) {
    const int64_t shown = done < total_ ? done : total_;
    const int filled = int(shown * kBarWidth / total_);
    char bar[kBarWidth + 1];
    for (int k = 0; k < kBarWidth; ++k) bar[k] = k < filled ? '#' : '.';
    bar[kBarWidth] = '\0';
    n = std::snprintf(line, sizeof line, "%s[%s] %lld/%lld frames  %.1f fps", label.c_str(), bar, static_cast<long long>(done),
                      static_cast<long long>(total_), fps);
    if (fps > 0 && done < total_ && n > 0 && size_t(n) < sizeof line) {
      const long long left = static_cast<long long>(double(total_ - done) / fps + 0.5);
      std::snprintf(line + n, sizeof line - size_t(n), "  %lld:%02lld left", left / 60, left % 60);
    }
  } else {
    std::snprintf(line, sizeof line, "%s%lld frames  %.1f fps", label.c_str(), static_cast<long long>(done), fps);
  }
  std::fprintf(stderr, "\r%s\033[K", line);
  std::fflush(stderr);
}

void ProgressLine::finish(int64_t done, int64_t out_time_us) {
  final_fps_ = rate(done);
  clear_line();
  if (report_ == nullptr) return;
  if (last_) report_->end(done, final_fps_, out_time_us);
  else report_->update(done, final_fps_, out_time_us);  // the figures a later failure ends with
}

void ProgressLine::clear_line() {
  if (enabled_ && drawn_) std::fprintf(stderr, "\r\033[K");
  drawn_ = false;
  std::fflush(stderr);
}
