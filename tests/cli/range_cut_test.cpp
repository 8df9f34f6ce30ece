// The range cut: which frames and audio packets a run writes and where the
// output's clock starts, on made-up streams (times in milliseconds).
#include <gtest/gtest.h>

#include "cli/run/range_cut.h"

namespace {

constexpr AVRational kMs{1, 1000};

PacketPtr audio(int64_t pts, int64_t duration, bool discard = false) {
  PacketPtr p = make_packet();
  p->pts = p->dts = pts;
  p->duration = duration;
  if (discard) p->flags |= AV_PKT_FLAG_DISCARD;
  return p;
}

struct Written {
  std::vector<std::pair<int64_t, int64_t>> frames;  // pts, duration, on the output's clock
  std::vector<std::pair<int64_t, int64_t>> audio;   // pts, duration
};

// Feeds video frames every 40 ms from `first_pts` (one every `step` ms
// after frame 5, for a variable rate) and audio packets of 20 ms from
// `audio_from`, interleaved by time, as a demuxer gives them.
Written run(const RangeCut::Setup& setup, int64_t first_pts, int64_t audio_from, int frames, int64_t late_step = 40) {
  RangeCut cut(setup);
  Written w;
  auto keep = [&](std::vector<std::pair<int, PacketPtr>> packets) {
    for (auto& [stream, p] : packets) w.audio.emplace_back(p->pts, p->duration);
  };
  int64_t a = audio_from, v = first_pts;
  for (int n = 0; n < frames; ++n) {
    for (; a <= v; a += 20) keep(cut.take_audio(audio(a, 20), 1, kMs));
    FramePtr f = make_frame();
    f->pts = v;
    frame_duration(*f) = 40;
    if (cut.take_frame(n, *f)) w.frames.emplace_back(f->pts, frame_duration(*f));
    keep(cut.take_waiting());
    v += n >= 5 ? late_step : 40;
  }
  for (; a < v + 2000 && !cut.audio_done(); a += 20) keep(cut.take_audio(audio(a, 20), 1, kMs));
  return w;
}

RangeCut::Setup setup(int64_t first, int64_t last, int64_t start_ms, std::optional<int64_t> end_pts) {
  RangeCut::Setup s;
  s.range = FrameRange{first, last};
  s.video_time_base = kMs;
  s.start = start_ms;
  s.start_time_base = kMs;
  s.end_pts = end_pts;
  return s;
}

TEST(RangeCut, WholeRunStartsAtTheInputsStart) {
  // Video from 1000 ms, audio from 980 ms (an encoder's priming): the
  // output starts at 0 with the audio, the video 20 ms later.
  const Written w = run(setup(0, INT64_MAX, 980, std::nullopt), 1000, 980, 10);
  ASSERT_EQ(w.frames.size(), 10u);
  EXPECT_EQ(w.frames.front().first, 20);
  EXPECT_EQ(w.audio.front().first, 0);
}

TEST(RangeCut, RangesSideBySideShareEverythingOnce) {
  // Frames 3-6 of a variable-rate stream (70 ms steps after frame 5): frame
  // 3 shows at 120 ms, frame 7 at 340 ms.
  const Written w = run(setup(3, 6, 0, 340), 0, 0, 12, 70);
  ASSERT_EQ(w.frames.size(), 4u);
  EXPECT_EQ(w.frames.front(), (std::pair<int64_t, int64_t>{0, 40}));
  // The last frame lasts until frame 7 shows, not its own 40 ms.
  EXPECT_EQ(w.frames.back(), (std::pair<int64_t, int64_t>{270 - 120, 70}));
  // Audio starting in [120, 340): the first at 120 (moved to 0), the last at
  // 320, and none of what comes later.
  ASSERT_FALSE(w.audio.empty());
  EXPECT_EQ(w.audio.front().first, 0);
  EXPECT_EQ(w.audio.back().first, 320 - 120);
  EXPECT_EQ(w.audio.size(), 11u);
}

TEST(RangeCut, ThePacketOverTheEndEndsThereAndPreRollIsLeftOut) {
  RangeCut cut(setup(0, 1, 0, 50));
  FramePtr f = make_frame();
  f->pts = 0;
  EXPECT_TRUE(cut.take_frame(0, *f));
  // An edit list's pre-roll: only its last packet, which the decoder needs
  // to start the first played one, goes along.
  EXPECT_TRUE(cut.take_audio(audio(-60, 20, true), 1, kMs).empty());
  EXPECT_TRUE(cut.take_audio(audio(-40, 20, true), 1, kMs).empty());
  auto kept = cut.take_audio(audio(-20, 20), 1, kMs);
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_EQ(kept[0].second->pts, -40);
  EXPECT_EQ(kept[1].second->pts, -20);
  kept = cut.take_audio(audio(40, 20), 1, kMs);
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0].second->duration, 10);  // cut to end where frame 2 shows
  EXPECT_TRUE(cut.take_audio(audio(60, 20), 1, kMs).empty());
  EXPECT_FALSE(cut.audio_done());
  EXPECT_TRUE(cut.take_audio(audio(1060, 20), 1, kMs).empty());
  EXPECT_TRUE(cut.audio_done());
}

}  // namespace
