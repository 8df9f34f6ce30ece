// Loaded into velbrin with LD_PRELOAD: fchmod fails with EPERM, as it does
// on a file system that keeps no permissions (FAT, also through FUSE).
#include <sys/stat.h>

#include <cerrno>

// Exported in spite of the build's hidden default, so that it takes the place of libc's.
extern "C" __attribute__((visibility("default"))) int fchmod(int, mode_t) noexcept {
  errno = EPERM;
  return -1;
}
