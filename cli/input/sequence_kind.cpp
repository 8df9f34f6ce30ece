// Scanning an image sequence for colour and alpha.
#include "cli/input/sequence_kind.h"

#include "cli/media/av_helpers.h"
#include "cli/media/host_frame.h"

extern "C" {
#include <libavutil/log.h>
}

AVPixelFormat widest_sequence_format(const std::string& url, const std::string& start_number, AVPixelFormat first) {
  const bool first_alpha = format_has_alpha(first), first_colour = !format_is_grey(first);
  bool alpha = first_alpha, colour = first_colour;

  AVDictionary* options = nullptr;
  av_dict_set(&options, "protocol_whitelist", "file", 0);
  if (!start_number.empty()) av_dict_set(&options, "start_number", start_number.c_str(), 0);
  AVFormatContext* opened = nullptr;
  const int err = avformat_open_input(&opened, url.c_str(), nullptr, &options);
  av_dict_free(&options);
  InputFormatPtr format(opened);
  if (err < 0 || format->nb_streams < 1) return first;
  const AVCodecParameters* par = format->streams[0]->codecpar;
  const AVCodec* codec = avcodec_find_decoder(par->codec_id);
  if (codec == nullptr) return first;
  CodecContextPtr decoder(avcodec_alloc_context3(codec));
  if (!decoder) return first;
  // A picture that cannot be decoded is the run's to report, at its place
  // in the sequence: here its decoder's errors are logged as debug lines,
  // which no listener takes for damage.
  decoder->log_level_offset = AV_LOG_DEBUG - AV_LOG_ERROR;
  if (avcodec_parameters_to_context(decoder.get(), par) < 0 ||
      avcodec_open2(decoder.get(), codec, nullptr) < 0)
    return first;

  PacketPtr packet = make_packet();
  FramePtr frame = make_frame();
  auto take_frames = [&] {
    while (avcodec_receive_frame(decoder.get(), frame.get()) >= 0) {
      const AVPixelFormat f = static_cast<AVPixelFormat>(frame->format);
      alpha = alpha || format_has_alpha(f);
      colour = colour || !format_is_grey(f);
      av_frame_unref(frame.get());
    }
  };
  // Once a picture has shown both colour and alpha, nothing wider can come.
  while (!(alpha && colour) && av_read_frame(format.get(), packet.get()) >= 0) {
    if (packet->stream_index == 0 && avcodec_send_packet(decoder.get(), packet.get()) >= 0) take_frames();
    av_packet_unref(packet.get());
  }
  if (avcodec_send_packet(decoder.get(), nullptr) >= 0) take_frames();

  if (alpha == first_alpha && colour == first_colour) return first;
  if (colour) return alpha ? AV_PIX_FMT_BGRA : AV_PIX_FMT_BGR24;
  return alpha ? AV_PIX_FMT_YA8 : AV_PIX_FMT_GRAY8;
}
