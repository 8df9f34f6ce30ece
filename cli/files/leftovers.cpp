// Finding and removing temporary files of runs that no longer exist.
#include "cli/files/leftovers.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

constexpr size_t kRandomLength = 6;

bool is_alnum(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Only a process that certainly does not exist counts as gone: kill() tells
// ESRCH then; EPERM means it exists under another user.
bool process_gone(long pid) { return kill(pid_t(pid), 0) != 0 && errno == ESRCH; }

}  // namespace

const std::string& host_tag() {
  static const std::string tag = [] {
    std::string identity;
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) == 0) identity = name;
    if (FILE* f = std::fopen("/proc/sys/kernel/random/boot_id", "re")) {
      char boot[64] = {};
      if (std::fgets(boot, sizeof boot, f) != nullptr) identity += boot;
      std::fclose(f);
    }
    uint32_t hash = 2166136261u;  // FNV-1a
    for (unsigned char c : identity) hash = (hash ^ c) * 16777619u;
    char text[9];
    std::snprintf(text, sizeof text, "%08x", hash);
    return std::string(text);
  }();
  return tag;
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
  return {host, pid};
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
    const TempFileOwner owner = temp_file_owner(e->d_name);
    if (owner.pid < 0 || owner.host != host_tag() || owner.pid == long(getpid()) || !process_gone(owner.pid)) continue;
    struct stat st {};
    if (fstatat(dir_fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (!S_ISREG(st.st_mode) || st.st_uid != me) continue;
    if (unlinkat(dir_fd, e->d_name, 0) == 0) ++removed;
  }
  closedir(dir);
  return removed;
}
