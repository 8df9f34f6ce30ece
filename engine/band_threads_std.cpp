// The band pool's operating-system calls for the native module: the C++
// standard library's threads, mutex and condition variable, and the Linux
// affinity mask for the processor count.
#include <sched.h>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include "engine/band_threads.h"

namespace band_threads {

struct Semaphore {
  std::mutex m;
  std::condition_variable cv;
  int count = 0;
};

Semaphore* semaphore_create() { return new (std::nothrow) Semaphore; }

void semaphore_destroy(Semaphore* s) { delete s; }

void semaphore_post(Semaphore* s, int count) {
  {
    std::lock_guard<std::mutex> hold(s->m);
    s->count += count;
  }
  if (count == 1) s->cv.notify_one();
  else s->cv.notify_all();
}

void semaphore_wait(Semaphore* s) {
  std::unique_lock<std::mutex> hold(s->m);
  s->cv.wait(hold, [s] { return s->count > 0; });
  --s->count;
}

struct Thread {
  std::thread thread;
};

Thread* thread_start(void* arg) {
  Thread* t = new (std::nothrow) Thread;
  if (t == nullptr) return nullptr;
  try {
    t->thread = std::thread(band_pool_worker_main, arg);
  } catch (...) {  // std::system_error: no more threads for this process
    delete t;
    return nullptr;
  }
  return t;
}

void thread_join(Thread* t) {
  t->thread.join();
  delete t;
}

namespace {
std::mutex g_lock;  // constant-initialised: usable before any constructor runs
}

void lock() { g_lock.lock(); }
void unlock() { g_lock.unlock(); }
void release() {}

void pause() { std::this_thread::yield(); }

int processors_available() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n > 0) return n;
  }
  const unsigned n = std::thread::hardware_concurrency();
  return n > 0 ? static_cast<int>(n) : 1;
}

bool environment_text(const char* name, char* text, int size) {
  const char* value = std::getenv(name);
  if (value == nullptr || std::strlen(value) >= size_t(size)) return false;
  std::memcpy(text, value, std::strlen(value) + 1);
  return true;
}

}  // namespace band_threads
