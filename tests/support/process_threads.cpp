// Counting this process's threads: a Toolhelp snapshot on Windows,
// /proc/self/task elsewhere.
#include "tests/support/process_threads.h"

#if defined(_WIN32)
#include <windows.h>
#include <tlhelp32.h>
#else
#include <dirent.h>
#include <unistd.h>
#endif

namespace hosttest {

#if defined(_WIN32)

int process_threads() {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snap == INVALID_HANDLE_VALUE) return -1;
  THREADENTRY32 e;
  e.dwSize = sizeof e;
  int n = 0;
  for (BOOL more = Thread32First(snap, &e); more; more = Thread32Next(snap, &e))
    if (e.th32OwnerProcessID == GetCurrentProcessId()) ++n;
  CloseHandle(snap);
  return n;
}

void pause_ms(int ms) { Sleep(DWORD(ms)); }

#else

int process_threads() {
  int n = 0;
  DIR* d = opendir("/proc/self/task");
  if (d == nullptr) return -1;
  while (const dirent* e = readdir(d)) n += e->d_name[0] != '.';
  closedir(d);
  return n;
}

void pause_ms(int ms) { usleep(useconds_t(ms) * 1000); }

#endif

int settled_threads(int expected) {
  int n = process_threads();
  for (int k = 0; k < 100 && n != expected; ++k) {
    pause_ms(10);
    n = process_threads();
  }
  return n;
}

}  // namespace hosttest
