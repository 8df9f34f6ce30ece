// Every difference between the FFmpeg versions velbrin builds with (5.1 to
// 9.0) in one place. Each function takes the newer interface where the
// installed FFmpeg has it and the older one only where 5.1 has nothing
// else, so no call is left that a newer FFmpeg has deprecated or removed;
// the callers write the same line on every version.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
}

#include <cstddef>
#include <cstdint>
#include <cstring>

// AVFrame::duration came with FFmpeg 6.0 (libavutil 58), which deprecated
// pkt_duration; 5.1 has only pkt_duration.
#if LIBAVUTIL_VERSION_MAJOR >= 58
#define VELBRIN_FRAME_DURATION duration
#else
#define VELBRIN_FRAME_DURATION pkt_duration
#endif

// A frame's duration in its own time base, to read or to set.
inline int64_t& frame_duration(AVFrame& frame) { return frame.VELBRIN_FRAME_DURATION; }
inline int64_t frame_duration(const AVFrame& frame) { return frame.VELBRIN_FRAME_DURATION; }

#undef VELBRIN_FRAME_DURATION

// Whether a decoded frame is a key frame: AVFrame::flags from FFmpeg 6.1,
// which deprecated key_frame.
inline bool frame_is_key(const AVFrame& frame) {
#ifdef AV_FRAME_FLAG_KEY
  return (frame.flags & AV_FRAME_FLAG_KEY) != 0;
#else
  return frame.key_frame != 0;
#endif
}

// The data an AVIOContext's write callback is given: read-only from
// FFmpeg 7.0 (libavformat 61).
#if LIBAVFORMAT_VERSION_MAJOR >= 61
using AvioWriteData = const uint8_t*;
#else
using AvioWriteData = uint8_t*;
#endif

// What an encoder takes, as FFmpeg lists it (ended by AV_PIX_FMT_NONE,
// AV_SAMPLE_FMT_NONE or 0), or nullptr when it takes anything. FFmpeg 7.1
// (libavcodec 61.13) asks the codec; before, the lists are its fields.
#if LIBAVCODEC_VERSION_INT >= AV_VERSION_INT(61, 13, 100)
template <typename T>
const T* velbrin_supported_config(const AVCodec* codec, AVCodecConfig what) {
  const void* list = nullptr;
  int count = 0;
  if (avcodec_get_supported_config(nullptr, codec, what, 0, &list, &count) < 0) return nullptr;
  return static_cast<const T*>(list);
}
inline const AVPixelFormat* supported_pixel_formats(const AVCodec* codec) {
  return velbrin_supported_config<AVPixelFormat>(codec, AV_CODEC_CONFIG_PIX_FORMAT);
}
inline const AVSampleFormat* supported_sample_formats(const AVCodec* codec) {
  return velbrin_supported_config<AVSampleFormat>(codec, AV_CODEC_CONFIG_SAMPLE_FORMAT);
}
inline const int* supported_sample_rates(const AVCodec* codec) {
  return velbrin_supported_config<int>(codec, AV_CODEC_CONFIG_SAMPLE_RATE);
}
#else
inline const AVPixelFormat* supported_pixel_formats(const AVCodec* codec) { return codec->pix_fmts; }
inline const AVSampleFormat* supported_sample_formats(const AVCodec* codec) { return codec->sample_fmts; }
inline const int* supported_sample_rates(const AVCodec* codec) { return codec->supported_samplerates; }
#endif

// A stream's side data of one kind (the display matrix): FFmpeg 6.1
// (libavformat 60.15) keeps it in the codec parameters and deprecated the
// stream's own.
#if LIBAVFORMAT_VERSION_INT >= AV_VERSION_INT(60, 15, 100)
inline const uint8_t* stream_side_data(const AVStream* stream, AVPacketSideDataType type, size_t* size) {
  const AVPacketSideData* sd = av_packet_side_data_get(stream->codecpar->coded_side_data,
                                                       stream->codecpar->nb_coded_side_data, type);
  *size = sd != nullptr ? sd->size : 0;
  return sd != nullptr ? sd->data : nullptr;
}
// Copies `size` bytes of `data` into the stream's side data; false when
// there is no memory for it.
inline bool add_stream_side_data(AVStream* stream, AVPacketSideDataType type, const uint8_t* data, size_t size) {
  AVPacketSideData* sd = av_packet_side_data_new(&stream->codecpar->coded_side_data,
                                                 &stream->codecpar->nb_coded_side_data, type, size, 0);
  if (sd == nullptr) return false;
  std::memcpy(sd->data, data, size);
  return true;
}
#else
inline const uint8_t* stream_side_data(const AVStream* stream, AVPacketSideDataType type, size_t* size) {
  return av_stream_get_side_data(stream, type, size);
}
inline bool add_stream_side_data(AVStream* stream, AVPacketSideDataType type, const uint8_t* data, size_t size) {
  uint8_t* d = av_stream_new_side_data(stream, type, size);
  if (d == nullptr) return false;
  std::memcpy(d, data, size);
  return true;
}
#endif

// FFmpeg 7.1's Matroska muxer stores a copied stream's initial padding (the
// AAC encoder's 1024 samples) as the track's codec delay and lengthens the
// file's duration by it, which 5.1 leaves in the timestamps alone. Segments
// joined one after another by their durations would then drift by 21 ms at
// each join. So the padding stays in the timestamps only, as on 5.1; Opus
// excepted, whose delay every version stores.
inline void keep_padding_in_timestamps(const AVOutputFormat* muxer, AVCodecParameters* copied) {
  const bool matroska = std::strcmp(muxer->name, "matroska") == 0 || std::strcmp(muxer->name, "webm") == 0;
  if (matroska && copied->codec_id != AV_CODEC_ID_OPUS) copied->initial_padding = 0;
}
