// Temporary files of earlier runs that were killed (SIGKILL, a power cut)
// and so could not remove them. They are recognised by velbrin's own naming
// (".velbrin-tmp-PID-RANDOM..."), and removed only when they belong to the
// same user and no process with that PID exists any more.
#pragma once

#include <string>

// The start of every temporary file's name.
inline constexpr const char* kTempMarker = ".velbrin-tmp-";

// The PID in a temporary file's name, or -1 when `name` is not one.
long temp_file_pid(const std::string& name);

// Removes the leftovers in `folder` ("" = the current folder) and says so in
// one line on stderr when there were any. Returns how many were removed.
int remove_leftovers(const std::string& folder);
