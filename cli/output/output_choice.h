// What the output is made of: container, encoder, pixel format and encoder
// settings, chosen from the output's name, the options and the input before
// anything is decoded, so that an impossible request fails at once.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/media/av_helpers.h"
#include "cli/media/host_frame.h"

class MediaInput;

struct OutputChoice {
  const AVOutputFormat* container = nullptr;
  const AVCodec* codec = nullptr;
  AVPixelFormat pixel_format = AV_PIX_FMT_NONE;
  std::vector<std::pair<std::string, std::string>> codec_options;
  std::optional<int> crf;             // constant quality, when the encoder is run that way
  std::optional<int> fixed_quantiser;  // a fixed quantiser (JPEG pictures), 1 best
  bool writes_pictures = false;     // pictures, not a video: an image file or an image sequence
  bool writes_one_picture = false;  // one image file: exactly one frame fits
  bool keep_alpha = false;          // the input's alpha is carried over
  bool lossless = false;            // the filtered pixels are stored exactly
  ColourFacts colour;               // matrix and range of a YUV output
  std::vector<std::string> notes;   // lines for the user about choices made for them (odd size, alpha or depth lost)
  bool audio = true;                // the input's audio goes along (where the output holds it)
  bool subtitles = true;            // the input's subtitles go along (where the output holds them)
  bool whole = true;                // a whole run, not --frames: the chapters and other video streams go along
  int64_t first_frame = 0;          // where a range starts: its timecode is the input's there
  bool to_pipe = false;             // written to standard output, which cannot seek
  std::vector<std::pair<std::string, std::string>> muxer_options;  // what the container needs for that
};

struct OutputRequest {
  std::optional<int> crf;
  std::string codec;     // empty: chosen by the container
  bool lossless = false;  // the filter's output stored exactly, whatever the input
  std::string format;     // the container of OUTPUT - (empty: Matroska)
  bool audio = true;      // false: --no-audio
  bool subtitles = true;  // false: --no-subtitles
  bool whole = true;      // false: a range of frames, which the chapters and other video streams do not follow
  int64_t first_frame = 0;  // the range's first frame, where its timecode starts
};

// A target "-" is standard output, in request.format or Matroska.
// Throws CliError when the name says no format, or the format cannot hold
// what was asked (with a hint of what to do instead).
OutputChoice choose_output(const std::string& target, const OutputRequest& request, const MediaInput& input);

// "H.264 yuv420p CRF 16", "FFV1 bgr0 lossless": what was written, for the
// closing line.
std::string describe(const OutputChoice& choice);

// A short name of a codec for messages: "H.264", "FFV1", "VP9".
std::string codec_display_name(AVCodecID id);

// The extension of a file name with its dot (".mkv"), or "".
std::string extension_of(const std::string& target);
