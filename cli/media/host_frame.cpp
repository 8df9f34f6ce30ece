// Conversions between FFmpeg's frames and the host's bottom-up BGRX frames.
#include "cli/media/host_frame.h"

#include <cstring>
#include <new>

extern "C" {
#include <libavutil/cpu.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}
#include "cli/cli_error.h"
#include "cli/media/yuv_to_rgb.h"

namespace {

// swscale's full-range default for formats that are full range by nature.
bool full_range_by_nature(AVPixelFormat f) {
  switch (f) {
    case AV_PIX_FMT_YUVJ420P:
    case AV_PIX_FMT_YUVJ422P:
    case AV_PIX_FMT_YUVJ444P:
    case AV_PIX_FMT_YUVJ440P:
    case AV_PIX_FMT_YUVJ411P:
      return true;
    default:
      return false;
  }
}

int sws_matrix(AVColorSpace space) {
  switch (space) {
    case AVCOL_SPC_BT709:
      return SWS_CS_ITU709;
    case AVCOL_SPC_FCC:
      return SWS_CS_FCC;
    case AVCOL_SPC_SMPTE240M:
      return SWS_CS_SMPTE240M;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL:
      return SWS_CS_BT2020;
    default:
      return SWS_CS_DEFAULT;  // BT.601, as FFmpeg assumes when nothing is said
  }
}

// Tells swscale the YUV side's matrix and range; RGB and grey formats keep
// swscale's own defaults (grey is full range there).
void set_colour_details(SwsContext* sws, AVPixelFormat yuv_side, ColourFacts colour, bool yuv_is_source) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(yuv_side);
  if (d == nullptr || (d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) || d->nb_components <= 2) return;
  const int full = is_full_range(yuv_side, colour.range) ? 1 : 0;
  const int* coefficients = sws_getCoefficients(sws_matrix(colour.space));
  const int* rgb = sws_getCoefficients(SWS_CS_DEFAULT);
  const int err = yuv_is_source ? sws_setColorspaceDetails(sws, coefficients, full, rgb, 1, 0, 1 << 16, 1 << 16)
                                : sws_setColorspaceDetails(sws, rgb, 1, coefficients, full, 0, 1 << 16, 1 << 16);
  // Without them the colours would silently be another matrix's.
  if (err < 0)
    throw CliError(std::string("cannot convert ") + av_get_pix_fmt_name(yuv_side) +
                   " pictures with their colour matrix and range");
}

// swscale's result: the height written, or a negative error.
void check_scaled(int result, AVPixelFormat from, AVPixelFormat to) {
  if (result <= 0)
    throw CliError(std::string("cannot convert pictures from ") +
                   (av_get_pix_fmt_name(from) ? av_get_pix_fmt_name(from) : "unknown") + " to " +
                   (av_get_pix_fmt_name(to) ? av_get_pix_fmt_name(to) : "unknown") + " (" + av_error_text(result) + ")");
}

FramePtr buffer_frame(AVPixelFormat format, int width, int height) {
  FramePtr f = make_frame();
  f->format = format;
  f->width = width;
  f->height = height;
  if (av_frame_get_buffer(f.get(), 0) < 0) throw std::bad_alloc();
  return f;
}

// 8-bit planar YUV without alpha: log2 of its chroma subsampling (4:2:0,
// 4:2:2 or 4:4:4), or false for any other format.
bool planar_yuv8(AVPixelFormat f, int& log2_w, int& log2_h) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(f);
  if (d == nullptr || d->nb_components != 3 || !(d->flags & AV_PIX_FMT_FLAG_PLANAR) ||
      (d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_BE | AV_PIX_FMT_FLAG_PAL)) || d->comp[0].depth != 8 ||
      d->comp[1].plane != 1 || d->comp[2].plane != 2)
    return false;
  log2_w = d->log2_chroma_w;
  log2_h = d->log2_chroma_h;
  return log2_w <= 1 && log2_h <= log2_w;
}

