// Identities of files and entries, read with stat.
#include "cli/files/file_identity.h"

#include <limits.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/cli_error.h"
#include "cli/files/path_parts.h"

namespace {

constexpr int kMaxLinks = 40;  // as the kernel's own limit on a chain of links

constexpr decltype(statfs::f_type) kOverlayMagic = 0x794c7630;  // OVERLAYFS_SUPER_MAGIC

FileId id_of(const struct stat& st, bool overlay) {
  return FileId{st.st_dev, st.st_ino, overlay, st.st_size, int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

bool on_overlay(const std::string& path) {
  struct statfs fs {};
  return statfs(path.c_str(), &fs) == 0 && fs.f_type == kOverlayMagic;
}

std::optional<FileId> identity(const struct stat& st, bool overlay) {
  if (S_ISDIR(st.st_mode) || S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return std::nullopt;
  return id_of(st, overlay);
}

}  // namespace

std::optional<FileId> file_behind(const std::string& path) {
  struct stat st {};
  if (path.empty() || stat(path.c_str(), &st) != 0) return std::nullopt;
  return identity(st, on_overlay(path));
}

std::optional<FileId> file_behind_descriptor(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return std::nullopt;
  struct statfs fs {};
  return identity(st, fstatfs(fd, &fs) == 0 && fs.f_type == kOverlayMagic);
}

std::optional<FileId> folder_of(const std::string& path) {
  const std::string folder = folder_part(path);
  struct stat st {};
  const std::string name = folder.empty() ? "." : folder;
  if (stat(name.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
  return id_of(st, on_overlay(name));
}

std::optional<EntryId> entry_of(const std::string& path) {
  const std::optional<FileId> folder = folder_of(path);
  if (!folder) return std::nullopt;
  return EntryId{*folder, base_part(path)};
}

std::string follow_links(const std::string& path) {
  std::string at = path;
  for (int hop = 0; hop < kMaxLinks; ++hop) {
    struct stat st {};
    if (lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return at;
    char buf[PATH_MAX];
    const ssize_t n = readlink(at.c_str(), buf, sizeof buf - 1);
    if (n <= 0) return at;
    const std::string link(buf, size_t(n));
    at = link[0] == '/' ? link : folder_part(at) + link;
  }
  throw CliError("cannot write '" + path + "': " + std::strerror(ELOOP));
}
