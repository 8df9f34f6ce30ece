// Test hooks of the band pool: what it holds, and two ways to steer it.
// They are compiled only into velbrin_engine_with_hooks (the checker, the
// unit tests and the fuzz target); the module and the other front doors are
// built without them.
#pragma once

#include "engine/band_pool.h"

#if !VELBRIN_BAND_POOL_HOOKS
#error "band_pool_hooks.h needs a build with VELBRIN_BAND_POOL_HOOKS=1 (link velbrin_engine_with_hooks)"
#endif

struct BandPoolState {
  int workers;         // running worker threads
  int threads;         // threads per frame it aims for (0: not decided yet)
  int start_attempts;  // rounds of thread creation since the process began
};
BandPoolState band_pool_state();
// Threads per frame from the next start on, ignoring VELBRIN_THREADS and the
// processor count (0: back to those). Stops the pool.
void band_pool_set_threads(int threads);
// Of the next thread creations, the first `allowed` go ahead and the
// `refused` after them fail as if the system had refused them.
void band_pool_fail_thread_starts(int allowed, int refused);
