// Decoding a text subtitle packet and encoding it in another text format.
#include "cli/output/subtitle_converter.h"

#include <cstring>
#include <new>

#include "cli/cli_error.h"

namespace {

struct SubtitleFree {
  void operator()(AVSubtitle* s) const { avsubtitle_free(s); }
};

}  // namespace

SubtitleConverter::SubtitleConverter(const AVStream* in, const AVCodec* encoder, const std::string& what)
    : what_(what), buffer_(1 << 16) {
  const AVCodec* decoder = avcodec_find_decoder(in->codecpar->codec_id);
  if (decoder == nullptr)
    throw CliError("cannot make " + what_ + ": no decoder for " + avcodec_get_name(in->codecpar->codec_id));
  decoder_.reset(avcodec_alloc_context3(decoder));
  encoder_.reset(avcodec_alloc_context3(encoder));
  if (!decoder_ || !encoder_) throw std::bad_alloc();
  int err = avcodec_parameters_to_context(decoder_.get(), in->codecpar);
  if (err >= 0) {
    decoder_->pkt_timebase = in->time_base;
    err = avcodec_open2(decoder_.get(), decoder, nullptr);
  }
  if (err < 0) throw CliError("cannot decode the input's subtitles for " + what_ + ": " + av_error_text(err));
  // Encoders of text subtitles start from the decoder's ASS header (the
  // styles), as every text subtitle decoder gives one.
  AVCodecContext* e = encoder_.get();
  e->time_base = in->time_base;
  if (decoder_->subtitle_header != nullptr && decoder_->subtitle_header_size > 0) {
    e->subtitle_header = static_cast<uint8_t*>(av_mallocz(size_t(decoder_->subtitle_header_size) + 1));
    if (e->subtitle_header == nullptr) throw std::bad_alloc();
    std::memcpy(e->subtitle_header, decoder_->subtitle_header, size_t(decoder_->subtitle_header_size));
    e->subtitle_header_size = decoder_->subtitle_header_size;
  }
  err = avcodec_open2(e, encoder, nullptr);
  if (err < 0) throw CliError("cannot encode " + what_ + ": " + av_error_text(err));
}

bool SubtitleConverter::convert(const AVPacket& in, AVPacket& out) {
  AVSubtitle decoded{};
  int got = 0;
  if (avcodec_decode_subtitle2(decoder_.get(), &decoded, &got, const_cast<AVPacket*>(&in)) < 0 || got == 0)
    return false;
  std::unique_ptr<AVSubtitle, SubtitleFree> held(&decoded);
  if (decoded.num_rects == 0) return false;
  const int size = avcodec_encode_subtitle(encoder_.get(), buffer_.data(), int(buffer_.size()), &decoded);
  if (size < 0) throw CliError("cannot encode " + what_ + ": " + av_error_text(size));
  if (size == 0) return false;
  av_packet_unref(&out);
  if (av_new_packet(&out, size) < 0) throw std::bad_alloc();
  std::memcpy(out.data, buffer_.data(), size_t(size));
  out.pts = in.pts;
  out.dts = in.dts;
  out.duration = in.duration;
  out.flags = AV_PKT_FLAG_KEY;
  return true;
}
