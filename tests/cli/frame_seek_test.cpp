// Where --frames A-B starts decoding and where its audio ends, on packet
// lists in file order as demuxers give them.
#include <gtest/gtest.h>

#include "cli/input/frame_seek.h"

namespace {

constexpr int64_t kNone = AV_NOPTS_VALUE;

// "I0 P3 B1 B2 ...": type (I key, P, B), then the pts; dts counts packets.
std::vector<VideoPacketInfo> packets(const std::vector<std::pair<char, int64_t>>& list) {
  std::vector<VideoPacketInfo> out;
  int64_t dts = -2;
  for (const auto& [type, pts] : list) out.push_back({pts, dts++, type == 'I'});
  return out;
}

TEST(FrameSeek, KeyFrameBeforeTheFirstFrame) {
  // Closed GOPs of 4 with B-frames: I0 P3 B1 B2 | I4 P7 B5 B6 | I8 ...
  const auto closed = packets({{'I', 0}, {'P', 3}, {'B', 1}, {'B', 2}, {'I', 4}, {'P', 7}, {'B', 5}, {'B', 6},
                               {'I', 8}, {'P', 11}, {'B', 9}, {'B', 10}});
  // Open GOPs: B5 and B6 come after I7 and show before it, so frame 5 needs
  // decoding from I3; frame 7 may start at I7.
  const auto open = packets({{'I', 0}, {'P', 2}, {'B', 1}, {'I', 3}, {'P', 4}, {'I', 7}, {'B', 5}, {'B', 6},
                             {'P', 8}, {'P', 9}});
  // A key frame decoded after a frame that shows later than it: decoding
  // from it would miss P5, so frame 4 needs the key frame before.
  const auto late_shown = packets({{'I', 0}, {'P', 5}, {'B', 1}, {'B', 2}, {'I', 3}, {'B', 4}, {'P', 6}});
  struct Case {
    const char* name;
    const std::vector<VideoPacketInfo>* list;
    int64_t first;
    int64_t key_pts, key_frames;
  };
  const Case cases[] = {
      {"closed, at a key frame", &closed, 4, 4, 4},
      {"closed, within a GOP", &closed, 6, 4, 4},
      {"closed, B-frame before the next key", &closed, 7, 4, 4},
      {"closed, last GOP", &closed, 9, 8, 8},
      {"open, leading picture", &open, 5, 3, 3},
      {"open, leading picture 2", &open, 6, 3, 3},
      {"open, at the key frame", &open, 7, 7, 7},
      {"open, after it", &open, 9, 7, 7},
      {"earlier packet shows later", &late_shown, 4, 0, 0},
      {"earlier packet shows earlier", &late_shown, 6, 3, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto s = choose_seek_point(*c.list, c.first);
    ASSERT_TRUE(s.has_value());
    EXPECT_EQ(s->first_pts, c.first);  // pts here are the frame numbers
    EXPECT_EQ(s->key_pts, c.key_pts);
    EXPECT_EQ(s->key_frames, c.key_frames);
  }
}

// The frame clock is a full decode's: frames a decoder drops (an edit
// list's pre-roll) are not counted, and where the packets cannot show the
// decoder's output the run reads from the start and counts instead.
TEST(FrameSeek, CountsFramesAsAFullDecodeOutputsThem) {
  // An edit list's pre-roll: I0 B1 B2 are decoded for reference, not shown.
  auto pre_roll = packets({{'I', 0}, {'P', 3}, {'B', 1}, {'B', 2}, {'I', 4}, {'P', 5}, {'P', 6}});
  for (int k = 0; k < 3; ++k) pre_roll[size_t(k == 0 ? 0 : k + 1)].discard = true;  // I0 B1 B2
  const auto shown = shown_order(pre_roll);
  ASSERT_TRUE(shown);
  EXPECT_EQ(*shown, (std::vector<int64_t>{3, 4, 5, 6}));
  EXPECT_EQ(choose_seek_point(pre_roll, 1)->first_pts, 4);  // frame 1 is I4, not B1
  EXPECT_EQ(range_end_pts(pre_roll, 0), 4);

  const struct {
    const char* name;
    std::vector<VideoPacketInfo> list;
  } untold[] = {
      {"picked up mid-GOP", packets({{'P', 3}, {'B', 1}, {'I', 4}, {'P', 5}, {'P', 6}})},
      {"leading pictures before the first key frame", packets({{'I', 2}, {'B', 0}, {'B', 1}, {'P', 3}, {'P', 4}})},
      {"a packet without a timestamp", packets({{'I', 0}, {'P', kNone}, {'P', 2}, {'P', 3}})},
      {"two packets with one timestamp", packets({{'I', 0}, {'P', 1}, {'P', 1}, {'P', 3}})},
  };
  for (const auto& c : untold) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(shown_order(c.list));
    EXPECT_FALSE(choose_seek_point(c.list, 2));
    EXPECT_FALSE(range_end_pts(c.list, 0));
  }
  const auto list = packets({{'I', 0}, {'P', 1}, {'P', 2}});
  EXPECT_FALSE(choose_seek_point(list, 0));  // the start needs no seek
  EXPECT_FALSE(choose_seek_point(list, 3));  // past the end: counted from the start, for the message
}

TEST(FrameSeek, RangeEndsWhereTheNextFrameShows) {
  // Timestamps in units of 512 per frame, decoding order I P B B.
  const auto list = packets({{'I', 0}, {'P', 1536}, {'B', 512}, {'B', 1024}, {'I', 2048}});
  EXPECT_EQ(range_end_pts(list, 0), 512);
  EXPECT_EQ(range_end_pts(list, 2), 1536);
  EXPECT_EQ(range_end_pts(list, 3), 2048);
  EXPECT_FALSE(range_end_pts(list, 4));  // the last frame: the file's own end
}

}  // namespace
