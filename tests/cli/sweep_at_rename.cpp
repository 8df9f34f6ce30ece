// Loaded into velbrin with LD_PRELOAD: just before each rename of one of its
// temporary files, another process sweeps that folder for leftovers, as a
// run started at that moment would. A run whose files are not held as live
// up to their last rename loses them, and its rename fails.
#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "cli/files/leftovers.h"

namespace {

void sweep_before_moving(const char* from) {
  const std::string path = from;
  const size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.compare(0, std::strlen(kTempMarker), kTempMarker) != 0) return;
  // A process of its own: its opens and locks are another run's.
  const pid_t sweeper = fork();
  if (sweeper == 0) _exit(remove_leftovers(slash == std::string::npos ? "" : path.substr(0, slash + 1)));
  if (sweeper > 0) waitpid(sweeper, nullptr, 0);
}

}  // namespace

// Exported in spite of the build's hidden default, so that they take the place of libc's.
extern "C" __attribute__((visibility("default"))) int renameat2(int from_dir, const char* from, int to_dir,
                                                                const char* to, unsigned flags) noexcept {
  sweep_before_moving(from);
  return int(syscall(SYS_renameat2, from_dir, from, to_dir, to, flags));
}

extern "C" __attribute__((visibility("default"))) int rename(const char* from, const char* to) noexcept {
  sweep_before_moving(from);
  return int(syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, 0));
}
