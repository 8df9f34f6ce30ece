// The module's one pool of worker threads, shared by every filter instance
// and by every host thread that runs a frame at the same time. A caller hands
// it a number of bands (independent pieces of work); the caller runs bands
// itself and idle workers join in, so no thread is made per call and at most
// processors + callers threads are busy.
//
// The pool is open between band_pool_start() and the band_pool_stop() that
// undoes the last start (each front door's load calls them: the module's
// Init and Deinit, frei0r's f0r_init and f0r_deinit), and has workers only
// while it is open. They start on the first call of band_pool_threads()
// after the pool opened, with VELBRIN_THREADS read then (0 or unset: one
// thread per processor this process may use; N: at most N), capped at 64
// threads per frame, the caller included. A worker that cannot be created
// is not an error: the frame runs with the threads there are, and the
// missing ones are tried again only after kBandPoolRetryFrames more frames.
// A closed pool runs every frame on its caller alone.
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
// starting the workers or retrying a failed start first. 1: the caller
// alone, as always while the pool is closed.
int band_pool_threads();

// Runs every band of `work` once, on the calling thread and on idle workers,
// and returns when all have finished.
void band_pool_run(const BandWork& work);

// Opens the pool (once more, if it is open already).
void band_pool_start();

// Undoes one band_pool_start(). When none is left the pool closes: every
// worker is woken and joined and what the pool holds is freed before this
// returns, and no worker starts again until the next band_pool_start(), so
// that a frame under way or arriving meanwhile (a host thread racing the
// unload) runs on its own thread instead of bringing workers back. Called
// more often than band_pool_start(), it leaves the pool closed.
void band_pool_stop();

// For a module that stays loaded until the process ends (velbrin.dll pins
// itself): the pool's lock is then never freed, not even when the pool
// closes, so a host thread racing the last stop always finds it whole. A
// module that may be unloaded (the VirtualDub module, whose host runs no
// frame while it undoes the last load) frees it at the last stop.
void band_pool_keep_lock();
