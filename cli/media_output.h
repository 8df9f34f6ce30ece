// The output side: chooses container, encoder and pixel format from the
// output's name and the options, then encodes the filtered frames and
// copies the input's audio packets into the file.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/av_helpers.h"
#include "cli/host_frame.h"
#include "cli/output_io.h"

class MediaInput;
class TempOutput;

// What the output is made of, settled before anything is decoded so that
// an impossible request fails at once.
struct OutputChoice {
  const AVOutputFormat* container = nullptr;
  const AVCodec* codec = nullptr;
  AVPixelFormat pixel_format = AV_PIX_FMT_NONE;
  std::vector<std::pair<std::string, std::string>> codec_options;
  bool picture = false;         // pictures, not a video: an image file or an image sequence
  bool single_picture = false;  // one image file: exactly one frame fits
  bool keep_alpha = false;      // the input's alpha is carried over
  bool lossless = false;        // the filtered pixels are stored exactly
  ColourFacts colour;           // matrix and range of a YUV output
  std::string summary;          // e.g. "FFV1 (lossless, bgr0)"
};

struct OutputRequest {
  std::optional<int> crf;
  std::string codec;  // empty: chosen by the container
};

// Throws CliError when the name says no format, or the format cannot hold
// what was asked (with a hint of what to do instead).
OutputChoice choose_output(const std::string& target, const OutputRequest& request, const MediaInput& input);

class MediaOutput {
 public:
  // Opens the encoder and writes the header into `file` (the temporary
  // file(s); `target` names the output in messages). Audio streams of the input that
  // the container cannot hold are left out with a warning.
  MediaOutput(TempOutput& file, const std::string& target, const OutputChoice& choice,
              const MediaInput& input);
  MediaOutput(const MediaOutput&) = delete;
  MediaOutput& operator=(const MediaOutput&) = delete;

  // Called with each frame's number (from 1) before it is written.
  void on_frame(std::function<void(int64_t)> hook) { on_frame_ = std::move(hook); }

  // A frame in the encoder's pixel format, its pts in the input video
  // stream's time base.
  void write_video(AVFrame* frame);
  // A packet of input stream `input_stream`, its timestamps in that
  // stream's time base. Packets of left-out streams are dropped.
  void write_audio(AVPacket* packet, int input_stream);
  // Flushes the encoder and writes the trailer.
  void finish();

  int width() const { return encoder_->width; }
  int height() const { return encoder_->height; }
  AVPixelFormat pixel_format() const { return encoder_->pix_fmt; }

 private:
  void encode(AVFrame* frame);
  void mux(AVPacket* packet, AVRational from, AVStream* stream);

  std::string target_;
  bool picture_;
  bool single_picture_;
  std::function<void(int64_t)> on_frame_;
  OutputFormatPtr muxer_;  // declared first, so the encoder goes before it
  std::optional<MuxerOutput> io_;  // the muxer's files, freed before the muxer
  CodecContextPtr encoder_;
  AVStream* video_out_ = nullptr;
  AVRational input_time_base_{};
  std::map<int, std::pair<AVStream*, AVRational>> audio_map_;
  int64_t last_pts_ = INT64_MIN;
  int64_t frames_ = 0;
  PacketPtr packet_;
};
