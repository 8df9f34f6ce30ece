// Composing and writing the comparison picture.
#include "cli/compare/compare_picture.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "cli/compare/bitmap_font.h"
#include "cli/cli_error.h"
#include "cli/output/output_io.h"

namespace {

constexpr uint32_t kStripColour = 0x202020u;
constexpr uint32_t kTextColour = 0xFFFFFFu;

int label_scale(int panel_width) { return std::clamp(panel_width / 240, 1, 8); }

}  // namespace

int label_strip_height(int panel_width) { return (kGlyphHeight + 4) * label_scale(panel_width); }

HostFrame compose_comparison(const HostFrame panels[3], const std::string labels[3]) {
  const int w = panels[0].width(), h = panels[0].height();
  const int strip = label_strip_height(w);
  const int scale = label_scale(w);
  HostFrame out(3 * w, h + strip);
  for (int y = 0; y < h; ++y)
    for (int p = 0; p < 3; ++p)
      std::memcpy(out.picture_row(y) + size_t(p) * size_t(w), panels[p].picture_row(y), size_t(w) * 4);
  // The strip is drawn top-down, then copied in under the panels.
  std::vector<uint32_t> strip_pixels(size_t(out.width()) * size_t(strip), kStripColour);
  for (int p = 0; p < 3; ++p) {
    const int text_width = int(labels[p].size()) * kCellWidth * scale - scale;
    const int left = p * w + std::max(scale, (w - text_width) / 2);
    draw_text(strip_pixels.data(), out.width(), strip, left, 2 * scale, p * w, (p + 1) * w, labels[p], scale,
              kTextColour);
  }
  for (int y = 0; y < strip; ++y)
    std::memcpy(out.picture_row(h + y), strip_pixels.data() + size_t(y) * size_t(out.width()), size_t(out.width()) * 4);
  return out;
}

bool is_picture_name(const std::string& name) {
  const AVOutputFormat* f = av_guess_format(nullptr, name.c_str(), nullptr);
  return f != nullptr && std::strcmp(f->name, "image2") == 0 && name.find('%') == std::string::npos;
}

void write_picture(TempOutput& file, const std::string& target, const HostFrame& picture) {
  const std::string quoted = "'" + target + "'";
  auto fail = [&](int err) { return CliError("cannot write " + quoted + ": " + av_error_text(err)); };
  const AVOutputFormat* container = av_guess_format(nullptr, target.c_str(), nullptr);
  const AVCodecID id = av_guess_codec(container, nullptr, target.c_str(), nullptr, AVMEDIA_TYPE_VIDEO);
  const AVCodec* codec = avcodec_find_encoder(id);
  if (codec == nullptr) throw CliError("this FFmpeg cannot write pictures like " + quoted);
  int loss = 0;
  const AVPixelFormat format =
      supported_pixel_formats(codec) ? avcodec_find_best_pix_fmt_of_list(supported_pixel_formats(codec), AV_PIX_FMT_BGR0, 0, &loss) : AV_PIX_FMT_BGR0;
  const bool jpeg = id == AV_CODEC_ID_MJPEG;

  CodecContextPtr encoder(avcodec_alloc_context3(codec));
  if (!encoder) throw std::bad_alloc();
  encoder->width = picture.width();
  encoder->height = picture.height();
  encoder->pix_fmt = format;
  encoder->time_base = AVRational{1, 25};
  encoder->color_range = jpeg ? AVCOL_RANGE_JPEG : AVCOL_RANGE_UNSPECIFIED;
  if (jpeg) {
    encoder->flags |= AV_CODEC_FLAG_QSCALE;
    encoder->global_quality = 2 * FF_QP2LAMBDA;
  }
  int err = avcodec_open2(encoder.get(), codec, nullptr);
  if (err < 0) throw fail(err);

  FramePtr frame = make_frame();
  frame->format = format;
  frame->width = picture.width();
  frame->height = picture.height();
  frame->pts = 0;
  if (av_frame_get_buffer(frame.get(), 0) < 0) throw std::bad_alloc();
  FromHostConverter convert(format, ColourFacts{AVCOL_SPC_UNSPECIFIED, encoder->color_range});
  convert.convert(picture, nullptr, *frame);

  AVFormatContext* muxer = nullptr;
  err = avformat_alloc_output_context2(&muxer, container, nullptr, target.c_str());
  if (err < 0) throw fail(err);
  std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> muxer_owner(muxer, avformat_free_context);
  MuxerOutput io(muxer, file);  // after the muxer, so freed before it
  AVStream* st = avformat_new_stream(muxer, nullptr);
  if (st == nullptr) throw std::bad_alloc();
  err = avcodec_parameters_from_context(st->codecpar, encoder.get());
  if (err < 0) throw fail(err);
  st->time_base = encoder->time_base;
  err = avformat_write_header(muxer, nullptr);
  if (err < 0) throw fail(err);

  PacketPtr packet = make_packet();
  for (AVFrame* f : {frame.get(), static_cast<AVFrame*>(nullptr)}) {
    err = avcodec_send_frame(encoder.get(), f);
    if (err < 0) throw fail(err);
    while ((err = avcodec_receive_packet(encoder.get(), packet.get())) >= 0) {
      av_packet_rescale_ts(packet.get(), encoder->time_base, st->time_base);
      packet->stream_index = st->index;
      err = av_interleaved_write_frame(muxer, packet.get());
      if (err < 0) throw fail(err);
    }
    if (err != AVERROR(EAGAIN) && err != AVERROR_EOF) throw fail(err);
  }
  err = av_write_trailer(muxer);
  if (err < 0) throw fail(err);
  io.close();
}
