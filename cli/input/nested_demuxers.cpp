// The demuxers of FFmpeg 5.1 that open inputs of their own. Those that
// take a network address by its scheme (rtp:, rtsp:, sap:) are listed
// although velbrin only ever hands FFmpeg "file:" and "pipe:" names. The
// MP4/MOV demuxer follows external data references only when asked to
// (enable_drefs, off by default) and so is not listed; the guard on the
// demuxer's own opening of files (media_input.cpp) refuses them anyway.
// image2 reads a numbered sequence only when velbrin gives it a pattern.
// imf is marked experimental in 5.1, which probing never chooses; it is
// listed for the versions that may.
#include "cli/input/nested_demuxers.h"

#include <cstring>

namespace {

struct Nested {
  const char* demuxer;
  const char* kind;
};

constexpr Nested kNested[] = {
    {"concat", "a concat list"},
    {"hls", "an HLS playlist"},
    {"dash", "a DASH manifest"},
    {"imf", "an IMF composition"},
    {"sdp", "an SDP session description"},
    {"vobsub", "a VobSub index"},
    {"rtp", "an RTP session"},
    {"rtsp", "an RTSP session"},
    {"sap", "a SAP announcement"},
    {"avisynth", "an AviSynth script"},
    {"vapoursynth", "a VapourSynth script"},
};

}  // namespace

const char* nested_input_kind(const char* name) {
  if (name == nullptr) return nullptr;
  for (const Nested& n : kNested)
    if (std::strcmp(n.demuxer, name) == 0) return n.kind;
  return nullptr;
}
