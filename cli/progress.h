// The progress line on stderr: frames done, frames per second and the time
// left, redrawn in place at most a few times a second, only on a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

class ProgressReport;

class Progress {
 public:
  // `total` is the number of frames expected, or -1 when unknown; `label`
  // (the file being worked on, with several inputs) leads the line.
  Progress(bool enabled, int64_t total, std::string label = "");
  ~Progress() { finish(); }
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  // Also feeds the --progress report, if there is one (it must outlive this);
  // with `last` false, the report's end is left to a later file's progress.
  void report_to(ProgressReport* report, bool last = true) {
    report_ = report;
    last_ = last;
  }
  void update(int64_t done);
  // Clears the line.
  void finish();
  double frames_per_second(int64_t done) const;

 private:
  bool enabled_;
  int64_t total_;
  std::string label_;
  bool last_ = true;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_draw_;
  bool drawn_ = false;
  ProgressReport* report_ = nullptr;
  int64_t done_ = 0;
};
