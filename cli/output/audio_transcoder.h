// Re-encoding one audio stream the output container cannot hold as it is
// (PCM in MP4, AAC in WebM): decoded, resampled where the encoder needs
// another sample rate or format, and encoded to the container's usual
// audio codec, so the sound is kept instead of dropped.
#pragma once

#include <functional>

#include "cli/media/av_helpers.h"

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libswresample/swresample.h>
}

struct SwrFree {
  void operator()(SwrContext* s) const { swr_free(&s); }
};
struct AudioFifoFree {
  void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
};

class AudioTranscoder {
 public:
  // Receives each encoded packet with its time base.
  using Sink = std::function<void(AVPacket* packet, AVRational time_base)>;

  // Opens a decoder for `in` and `encoder` for the output; throws CliError
  // (naming `what`, e.g. "AAC audio for .mp4") when either cannot be opened.
  AudioTranscoder(const AVStream* in, const AVCodec* encoder, bool global_header, const std::string& what);

  // The encoder's parameters, for the output stream.
  const AVCodecContext* encoder() const { return encoder_.get(); }

  // One input packet, timestamps in the input stream's time base.
  void send(const AVPacket* packet, const Sink& sink);
  // Encodes what is left and drains the encoder.
  void finish(const Sink& sink);

 private:
  void take_decoded(const Sink& sink);  // the frame in decoded_, into the encoder
  void convert(const AVFrame* decoded);
  int frame_size() const;  // samples per encoded frame
  void pad_with_silence(int64_t samples, const Sink& sink);
  void encode_from_fifo(bool final_frame, const Sink& sink);
  void drain(const AVFrame* frame, const Sink& sink);

  std::string what_;
  AVRational input_time_base_;
  CodecContextPtr decoder_;
  CodecContextPtr encoder_;
  std::unique_ptr<SwrContext, SwrFree> resampler_;
  std::unique_ptr<AVAudioFifo, AudioFifoFree> fifo_;
  FramePtr decoded_;
  PacketPtr packet_;
  int64_t next_pts_ = AV_NOPTS_VALUE;  // in 1/sample_rate
};