// The quick way in: velbrin's own integer conversion, writing the host's
// bottom-up frame through its top row and a negative pitch. False when it
// does not serve the frame (a format or matrix it does not know).
bool quick_to_host(const AVFrame& in, HostFrame& out) {
  const auto format = static_cast<AVPixelFormat>(in.format);
  int sx = 0, sy = 0;
  if (!planar_yuv8(format, sx, sy)) return false;
  const std::optional<YuvToRgbMatrix> m = yuv_to_rgb_matrix(in.colorspace, is_full_range(format, in.color_range));
  if (!m) return false;
  const YuvSource source{{in.data[0], in.data[1], in.data[2]}, {in.linesize[0], in.linesize[1], in.linesize[2]}, sx, sy};
  YuvToRgb::convert(source, out.width(), out.height(), *m, out.picture_row(0), -ptrdiff_t(out.width()));
  return true;
}

}  // namespace

bool is_full_range(AVPixelFormat yuv, AVColorRange range) {
  if (range == AVCOL_RANGE_JPEG) return true;
  if (range == AVCOL_RANGE_MPEG) return false;
  return full_range_by_nature(yuv);
}

void use_plain_conversions() {
  av_force_cpu_flags(0);
  YuvToRgb::use_plain_code(true);
  RgbToYuv::use_plain_code(true);
}

bool format_has_alpha(AVPixelFormat f) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(f);
  return d != nullptr && (d->flags & AV_PIX_FMT_FLAG_ALPHA) != 0;
}

bool format_is_grey(AVPixelFormat f) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(f);
  return d != nullptr && !(d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) && d->nb_components <= 2;
}

bool format_is_rgb(AVPixelFormat f) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(f);
  return d != nullptr && (d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) != 0;
}

HostFrame::HostFrame(int width, int height) : width_(width), height_(height) {
  if (width <= 0 || height <= 0 || av_image_check_size(unsigned(width), unsigned(height), 0, nullptr) < 0)
    throw CliError("frame size " + std::to_string(width) + "x" + std::to_string(height) + " is not supported");
  words_.reset(static_cast<uint32_t*>(av_malloc(size_t(width) * size_t(height) * 4)));
  if (!words_) throw std::bad_alloc();
}

// swscale writes and reads the host's bottom-up frames directly, through a
// pointer to the top picture row and a negative pitch, so no top-down copy
// of the frame is needed.
void ToHostConverter::convert(const AVFrame& in, HostFrame& out) {
  const auto format = static_cast<AVPixelFormat>(in.format);
  const size_t row_bytes = size_t(out.width()) * 4;
  // Already the host's pixel words: only the row order changes.
  if (format == AV_PIX_FMT_BGRA || format == AV_PIX_FMT_BGR0) {
    for (int y = 0; y < out.height(); ++y)
      std::memcpy(out.picture_row(y), in.data[0] + ptrdiff_t(y) * in.linesize[0], row_bytes);
    return;
  }
  if (quick_ && quick_to_host(in, out)) return;
  const int key[5] = {in.format, in.width, in.height, in.colorspace, in.color_range};
  if (!sws_ || std::memcmp(key, key_, sizeof key) != 0) {
    sws_.reset(sws_getContext(in.width, in.height, format, out.width(), out.height(), AV_PIX_FMT_BGRA, kSwsFlags,
                              nullptr, nullptr, nullptr));
    if (!sws_)
      throw CliError(std::string("cannot convert pictures of pixel format ") +
                     (av_get_pix_fmt_name(format) ? av_get_pix_fmt_name(format) : "unknown"));
    set_colour_details(sws_.get(), format, ColourFacts{in.colorspace, in.color_range}, true);
    std::memcpy(key_, key, sizeof key);
  }
  uint8_t* const planes[4] = {reinterpret_cast<uint8_t*>(out.picture_row(0)), nullptr, nullptr, nullptr};
  const int pitches[4] = {-int(row_bytes), 0, 0, 0};
  check_scaled(sws_scale(sws_.get(), in.data, in.linesize, 0, in.height, planes, pitches), format, AV_PIX_FMT_BGRA);
}

FromHostConverter::FromHostConverter(AVPixelFormat format, ColourFacts colour) : format_(format), colour_(colour) {
  int sx = 0, sy = 0;
  if (planar_yuv8(format, sx, sy)) quick_ = rgb_to_yuv_matrix(colour.space, is_full_range(format, colour.range));
}

