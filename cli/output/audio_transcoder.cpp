// Decoding, resampling and encoding one audio stream.
#include "cli/output/audio_transcoder.h"

#include <algorithm>
#include <new>
#include <string>

#include "cli/cli_error.h"
#include "cli/media/decoder_drain.h"

extern "C" {
#include <libavutil/samplefmt.h>
}

namespace {

// The encoder's rate nearest above the input's (or its highest), so no
// sound is lost to a lower rate where it can be helped.
int pick_sample_rate(const AVCodec* codec, int wanted) {
  const int* rates = supported_sample_rates(codec);
  if (rates == nullptr) return wanted;
  int above = 0, highest = 0;
  for (const int* r = rates; *r != 0; ++r) {
    if (*r == wanted) return wanted;
    if (*r > wanted && (above == 0 || *r < above)) above = *r;
    if (*r > highest) highest = *r;
  }
  return above != 0 ? above : highest;
}

}  // namespace

AudioTranscoder::AudioTranscoder(const AVStream* in, const AVCodec* encoder, bool global_header,
                                 const std::string& what)
    : what_(what), input_time_base_(in->time_base), decoded_(make_frame()), packet_(make_packet()) {
  auto fail = [&](const std::string& step, int err) {
    return CliError("cannot " + step + " " + what_ + ": " + av_error_text(err));
  };
  const AVCodec* decoder = avcodec_find_decoder(in->codecpar->codec_id);
  if (decoder == nullptr)
    throw CliError("cannot make " + what_ + ": no decoder for the input's " +
                   avcodec_get_name(in->codecpar->codec_id) + " audio");
  decoder_.reset(avcodec_alloc_context3(decoder));
  if (!decoder_) throw std::bad_alloc();
  int err = avcodec_parameters_to_context(decoder_.get(), in->codecpar);
  if (err >= 0) {
    decoder_->pkt_timebase = in->time_base;
    err = avcodec_open2(decoder_.get(), decoder, nullptr);
  }
  if (err < 0) throw fail("decode the input's audio for", err);

  encoder_.reset(avcodec_alloc_context3(encoder));
  if (!encoder_) throw std::bad_alloc();
  AVCodecContext* e = encoder_.get();
  e->sample_rate = pick_sample_rate(encoder, decoder_->sample_rate);
  e->sample_fmt = supported_sample_formats(encoder) != nullptr ? supported_sample_formats(encoder)[0] : decoder_->sample_fmt;
  if (decoder_->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
    av_channel_layout_default(&e->ch_layout, decoder_->ch_layout.nb_channels);
  else
    av_channel_layout_copy(&e->ch_layout, &decoder_->ch_layout);
  e->time_base = AVRational{1, e->sample_rate};
  e->bit_rate = int64_t(e->ch_layout.nb_channels) * 96000;  // transparent for AAC and Opus
  if (global_header) e->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  err = avcodec_open2(e, encoder, nullptr);
  if (err < 0) throw fail("encode", err);

  SwrContext* swr = nullptr;
  err = swr_alloc_set_opts2(&swr, &e->ch_layout, e->sample_fmt, e->sample_rate, &decoder_->ch_layout,
                            decoder_->sample_fmt, decoder_->sample_rate, 0, nullptr);
  resampler_.reset(swr);
  if (err >= 0) err = swr_init(swr);
  if (err < 0) throw fail("resample the input's audio for", err);
  fifo_.reset(av_audio_fifo_alloc(e->sample_fmt, e->ch_layout.nb_channels, 4096));
  if (!fifo_) throw std::bad_alloc();
}

void AudioTranscoder::send(const AVPacket* packet, const Sink& sink) {
  const int err = avcodec_send_packet(decoder_.get(), packet);
  // A damaged audio packet is skipped, as the video's are (the reader's
  // damage check decodes it too and reports it).
  if (err < 0 && err != AVERROR_EOF) return;
  // The same bounded drain as the video's: a decoder that keeps failing is
  // asked again with the next packet, not forever.
  drain_decoder([&] { return avcodec_receive_frame(decoder_.get(), decoded_.get()); },
                [&] {
                  take_decoded(sink);
                  return false;
                });
}

void AudioTranscoder::take_decoded(const Sink& sink) {
  const int64_t start = decoded_->best_effort_timestamp;
  if (next_pts_ == AV_NOPTS_VALUE) {
    next_pts_ = start == AV_NOPTS_VALUE ? 0 : av_rescale_q(start, input_time_base_, encoder_->time_base);
  } else if (start != AV_NOPTS_VALUE) {
    // A gap in the input stays a gap: filled with silence, so that what
    // follows keeps its time (the encoder's frames are counted, not
    // stamped).
    const int64_t queued_end =
        next_pts_ + av_audio_fifo_size(fifo_.get()) + swr_get_delay(resampler_.get(), encoder_->sample_rate);
    const int64_t gap = av_rescale_q(start, input_time_base_, encoder_->time_base) - queued_end;
    if (gap > frame_size()) pad_with_silence(gap, sink);
  }
  convert(decoded_.get());
  av_frame_unref(decoded_.get());
  encode_from_fifo(false, sink);
}

void AudioTranscoder::convert(const AVFrame* decoded) {
  const int room = swr_get_out_samples(resampler_.get(), decoded != nullptr ? decoded->nb_samples : 0);
  if (room < 0) throw CliError("cannot resample audio for " + what_);
  FramePtr out = make_frame();
  out->format = encoder_->sample_fmt;
  out->sample_rate = encoder_->sample_rate;
  out->nb_samples = room > 0 ? room : 1;
  if (av_channel_layout_copy(&out->ch_layout, &encoder_->ch_layout) < 0 || av_frame_get_buffer(out.get(), 0) < 0)
    throw std::bad_alloc();
  const int got = swr_convert(resampler_.get(), out->data, out->nb_samples,
                              decoded != nullptr ? const_cast<const uint8_t**>(decoded->extended_data) : nullptr,
                              decoded != nullptr ? decoded->nb_samples : 0);
  if (got < 0) throw CliError("cannot resample audio for " + what_);
  if (got > 0 && av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(out->data), got) < got)
    throw std::bad_alloc();
}

