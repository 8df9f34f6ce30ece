// Output files are written under a temporary name beside the target and
// renamed over it only when complete, so a failure or a Ctrl-C never leaves
// a half-written target. Temporary files still present when a terminating
// signal arrives are removed by the signal handler.
#pragma once

#include <string>

class TempOutput {
 public:
  // Checks the target (a directory, or existing without `overwrite`, is an
  // error) and creates the temporary file "DIR/.NAME.velbrin-tmp-PID.EXT",
  // keeping the extension so FFmpeg picks the target's format. Throws CliError.
  TempOutput(const std::string& target, bool overwrite);
  // Removes the temporary file unless it was committed.
  ~TempOutput();
  TempOutput(const TempOutput&) = delete;
  TempOutput& operator=(const TempOutput&) = delete;

  const std::string& path() const { return temp_; }
  const std::string& target() const { return target_; }

  // Renames the temporary file over the target. Throws CliError.
  void commit();

 private:
  std::string target_;
  std::string temp_;
  int slot_ = -1;
  bool committed_ = false;
};

// SIGINT, SIGTERM, SIGHUP and SIGQUIT remove the registered temporary
// files and then end the process as the signal would have.
void install_cleanup_on_signals();
