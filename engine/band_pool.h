// The module's one pool of worker threads, shared by every filter instance
// and by every host thread that runs a frame at the same time. A caller hands
// it a number of bands (independent pieces of work); the caller runs bands
// itself and idle workers join in, so no thread is made per call and at most
// processors + callers threads are busy.
//
// The pool starts on the first call of band_pool_threads(), with
// VELBRIN_THREADS read then (0 or unset: one thread per processor this
// process may use; N: at most N), capped at 64 threads per frame, the
// caller included. A worker that cannot be created is not an error: the
// frame runs with the threads there are, and the missing ones are tried
// again only after kBandPoolRetryFrames more frames.
#pragma once

struct BandWork {
  void (*run)(const void* context, int band);  // runs one band; bands never overlap
  const void* context;
  int bands;        // run(context, b) is called once for each b in 0..bands-1
  int max_threads;  // threads on this work at most, the caller included
};

constexpr int kBandPoolMaxThreads = 64;
constexpr int kBandPoolRetryFrames = 64;

// Threads that a frame can use now (the caller and the running workers),
// starting the pool or retrying a failed start first. 1: the caller alone.
int band_pool_threads();

// Runs every band of `work` once, on the calling thread and on idle workers,
// and returns when all have finished.
void band_pool_run(const BandWork& work);

// Wakes and joins every worker and frees what the pool holds; the module's
// Deinit calls it. The next band_pool_threads() starts afresh.
void band_pool_stop();
