// Choosing the key frame to decode --frames A-B from.
#include "cli/input/frame_seek.h"

#include <algorithm>

#include "cli/input/timestamp_jumps.h"

std::optional<std::vector<int64_t>> shown_order(const std::vector<VideoPacketInfo>& packets) {
  if (packets.empty() || !packets.front().key || packets.front().pts == AV_NOPTS_VALUE) return std::nullopt;
  std::vector<int64_t> order;
  order.reserve(packets.size());
  for (const VideoPacketInfo& p : packets) {
    if (p.pts == AV_NOPTS_VALUE || p.pts < packets.front().pts) return std::nullopt;
    if (!p.discard) order.push_back(p.pts);
  }
  std::sort(order.begin(), order.end());
  if (std::adjacent_find(order.begin(), order.end()) != order.end()) return std::nullopt;
  return order;
}

std::optional<SeekPoint> choose_seek_point(const std::vector<VideoPacketInfo>& packets, int64_t first_frame) {
  if (first_frame <= 0) return std::nullopt;
  const std::optional<std::vector<int64_t>> order = shown_order(packets);
  if (!order || int64_t(order->size()) <= first_frame) return std::nullopt;
  SeekPoint s;
  s.first_pts = (*order)[size_t(first_frame)];
  // Scanning in decoding order, the latest usable key packet wins.
  int64_t latest_before = INT64_MIN;  // largest pts of the packets before this one
  std::optional<size_t> key;
  for (size_t k = 0; k < packets.size(); ++k) {
    const VideoPacketInfo& p = packets[k];
    if (p.key && p.pts <= s.first_pts && latest_before < s.first_pts) key = k;
    latest_before = std::max(latest_before, p.pts);
  }
  if (!key) return std::nullopt;
  const VideoPacketInfo& k = packets[*key];
  s.key_pts = k.pts;
  s.key_dts = k.dts == AV_NOPTS_VALUE ? k.pts : k.dts;
  s.key_frames = std::lower_bound(order->begin(), order->end(), k.pts) - order->begin();
  return s;
}

std::optional<int64_t> range_end_pts(const std::vector<VideoPacketInfo>& packets, int64_t last_frame) {
  const std::optional<std::vector<int64_t>> order = shown_order(packets);
  if (last_frame < 0 || !order || int64_t(order->size()) <= last_frame + 1) return std::nullopt;
  return (*order)[size_t(last_frame + 1)];
}

RangePlan plan_range(const std::string& path, int video_index, int64_t first_frame, int64_t last_frame) {
  const bool open_end = last_frame == INT64_MAX;
  AVDictionary* options = nullptr;
  av_dict_set(&options, "protocol_whitelist", "file", 0);
  AVFormatContext* opened = nullptr;
  const int err = avformat_open_input(&opened, ("file:" + path).c_str(), nullptr, &options);
  av_dict_free(&options);
  InputFormatPtr format(opened);
  if (err < 0 || video_index >= int(format->nb_streams) ||
      format->streams[video_index]->codecpar->codec_type != AVMEDIA_TYPE_VIDEO)
    return {};
  const int64_t wanted = (open_end ? first_frame : last_frame + 1) + 1 + kReorderSlack;
  std::vector<VideoPacketInfo> packets;
  PacketPtr packet = make_packet();
  // Timestamps are mended as the run mends them from the start, so the
  // range's end is where that run shows frame B+1. Past a jump a seek by
  // timestamp would land elsewhere: the run then decodes from the start.
  TimestampJumps jumps(may_jump(format.get()));
  for (int64_t shown = 0; shown < wanted && av_read_frame(format.get(), packet.get()) >= 0;) {
    jumps.mend(*packet, *format->streams[packet->stream_index]);
    if (packet->stream_index == video_index) {
      const bool discard = (packet->flags & AV_PKT_FLAG_DISCARD) != 0;
      packets.push_back({packet->pts, packet->dts, (packet->flags & AV_PKT_FLAG_KEY) != 0, discard});
      shown += discard ? 0 : 1;
    }
    av_packet_unref(packet.get());
  }
  RangePlan plan{choose_seek_point(packets, first_frame), open_end ? std::nullopt : range_end_pts(packets, last_frame)};
  if (jumps.jumped()) plan.start.reset();
  return plan;
}
