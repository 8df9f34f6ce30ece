// Which streams an output container takes, converts or leaves out, on
// made-up inputs (no media): the muxers' own answers, and the note that
// names what was left out.
#include <gtest/gtest.h>

#include <memory>

#include "cli/output/stream_map.h"

namespace {

struct FormatFree {
  void operator()(AVFormatContext* f) const { avformat_free_context(f); }
};

// An input of a video stream (index 0) and one stream of each given kind.
std::unique_ptr<AVFormatContext, FormatFree> input_of(const std::vector<std::pair<AVMediaType, AVCodecID>>& streams) {
  std::unique_ptr<AVFormatContext, FormatFree> f(avformat_alloc_context());
  std::vector<std::pair<AVMediaType, AVCodecID>> all = {{AVMEDIA_TYPE_VIDEO, AV_CODEC_ID_H264}};
  all.insert(all.end(), streams.begin(), streams.end());
  for (const auto& [type, id] : all) {
    AVStream* st = avformat_new_stream(f.get(), nullptr);
    st->codecpar->codec_type = type;
    st->codecpar->codec_id = id;
  }
  return f;
}

const char* way_name(StreamWay way) {
  switch (way) {
    case StreamWay::kCopy: return "copy";
    case StreamWay::kConvert: return "convert";
    case StreamWay::kReencode: return "reencode";
    case StreamWay::kTimecode: return "timecode";
    case StreamWay::kLeaveOut: return "leave out";
  }
  return "?";
}

TEST(StreamMap, WhatEachContainerTakes) {
  constexpr AVMediaType kA = AVMEDIA_TYPE_AUDIO, kS = AVMEDIA_TYPE_SUBTITLE, kT = AVMEDIA_TYPE_ATTACHMENT,
                        kV = AVMEDIA_TYPE_VIDEO;
  const struct {
    const char* container;
    AVMediaType type;
    AVCodecID codec;
    const char* way;
    const char* to;  // the encoder of a conversion, or what cannot be held
  } cases[] = {
      {"matroska", kS, AV_CODEC_ID_SUBRIP, "copy", ""},
      {"matroska", kS, AV_CODEC_ID_HDMV_PGS_SUBTITLE, "copy", ""},
      {"matroska", kT, AV_CODEC_ID_TTF, "copy", ""},
      {"matroska", kV, AV_CODEC_ID_MJPEG, "copy", ""},
      {"mp4", kS, AV_CODEC_ID_SUBRIP, "convert", "mov_text"},
      {"mp4", kS, AV_CODEC_ID_ASS, "convert", "mov_text"},
      {"mp4", kS, AV_CODEC_ID_HDMV_PGS_SUBTITLE, "leave out", "hdmv_pgs_subtitle subtitles"},
      {"mp4", kT, AV_CODEC_ID_TTF, "leave out", "attachments"},
      {"mp4", kA, AV_CODEC_ID_PCM_S16LE, "reencode", "aac"},
      {"webm", kS, AV_CODEC_ID_ASS, "convert", "webvtt"},
      {"webm", kT, AV_CODEC_ID_TTF, "leave out", "attachments"},
      {"webm", kV, AV_CODEC_ID_MJPEG, "leave out", "mjpeg video"},
      {"avi", kS, AV_CODEC_ID_SUBRIP, "leave out", "subtitles"},
      {"avi", kA, AV_CODEC_ID_PCM_S16LE, "copy", ""},
      {"yuv4mpegpipe", kA, AV_CODEC_ID_AAC, "leave out", "audio"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.container) + " " + avcodec_get_name(c.codec));
    const auto in = input_of({{c.type, c.codec}});
    const std::vector<StreamRoute> routes = map_streams(in.get(), 0, av_guess_format(c.container, nullptr, nullptr), {});
    ASSERT_EQ(routes.size(), 1u);
    EXPECT_EQ(routes[0].index, 1);
    EXPECT_STREQ(way_name(routes[0].way), c.way);
    EXPECT_EQ(routes[0].encoder != nullptr ? routes[0].encoder->name : routes[0].cannot_hold, c.to);
  }
}

// -an, -sn and pictures; the timecode track; the one note.
TEST(StreamMap, WishesAndTheNote) {
  const auto in = input_of({{AVMEDIA_TYPE_AUDIO, AV_CODEC_ID_AAC},
                            {AVMEDIA_TYPE_SUBTITLE, AV_CODEC_ID_ASS},
                            {AVMEDIA_TYPE_SUBTITLE, AV_CODEC_ID_HDMV_PGS_SUBTITLE},
                            {AVMEDIA_TYPE_ATTACHMENT, AV_CODEC_ID_TTF},
                            {AVMEDIA_TYPE_ATTACHMENT, AV_CODEC_ID_OTF},
                            {AVMEDIA_TYPE_DATA, AV_CODEC_ID_NONE}});
  in->streams[6]->codecpar->codec_tag = MKTAG('t', 'm', 'c', 'd');
  const AVOutputFormat* mp4 = av_guess_format("mp4", nullptr, nullptr);
  EXPECT_EQ(map_streams(in.get(), 0, mp4, {false, true, false}).size(), 5u);   // -an
  EXPECT_EQ(map_streams(in.get(), 0, mp4, {true, false, false}).size(), 4u);   // -sn
  const std::vector<StreamRoute> routes = map_streams(in.get(), 0, mp4, {});
  ASSERT_EQ(routes.size(), 6u);
  EXPECT_EQ(routes[5].way, StreamWay::kTimecode);
  EXPECT_EQ(left_out_note(routes, 0, ".mp4 files", true),
            "1 subtitle stream and 2 attachments left out: .mp4 files cannot hold hdmv_pgs_subtitle subtitles or "
            "attachments; use .mkv");
  const std::vector<StreamRoute> pictures = map_streams(in.get(), 0, mp4, {true, true, true});
  EXPECT_EQ(left_out_note(pictures, 3, "pictures", false),
            "1 audio stream, 2 subtitle streams, 1 data stream, 2 attachments and 3 chapters left out: pictures "
            "cannot hold audio, subtitles, data streams, attachments or chapters");
  EXPECT_EQ(left_out_note(map_streams(in.get(), 0, av_guess_format("matroska", nullptr, nullptr), {}), 0, ".mkv files",
                          false),
            "");  // A range of frames leaves another video stream out: cut in the middle of
  // its groups of pictures, it could not be decoded.
  const auto two_videos = input_of({{AVMEDIA_TYPE_VIDEO, AV_CODEC_ID_H264}});
  const AVOutputFormat* mkv = av_guess_format("matroska", nullptr, nullptr);
  EXPECT_EQ(map_streams(two_videos.get(), 0, mkv, {}).size(), 1u);
  EXPECT_EQ(map_streams(two_videos.get(), 0, mkv, {true, true, false, false}).size(), 0u);
}

}  // namespace
