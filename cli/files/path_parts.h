// The two parts of a path, and whether two names meet in one folder: the
// few steps every check of velbrin's files takes on a name.
#pragma once

#include <sys/stat.h>

#include <string>

// "dir/sub/" of "dir/sub/name" (with its slash), "" for a bare name.
inline std::string folder_part(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// "name" of "dir/sub/name".
inline std::string base_part(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Whether two names are one file (also through links or other paths).
inline bool same_inode(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// Whether two folder parts (as folder_part gives them) are one folder.
inline bool same_folder(const std::string& a, const std::string& b) {
  return same_inode(a.empty() ? "." : a, b.empty() ? "." : b);
}
