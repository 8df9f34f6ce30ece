// Temporary files of earlier runs that were killed (SIGKILL, a power cut)
// and so could not remove them. A live run holds an open file description
// lock (F_OFD_SETLK) on its temporary file (a sequence: on its first
// picture's), which the kernel drops when the process ends however it ends;
// a leftover is a temporary file of velbrin's naming that no process holds,
// nor any other file of the same run (the same name up to its random part).
// Locks are seen across PID namespaces and containers sharing the folder,
// and none survive a reboot. Only files this host made are judged, and only
// those of the same user: on a folder shared over the network locks may not
// reach the other machines (or be kept by the server for a client that
// went away), so another host's file, which looks the same but for HOST,
// is left alone. A file system that takes no locks keeps every file.
#pragma once

#include <string>

// The start of every temporary file's name.
inline constexpr const char* kTempMarker = ".velbrin-tmp-";

// Eight hexadecimal digits that tell this host from others: a hash of its
// name (not of its boot, so that leftovers from before a reboot are found).
const std::string& host_tag();

// Marks the temporary file just created at `fd` as a live run's, for as
// long as that open file stays open (in any descriptor duplicated from it).
// Returns false when another run's sweep took the file first (it holds it,
// or has already removed it): the caller makes another. Where the file
// system takes no locks it returns true; sweeps remove nothing there.
bool hold_as_live(int fd);

// The host tag, PID and run (the name up to its random part) in a
// temporary file's name; pid -1 when `name` is not one.
struct TempFileOwner {
  std::string host;
  long pid = -1;
  std::string run;
};
TempFileOwner temp_file_owner(const std::string& name);

// Removes the leftovers in `folder` ("" = the current folder) and returns
// how many were removed.
int remove_leftovers(const std::string& folder);
