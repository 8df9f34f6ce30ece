// Loaded into velbrin with LD_PRELOAD: another process sweeps the folder for
// leftovers, as a run started at that moment would, right after velbrin
// creates its first temporary file (before it can lock it) and just before
// each rename of one of its temporary files. A run that does not hold its
// files as live up to their last rename, or writes on into a file the
// sweep took, loses its output.
#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdarg>
#include <cstring>
#include <string>

#include "cli/files/leftovers.h"

namespace {

// True when `path_text` is a temporary file's, and so swept.
bool sweep_if_temporary(const char* path_text) {
  const std::string path = path_text;
  const size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.compare(0, std::strlen(kTempMarker), kTempMarker) != 0) return false;
  // A process of its own: its opens and locks are another run's.
  const pid_t sweeper = fork();
  if (sweeper == 0) _exit(remove_leftovers(slash == std::string::npos ? "" : path.substr(0, slash + 1)));
  if (sweeper > 0) waitpid(sweeper, nullptr, 0);
  return true;
}

int open_then_sweep(const char* path, int flags, mode_t mode) {
  const int fd = int(syscall(SYS_openat, AT_FDCWD, path, flags, mode));
  // The first creation only: every later name would be taken too.
  static bool swept = false;
  if (fd >= 0 && (flags & O_CREAT) != 0 && !swept) swept = sweep_if_temporary(path);
  return fd;
}

}  // namespace

// Exported in spite of the build's hidden default, so that they take the place of libc's.
#define VELBRIN_EXPORT extern "C" __attribute__((visibility("default")))

VELBRIN_EXPORT int open(const char* path, int flags, ...) {
  va_list rest;
  va_start(rest, flags);
  const mode_t mode = (flags & O_CREAT) != 0 ? mode_t(va_arg(rest, unsigned)) : 0;
  va_end(rest);
  return open_then_sweep(path, flags, mode);
}

// The same function under the name that large-file builds call.
VELBRIN_EXPORT int open64(const char* path, int flags, ...) __attribute__((alias("open")));

VELBRIN_EXPORT int renameat2(int from_dir, const char* from, int to_dir, const char* to, unsigned flags) noexcept {
  sweep_if_temporary(from);
  return int(syscall(SYS_renameat2, from_dir, from, to_dir, to, flags));
}

VELBRIN_EXPORT int rename(const char* from, const char* to) noexcept {
  sweep_if_temporary(from);
  return int(syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, 0));
}
