// The threads of this process, as each system lists them: the pool's
// workers show up here, so tests can tell that none outlives its stop.
#pragma once

namespace hosttest {

// Threads of this process now; -1 if unknown.
int process_threads();
// The same once it is `expected`, or after a second if it never gets
// there: a joined thread may still be listed for a moment after the join.
int settled_threads(int expected);
// A pause on either system.
void pause_ms(int ms);

}  // namespace hosttest
