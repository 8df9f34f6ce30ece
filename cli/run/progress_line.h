// The progress line on stderr: frames done, frames per second and the time
// left, redrawn in place at most a few times a second, only on a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

class ProgressReport;

class ProgressLine {
 public:
  // `total` is the number of frames expected, or -1 when unknown; `label`
  // (the file being worked on, with several inputs) leads the line.
  ProgressLine(bool enabled, int64_t total, std::string label = "");
  ~ProgressLine() { clear_line(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;
  // Also feeds the --progress report, if there is one (it must outlive this);
  // with `last` false, the report's end is left to a later file's progress.
  void report_to(ProgressReport* report, bool last = true) {
    report_ = report;
    last_ = last;
  }
  // `done` frames have left the encoder for the output, the last of them
  // ending `out_time_us` after the output's start.
  void update(int64_t done, int64_t out_time_us);
  // The output is in place: clears the line, ends the report (when this is
  // the last file for it) and fixes the run's frames per second, which
  // frames_per_second() gives from then on.
  void finish(int64_t done, int64_t out_time_us);
  double frames_per_second() const;

 private:
  double rate(int64_t done) const;
  void clear_line();

  bool enabled_;
  int64_t total_;
  std::string label_;
  bool last_ = true;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_draw_;
  bool drawn_ = false;
  ProgressReport* report_ = nullptr;
  double final_fps_ = -1;
};
