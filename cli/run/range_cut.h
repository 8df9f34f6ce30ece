// Which decoded frames and audio packets a run writes, and the output's
// clock: frames A to B of --frames (numbered by the frame clock, as a full
// decode outputs them), the audio packets that start within them, and every
// timestamp moved by one origin so that the output starts at 0 with each
// stream where it was against the others.
//
// The origin is the input's start (the earliest of its video and audio
// streams, as ffmpeg takes it) for a run from frame 0, and frame A for a
// range from a later frame. Each audio packet belongs to the range in which
// it starts, the first range also taking what starts before the first
// frame; the packet that runs past the range's end is cut to end there, and
// the range's last frame lasts until the next frame of the input, so that
// ranges side by side join into the whole run's timestamps.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

#include "cli/media/av_helpers.h"
#include "cli/run/frame_range.h"

class RangeCut {
 public:
  struct Setup {
    FrameRange range;
    AVRational video_time_base{1, 1};
    // The input's start in `start_time_base` (AV_NOPTS_VALUE: the first
    // frame's time is taken).
    int64_t start = AV_NOPTS_VALUE;
    AVRational start_time_base{1, 1};
    // Where frame B+1 shows (video time base), when known beforehand.
    std::optional<int64_t> end_pts;
  };
  explicit RangeCut(const Setup& setup);

  // Decoded frame `number` (negative: before the range, not numbered).
  // Returns whether it is written; a written frame's pts is moved to the
  // output's clock, and the range's last frame lasts until frame B+1.
  bool take_frame(int64_t number, AVFrame& frame);

  // An audio packet of input stream `stream` (time base `tb`). Returns the
  // packets to write now, in order, each moved to the output's clock:
  // packets wait until frame A shows where the range starts.
  std::vector<std::pair<int, PacketPtr>> take_audio(PacketPtr packet, int stream, AVRational tb);
  // The waiting packets that belong to the range, once take_frame has
  // seen where it starts.
  std::vector<std::pair<int, PacketPtr>> take_waiting();
  // After the input is sought again: what waits will be read once more.
  void forget_waiting() {
    waiting_.clear();
    primers_.clear();
  }

  bool video_done() const { return video_done_; }
  // No audio packet of the range can come any more.
  bool audio_done() const { return audio_done_; }

 private:
  std::vector<std::pair<int, PacketPtr>> take_played_audio(PacketPtr packet, int stream, AVRational tb);
  bool belongs(const AVPacket& packet, AVRational tb) const;
  PacketPtr moved(PacketPtr packet, AVRational tb) const;

  Setup setup_;
  bool started_ = false;  // frame A seen: the origin is known
  bool video_done_ = false;
  bool audio_done_ = false;
  int64_t origin_ = 0;  // in origin_tb_
  AVRational origin_tb_{1, 1};
  int64_t first_pts_ = AV_NOPTS_VALUE;  // frame A's pts (video time base)
  int64_t end_pts_ = AV_NOPTS_VALUE;    // frame B+1's pts, or where frame B ends
  std::deque<std::tuple<int, AVRational, PacketPtr>> waiting_;
  std::map<int, PacketPtr> primers_;  // per stream, the last pre-roll packet so far
};
