// The shared worker pool (see band_pool.h). Everything but the band counter
// is guarded by the one pool lock; a job lives on its caller's stack, and the
// caller does not return before every worker that joined the job has left
// it, so no worker touches a job that is gone.
//
// Workers exist only while the pool is open and not being stopped: the open
// count and the stopping flag are read under the lock by the one function
// that creates workers, and a stop joins every worker before it clears the
// flag. A frame may still be running when the pool closes (a host thread
// racing f0r_deinit); it then finishes its bands on its own thread.
#include "engine/band_pool.h"

#include <atomic>

#include "engine/band_threads.h"
#if VELBRIN_BAND_POOL_HOOKS
#include "engine/band_pool_hooks.h"
#endif

namespace {

using band_threads::Semaphore;
using band_threads::Thread;

struct BandJob {
  const BandWork* work;
  std::atomic<int> next_band;
  int helpers;         // workers inside the job now
  int max_helpers;     // workers allowed in it
  Semaphore* done;     // set by the caller once it waits; posted by the last helper to leave
  BandJob* next;           // in the list of jobs that workers may join
};

// Pool state. All of it is constant-initialised (the Windows module runs no
// static constructors) and guarded by band_threads::lock().
BandJob* g_jobs = nullptr;
Thread* g_workers[kBandPoolMaxThreads];
int g_worker_count = 0;
int g_threads = 0;         // threads per frame aimed for; 0 until the pool starts
int g_sleeping = 0;        // workers waiting for work and not yet woken
int g_opens = 0;           // band_pool_start calls not yet undone; 0: closed
bool g_stopping = false;   // a stop is joining the workers
Semaphore* g_wake = nullptr;  // workers wait on it for work
int g_retry_countdown = 0;    // frames to let pass before creating threads again
// Set once by a module that is never unloaded; read outside the lock, which
// it decides about.
std::atomic<bool> g_keep_lock{false};

// Completion semaphores of finished calls, kept for the next callers.
constexpr int kSpareDone = 16;
Semaphore* g_spare_done[kSpareDone];
int g_spare_count = 0;

#if VELBRIN_BAND_POOL_HOOKS
// Test hooks (band_pool_hooks.h), guarded by the lock like the rest.
int g_forced_threads = 0;
int g_allowed_starts = 0;
int g_refused_starts = 0;
int g_start_attempts = 0;
int forced_threads() { return g_forced_threads; }
void count_start_attempt() { ++g_start_attempts; }
bool start_refused() {
  if (g_allowed_starts > 0) return (--g_allowed_starts, false);
  return g_refused_starts > 0 && (--g_refused_starts, true);
}
#else
int forced_threads() { return 0; }
void count_start_attempt() {}
bool start_refused() { return false; }
#endif

}  // namespace

int band_threads::threads_from_environment() {
  char text[16];
  if (!environment_text("VELBRIN_THREADS", text, sizeof text)) return 0;
  int n = 0;
  for (int k = 0; text[k] != '\0'; ++k) {
    if (text[k] < '0' || text[k] > '9') return 0;
    n = n >= 10000 ? 100000 : n * 10 + (text[k] - '0');  // anything this large means "many"
  }
  return n;
}

namespace {

int clamp_threads(int n) { return n < 1 ? 1 : (n > kBandPoolMaxThreads ? kBandPoolMaxThreads : n); }

int decide_threads() {
  if (forced_threads() > 0) return clamp_threads(forced_threads());
  const int processors = band_threads::processors_available();
  const int asked = band_threads::threads_from_environment();
  return clamp_threads(asked > 0 && asked < processors ? asked : processors);
}

// Creates the workers still missing. Called with the lock held; the new
// workers wait for it before they look for work.
void start_workers() {
  count_start_attempt();
  if (g_wake == nullptr) g_wake = band_threads::semaphore_create();
  while (g_wake != nullptr && g_worker_count < g_threads - 1) {
    Thread* t = start_refused() ? nullptr : band_threads::thread_start(nullptr);
    if (t == nullptr) break;
    g_workers[g_worker_count++] = t;
  }
  if (g_worker_count < g_threads - 1) g_retry_countdown = kBandPoolRetryFrames;
}

// The oldest job with bands left and room for another worker.
BandJob* job_to_join() {
  for (BandJob* j = g_jobs; j != nullptr; j = j->next)
    if (j->helpers < j->max_helpers && j->next_band.load(std::memory_order_relaxed) < j->work->bands) return j;
  return nullptr;
}

void run_bands(BandJob& job) {
  const BandWork& w = *job.work;
  for (;;) {
    const int band = job.next_band.fetch_add(1, std::memory_order_relaxed);
    if (band >= w.bands) return;
    w.run(w.context, band);
  }
}

void unlink(BandJob* job) {
  for (BandJob** p = &g_jobs; *p != nullptr; p = &(*p)->next)
    if (*p == job) {
      *p = job->next;
      return;
    }
}

}  // namespace

void band_pool_worker_main(void*) {
  band_threads::lock();
  while (!g_stopping) {
    BandJob* job = job_to_join();
    if (job == nullptr) {
      ++g_sleeping;
      band_threads::unlock();
      band_threads::semaphore_wait(g_wake);
      band_threads::lock();
      continue;
    }
    ++job->helpers;
    band_threads::unlock();
    run_bands(*job);
    band_threads::lock();
    // The caller may be waiting for this; after the post (and the unlock
    // that follows) the job may be gone.
    if (--job->helpers == 0 && job->done != nullptr) band_threads::semaphore_post(job->done, 1);
  }
  band_threads::unlock();
}

