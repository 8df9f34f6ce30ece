// Segment boundaries for --plan-segments, on key-frame flags by frame.
#include <gtest/gtest.h>

#include "cli/run/segment_plan.h"

namespace {

// `frames` frames with a key frame every `every` (and at 0).
std::vector<bool> keys_every(int frames, int every) {
  std::vector<bool> key(size_t(frames), false);
  for (int f = 0; f < frames; f += every) key[size_t(f)] = true;
  return key;
}

TEST(SegmentPlan, RangesStartAtKeyFramesAndCoverEveryFrame) {
  std::vector<bool> uneven(100, false);
  for (int f : {0, 10, 20, 90}) uneven[size_t(f)] = true;
  const struct {
    const char* name;
    std::vector<bool> key;
    int workers;
    const char* ranges;
    size_t notes;
  } cases[] = {
      {"even", keys_every(300, 25), 3, "0-99\n100-199\n200-299\n", 0},
      {"nearest key frame", keys_every(300, 48), 3, "0-95\n96-191\n192-299\n", 1},
      {"one worker", keys_every(300, 48), 1, "0-299\n", 0},
      {"too few key frames", keys_every(100, 40), 4, "0-39\n40-79\n80-99\n", 2},
      {"one key frame", keys_every(50, 50), 3, "0-49\n", 1},
      {"key frames bunched", uneven, 2, "0-19\n20-99\n", 1},
      {"more workers than frames", keys_every(3, 1), 5, "0-0\n1-1\n2-2\n", 1},
      {"no frame", {}, 3, "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const SegmentPlan plan = plan_segments(c.key, c.workers);
    EXPECT_EQ(ranges_text(plan), c.ranges);
    EXPECT_EQ(plan.notes.size(), c.notes);  // their wording: tests/cli/segments_test.sh
  }
}

}  // namespace
