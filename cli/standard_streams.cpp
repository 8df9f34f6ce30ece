// Guarding and checking the standard streams.
#include "cli/standard_streams.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

void reserve_standard_descriptors() {
  signal(SIGPIPE, SIG_IGN);
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int null = open("/dev/null", O_RDONLY);
    if (null >= 0 && null != fd) {
      dup2(null, fd);
      close(null);
    }
  }
}

int close_standard_output() {
  // A failure during the run leaves the stream's error flag; the last
  // buffered lines fail (with their errno) at the close.
  const bool earlier = std::ferror(stdout) != 0;
  errno = 0;
  if (std::fclose(stdout) != 0) return errno != 0 ? errno : EIO;
  return earlier ? EIO : 0;
}
