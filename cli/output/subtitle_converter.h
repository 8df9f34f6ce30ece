// Converting one text subtitle stream into the text format the output
// container keeps (SubRip or ASS into mov_text for MP4, into WebVTT for
// WebM): each packet is decoded into its lines and encoded again, keeping
// its time and duration. Styling the target format lacks is lost, as
// ffmpeg loses it.
#pragma once

#include <string>
#include <vector>

#include "cli/media/av_helpers.h"

class SubtitleConverter {
 public:
  // Opens a decoder for `in` and `encoder`; throws CliError naming `what`
  // when either cannot be opened.
  SubtitleConverter(const AVStream* in, const AVCodec* encoder, const std::string& what);

  const AVCodecContext* encoder() const { return encoder_.get(); }

  // The packet's text in the new format, with the packet's timestamps, in
  // `out`; false when the packet holds nothing to show (or cannot be
  // decoded: the reader's damage check reports that).
  bool convert(const AVPacket& in, AVPacket& out);

 private:
  std::string what_;
  CodecContextPtr decoder_;
  CodecContextPtr encoder_;
  std::vector<uint8_t> buffer_;
};
