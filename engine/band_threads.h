// What the band pool needs from the operating system, in one small set of
// calls with one implementation per platform: band_threads_win32.cpp (KERNEL32
// only, nothing newer than Windows XP, no C runtime) and band_threads_std.cpp
// (the C++ standard library's threads, for the native module).
#pragma once

namespace band_threads {

// A counting semaphore: wait() blocks until a post has given it a count.
struct Semaphore;
Semaphore* semaphore_create();  // nullptr when the system refuses
void semaphore_destroy(Semaphore* s);
void semaphore_post(Semaphore* s, int count);
void semaphore_wait(Semaphore* s);

// A worker thread running band_pool_worker_main(arg) (band_pool.cpp).
struct Thread;
Thread* thread_start(void* arg);  // nullptr when the system refuses
void thread_join(Thread* t);      // waits for the thread to end and frees it

// The pool's one lock. The first lock() sets it up (no static constructor
// runs in the Windows module); release() frees what that took, after the
// last worker has been joined, so that the module can be unloaded cleanly.
void lock();
void unlock();
void release();

// Gives the processor to other threads for a moment.
void pause();

// Processors this process may run on (its affinity), at least 1.
int processors_available();

// The value of environment variable `name` into `text` (NUL-terminated);
// false when it is unset or does not fit in `size` bytes.
bool environment_text(const char* name, char* text, int size);

// VELBRIN_THREADS as a number: 0 when unset, empty, longer than 15
// characters or not a plain non-negative decimal number. Read through
// environment_text, and parsed once for every platform (band_pool.cpp).
int threads_from_environment();

}  // namespace band_threads

// The body of every worker thread.
void band_pool_worker_main(void* arg);
