// Inputs whose timestamps jump or start again (transport streams joined
// with `cat`, a broadcast recording across a clock reset): formats that may
// have such jumps are read with one offset for all their streams, changed
// wherever a stream's next timestamp lies far from where it should, so that
// the frames keep their spacing and the audio stays where it was against
// the video. It follows ffmpeg's rule: a jump of more than 10 s either
// way, or a step back of more than 0.1 s, is taken out.
#pragma once

#include <cstdint>
#include <map>

#include "cli/media/av_helpers.h"

// Whether the input's format marks itself as having discontinuities.
inline bool may_jump(const AVFormatContext* format) { return (format->iformat->flags & AVFMT_TS_DISCONT) != 0; }

class TimestampJumps {
 public:
  // `may_jump`: as may_jump() says of the input; other formats are left as
  // they are.
  explicit TimestampJumps(bool may_jump) : may_jump_(may_jump) {}

  // Moves the packet (of `stream`) by the offset found so far, after taking
  // out a jump that this packet shows. Only video and audio packets tell
  // jumps: subtitles and data may be minutes apart. Across a jump the
  // streams' parts may overlap by a few milliseconds (one part's audio ran
  // a little past its video): a packet that would then decode before the
  // one before it in its stream goes just after it, as ffmpeg's muxing
  // moves it.
  void mend(AVPacket& packet, const AVStream& stream);

  // Whether any jump was taken out.
  bool jumped() const { return jumps_ > 0; }

 private:
  void shift(AVPacket& packet, AVRational tb, int64_t by_us) const;

  bool may_jump_;
  int64_t offset_us_ = 0;  // added to every timestamp
  int64_t last_us_ = AV_NOPTS_VALUE;  // the last decoding time of any stream, mended
  struct StreamClock {
    int64_t next_us = AV_NOPTS_VALUE;  // where its next packet should start
    int64_t latest_us = AV_NOPTS_VALUE;  // the latest decoding time so far
    int64_t step_us = 0;  // the last step between its packets, for those without a duration
    int64_t last_dts = AV_NOPTS_VALUE;  // in the stream's time base, mended
  };
  std::map<int, StreamClock> streams_;
  int jumps_ = 0;
};
