// Guarding and checking the standard streams.
#include "cli/files/standard_streams.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/cli_error.h"

void reserve_standard_descriptors() {
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int null = open("/dev/null", O_RDONLY);
    if (null >= 0 && null != fd) {
      dup2(null, fd);
      close(null);
    }
  }
}

void write_standard_output(const std::string& text) {
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
    throw CliError(std::string("cannot write to standard output: ") + std::strerror(errno != 0 ? errno : EIO));
}

int close_standard_output() {
  // A failure during the run leaves the stream's error flag; the last
  // buffered lines fail (with their errno) at the close.
  const bool earlier = std::ferror(stdout) != 0;
  errno = 0;
  if (std::fclose(stdout) != 0) return errno != 0 ? errno : EIO;
  return earlier ? EIO : 0;
}
