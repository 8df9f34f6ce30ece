// The one kind of failure the command-line host reports: a message for the
// user (printed as "velbrin: MESSAGE") and the exit code that goes with it.
// Every layer throws it; main() prints it once and cleans up.
#pragma once

#include <sys/resource.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

// Exit codes: 0 success, 1 a file could not be read, decoded, encoded or
// written, 2 the command line itself is wrong, 3 the output was written
// from a damaged input (all that could be read of it; see input_damage.h).
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitDamaged = 3;

class CliError : public std::runtime_error {
 public:
  explicit CliError(const std::string& message, int exit_code = kExitFailure)
      : std::runtime_error(message), exit_code_(exit_code) {}
  int exit_code() const { return exit_code_; }

 private:
  int exit_code_;
};

// A mistake on the command line (bad option, malformed value).
inline CliError usage_error(const std::string& message) { return CliError(message, kExitUsage); }

// The text of a system error. glibc refuses a thread whose stack it cannot
// map with EAGAIN ("Resource temporarily unavailable"), the same as for a
// process limit; under an address-space limit (ulimit -v) that is memory,
// and is said so.
inline std::string system_error_text(int err) {
  rlimit limit{};
  if (err == EAGAIN && getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
    return "out of memory (the address space is limited to " + std::to_string(limit.rlim_cur >> 20) +
           " MB, ulimit -v)";
  return std::strerror(err);
}
