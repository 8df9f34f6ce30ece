// Choosing the range's frames and audio, and moving them to the output's clock.
#include "cli/run/range_cut.h"

#include <algorithm>

RangeCut::RangeCut(const Setup& setup) : setup_(setup) {
  if (setup.end_pts) end_pts_ = *setup.end_pts;
  // From frame 0 the origin is the input's start, known before any frame.
  if (setup.range.first == 0 && setup.start != AV_NOPTS_VALUE) {
    origin_ = setup.start;
    origin_tb_ = setup.start_time_base;
    started_ = true;
  }
}

bool RangeCut::take_frame(int64_t number, AVFrame& frame) {
  const AVRational tb = setup_.video_time_base;
  const int64_t pts = frame.pts;
  if (number < setup_.range.first) {
    // Audio that ends by this frame cannot belong to the range.
    if (pts != AV_NOPTS_VALUE)
      while (!waiting_.empty()) {
        const auto& [stream, atb, packet] = waiting_.front();
        if (packet->pts == AV_NOPTS_VALUE || av_compare_ts(packet->pts + std::max<int64_t>(packet->duration, 0), atb, pts, tb) > 0)
          break;
        waiting_.pop_front();
      }
    return false;
  }
  if (video_done_) return false;
  if (number == setup_.range.first) first_pts_ = pts;
  if (!started_) {
    origin_ = pts == AV_NOPTS_VALUE ? 0 : pts;
    origin_tb_ = tb;
    started_ = true;
  }
  if (number >= setup_.range.last) {
    video_done_ = true;
    // The last frame lasts until the next frame shows, as in the whole run.
    if (end_pts_ == AV_NOPTS_VALUE && pts != AV_NOPTS_VALUE) end_pts_ = pts + std::max<int64_t>(frame_duration(frame), 0);
    else if (pts != AV_NOPTS_VALUE && end_pts_ > pts) frame_duration(frame) = end_pts_ - pts;
  }
  if (pts != AV_NOPTS_VALUE) frame.pts = pts - av_rescale_q(origin_, origin_tb_, tb);
  return true;
}

bool RangeCut::belongs(const AVPacket& packet, AVRational tb) const {
  if (packet.pts == AV_NOPTS_VALUE) return true;
  const AVRational vtb = setup_.video_time_base;
  // The first range also takes what starts before its first frame.
  if (setup_.range.first > 0 && first_pts_ != AV_NOPTS_VALUE && av_compare_ts(packet.pts, tb, first_pts_, vtb) < 0)
    return false;
  return end_pts_ == AV_NOPTS_VALUE || av_compare_ts(packet.pts, tb, end_pts_, vtb) < 0;
}

PacketPtr RangeCut::moved(PacketPtr packet, AVRational tb) const {
  // The packet that spans the range's end stays here, but ends at it, so
  // the file lasts as long as its video and joins the next range exactly.
  if (setup_.end_pts && packet->pts != AV_NOPTS_VALUE && packet->duration > 0) {
    const int64_t end = av_rescale_q(*setup_.end_pts, setup_.video_time_base, tb);
    if (packet->pts + packet->duration > end) packet->duration = std::max<int64_t>(end - packet->pts, 1);
  }
  const int64_t shift = av_rescale_q(origin_, origin_tb_, tb);
  if (packet->pts != AV_NOPTS_VALUE) packet->pts -= shift;
  if (packet->dts != AV_NOPTS_VALUE) packet->dts -= shift;
  return packet;
}

std::vector<std::pair<int, PacketPtr>> RangeCut::take_audio(PacketPtr packet, int stream, AVRational tb) {
  std::vector<std::pair<int, PacketPtr>> out;
  if (audio_done_) return out;
  // An edit list's pre-roll is never played: copied whole, it would start
  // the audio long before the video. Only its last packet goes along, which
  // a decoder needs to start the first one played.
  if (packet->flags & AV_PKT_FLAG_DISCARD) {
    primers_[stream] = std::move(packet);
    return out;
  }
  if (auto primer = primers_.find(stream); primer != primers_.end()) {
    PacketPtr first = std::move(primer->second);
    primers_.erase(primer);
    first->flags &= ~AV_PKT_FLAG_DISCARD;
    out = take_played_audio(std::move(first), stream, tb);
  }
  std::vector<std::pair<int, PacketPtr>> rest = take_played_audio(std::move(packet), stream, tb);
  for (auto& item : rest) out.push_back(std::move(item));
  return out;
}

std::vector<std::pair<int, PacketPtr>> RangeCut::take_played_audio(PacketPtr packet, int stream, AVRational tb) {
  std::vector<std::pair<int, PacketPtr>> out;
  if (!started_) {
    waiting_.emplace_back(stream, tb, std::move(packet));
    return out;
  }
  if (end_pts_ != AV_NOPTS_VALUE && packet->pts != AV_NOPTS_VALUE &&
      av_compare_ts(packet->pts, tb, end_pts_, setup_.video_time_base) >= 0) {
    // Past the range; a second later nothing more of it can come.
    const int64_t second_later = end_pts_ + av_rescale_q(1, AVRational{1, 1}, setup_.video_time_base);
    if ((video_done_ || setup_.end_pts) && av_compare_ts(packet->pts, tb, second_later, setup_.video_time_base) >= 0)
      audio_done_ = true;
    return out;
  }
  if (belongs(*packet, tb)) out.emplace_back(stream, moved(std::move(packet), tb));
  return out;
}

std::vector<std::pair<int, PacketPtr>> RangeCut::take_waiting() {
  std::vector<std::pair<int, PacketPtr>> out;
  if (!started_) return out;
  for (auto& [stream, tb, packet] : waiting_)
    if (belongs(*packet, tb)) out.emplace_back(stream, moved(std::move(packet), tb));
  waiting_.clear();
  return out;
}
