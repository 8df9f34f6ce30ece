// The two parts of a path: the few steps every check of velbrin's files
// takes on a name (whether two names meet is file_identity.h's).
#pragma once

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
