// The input side: opens a picture, an image sequence or a video with
// FFmpeg, picks its video stream, opens a decoder for it, and names the
// audio streams that are copied to the output.
#pragma once

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

  // How much the input promises, to tell afterwards whether all of it could
  // be read. A container that counts its video frames gives `frames`; one
  // that gives only a duration gives where the video ends (microseconds
  // after its start), or, when it knows only the whole file's duration,
  // where the file ends (`whole_file`: the last packet of any stream must
  // reach it, since the audio may run longer than the video), and how far
  // short of that the reading may stop without anything missing. An image
  // sequence counts the pictures that exist, and `first_missing` names the
  // first one missing between them, where FFmpeg stops reading it.
  struct FrameCount {
    int64_t frames = -1;
    int64_t end_us = -1;
    bool whole_file = false;
    int64_t slack_us = 0;
    std::string first_missing;
    // The number of frames, counted or estimated from the duration; -1
    // when unknown.
    int64_t estimate(AVRational rate) const;
  };
  FrameCount expected_frames() const;
  // The video's frame rate as FFmpeg guesses it (25 when it cannot).
  AVRational frame_rate() const;

 private:
  std::string path_;
  InputFormatPtr format_;
  int video_index_ = -1;
  std::vector<int> audio_indices_;
  CodecContextPtr decoder_;
  AVPixelFormat pixel_format_ = AV_PIX_FMT_NONE;
};
