// The band pool's choices: how VELBRIN_THREADS is read and when, and what
// happens when the system refuses threads (the frame still comes out exact,
// and creation is retried only every kBandPoolRetryFrames frames).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "engine/band_pool_hooks.h"
#include "engine/band_split.h"
#include "engine/band_threads.h"
#include "engine/kernels/smooth.h"

namespace {

// One frame above the threshold, filtered through the splitter and by the
// reference; true when both agree.
bool large_frame_exact() {
  const int w = 640, h = 300;
  static_assert(640 * 300 >= kBandMinPixels, "the frame must be large enough for threads");
  std::vector<uint32_t> src(size_t(w) * h), got(src.size(), 0xDEADBEEFu), want(src.size(), 0x12345678u);
  for (size_t k = 0; k < src.size(); ++k) src[k] = uint32_t(k * 2654435761u) ^ uint32_t(k >> 3);
  SmoothParams s{};
  s.level = 150;
  s.dynamic = 4;
  smooth_frame_split(SmoothFrame{src.data(), got.data(), w, h, w}, s);
  smooth_frame_c(SmoothFrame{src.data(), want.data(), w, h, w}, s);
  return got == want;
}

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
    band_pool_stop();
    EnvThreads env(r.value);
    EXPECT_EQ(band_pool_threads(), r.threads) << (r.value ? r.value : "(unset)");
    EXPECT_EQ(band_pool_state().workers, r.threads - 1);
    setenv("VELBRIN_THREADS", "1", 1);  // no effect until the pool starts again
    EXPECT_EQ(band_pool_threads(), r.threads);
    EXPECT_TRUE(large_frame_exact());
  }
  band_pool_stop();
}

TEST(BandPool, RefusedThreadsAreRetriedSparinglyAndFramesStayExact) {
  band_pool_set_threads(3);
  const int attempts = band_pool_state().start_attempts;

  // Every creation refused: the frame runs on the caller alone, exactly.
  band_pool_fail_thread_starts(0, 1000);
  EXPECT_TRUE(large_frame_exact());
  EXPECT_EQ(band_pool_state().workers, 0);
  EXPECT_EQ(band_pool_state().start_attempts, attempts + 1);
  // The next frames do not try again (each large frame asks the pool once).
  for (int k = 0; k < kBandPoolRetryFrames; ++k) EXPECT_EQ(band_pool_threads(), 1);
  EXPECT_EQ(band_pool_state().start_attempts, attempts + 1);

  // The retry gets one thread before the system refuses again: the frame
  // runs on two threads, and the third is tried after as many frames more.
  band_pool_fail_thread_starts(1, 1000);
  EXPECT_TRUE(large_frame_exact());
  EXPECT_EQ(band_pool_state().start_attempts, attempts + 2);
  EXPECT_EQ(band_pool_state().workers, 1);
  band_pool_fail_thread_starts(0, 0);
  for (int k = 0; k < kBandPoolRetryFrames; ++k) EXPECT_EQ(band_pool_threads(), 2);
  EXPECT_EQ(band_pool_threads(), 3);
  EXPECT_EQ(band_pool_state().start_attempts, attempts + 3);
  EXPECT_EQ(band_pool_state().workers, 2);
  EXPECT_TRUE(large_frame_exact());

  band_pool_set_threads(0);
}

}  // namespace
