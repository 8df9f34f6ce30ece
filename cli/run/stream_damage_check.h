// Every audio and subtitle stream the output takes is checked for what its
// decoder reports, by one decoder per stream run on the reader's thread as
// the packets pass: copied packets go into the output as they are, and
// the output's own decoders (re-encoded audio, converted subtitles) skip
// what they cannot decode, so this is the one place their damage is
// counted, and exit status 3 does not depend on the output's container.
// Decoding audio costs little next to the video's work.
#pragma once

#include <map>
#include <vector>

#include "cli/media/av_helpers.h"

class InputDamage;

class StreamDamageCheck {
 public:
  // Decoders for the input streams `streams` that are audio or subtitles
  // (other video streams and data are not decoded); a stream without a
  // decoder is not checked.
  StreamDamageCheck(const AVFormatContext* input, const std::vector<int>& streams, InputDamage& damage);

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
