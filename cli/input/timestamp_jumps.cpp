// Taking jumps out of an input's timestamps.
#include "cli/input/timestamp_jumps.h"

#include <algorithm>
#include <cstdlib>

namespace {

constexpr int64_t kJumpUs = 10 * int64_t(AV_TIME_BASE);  // ffmpeg's -dts_delta_threshold
constexpr int64_t kStepBackUs = AV_TIME_BASE / 10;

}  // namespace

void TimestampJumps::shift(AVPacket& packet, AVRational tb, int64_t by_us) const {
  const int64_t by = av_rescale_q(by_us, AV_TIME_BASE_Q, tb);
  if (packet.dts != AV_NOPTS_VALUE) packet.dts += by;
  if (packet.pts != AV_NOPTS_VALUE) packet.pts += by;
}

void TimestampJumps::mend(AVPacket& packet, const AVStream& stream) {
  if (!may_jump_) return;
  const AVRational tb = stream.time_base;
  shift(packet, tb, offset_us_);
  const AVMediaType type = stream.codecpar->codec_type;
  if (packet.dts == AV_NOPTS_VALUE || (type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO)) return;
  StreamClock& clock = streams_[packet.stream_index];
  int64_t dts_us = av_rescale_q(packet.dts, tb, AV_TIME_BASE_Q);
  // A stream's first packet is measured against the last one of any stream;
  // later ones against where the stream itself should go on.
  const int64_t expected = clock.next_us != AV_NOPTS_VALUE ? clock.next_us : last_us_;
  if (expected != AV_NOPTS_VALUE) {
    const int64_t delta = dts_us - expected;
    const bool stepped_back = clock.latest_us != AV_NOPTS_VALUE && dts_us + kStepBackUs < clock.latest_us;
    if (std::llabs(delta) > kJumpUs || stepped_back) {
      offset_us_ -= delta;
      shift(packet, tb, -delta);
      dts_us -= delta;
      ++jumps_;
    }
  }
  if (clock.latest_us != AV_NOPTS_VALUE && dts_us > clock.latest_us) clock.step_us = dts_us - clock.latest_us;
  const int64_t duration_us = packet.duration > 0 ? av_rescale_q(packet.duration, tb, AV_TIME_BASE_Q) : clock.step_us;
  clock.next_us = dts_us + duration_us;
  clock.latest_us = clock.latest_us == AV_NOPTS_VALUE ? dts_us : std::max(clock.latest_us, dts_us);
  last_us_ = dts_us;
  if (clock.last_dts != AV_NOPTS_VALUE && packet.dts <= clock.last_dts) {
    packet.dts = clock.last_dts + 1;
    if (packet.pts != AV_NOPTS_VALUE) packet.pts = std::max(packet.pts, packet.dts);
  }
  clock.last_dts = packet.dts;
}
