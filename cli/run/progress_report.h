// Machine-readable progress for scripts and front ends (--progress FILE):
// after each batch of frames, at most twice a second, a block of key=value
// lines in the form ffmpeg's -progress writes,
//   frame=120  fps=48.10  out_time_us=4800000  out_time=00:00:04.800000
//   progress=continue
// and a last block with progress=end, which closes every report: a run or
// a folder run that fails still ends it (with the last figures reported),
// so that a reader waiting for it is never left hanging. FILE may be "-" (standard error), a
// pipe or a device, or a new file; an existing file is replaced only with -y.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

class ProgressReport {
 public:
  // Opens the destination. Throws CliError.
  ProgressReport(const std::string& path, bool overwrite);
  // Writes the last block if end() was not called.
  ~ProgressReport();
  ProgressReport(const ProgressReport&) = delete;
  ProgressReport& operator=(const ProgressReport&) = delete;

  // `out_time_us`: where the last frame written ends in the output.
  void update(int64_t frames, double fps, int64_t out_time_us);
  // The last block (once).
  void end(int64_t frames, double fps, int64_t out_time_us);

 private:
  void write_block(int64_t frames, double fps, int64_t out_time_us, bool last);

  std::string path_;
  int fd_ = -1;
  bool owned_ = false;
  bool failed_ = false;
  bool ended_ = false;
  bool written_ = false;
  int64_t frames_ = 0;  // the figures last reported, for an end after a failure
  double fps_ = 0;
  int64_t out_time_us_ = 0;
  std::chrono::steady_clock::time_point last_;
};