int band_pool_threads() {
  band_threads::lock();
  if (g_opens == 0 || g_stopping) {
    band_threads::unlock();
    return 1;
  }
  if (g_threads == 0) g_threads = decide_threads();
  if (g_worker_count < g_threads - 1) {
    if (g_retry_countdown > 0) --g_retry_countdown;
    else start_workers();
  }
  const int threads = g_worker_count + 1;
  band_threads::unlock();
  return threads;
}

void band_pool_run(const BandWork& work) {
  BandJob job;
  job.work = &work;
  job.next_band.store(0, std::memory_order_relaxed);
  job.helpers = 0;
  job.max_helpers = work.max_threads - 1;
  job.done = nullptr;
  job.next = nullptr;

  band_threads::lock();
  BandJob** tail = &g_jobs;
  while (*tail != nullptr) tail = &(*tail)->next;
  *tail = &job;
  // Wake no more workers than the job can use, and none that a stop is
  // taking away. The post is made under the lock: a stop frees the
  // semaphore once the workers are gone.
  int wake = g_stopping ? 0 : g_sleeping;
  if (wake > job.max_helpers) wake = job.max_helpers;
  if (wake > work.bands - 1) wake = work.bands - 1;
  if (wake < 0) wake = 0;
  g_sleeping -= wake;
  if (wake > 0) band_threads::semaphore_post(g_wake, wake);
  band_threads::unlock();

  run_bands(job);

  // Every band has been taken. No worker joins once the job is unlinked;
  // wait for those inside to finish theirs.
  band_threads::lock();
  unlink(&job);
  if (job.helpers > 0) {
    Semaphore* done = g_spare_count > 0 ? g_spare_done[--g_spare_count] : band_threads::semaphore_create();
    if (done == nullptr) {
      // No semaphore to sleep on: look again now and then until they are out.
      while (job.helpers > 0) {
        band_threads::unlock();
        band_threads::pause();
        band_threads::lock();
      }
    } else {
      job.done = done;
      band_threads::unlock();
      band_threads::semaphore_wait(done);
      band_threads::lock();
      // Kept for the next caller while the pool holds things (a stop under
      // way frees the spares when its workers are gone); a closed pool keeps
      // nothing.
      if ((g_opens > 0 || g_stopping) && g_spare_count < kSpareDone) g_spare_done[g_spare_count++] = done;
      else band_threads::semaphore_destroy(done);
    }
  }
  band_threads::unlock();
}

namespace {

// Wakes and joins every worker and frees what the pool holds. Called and
// returns with the lock held; while it waits for the workers, none starts
// (band_pool_threads sees g_stopping) and none joins a job (workers leave
// their loop on it). A second caller waits for the first to finish, so each
// returns with no worker left.
void join_workers() {
  while (g_stopping) {
    band_threads::unlock();
    band_threads::pause();
    band_threads::lock();
  }
  g_stopping = true;
  const int count = g_worker_count;
  if (count > 0) band_threads::semaphore_post(g_wake, count);
  band_threads::unlock();

  // A worker inside a job finishes the bands it took, then sees g_stopping.
  // g_workers[0 .. count) cannot change meanwhile: no worker starts.
  for (int k = 0; k < count; ++k) band_threads::thread_join(g_workers[k]);

  band_threads::lock();
  for (int k = 0; k < count; ++k) g_workers[k] = nullptr;
  g_worker_count = 0;
  if (g_wake != nullptr) band_threads::semaphore_destroy(g_wake);
  g_wake = nullptr;
  while (g_spare_count > 0) band_threads::semaphore_destroy(g_spare_done[--g_spare_count]);
  g_threads = 0;
  g_sleeping = 0;
  g_retry_countdown = 0;
  g_stopping = false;
}

}  // namespace

void band_pool_start() {
  band_threads::lock();
  ++g_opens;
  band_threads::unlock();
}

void band_pool_stop() {
  band_threads::lock();
  if (g_opens > 0) --g_opens;
  const bool closed = g_opens == 0;
  if (closed) join_workers();
  band_threads::unlock();
  // The Windows module's lock is freed for its unload; the host runs no
  // frame while it undoes the last load.
  if (closed && !g_keep_lock.load(std::memory_order_relaxed)) band_threads::release();
}

void band_pool_keep_lock() { g_keep_lock.store(true, std::memory_order_relaxed); }

#if VELBRIN_BAND_POOL_HOOKS
BandPoolState band_pool_state() {
  band_threads::lock();
  const BandPoolState s{g_worker_count, g_threads, g_start_attempts};
  band_threads::unlock();
  return s;
}

void band_pool_set_threads(int threads) {
  band_threads::lock();
  join_workers();
  g_forced_threads = threads;
  band_threads::unlock();
}

void band_pool_fail_thread_starts(int allowed, int refused) {
  band_threads::lock();
  g_allowed_starts = allowed;
  g_refused_starts = refused;
  band_threads::unlock();
}
#endif  // VELBRIN_BAND_POOL_HOOKS
