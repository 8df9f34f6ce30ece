// The band pool's choices: when it may have workers (only while open), how
// VELBRIN_THREADS is read and when, and what happens when the system
// refuses threads (creation is retried only every kBandPoolRetryFrames
// frames). That frames come out the same on any number of threads is the
// checker's threaded group (tests/checkasm/threaded_cases.cpp).
#include <gtest/gtest.h>
#include <stdlib.h>

#include "engine/band_pool_hooks.h"
#include "engine/band_threads.h"

namespace {

class EnvThreads {
 public:
  explicit EnvThreads(const char* value) {
    if (value) setenv("VELBRIN_THREADS", value, 1);
    else unsetenv("VELBRIN_THREADS");
  }
  ~EnvThreads() { unsetenv("VELBRIN_THREADS"); }
};

TEST(BandPool, ReadsVelbrinThreads) {
  struct Row {
    const char* value;
    int expected;
  };
  const Row rows[] = {{nullptr, 0}, {"", 0},  {"0", 0},   {"1", 1},   {"3", 3},       {"064", 64},
                      {"-2", 0},    {" 2", 0}, {"2x", 0}, {"abc", 0}, {"99999999999999", 100000},
                      {"1234567890123456", 0}};
  for (const Row& r : rows) {
    EnvThreads env(r.value);
    EXPECT_EQ(band_threads::threads_from_environment(), r.expected) << (r.value ? r.value : "(unset)");
  }
}

TEST(BandPool, ThreadCountFromEnvironmentReadOnceAtStart) {
  const int processors = band_threads::processors_available();
  struct Row {
    const char* value;
    int threads;
  };
  const Row rows[] = {{"1", 1}, {nullptr, processors > 64 ? 64 : processors}, {"2", processors < 2 ? processors : 2}};
  for (const Row& r : rows) {
    band_pool_start();
    EnvThreads env(r.value);
    EXPECT_EQ(band_pool_threads(), r.threads) << (r.value ? r.value : "(unset)");
    EXPECT_EQ(band_pool_state().workers, r.threads - 1);
    setenv("VELBRIN_THREADS", "1", 1);  // no effect until the pool starts again
    EXPECT_EQ(band_pool_threads(), r.threads);
    band_pool_stop();
  }
}

// Each front door's load opens the pool and its unload closes it; the
// pool counts them. Workers exist only while it is open; a stop too many
// leaves it closed. Every row: starts and stops, then a frame's request.
TEST(BandPool, WorkersOnlyWhileOpen) {
  band_pool_set_threads(3);
  const struct {
    const char* what;
    int starts, stops;
    int threads;  // what the frame gets, the caller included; workers are one fewer
  } rows[] = {
      {"closed", 0, 0, 1},
      {"opened", 1, 0, 3},
      {"opened by a second load", 1, 0, 3},
      {"one load undone", 0, 1, 3},
      {"the last load undone", 0, 1, 1},
      {"a stop too many", 0, 1, 1},
      {"opened again", 1, 0, 3},
      {"opened and closed at once", 1, 2, 1},
  };
  for (const auto& r : rows) {
    for (int k = 0; k < r.starts; ++k) band_pool_start();
    for (int k = 0; k < r.stops; ++k) band_pool_stop();
    EXPECT_EQ(band_pool_threads(), r.threads) << r.what;
    EXPECT_EQ(band_pool_state().workers, r.threads - 1) << r.what;
  }
  band_pool_set_threads(0);
}

TEST(BandPool, RefusedThreadsAreRetriedSparingly) {
  band_pool_start();
  band_pool_set_threads(3);
  const int attempts = band_pool_state().start_attempts;

  // Every creation refused: the frame runs on the caller alone.
  band_pool_fail_thread_starts(0, 1000);
  EXPECT_EQ(band_pool_threads(), 1);
  EXPECT_EQ(band_pool_state().workers, 0);
  EXPECT_EQ(band_pool_state().start_attempts, attempts + 1);
  // The next frames do not try again (each large frame asks the pool once).
  for (int k = 0; k < kBandPoolRetryFrames; ++k) EXPECT_EQ(band_pool_threads(), 1);
  EXPECT_EQ(band_pool_state().start_attempts, attempts + 1);

  // The retry gets one thread before the system refuses again: the frame
  // runs on two threads, and the third is tried after as many frames more.
  band_pool_fail_thread_starts(1, 1000);
  EXPECT_EQ(band_pool_threads(), 2);
  EXPECT_EQ(band_pool_state().start_attempts, attempts + 2);
  EXPECT_EQ(band_pool_state().workers, 1);
  band_pool_fail_thread_starts(0, 0);
  for (int k = 0; k < kBandPoolRetryFrames; ++k) EXPECT_EQ(band_pool_threads(), 2);
  EXPECT_EQ(band_pool_threads(), 3);
  EXPECT_EQ(band_pool_state().start_attempts, attempts + 3);
  EXPECT_EQ(band_pool_state().workers, 2);

  band_pool_set_threads(0);
  band_pool_stop();
}

}  // namespace
