// Machine-readable progress for scripts and front ends (--progress FILE):
// after each batch of frames, at most twice a second, a block of key=value
// lines in the form ffmpeg's -progress writes,
//   frame=120  fps=48.10  out_time_us=4800000  out_time=00:00:04.800000
//   progress=continue
// and a last block with progress=end. FILE may be "-" (standard error), a
// pipe or a device, or a new file; an existing file is replaced only with -y.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

class ProgressReport {
 public:
  // Opens the destination. Throws CliError.
  ProgressReport(const std::string& path, bool overwrite);
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
  std::chrono::steady_clock::time_point last_;
};
