// Telling whether a name may be replaced.
#include "cli/files/overwrite_guard.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/cli_error.h"

Existing check_replaceable(const std::string& name, const std::string& shown, bool overwrite,
                           const std::string& cannot) {
  struct stat st {};
  if (lstat(name.c_str(), &st) != 0) return Existing::kNothing;
  const auto exists = [&] { return CliError("'" + shown + "' already exists (add -y to replace it)"); };
  if (stat(name.c_str(), &st) != 0) {  // a link to nothing yet
    if (!overwrite) throw exists();
    return Existing::kNothing;
  }
  if (S_ISDIR(st.st_mode)) throw CliError(cannot + " '" + shown + "': it is a directory");
  if (!S_ISREG(st.st_mode)) return Existing::kDevice;
  if (!overwrite) throw exists();
  // Replacing by rename needs only the folder's permission; -y replaces only
  // what the user could have overwritten in place.
  if (faccessat(AT_FDCWD, name.c_str(), W_OK, AT_EACCESS) != 0)
    throw CliError("cannot replace '" + shown + "': " + std::strerror(errno));
  return Existing::kFile;
}
