// Copied audio and subtitle packets go into the output as they are, so no
// encoder ever looks at them: each copied stream gets a decoder of its own
// here, run on the reader's thread as the packets pass, so that a damaged
// packet is reported (exit status 3) whatever the output container does
// with it. Decoding audio costs little next to the video's work.
#pragma once

#include <map>
#include <vector>

#include "cli/media/av_helpers.h"

class InputDamage;

class CopiedStreamCheck {
 public:
  // Decoders for the input streams `streams` that are audio or subtitles
  // (others are not decoded); a stream without a decoder is not checked.
  CopiedStreamCheck(const AVFormatContext* input, const std::vector<int>& streams, InputDamage& damage);

  // One packet of input stream `stream` on its way to the output.
  void check(const AVPacket& packet, int stream);
  // At the end of the input: what the decoders still hold.
  void finish();

 private:
  void receive(AVCodecContext* decoder);

  InputDamage& damage_;
  std::map<int, CodecContextPtr> decoders_;
  FramePtr frame_;
};
