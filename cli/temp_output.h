// Output files are written under a temporary name beside the target and
// renamed over it only when complete, so a failure or a Ctrl-C never leaves
// a half-written target. Temporary files still present when a terminating
// signal arrives are removed by the signal handler.
//
// An image sequence (a target such as "frames/out%04d.png", numbered from 1
// as FFmpeg numbers it) is written the same way, picture by picture, and
// every picture is renamed at the end.
#pragma once

#include <cstdint>
#include <string>

class TempOutput {
 public:
  enum class Kind { kFile, kSequence };

  // Checks the target (a directory or another non-regular file, or an
  // existing file without `overwrite`, is an error) and creates the
  // temporary file "DIR/.NAME.velbrin-tmp-PID.EXT", keeping the extension
  // so FFmpeg picks the target's format; for a sequence, the temporary
  // pattern "DIR/.velbrin-tmp-PID-NAME" and its first picture. Throws CliError.
  TempOutput(const std::string& target, bool overwrite, Kind kind = Kind::kFile);
  // Removes the temporary file(s) unless committed.
  ~TempOutput();
  TempOutput(const TempOutput&) = delete;
  TempOutput& operator=(const TempOutput&) = delete;

  // The name to hand to FFmpeg: the temporary file, or the temporary pattern.
  const std::string& path() const { return temp_; }
  const std::string& target() const { return target_; }

  // Sequence: picture `number` (from 1) is about to be written; checks its
  // target like the constructor does and makes it one to clean up.
  void add_picture(int64_t number);

  // Renames the temporary file(s) over the target(s). Throws CliError.
  void commit();

 private:
  std::string temp_name(int64_t number) const;
  std::string target_name(int64_t number) const;
  void check_target(const std::string& name) const;

  std::string target_;
  std::string temp_;
  bool overwrite_;
  Kind kind_;
  // A sequence's names: prefix, number with at least `width_` digits, suffix.
  std::string temp_prefix_, target_prefix_, suffix_;
  int width_ = 0;
  int64_t pictures_ = 0;
  int slot_ = -1;
  bool committed_ = false;
};

// SIGINT, SIGTERM, SIGHUP and SIGQUIT remove the registered temporary
// files and then end the process as the signal would have.
void install_cleanup_on_signals();
