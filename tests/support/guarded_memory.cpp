// Guard-page allocation and crash reporting for the kernel checker, for
// POSIX and Windows hosts (the Windows build runs under Wine in CI).
#include "tests/support/guarded_memory.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#else
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {
char g_context[512] = "(no case yet)";
}

void set_fault_context(const char* what) {
  std::strncpy(g_context, what, sizeof g_context - 1);
  g_context[sizeof g_context - 1] = 0;
}

#if defined(_WIN32)

size_t GuardedPages::page_size() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwPageSize;
}

GuardedPages::GuardedPages(size_t pages) {
  const size_t page = page_size();
  total_ = (pages + 2) * page;
  base_ = static_cast<uint8_t*>(VirtualAlloc(nullptr, total_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  if (!base_) {
    std::fprintf(stderr, "VirtualAlloc of %zu bytes failed\n", total_);
    std::exit(2);
  }
  DWORD old;
  VirtualProtect(base_, page, PAGE_NOACCESS, &old);
  VirtualProtect(base_ + total_ - page, page, PAGE_NOACCESS, &old);
  data_ = base_ + page;
  bytes_ = pages * page;
}

GuardedPages::~GuardedPages() { VirtualFree(base_, 0, MEM_RELEASE); }

void GuardedPages::protect_page(size_t index) {
  DWORD old;
  VirtualProtect(data_ + index * page_size(), page_size(), PAGE_NOACCESS, &old);
}

namespace {
LONG WINAPI report_fault(EXCEPTION_POINTERS* info) {
  std::fprintf(stderr, "\nFAULT (exception 0x%08lx) while running: %s\n",
               static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode), g_context);
  std::fflush(stderr);
  ExitProcess(3);
}
}  // namespace

void install_fault_reporter() { SetUnhandledExceptionFilter(report_fault); }

#else

size_t GuardedPages::page_size() { return static_cast<size_t>(sysconf(_SC_PAGESIZE)); }

GuardedPages::GuardedPages(size_t pages) {
  const size_t page = page_size();
  total_ = (pages + 2) * page;
  void* p = mmap(nullptr, total_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) {
    std::fprintf(stderr, "mmap of %zu bytes failed\n", total_);
    std::exit(2);
  }
  base_ = static_cast<uint8_t*>(p);
  mprotect(base_, page, PROT_NONE);
  mprotect(base_ + total_ - page, page, PROT_NONE);
  data_ = base_ + page;
  bytes_ = pages * page;
}

GuardedPages::~GuardedPages() { munmap(base_, total_); }

void GuardedPages::protect_page(size_t index) { mprotect(data_ + index * page_size(), page_size(), PROT_NONE); }

namespace {
void report_fault(int sig) {
  char line[600];
  const int n = std::snprintf(line, sizeof line, "\nFAULT (signal %d) while running: %s\n", sig, g_context);
  if (n > 0) {
    ssize_t ignored = write(2, line, static_cast<size_t>(n));
    (void)ignored;
  }
  _exit(3);
}
}  // namespace

void install_fault_reporter() {
  struct sigaction sa {};
  sa.sa_handler = report_fault;
  sigaction(SIGSEGV, &sa, nullptr);
  sigaction(SIGBUS, &sa, nullptr);
}

#endif
