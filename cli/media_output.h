// The output side: encodes the filtered frames with the chosen encoder and
// writes them, with the input's audio (copied, or re-encoded where the
// container cannot hold it), into the file.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/audio_transcoder.h"
#include "cli/av_helpers.h"
#include "cli/output_choice.h"
#include "cli/output_io.h"

class MediaInput;
class Progress;
class TempOutput;

// Threads each video encoder runs on: the machine's processor count, at
// least three. Not --threads: x264 gives other bytes for other thread
// counts, and --threads must never change the output (it only narrows the
// processors the run may use). The online processor count is read, which
// narrowing the run's affinity leaves alone.
int encoder_threads();

class MediaOutput {
 public:
  // Opens the encoder and writes the header into `file` (the temporary
  // file(s); `target` names the output in messages), or with `file` null
  // into standard output. Audio streams of the input that
  // the container cannot hold are re-encoded to its usual audio codec, or
  // left out with a warning when there is none.
  MediaOutput(TempOutput* file, const std::string& target, const OutputChoice& choice,
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
  // Flushes the encoders and writes the trailer; `progress`, when given,
  // hears of each frame the flush writes.
  void finish(Progress* progress = nullptr);

  // Lines for the user about what was done for them (audio re-encoded or
  // left out).
  const std::vector<std::string>& notes() const { return notes_; }

  // Frames that have left the encoder into the output so far (an encoder
  // holds some back), and the time of the last of them, in microseconds
  // from the output's start (as ffmpeg's out_time).
  int64_t frames_written() const { return frames_muxed_; }
  int64_t written_time_us() const { return av_rescale_q(muxed_time_, encoder_->time_base, AVRational{1, 1000000}); }

  int width() const { return encoder_->width; }
  int height() const { return encoder_->height; }
  AVPixelFormat pixel_format() const { return encoder_->pix_fmt; }

 private:
  struct AudioRoute {
    AVStream* out = nullptr;
    AVRational from{};  // the input stream's time base
    std::unique_ptr<AudioTranscoder> transcoder;  // null: packets copied
  };

  void create_muxer(const OutputChoice& choice);
  void open_video_encoder(const OutputChoice& choice, const MediaInput& input);
  void add_video_stream(const MediaInput& input);
  void add_audio_streams(const MediaInput& input, const OutputChoice& choice);
  void add_copied_audio(const AVStream* in, int index);
  void add_reencoded_audio(const AVStream* in, int index);
  void open_file();
  void encode(AVFrame* frame, Progress* progress = nullptr);
  void mux(AVPacket* packet, AVRational from, AVStream* stream);
  [[noreturn]] void fail(int err) const;
  // The output's kind in messages: ".mp4", or a stream's format name.
  std::string kind() const;

  TempOutput* file_;
  std::string target_;
  std::string shown_;  // the output in messages: 'NAME', or standard output
  bool picture_;
  bool single_picture_;
  std::function<void(int64_t)> on_frame_;
  OutputFormatPtr muxer_;  // declared first, so the encoders go before it
  std::optional<MuxerOutput> io_;  // the muxer's files, freed before the muxer
  CodecContextPtr encoder_;
  AVStream* video_out_ = nullptr;
  AVRational input_time_base_{};
  AVRational frame_rate_{};
  std::map<int, AudioRoute> audio_;
  std::vector<std::string> notes_;
  int64_t last_pts_ = INT64_MIN;
  int64_t frames_ = 0;         // frames given to the encoder
  int64_t frames_muxed_ = 0;   // video packets written
  int64_t muxed_time_ = 0;     // the latest of their times, in the encoder's time base
  PacketPtr packet_;
};