void FromHostConverter::convert(const HostFrame& in, const HostFrame* alpha, AVFrame& out) {
  const int w = in.width(), h = in.height();
  // Rows back to top-down order, with the alpha the output keeps.
  auto copy_rows = [&](uint8_t* dst, ptrdiff_t linesize, bool opaque) {
    for (int y = 0; y < h; ++y) {
      auto* row = reinterpret_cast<uint32_t*>(dst + ptrdiff_t(y) * linesize);
      const uint32_t* src = in.picture_row(y);
      if (alpha != nullptr) {
        const uint32_t* a = alpha->picture_row(y);
        for (int x = 0; x < w; ++x) row[x] = (src[x] & 0x00FFFFFFu) | (a[x] & 0xFF000000u);
      } else if (opaque) {
        for (int x = 0; x < w; ++x) row[x] = src[x] | 0xFF000000u;
      } else {
        std::memcpy(row, src, size_t(w) * 4);
      }
    }
  };
  if (format_ == AV_PIX_FMT_BGRA || format_ == AV_PIX_FMT_BGR0) {
    copy_rows(out.data[0], out.linesize[0], format_ == AV_PIX_FMT_BGRA);
    return;
  }
  if (format_ == AV_PIX_FMT_YA8) {
    // swscale's way to grey with alpha rounds the alpha: the grey takes
    // the grey conversion (exact for grey pictures) and the alpha is copied.
    if (!grey_) grey_ = std::make_unique<FromHostConverter>(AV_PIX_FMT_GRAY8, colour_);
    if (!grey_frame_ || grey_frame_->width != w || grey_frame_->height != h)
      grey_frame_ = buffer_frame(AV_PIX_FMT_GRAY8, w, h);
    grey_->convert(in, nullptr, *grey_frame_);
    for (int y = 0; y < h; ++y) {
      const uint8_t* grey = grey_frame_->data[0] + ptrdiff_t(y) * grey_frame_->linesize[0];
      uint8_t* row = out.data[0] + ptrdiff_t(y) * out.linesize[0];
      const uint32_t* a = alpha != nullptr ? alpha->picture_row(y) : nullptr;
      for (int x = 0; x < w; ++x) {
        row[2 * x] = grey[x];
        row[2 * x + 1] = a != nullptr ? uint8_t(a[x] >> 24) : 255;
      }
    }
    return;
  }
  if (quick_ && alpha == nullptr) {
    int sx = 0, sy = 0;
    planar_yuv8(format_, sx, sy);
    const YuvPlanes planes{{out.data[0], out.data[1], out.data[2]},
                           {out.linesize[0], out.linesize[1], out.linesize[2]}, sx, sy};
    rgb_to_yuv_.convert(in.picture_row(0), -ptrdiff_t(w), w, h, *quick_, planes);
    return;
  }
  const AVPixelFormat source = alpha != nullptr ? AV_PIX_FMT_BGRA : AV_PIX_FMT_BGR0;
  const int key[2] = {w, h};
  if (!sws_ || std::memcmp(key, key_, sizeof key) != 0) {
    sws_.reset(sws_getContext(w, h, source, out.width, out.height, format_, kSwsFlags, nullptr, nullptr, nullptr));
    if (!sws_)
      throw CliError(std::string("cannot convert pictures to pixel format ") +
                     (av_get_pix_fmt_name(format_) ? av_get_pix_fmt_name(format_) : "unknown"));
    set_colour_details(sws_.get(), format_, colour_, false);
    std::memcpy(key_, key, sizeof key);
    merged_.reset();
  }
  if (alpha != nullptr) {
    // The filter writes 0 in byte 3; the input's alpha goes in first.
    if (!merged_) merged_ = buffer_frame(AV_PIX_FMT_BGRA, w, h);
    copy_rows(merged_->data[0], merged_->linesize[0], false);
    check_scaled(sws_scale(sws_.get(), merged_->data, merged_->linesize, 0, h, out.data, out.linesize), source, format_);
    return;
  }
  const uint8_t* const planes[4] = {reinterpret_cast<const uint8_t*>(in.picture_row(0)), nullptr, nullptr, nullptr};
  const int pitches[4] = {-w * 4, 0, 0, 0};
  check_scaled(sws_scale(sws_.get(), planes, pitches, 0, h, out.data, out.linesize), source, format_);
}
