// Frame times through jumps in the input's timestamps, and frames placed
// into a constant frame rate.
#include <gtest/gtest.h>

#include <vector>

#include "cli/input/timestamp_jumps.h"
#include "cli/output/constant_rate.h"

namespace {

// Packets in milliseconds: stream 0 video, 1 audio, 2 subtitles.
struct Packet {
  int stream;
  int64_t dts_ms;
  int64_t duration_ms;
};

// The mended decoding times of `packets`, in milliseconds.
std::vector<int64_t> mended(const std::vector<Packet>& packets, bool may_jump) {
  AVCodecParameters params[3] = {};
  params[0].codec_type = AVMEDIA_TYPE_VIDEO;
  params[1].codec_type = AVMEDIA_TYPE_AUDIO;
  params[2].codec_type = AVMEDIA_TYPE_SUBTITLE;
  AVStream streams[3] = {};
  for (int k = 0; k < 3; ++k) {
    streams[k].time_base = AVRational{1, 1000};
    streams[k].codecpar = &params[k];
  }
  TimestampJumps jumps(may_jump);
  std::vector<int64_t> out;
  for (const Packet& p : packets) {
    PacketPtr packet = make_packet();
    packet->stream_index = p.stream;
    packet->dts = packet->pts = p.dts_ms;
    packet->duration = p.duration_ms;
    jumps.mend(*packet, streams[p.stream]);
    out.push_back(packet->dts);
  }
  return out;
}

TEST(FrameTiming, JumpsAreTakenOutForEveryStream) {
  const struct {
    const char* name;
    std::vector<Packet> packets;
    bool may_jump;
    std::vector<int64_t> want;
  } cases[] = {
      {"restart: continues from the last frame, audio moved alike",
       {{0, 1000, 40}, {1, 1010, 20}, {0, 1040, 40}, {1, 1030, 20}, {0, 0, 40}, {1, 10, 20}, {0, 40, 40}},
       true,
       {1000, 1010, 1040, 1030, 1080, 1090, 1120}},
      {"forward jump past 10 s",
       {{0, 0, 40}, {0, 40, 40}, {0, 60000, 40}, {0, 60040, 40}},
       true,
       {0, 40, 80, 120}},
      {"a 5 s gap is the input's own", {{0, 0, 40}, {0, 5000, 40}}, true, {0, 5000}},
      {"subtitles minutes apart are no jump",
       {{0, 0, 40}, {2, 0, 0}, {0, 40, 40}, {2, 200000, 0}, {0, 80, 40}},
       true,
       {0, 0, 40, 200000, 80}},
      {"no duration: spaced by the last step", {{0, 0, 0}, {0, 200, 0}, {0, 0, 0}}, true, {0, 200, 400}},
      {"a step back under 0.1 s is left", {{0, 0, 40}, {0, 40, 40}, {0, 20, 40}}, true, {0, 40, 41}},
      {"audio overlapping the jump goes after its predecessor",
       {{0, 1000, 40}, {1, 1050, 20}, {0, 0, 40}, {1, 0, 20}},
       true,
       {1000, 1050, 1040, 1051}},
      {"a format without jumps is left alone", {{0, 1000, 40}, {0, 0, 40}}, false, {1000, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(mended(c.packets, c.may_jump), c.want);
  }
}

TEST(FrameTiming, ConstantRateRepeatsAndDrops) {
  // Frames (time, duration) in frame intervals, and the copies written:
  // previous frame's, then this frame's.
  const struct {
    const char* name;
    std::vector<std::pair<double, double>> frames;
    std::vector<std::pair<int64_t, int64_t>> copies;
    const char* summary;
  } cases[] = {
      {"even", {{0, 1}, {1, 1}, {2, 1}}, {{0, 1}, {0, 1}, {0, 1}}, ""},
      {"a long frame repeated", {{0, 3}, {3, 1}}, {{0, 3}, {0, 1}}, "2 frames repeated"},
      {"a gap filled with the frame before, then this one", {{0, 0}, {4, 0}}, {{0, 1}, {2, 2}}, "3 frames repeated"},
      // Late by up to 1.1 intervals a frame is still shown; later, dropped.
      {"frames closer than an interval",
       {{0, 1}, {0.2, 0.2}, {0.4, 0.2}, {0.6, 0.4}, {1, 1}},
       {{0, 1}, {0, 1}, {0, 0}, {0, 1}, {0, 1}},
       "1 frame dropped"},
      {"a little early still shown", {{0, 1}, {0.9, 1}}, {{0, 1}, {0, 1}}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ConstantRateSlots slots;
    std::vector<std::pair<int64_t, int64_t>> got;
    for (const auto& [at, lasts] : c.frames) {
      const ConstantRateSlots::Copies copies = slots.place(at, lasts);
      got.emplace_back(copies.previous, copies.current);
    }
    EXPECT_EQ(got, c.copies);
    EXPECT_EQ(slots.summary(), c.summary);
  }
}

}  // namespace
