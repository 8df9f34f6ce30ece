// Where decoding starts for --frames A-B, so that the cost of a range
// follows its length, not its position in the file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/media/av_helpers.h"

// Frame A's presentation timestamp and the key frame to decode it from, in
// the video stream's time base.
struct SeekPoint {
  int64_t first_pts = 0;   // frame A: frames before it are decoded and dropped
  int64_t key_pts = 0;     // the key frame decoding starts from
  int64_t key_dts = 0;     // its decoding timestamp (its pts when it has none)
  int64_t key_frames = 0;  // frames before the key frame in presentation order
};

// One packet of the video stream, in file (decoding) order.
struct VideoPacketInfo {
  int64_t pts;
  int64_t dts;
  bool key;
};

// Decoders hold back at most this many frames to put them in presentation
// order (H.264 and HEVC allow 16), so the first A+1 frames in presentation
// order are among the first A+1+kReorderSlack packets.
constexpr int64_t kReorderSlack = 32;

// The plain rule, on packets already read: frame A is the packet with the
// (A+1)-th smallest pts; decoding starts at the last key packet with a pts
// not after it and no earlier packet showing at or after it (so frame A and
// everything after it decode from there, open GOPs too). None for A = 0,
// when frame A is not among the packets or a packet has no pts.
std::optional<SeekPoint> choose_seek_point(const std::vector<VideoPacketInfo>& packets, int64_t first_frame);

// The presentation timestamp of the frame after B, where the range's audio
// ends; none when B is the last frame or a packet has no pts.
std::optional<int64_t> range_end_pts(const std::vector<VideoPacketInfo>& packets, int64_t last_frame);

struct RangePlan {
  std::optional<SeekPoint> start;
  std::optional<int64_t> end_pts;
};

// Reads the video packets of `path` (a file velbrin may seek in) from the
// start to a little past frame B (or A when the range has no end), without
// decoding them, through a context of its own, and plans the range. Empty
// when the file cannot tell; the caller then decodes from the start and
// ends the audio by the frames' durations.
RangePlan plan_range(const std::string& path, int video_index, int64_t first_frame, int64_t last_frame);
