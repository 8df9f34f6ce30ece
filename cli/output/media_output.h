// The output side: encodes the filtered frames with the chosen encoder and
// writes them into the file with every other stream of the input the
// container can hold (audio copied or re-encoded, subtitles copied or
// converted, attachments, other video streams copied), the chapters and
// the metadata.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/output/audio_transcoder.h"
#include "cli/output/constant_rate.h"
#include "cli/media/av_helpers.h"
#include "cli/output/output_choice.h"
#include "cli/output/output_io.h"
#include "cli/output/stream_map.h"
#include "cli/output/subtitle_converter.h"

class MediaInput;
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
  // into standard output. Streams of the input that the container cannot
  // hold are converted (audio, text subtitles) where it can, or left out,
  // named in one note.
  MediaOutput(TempOutput* file, const std::string& target, const OutputChoice& choice,
              const MediaInput& input);
  MediaOutput(const MediaOutput&) = delete;
  MediaOutput& operator=(const MediaOutput&) = delete;

  // A frame in the encoder's pixel format, its pts in the input video
  // stream's time base.
  void write_video(AVFrame* frame);
  // A packet of input stream `input_stream` (audio, subtitles, ...), its
  // timestamps in that stream's time base. Packets of left-out streams are
  // dropped.
  void write_packet(AVPacket* packet, int input_stream);

  // The input streams whose packets the output takes.
  std::vector<int> packet_streams() const;
  // At the end: takes one more of the frames the encoder holds back (the
  // first call tells it no more frames come) and writes it; false once
  // none is left. Calling it in a loop lets the caller report each frame.
  bool drain_encoder();
  // Drains the encoders and writes the trailer.
  void finish();

  // Lines for the user about what was done for them (audio re-encoded,
  // streams left out).
  const std::vector<std::string>& notes() const { return notes_; }

  // After the run, what a container that holds a constant frame rate
  // needed to keep the timing (".y4m holds a constant frame rate: 12 frames
  // repeated, 3 dropped to keep the timing"); "" when nothing.
  std::string timing_note() const;

  // Frames that have left the encoder into the output so far (an encoder
  // holds some back), and the time of the last of them, in microseconds
  // from the output's start (as ffmpeg's out_time).
  int64_t frames_written() const { return frames_muxed_; }
  int64_t written_time_us() const { return av_rescale_q(muxed_time_, encoder_->time_base, AVRational{1, 1000000}); }

  int width() const { return encoder_->width; }
  int height() const { return encoder_->height; }
  AVPixelFormat pixel_format() const { return encoder_->pix_fmt; }

 private:
  struct Route {
    AVStream* out = nullptr;
    AVRational from{};  // the input stream's time base
    std::unique_ptr<AudioTranscoder> transcoder;  // audio re-encoded
    std::unique_ptr<SubtitleConverter> converter;  // subtitles converted
    // neither: packets copied
  };

  void create_muxer(const OutputChoice& choice);
  void open_video_encoder(const OutputChoice& choice, const MediaInput& input);
  void add_video_stream(const MediaInput& input, int64_t first_frame);
  void add_streams(const MediaInput& input, const OutputChoice& choice);
  void add_copied(const AVStream* in, int index);
  void add_reencoded_audio(const AVStream* in, int index, const AVCodec* encoder);
  void add_converted_subtitles(const AVStream* in, int index, const AVCodec* encoder);
  AVStream* new_stream_like(const AVStream* in);
  // Chapters the container cannot hold (0 when they went in).
  int add_chapters(const MediaInput& input, const OutputChoice& choice);
  void open_file();
  void write_at_constant_rate(AVFrame* frame);
  // The frame at `pts` (encoder time base) into the encoder.
  void give_encoder(AVFrame* frame, int64_t pts);
  void encode(AVFrame* frame);
  bool receive_packet();  // one packet out of the video encoder, written; false when none
  void mux(AVPacket* packet, AVRational from, AVStream* stream);
  [[noreturn]] void fail(int err) const;
  // The output's kind in messages: ".mp4", or a stream's format name.
  std::string format_name() const;

  TempOutput* file_;
  std::string target_;
  std::string shown_;  // the output in messages: 'NAME', or standard output
  bool writes_pictures_;
  bool writes_one_picture_;
  OutputFormatPtr muxer_;  // declared before the I/O and the encoders, so it is freed after them
  std::optional<MuxerOutput> io_;  // the muxer's files, freed before the muxer
  CodecContextPtr encoder_;
  AVStream* video_out_ = nullptr;
  AVRational input_time_base_{};
  AVRational frame_rate_{};
  std::map<int, Route> routes_;
  std::vector<std::string> notes_;
  int64_t last_pts_ = INT64_MIN;
  std::map<int64_t, int64_t> durations_;  // frames in the encoder: pts -> duration, encoder time base
  int64_t frames_ = 0;         // frames given to the encoder
  int64_t frames_muxed_ = 0;
  bool draining_ = false;   // video packets written
  int64_t muxed_time_ = 0;     // the latest of their times, in the encoder's time base
  PacketPtr packet_;
  bool constant_rate_ = false;  // frames placed by slots_, repeated or dropped to keep the timing
  ConstantRateSlots slots_;
  FramePtr previous_frame_;  // the last frame given, to fill a gap before the next
};
