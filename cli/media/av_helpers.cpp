// FFmpeg object allocation that throws on failure, and error texts.
#include "cli/media/av_helpers.h"

#include "cli/cli_error.h"

#include <cstring>
#include <new>

extern "C" {
#include <libavutil/error.h>
}

#include "cli/media/log_tap.h"

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
  // A decoder's or encoder's threads refused under a memory limit.
  if (err == AVERROR(EAGAIN)) return system_error_text(EAGAIN);
  char buf[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(err, buf, sizeof buf);
  return buf;
}

bool is_pcm(AVCodecID id) { return id >= AV_CODEC_ID_FIRST_AUDIO && id < AV_CODEC_ID_ADPCM_IMA_QT; }

bool is_mp4_family(const AVOutputFormat* container) {
  for (const char* name : {"mov", "mp4", "ipod", "ismv", "3gp", "3g2", "psp"})
    if (std::strcmp(container->name, name) == 0) return true;
  return false;
}

int container_holds(const AVOutputFormat* container, AVCodecID id) {
  // QuickTime's muxer says yes to Opus and FLAC, then refuses them at the
  // header: they are MP4's alone.
  if (std::strcmp(container->name, "mov") == 0 && (id == AV_CODEC_ID_OPUS || id == AV_CODEC_ID_FLAC)) return 0;
  // Uncompressed PCM in MP4 (the 'ipcm' sample entry FFmpeg 7.1 writes)
  // plays in few players, and FFmpeg 5.1 refuses it: the MP4 family holds
  // PCM only as QuickTime (.mov), on every FFmpeg, so it gets AAC instead.
  if (is_pcm(id) && is_mp4_family(container) && std::strcmp(container->name, "mov") != 0) return 0;
  // FFmpeg 9.0's MP4 muxer takes FFV1, which players of MP4 do not read;
  // 5.1 and 7.1 refuse it. Left out on every version, an MP4 gets lossless
  // H.264 RGB and a copied FFV1 stream is named as left out, as before.
  if (id == AV_CODEC_ID_FFV1 && is_mp4_family(container) && std::strcmp(container->name, "mov") != 0) return 0;
  // The MPEG transport stream cannot tell, but is made for these.
  if (std::strcmp(container->name, "mpegts") == 0 &&
      (id == AV_CODEC_ID_H264 || id == AV_CODEC_ID_HEVC || id == AV_CODEC_ID_MPEG2VIDEO || id == AV_CODEC_ID_AAC ||
       id == AV_CODEC_ID_MP2 || id == AV_CODEC_ID_MP3 || id == AV_CODEC_ID_AC3 || id == AV_CODEC_ID_OPUS))
    return 1;
  return avformat_query_codec(container, id, FF_COMPLIANCE_NORMAL);
}

std::optional<std::string> muxer_refusal(const AVOutputFormat* container, const AVCodecParameters& stream) {
  const int holds = container_holds(container, stream.codec_id);
  if (holds == 1) return std::nullopt;
  if (container->flags & AVFMT_NOFILE) return holds == 0 ? std::optional<std::string>("") : std::nullopt;
  AVFormatContext* made = nullptr;
  if (avformat_alloc_output_context2(&made, container, nullptr, nullptr) < 0 || made == nullptr) throw std::bad_alloc();
  OutputFormatPtr muxer(made);
  AVStream* st = avformat_new_stream(made, nullptr);
  if (st == nullptr || avcodec_parameters_copy(st->codecpar, &stream) < 0) throw std::bad_alloc();
  st->codecpar->codec_tag = 0;
  st->time_base = AVRational{1, 90000};
  if (avio_open_dyn_buf(&made->pb) < 0) throw std::bad_alloc();
  const LogTap tap;
  const int err = avformat_write_header(made, nullptr);
  uint8_t* written = nullptr;
  avio_close_dyn_buf(made->pb, &written);
  av_free(written);
  made->pb = nullptr;
  if (err >= 0) return std::nullopt;
  return tap.reason(err);
}
