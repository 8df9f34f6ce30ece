// The band pool's operating-system calls for the Windows module: KERNEL32
// only, and only functions that Windows XP already has (threads, semaphores,
// a critical section, the process affinity mask), so the 32-bit module still
// loads in old hosts. No C runtime: threads are made with CreateThread and
// nothing here allocates.
#include <windows.h>

#include <atomic>

#include "engine/band_threads.h"

namespace band_threads {

// A HANDLE is the object itself; the pointer types only keep the callers
// from mixing them up.
Semaphore* semaphore_create() {
  return reinterpret_cast<Semaphore*>(CreateSemaphoreW(nullptr, 0, 0x7FFFFFFF, nullptr));
}

void semaphore_destroy(Semaphore* s) { CloseHandle(reinterpret_cast<HANDLE>(s)); }

void semaphore_post(Semaphore* s, int count) { ReleaseSemaphore(reinterpret_cast<HANDLE>(s), count, nullptr); }

void semaphore_wait(Semaphore* s) { WaitForSingleObject(reinterpret_cast<HANDLE>(s), INFINITE); }

namespace {

DWORD WINAPI thread_entry(LPVOID arg) {
  band_pool_worker_main(arg);
  return 0;
}

// The lock: a critical section, set up by the first lock() and deleted by
// release(). kLockReady is reached once per load; threads that find it being
// set up wait a moment (it takes microseconds, once).
enum : int { kLockNone, kLockMaking, kLockReady };
std::atomic<int> g_lock_state{kLockNone};
CRITICAL_SECTION g_lock;

}  // namespace

Thread* thread_start(void* arg) {
  // The worker needs little stack (the kernels keep about 16 KiB there):
  // reserve 256 KiB rather than the host's default for its main thread.
  HANDLE h = CreateThread(nullptr, 256 * 1024, thread_entry, arg, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  return reinterpret_cast<Thread*>(h);
}

void thread_join(Thread* t) {
  WaitForSingleObject(reinterpret_cast<HANDLE>(t), INFINITE);
  CloseHandle(reinterpret_cast<HANDLE>(t));
}

void lock() {
  while (g_lock_state.load(std::memory_order_acquire) != kLockReady) {
    int expected = kLockNone;
    if (g_lock_state.compare_exchange_strong(expected, kLockMaking, std::memory_order_acquire)) {
      InitializeCriticalSection(&g_lock);
      g_lock_state.store(kLockReady, std::memory_order_release);
      break;
    }
    Sleep(0);
  }
  EnterCriticalSection(&g_lock);
}

void unlock() { LeaveCriticalSection(&g_lock); }

void release() {
  // Called with no thread left that could lock: after Deinit no frame runs.
  if (g_lock_state.load(std::memory_order_acquire) != kLockReady) return;
  DeleteCriticalSection(&g_lock);
  g_lock_state.store(kLockNone, std::memory_order_release);
}

void pause() { Sleep(1); }

int processors_available() {
  DWORD_PTR process_mask = 0, system_mask = 0;
  int n = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process_mask, &system_mask))
    for (; process_mask != 0; process_mask &= process_mask - 1) ++n;
  if (n > 0) return n;
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 0 ? static_cast<int>(info.dwNumberOfProcessors) : 1;
}

bool environment_text(const char* name, char* text, int size) {
  const DWORD len = GetEnvironmentVariableA(name, text, static_cast<DWORD>(size));
  return len > 0 && len < static_cast<DWORD>(size);
}

}  // namespace band_threads
