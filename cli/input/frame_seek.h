// Where decoding starts for --frames A-B, so that the cost of a range
// follows its length, not its position in the file. Frames are counted as
// a full decode from the start outputs them, in presentation order (the
// run's one frame clock); a seek is made only where the packets show that
// clock exactly, and otherwise the run decodes from the start and counts.
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
  bool discard = false;  // decoded for reference, never shown (an edit list's pre-roll)
};

// Decoders hold back at most this many frames to put them in presentation
// order (H.264 and HEVC allow 16), so the first A+1 frames in presentation
// order are among the first A+1+kReorderSlack packets.
constexpr int64_t kReorderSlack = 32;

// The timestamps of the frames a full decode outputs for these packets, in
// presentation order: every packet but the discarded ones. None when the
// packets cannot tell: a packet without a timestamp, two with the same one,
// or a stream that does not start at a key frame shown before every other
// frame (picked up in the middle of a group of pictures, or opening with
// leading pictures), whose first frames a decoder drops.
std::optional<std::vector<int64_t>> shown_order(const std::vector<VideoPacketInfo>& packets);

// Frame A (the (A+1)-th shown frame); decoding starts at the last key
// packet with a pts not after it and no earlier packet showing at or after
// it (so frame A and everything after it decode from there, open GOPs
// too). None for A = 0, when frame A is not among the packets, or when the
// packets cannot tell (shown_order).
std::optional<SeekPoint> choose_seek_point(const std::vector<VideoPacketInfo>& packets, int64_t first_frame);

// The presentation timestamp of the frame after B, where the range's audio
// and its last frame end; none when B is the last frame or the packets
// cannot tell.
std::optional<int64_t> range_end_pts(const std::vector<VideoPacketInfo>& packets, int64_t last_frame);

struct RangePlan {
  std::optional<SeekPoint> start;
  std::optional<int64_t> end_pts;
};

// Reads the video packets of `path` (a file that can seek: never a pipe or
// a FIFO, which give their bytes once) from the start to a little past
// frame B (or A when the range has no end), without decoding them, through
// a context of its own, and plans the range. Empty when the file cannot
// tell; the caller then decodes from the start and counts.
RangePlan plan_range(const std::string& path, int video_index, int64_t first_frame, int64_t last_frame);