int AudioTranscoder::frame_size() const { return encoder_->frame_size > 0 ? encoder_->frame_size : 1024; }

void AudioTranscoder::pad_with_silence(int64_t samples, const Sink& sink) {
  // A piece at a time, encoded as it goes, so a long gap needs no more
  // memory than a short one.
  constexpr int kPiece = 4096;
  FramePtr silence = make_frame();
  silence->format = encoder_->sample_fmt;
  silence->nb_samples = kPiece;
  if (av_channel_layout_copy(&silence->ch_layout, &encoder_->ch_layout) < 0 ||
      av_frame_get_buffer(silence.get(), 0) < 0)
    throw std::bad_alloc();
  av_samples_set_silence(silence->extended_data, 0, kPiece, encoder_->ch_layout.nb_channels, encoder_->sample_fmt);
  for (int64_t left = samples; left > 0; left -= kPiece) {
    const int n = int(std::min<int64_t>(left, kPiece));
    if (av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(silence->extended_data), n) < n)
      throw std::bad_alloc();
    encode_from_fifo(false, sink);
  }
}

void AudioTranscoder::encode_from_fifo(bool final_frame, const Sink& sink) {
  const int frame_size = this->frame_size();
  while (av_audio_fifo_size(fifo_.get()) >= frame_size || (final_frame && av_audio_fifo_size(fifo_.get()) > 0)) {
    const int n = std::min(frame_size, av_audio_fifo_size(fifo_.get()));
    FramePtr frame = make_frame();
    frame->format = encoder_->sample_fmt;
    frame->sample_rate = encoder_->sample_rate;
    frame->nb_samples = n;
    if (av_channel_layout_copy(&frame->ch_layout, &encoder_->ch_layout) < 0 ||
        av_frame_get_buffer(frame.get(), 0) < 0)
      throw std::bad_alloc();
    if (av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(frame->data), n) < n)
      throw CliError("cannot encode " + what_ + ": audio buffer underrun");
    frame->pts = next_pts_ == AV_NOPTS_VALUE ? 0 : next_pts_;
    next_pts_ = frame->pts + n;
    drain(frame.get(), sink);
  }
}

void AudioTranscoder::drain(const AVFrame* frame, const Sink& sink) {
  int err = avcodec_send_frame(encoder_.get(), frame);
  if (err < 0 && err != AVERROR_EOF) throw CliError("cannot encode " + what_ + ": " + av_error_text(err));
  for (;;) {
    err = avcodec_receive_packet(encoder_.get(), packet_.get());
    if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) return;
    if (err < 0) throw CliError("cannot encode " + what_ + ": " + av_error_text(err));
    sink(packet_.get(), encoder_->time_base);
    av_packet_unref(packet_.get());
  }
}

void AudioTranscoder::finish(const Sink& sink) {
  send(nullptr, sink);
  if (next_pts_ != AV_NOPTS_VALUE) {
    convert(nullptr);  // what the resampler still holds
    encode_from_fifo(true, sink);
  }
  drain(nullptr, sink);
}
