// What becomes of each stream of the input besides the filtered video:
// copied as it is, converted (text subtitles into the container's text
// format), re-encoded (audio into the container's usual codec), or left
// out because the container cannot hold it. Decided from what the muxer
// says it holds, before anything is written, so that everything left out
// can be named in one note.
#pragma once

#include <string>
#include <vector>

#include "cli/media/av_helpers.h"

enum class StreamWay {
  kCopy,       // packets copied as they are
  kConvert,    // text subtitles converted to `to`
  kReencode,   // audio re-encoded with `encoder`
  kTimecode,   // a timecode track: it goes along as the video's timecode
  kLeaveOut,   // the container cannot hold it
};

struct StreamRoute {
  int index = -1;  // the input stream
  AVMediaType type = AVMEDIA_TYPE_UNKNOWN;
  StreamWay way = StreamWay::kLeaveOut;
  const AVCodec* encoder = nullptr;  // kConvert, kReencode
  // kLeaveOut: what the container cannot hold ("ass subtitles", "audio").
  std::string cannot_hold;
};

struct StreamWishes {
  bool audio = true;       // false: -an
  bool subtitles = true;   // false: -sn
  bool pictures = false;   // the output is pictures: they hold nothing but the video
  // false: a range of frames. Another video stream, cut there in the
  // middle of its groups of pictures, could not be decoded: it is left out.
  bool whole = true;
};

// The routes of every input stream other than `video_index` that the
// wishes allow, in input order.
std::vector<StreamRoute> map_streams(const AVFormatContext* input, int video_index, const AVOutputFormat* container,
                                     const StreamWishes& wishes);

// The one note for what was left out ("1 subtitle stream and 1 attachment
// left out: .mp4 files cannot hold attachments; use .mkv"), or "" when
// nothing was. `holder` names the output's kind (".mp4 files",
// "pictures"); `matroska_holds_all`: suggest .mkv. `chapters` counts the
// input's chapters that were left out.
std::string left_out_note(const std::vector<StreamRoute>& routes, int chapters, const std::string& holder,
                          bool matroska_holds_all);
