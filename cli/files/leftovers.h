// Temporary files of earlier runs that were killed (SIGKILL, a power cut)
// and so could not remove them. They are recognised by velbrin's own naming
// (".velbrin-tmp-HOST-PID-RANDOM..."), and removed only when this host made
// them, they belong to the same user, and no process with that PID exists
// any more. On a folder shared over the network another machine's live
// temporary file looks the same but for HOST, so it is left alone.
#pragma once

#include <string>

// The start of every temporary file's name.
inline constexpr const char* kTempMarker = ".velbrin-tmp-";

// Eight hexadecimal digits that tell this host from others: a hash of its
// name and of the kernel's boot id (containers that share a name and a
// folder still differ in their boot, and a PID is only meaningful within
// one boot).
const std::string& host_tag();

// The host tag and PID in a temporary file's name; pid -1 when `name` is
// not one.
struct TempFileOwner {
  std::string host;
  long pid = -1;
};
TempFileOwner temp_file_owner(const std::string& name);

// Removes the leftovers in `folder` ("" = the current folder) and returns
// how many were removed.
int remove_leftovers(const std::string& folder);
