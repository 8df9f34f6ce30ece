// What velbrin asks of FFmpeg answers the same on every version it builds
// with: the encoders' formats and rates, a stream's display matrix, and
// which containers hold which audio.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "cli/media/av_helpers.h"

namespace {

template <typename T>
std::vector<T> until(const T* list, T end) {
  std::vector<T> out;
  for (; list != nullptr && !(*list == end); ++list) out.push_back(*list);
  return out;
}

template <typename T>
bool has(const std::vector<T>& list, T value) {
  return std::find(list.begin(), list.end(), value) != list.end();
}

TEST(FfmpegCompat, EncodersListWhatTheyTake) {
  const AVCodec* ffv1 = avcodec_find_encoder(AV_CODEC_ID_FFV1);
  const AVCodec* png = avcodec_find_encoder(AV_CODEC_ID_PNG);
  const AVCodec* aac = avcodec_find_encoder(AV_CODEC_ID_AAC);
  ASSERT_TRUE(ffv1 && png && aac);
  const auto ffv1_formats = until(supported_pixel_formats(ffv1), AV_PIX_FMT_NONE);
  EXPECT_TRUE(has(ffv1_formats, AV_PIX_FMT_BGR0));
  EXPECT_TRUE(has(ffv1_formats, AV_PIX_FMT_YUV420P));
  const auto png_formats = until(supported_pixel_formats(png), AV_PIX_FMT_NONE);
  EXPECT_TRUE(has(png_formats, AV_PIX_FMT_RGBA));
  EXPECT_FALSE(has(png_formats, AV_PIX_FMT_YUV420P));
  // FFmpeg's AAC encoder takes planar floats only, at the usual rates.
  EXPECT_EQ(until(supported_sample_formats(aac), AV_SAMPLE_FMT_NONE), std::vector{AV_SAMPLE_FMT_FLTP});
  const auto rates = until(supported_sample_rates(aac), 0);
  EXPECT_TRUE(has(rates, 48000) && has(rates, 44100) && has(rates, 8000));
  EXPECT_FALSE(has(rates, 12345));
  // Encoders without a list take anything: nullptr, not an empty list.
  const AVCodec* raw = avcodec_find_encoder(AV_CODEC_ID_WRAPPED_AVFRAME);
  ASSERT_NE(raw, nullptr);
  EXPECT_EQ(supported_pixel_formats(raw), nullptr);
}

TEST(FfmpegCompat, StreamSideDataComesBackAsWritten) {
  OutputFormatPtr muxer;
  {
    AVFormatContext* made = nullptr;
    ASSERT_GE(avformat_alloc_output_context2(&made, nullptr, "mp4", nullptr), 0);
    muxer.reset(made);
  }
  AVStream* stream = avformat_new_stream(muxer.get(), nullptr);
  ASSERT_NE(stream, nullptr);
  size_t size = 1;
  EXPECT_EQ(stream_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size), nullptr);
  const int32_t matrix[9] = {0, 65536, 0, -65536, 0, 0, 0, 0, 1 << 30};
  ASSERT_TRUE(add_stream_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, reinterpret_cast<const uint8_t*>(matrix),
                                   sizeof matrix));
  const uint8_t* got = stream_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
  ASSERT_NE(got, nullptr);
  ASSERT_EQ(size, sizeof matrix);
  EXPECT_EQ(std::memcmp(got, matrix, size), 0);
  EXPECT_EQ(stream_side_data(stream, AV_PKT_DATA_STEREO3D, &size), nullptr);
}

// PCM goes into .mp4 as AAC on every FFmpeg (7.1's muxer would take it);
// QuickTime, Matroska and AVI keep it as it is.
TEST(FfmpegCompat, ContainersHoldTheSameAudio) {
  struct Case {
    const char* muxer;
    AVCodecID codec;
    bool held;
  } cases[] = {
      {"mp4", AV_CODEC_ID_PCM_S16LE, false}, {"mp4", AV_CODEC_ID_PCM_F32LE, false},
      {"ipod", AV_CODEC_ID_PCM_S24LE, false}, {"mp4", AV_CODEC_ID_AAC, true},
      {"mov", AV_CODEC_ID_PCM_S16LE, true},   {"matroska", AV_CODEC_ID_PCM_S16LE, true},
      {"avi", AV_CODEC_ID_PCM_S16LE, true},
  };
  for (const Case& c : cases) {
    const AVOutputFormat* f = av_guess_format(c.muxer, nullptr, nullptr);
    ASSERT_NE(f, nullptr) << c.muxer;
    EXPECT_EQ(container_holds(f, c.codec) != 0, c.held) << c.muxer << " " << avcodec_get_name(c.codec);
  }
}

}  // namespace
