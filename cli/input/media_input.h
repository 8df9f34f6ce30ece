// The input side: opens a picture, an image sequence or a video with
// FFmpeg, picks its video stream, opens a decoder for it, and names the
// audio streams that are copied to the output.
#pragma once

// The line for an input FFmpeg has no demuxer for (or whose demuxer gave
// up without a reason of its own).
inline constexpr const char* kNotReadable = "not a picture or video that FFmpeg can read";

#include <string>
#include <vector>

#include "cli/media/av_helpers.h"

class MediaInput {
 public:
  // Throws CliError with one line that says what is wrong with the file.
  explicit MediaInput(const std::string& path);
  MediaInput(const MediaInput&) = delete;
  MediaInput& operator=(const MediaInput&) = delete;

  const std::string& path() const { return path_; }
  AVFormatContext* format() const { return format_.get(); }
  AVStream* video() const { return format_->streams[video_index_]; }
  int video_index() const { return video_index_; }
  const std::vector<int>& audio_indices() const { return audio_indices_; }
  AVCodecContext* decoder() const { return decoder_.get(); }
  // The kind of picture the input holds: the decoder's pixel format, or for
  // an image sequence whose pictures differ, one that holds them all.
  AVPixelFormat pixel_format() const { return pixel_format_; }

  // Whether the video is stored without loss (FFV1, PNG, RGB or lossless
  // H.264, uncompressed, ...), so that writing it lossy would lose detail.
  bool is_lossless() const;

  // The frames the input announces (a sequence's pictures, the shown
  // frames of a container's full index, its count, or its duration at its
  // frame rate), for the progress line's total only: such figures are no
  // evidence of what a decode outputs. -1 when it does not say.
  int64_t frames_announced() const;

  // An image sequence's first missing picture between existing ones, where
  // FFmpeg stops reading it, and how many pictures come before it; an
  // empty name when there is none.
  struct SequenceGap {
    std::string missing;
    int64_t pictures_before = 0;
  };
  SequenceGap sequence_gap() const;

  // The video's frame rate as FFmpeg guesses it (25 when it cannot).
  AVRational frame_rate() const;

  // The input's start, where the output's clock begins: the earliest start
  // of its video and audio streams (as ffmpeg takes it), in microseconds;
  // AV_NOPTS_VALUE when none says.
  int64_t start_time_us() const;

  // What the demuxer opened, and the first other file it asked for.
  struct Opens {
    int (*default_open)(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) = nullptr;
    bool input_opened = false;
    std::string refused;
  };

 private:
  struct IoClose {
    void operator()(AVIOContext* pb) const;
  };

  std::string path_;
  Opens opens_;  // the demuxer's, for as long as it lives
  // The named file, opened here to tell its demuxer (and then read by it);
  // closed after the demuxer.
  std::unique_ptr<AVIOContext, IoClose> input_file_;
  InputFormatPtr format_;
  int video_index_ = -1;
  std::vector<int> audio_indices_;
  CodecContextPtr decoder_;
  AVPixelFormat pixel_format_ = AV_PIX_FMT_NONE;
};
