// Decoding the streams that go along with the video, for their faults only.
#include "cli/run/stream_damage_check.h"

#include <new>

#include "cli/media/decoder_drain.h"
#include "cli/run/input_damage.h"

StreamDamageCheck::StreamDamageCheck(const AVFormatContext* input, const std::vector<int>& streams,
                                     InputDamage& damage)
    : damage_(damage), frame_(make_frame()) {
  for (int index : streams) {
    const AVStream* st = input->streams[index];
    const AVMediaType type = st->codecpar->codec_type;
    if (type != AVMEDIA_TYPE_AUDIO && type != AVMEDIA_TYPE_SUBTITLE) continue;
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    if (codec == nullptr) continue;
    CodecContextPtr decoder(avcodec_alloc_context3(codec));
    if (!decoder) throw std::bad_alloc();
    if (avcodec_parameters_to_context(decoder.get(), st->codecpar) < 0) continue;
    decoder->pkt_timebase = st->time_base;
    decoder->thread_count = 1;
    // A decoder that will not open says so in FFmpeg's log, which counts.
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0) continue;
    decoders_[index] = std::move(decoder);
  }
}

void StreamDamageCheck::check(const AVPacket& packet, int stream) {
  const auto it = decoders_.find(stream);
  if (it == decoders_.end()) return;
  AVCodecContext* decoder = it->second.get();
  if (decoder->codec_type == AVMEDIA_TYPE_SUBTITLE) {
    AVSubtitle subtitle{};
    int got = 0;
    const int err = avcodec_decode_subtitle2(decoder, &subtitle, &got, const_cast<AVPacket*>(&packet));
    if (got != 0) avsubtitle_free(&subtitle);
    if (err < 0) damage_.decode_error(err);
    return;
  }
  const int err = avcodec_send_packet(decoder, &packet);
  if (err == AVERROR(ENOMEM)) throw std::bad_alloc();
  if (err < 0 && err != AVERROR(EAGAIN)) damage_.decode_error(err);
  receive(decoder);
}

void StreamDamageCheck::receive(AVCodecContext* decoder) {
  const int failures = drain_decoder([&] { return avcodec_receive_frame(decoder, frame_.get()); },
                                     [&] {
                                       if (frame_->decode_error_flags != 0 || (frame_->flags & AV_FRAME_FLAG_CORRUPT))
                                         damage_.decode_error(AVERROR_INVALIDDATA);
                                       av_frame_unref(frame_.get());
                                       return false;
                                     });
  if (failures > 0) damage_.decode_error(AVERROR_INVALIDDATA);
}

void StreamDamageCheck::finish() {
  for (auto& [index, decoder] : decoders_) {
    if (decoder->codec_type != AVMEDIA_TYPE_AUDIO) continue;
    if (avcodec_send_packet(decoder.get(), nullptr) >= 0) receive(decoder.get());
  }
}
