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

#include "cli/media/av_helpers.h"

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
// about three times the conversion and measured no closer to the source
// (see the README).
constexpr int kSwsFlags = SWS_BICUBIC | SWS_ACCURATE_RND | SWS_BITEXACT;

// Decoded frame (any pixel format) to BGRA in the host's layout. 8-bit RGB
// formats convert exactly; YUV uses the frame's colour matrix and range.
// Byte 3 holds the input's alpha (255 when it has none); the filter ignores it.
class ToHostConverter {
 public:
  void convert(const AVFrame& in, HostFrame& out);

 private:
  SwsPtr sws_;
  int key_[5] = {-1, -1, -1, -1, -1};
};

// Host frame to a frame of the encoder's pixel format. When `alpha` is given,
// its byte 3 becomes the output's alpha (the filter writes 0 there).
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
};

// Whether a pixel format stores alpha; whether it is grey only.
bool format_has_alpha(AVPixelFormat f);
bool format_is_grey(AVPixelFormat f);
bool format_is_rgb(AVPixelFormat f);
