// Loaded into velbrin with LD_PRELOAD: fchmod fails with EPERM, as it does
// on a file system that keeps no permissions (FAT, also through FUSE).
#include <sys/stat.h>

#include <cerrno>

extern "C" int fchmod(int, mode_t) noexcept {
  errno = EPERM;
  return -1;
}
