// Finding and removing temporary files of runs that no longer exist.
#include "cli/files/leftovers.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <vector>

namespace {

constexpr size_t kRandomLength = 6;

bool is_alnum(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

struct flock whole_file_lock(short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;  // start 0, length 0: the whole file
  return lock;
}

// The file `name` in `dir_fd` locked here, or -1 when a process holds it.
// Anything that prevents telling (no locks on this file system, the file
// gone or not openable) counts as held.
int lock_if_unheld(int dir_fd, const char* name) {
  const int fd = openat(dir_fd, name, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct flock lock = whole_file_lock(F_WRLCK);
  if (fcntl(fd, F_OFD_SETLK, &lock) == 0) return fd;
  close(fd);
  return -1;
}

bool held_by_nobody(int dir_fd, const char* name) {
  const int fd = lock_if_unheld(dir_fd, name);
  if (fd >= 0) close(fd);
  return fd >= 0;
}

// Removes `name` only while holding its lock, and only if the name still
// names the file locked: a run that creates a file and locks it a moment
// later then either holds it first (kept) or finds it gone (and makes
// another). False when the file is held by now.
bool remove_unheld(int dir_fd, const char* name) {
  const int fd = lock_if_unheld(dir_fd, name);
  if (fd < 0) return false;
  struct stat locked {}, named {};
  const bool same = fstat(fd, &locked) == 0 && fstatat(dir_fd, name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
                    locked.st_dev == named.st_dev && locked.st_ino == named.st_ino;
  const bool removed = same && unlinkat(dir_fd, name, 0) == 0;
  close(fd);
  return removed;
}

}  // namespace

const std::string& host_tag() {
  static const std::string tag = [] {
    std::string identity;
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) == 0) identity = name;
    uint32_t hash = 2166136261u;  // FNV-1a
    for (unsigned char c : identity) hash = (hash ^ c) * 16777619u;
    char text[9];
    std::snprintf(text, sizeof text, "%08x", hash);
    return std::string(text);
  }();
  return tag;
}

bool hold_as_live(int fd) {
  struct flock lock = whole_file_lock(F_WRLCK);
  if (fcntl(fd, F_OFD_SETLK, &lock) != 0) return errno != EAGAIN && errno != EACCES;
  // A sweep that locked the file between its creation and this lock has
  // removed it by now (it unlinks only while it holds the lock).
  struct stat st {};
  return fstat(fd, &st) == 0 && st.st_nlink > 0;
}

TempFileOwner temp_file_owner(const std::string& name) {
  const size_t marker = std::strlen(kTempMarker);
  constexpr size_t kTagLength = 8;
  if (name.compare(0, marker, kTempMarker) != 0 || name.size() < marker + kTagLength + 1) return {};
  const std::string host = name.substr(marker, kTagLength);
  size_t at = marker + kTagLength;
  if (!std::all_of(host.begin(), host.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }) ||
      name[at++] != '-')
    return {};
  const size_t digits = at;
  long pid = 0;
  while (at < name.size() && name[at] >= '0' && name[at] <= '9' && at - digits < 10)
    pid = pid * 10 + (name[at++] - '0');
  if (at == digits || pid <= 0 || at >= name.size() || name[at] != '-') return {};
  ++at;
  for (size_t k = 0; k < kRandomLength; ++k, ++at)
    if (at >= name.size() || !is_alnum(name[at])) return {};
  if (at != name.size() && name[at] != '-') return {};
  return {host, pid, name.substr(0, at)};
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
  // Every temporary file of this host and user, by run; a run with any
  // file held is live, and keeps all of its files.
  std::map<std::string, std::vector<std::string>> runs;
  std::set<std::string> live;
  const uid_t me = geteuid();
  while (const dirent* e = readdir(dir)) {
    const TempFileOwner owner = temp_file_owner(e->d_name);
    if (owner.pid < 0 || owner.host != host_tag()) continue;
    struct stat st {};
    if (fstatat(dir_fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (!S_ISREG(st.st_mode) || st.st_uid != me) continue;
    runs[owner.run].push_back(e->d_name);
    if (!held_by_nobody(dir_fd, e->d_name)) live.insert(owner.run);
  }
  int removed = 0;
  for (const auto& [run, names] : runs) {
    if (live.count(run) != 0) continue;
    for (const std::string& name : names) removed += remove_unheld(dir_fd, name.c_str());
  }
  closedir(dir);
  return removed;
}
