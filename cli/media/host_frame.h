// Frames in the host's layout, and the conversions between them and
// FFmpeg's frames.
//
// The Windows host hands a filter 32-bit pixel words (byte 0 blue, 1 green,
// 2 red) with the picture stored bottom row first and a positive pitch.
// The filter is not mirror-symmetric, so velbrin must use the same layout
// to give the host's result.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "cli/media/av_helpers.h"
#include "cli/media/rgb_to_yuv.h"

class HostFrame {
 public:
  // Bytes of one frame of this size.
  static int64_t bytes(int width, int height) { return int64_t(width) * height * 4; }
  HostFrame(int width, int height);
  int width() const { return width_; }
  int height() const { return height_; }
  uint32_t* words() { return words_.get(); }
  const uint32_t* words() const { return words_.get(); }
  // Row y of the picture, counted from the top.
  uint32_t* picture_row(int y) { return words_.get() + size_t(height_ - 1 - y) * size_t(width_); }
  const uint32_t* picture_row(int y) const { return words_.get() + size_t(height_ - 1 - y) * size_t(width_); }

 private:
  struct Free {
    void operator()(uint32_t* p) const { av_free(p); }
  };
  int width_;
  int height_;
  std::unique_ptr<uint32_t, Free> words_;
};

// Colour facts of the input that the conversions back to YUV reuse.
struct ColourFacts {
  AVColorSpace space = AVCOL_SPC_UNSPECIFIED;
  AVColorRange range = AVCOL_RANGE_UNSPECIFIED;
};

// Flags for every swscale conversion: exact rounding, and results that are
// the same on every processor (with both, swscale's vector code gives the
// bytes of its plain C code). Full-resolution chroma interpolation
// (full_chroma_int, full_chroma_inp) is left out: in this FFmpeg it costs
// about three times the conversion and measured no closer to the source.
constexpr int kSwsFlags = SWS_BICUBIC | SWS_ACCURATE_RND | SWS_BITEXACT;

// Decoded frame (any pixel format) to BGRA in the host's layout. 8-bit RGB
// formats convert exactly; YUV uses the frame's colour matrix and range.
// Byte 3 holds the input's alpha (255 when it has none); the filter ignores it.
//
// Two ways for YUV, both giving the same bytes on every processor:
//  - exact (for lossless outputs and --compare): swscale with kSwsFlags,
//    what `ffmpeg -sws_flags bicubic+accurate_rnd+bitexact -pix_fmt bgra`
//    gives; about 9 ms for a 1080p 4:2:0 frame on one core;
//  - quick (for lossy outputs): velbrin's own integer conversion
//    (yuv_to_rgb.h) for 8-bit 4:2:0, 4:2:2 and 4:4:4 in BT.601, BT.709,
//    BT.2020, FCC and SMPTE 240M, either range (about 1 ms; its plain and
//    vector code agree, which a test checks); chroma is repeated over the
//    pixels it covers, which the box average of the way back undoes.
//    Other formats and matrices take the exact way.
class ToHostConverter {
 public:
  explicit ToHostConverter(bool quick = false) : quick_(quick) {}
  void convert(const AVFrame& in, HostFrame& out);

 private:
  bool quick_;
  SwsPtr sws_;
  int key_[5] = {-1, -1, -1, -1, -1};
};

// Host frame to a frame of the encoder's pixel format. When `alpha` is given,
// its byte 3 becomes the output's alpha (the filter writes 0 there).
// 8-bit planar YUV without alpha goes through RgbToYuv (integer, the same
// on every processor, about 1 ms for 1080p 4:2:0 against swscale's 5.7);
// the rest through swscale with kSwsFlags.
class FromHostConverter {
 public:
  FromHostConverter(AVPixelFormat format, ColourFacts colour);
  void convert(const HostFrame& in, const HostFrame* alpha, AVFrame& out);

 private:
  AVPixelFormat format_;
  ColourFacts colour_;
  SwsPtr sws_;
  int key_[2] = {-1, -1};
  FramePtr merged_;  // the filtered frame with the input's alpha, when kept
  std::unique_ptr<FromHostConverter> grey_;  // grey with alpha: the grey part
  FramePtr grey_frame_;
  std::optional<RgbToYuvMatrix> quick_;  // set when RgbToYuv serves this format
  RgbToYuv rgb_to_yuv_;
};

// Whether a YUV format with these colour facts is full range.
bool is_full_range(AVPixelFormat yuv, AVColorRange range);

// Makes FFmpeg's and velbrin's own conversions use their plain code, as the
// module does with VELBRIN_CPU_MASK=c: for checking that the vector code
// gives the same bytes.
void use_plain_conversions();

// Whether a pixel format stores alpha; whether it is grey only.
bool format_has_alpha(AVPixelFormat f);
bool format_is_grey(AVPixelFormat f);
bool format_is_rgb(AVPixelFormat f);
