// Finding and removing temporary files of runs that no longer exist.
#include "cli/leftovers.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr size_t kRandomLength = 6;

bool is_alnum(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Only a process that certainly does not exist counts as gone: kill() tells
// ESRCH then; EPERM means it exists under another user.
bool process_gone(long pid) { return kill(pid_t(pid), 0) != 0 && errno == ESRCH; }

}  // namespace

long temp_file_pid(const std::string& name) {
  const size_t marker = std::strlen(kTempMarker);
  if (name.compare(0, marker, kTempMarker) != 0) return -1;
  size_t at = marker;
  long pid = 0;
  while (at < name.size() && name[at] >= '0' && name[at] <= '9' && at - marker < 10)
    pid = pid * 10 + (name[at++] - '0');
  if (at == marker || pid <= 0 || at >= name.size() || name[at] != '-') return -1;
  ++at;
  for (size_t k = 0; k < kRandomLength; ++k, ++at)
    if (at >= name.size() || !is_alnum(name[at])) return -1;
  if (at != name.size() && name[at] != '-') return -1;
  return pid;
}

int remove_leftovers(const std::string& folder) {
  const std::string where = folder.empty() ? "." : folder;
  const int dir_fd = open(where.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd < 0) return 0;  // the creation of the temporary file reports the folder's problem
  DIR* dir = fdopendir(dir_fd);
  if (dir == nullptr) {
    close(dir_fd);
    return 0;
  }
  int removed = 0;
  const uid_t me = geteuid();
  while (const dirent* e = readdir(dir)) {
    const long pid = temp_file_pid(e->d_name);
    if (pid < 0 || pid == long(getpid()) || !process_gone(pid)) continue;
    struct stat st {};
    if (fstatat(dir_fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (!S_ISREG(st.st_mode) || st.st_uid != me) continue;
    if (unlinkat(dir_fd, e->d_name, 0) == 0) ++removed;
  }
  closedir(dir);
  if (removed > 0)
    std::fprintf(stderr, "velbrin: removed %d temporary file%s left in '%s' by runs that were stopped\n", removed,
                 removed == 1 ? "" : "s", where.c_str());
  return removed;
}
