// FFmpeg object allocation that throws on failure, and error texts.
#include "cli/media/av_helpers.h"

#include <new>

extern "C" {
#include <libavutil/error.h>
}

FramePtr make_frame() {
  AVFrame* f = av_frame_alloc();
  if (f == nullptr) throw std::bad_alloc();
  return FramePtr(f);
}

PacketPtr make_packet() {
  AVPacket* p = av_packet_alloc();
  if (p == nullptr) throw std::bad_alloc();
  return PacketPtr(p);
}

std::string av_error_text(int err) {
  char buf[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(err, buf, sizeof buf);
  return buf;
}

int container_holds(const AVOutputFormat* container, AVCodecID id) {
  return avformat_query_codec(container, id, FF_COMPLIANCE_NORMAL);
}
