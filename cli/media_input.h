// The input side: opens a picture, an image sequence or a video with
// FFmpeg, picks its video stream, opens a decoder for it, and names the
// audio streams that are copied to the output.
#pragma once

#include <string>
#include <vector>

#include "cli/av_helpers.h"

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

  // Frames the video stream is expected to have, or -1 when unknown.
  int64_t expected_frames() const;

 private:
  std::string path_;
  InputFormatPtr format_;
  int video_index_ = -1;
  std::vector<int> audio_indices_;
  CodecContextPtr decoder_;
  AVPixelFormat pixel_format_ = AV_PIX_FMT_NONE;
};
