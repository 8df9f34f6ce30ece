// Choosing and driving the output: container by the file's extension,
// encoder and pixel format by what the container holds and what the user
// asked for, then encoding and muxing.
#include "cli/media_output.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

extern "C" {
#include <libavutil/display.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include "cli/cli_error.h"
#include "cli/media_input.h"

namespace {

struct EncoderCandidate {
  const char* name;
  std::vector<std::pair<std::string, std::string>> options;
};

// Lossless video encoders in order of preference, each with what makes it
// lossless and reasonably quick. The first one the container can hold and
// that stores 8-bit RGB exactly is used.
const std::vector<EncoderCandidate>& lossless_candidates() {
  static const std::vector<EncoderCandidate> list = {
      {"ffv1", {{"level", "3"}, {"slices", "16"}}},
      {"libx264rgb", {{"qp", "0"}, {"preset", "veryfast"}}},
      {"utvideo", {}},
      {"png", {}},
      {"apng", {}},
      {"libvpx-vp9", {{"lossless", "1"}, {"row-mt", "1"}, {"deadline", "good"}, {"cpu-used", "4"}}},
      {"qtrle", {}},
      {"ffvhuff", {}},
      {"huffyuv", {}},
  };
  return list;
}

// Constant-quality encoders for --crf, in order of preference.
const std::vector<EncoderCandidate>& crf_candidates() {
  static const std::vector<EncoderCandidate> list = {
      {"libx264", {}},
      {"libvpx-vp9", {{"b", "0"}, {"row-mt", "1"}}},
      {"libaom-av1", {{"b", "0"}, {"cpu-used", "6"}}},
  };
  return list;
}

// 1: the container holds the codec; 0: it does not; negative: it cannot tell.
int container_holds(const AVOutputFormat* container, AVCodecID id) {
  return avformat_query_codec(container, id, FF_COMPLIANCE_NORMAL);
}

bool supports(const AVCodec* codec, AVPixelFormat f) {
  if (codec->pix_fmts == nullptr) return true;  // takes any format
  for (const AVPixelFormat* p = codec->pix_fmts; *p != AV_PIX_FMT_NONE; ++p)
    if (*p == f) return true;
  return false;
}

// An 8-bit RGB format the codec takes, so the filtered pixels are stored
// exactly; with `alpha`, only formats that keep it.
AVPixelFormat exact_rgb_format(const AVCodec* codec, bool alpha) {
  static const AVPixelFormat with_alpha[] = {AV_PIX_FMT_BGRA, AV_PIX_FMT_RGBA, AV_PIX_FMT_ARGB, AV_PIX_FMT_ABGR,
                                             AV_PIX_FMT_GBRAP};
  static const AVPixelFormat without[] = {AV_PIX_FMT_BGR0,  AV_PIX_FMT_BGR24, AV_PIX_FMT_RGB24, AV_PIX_FMT_RGB0,
                                          AV_PIX_FMT_0RGB,  AV_PIX_FMT_0BGR,  AV_PIX_FMT_GBRP,  AV_PIX_FMT_BGRA,
                                          AV_PIX_FMT_RGBA,  AV_PIX_FMT_ARGB,  AV_PIX_FMT_ABGR,  AV_PIX_FMT_GBRAP};
  if (alpha) {
    for (AVPixelFormat f : with_alpha)
      if (supports(codec, f)) return f;
    return AV_PIX_FMT_NONE;
  }
  for (AVPixelFormat f : without)
    if (supports(codec, f)) return f;
  return AV_PIX_FMT_NONE;
}

// Formats that hold 8-bit blue, green and red as they are.
bool is_exact_format(AVPixelFormat f) {
  switch (f) {
    case AV_PIX_FMT_BGRA: case AV_PIX_FMT_RGBA: case AV_PIX_FMT_ARGB: case AV_PIX_FMT_ABGR:
    case AV_PIX_FMT_GBRAP: case AV_PIX_FMT_BGR0: case AV_PIX_FMT_BGR24: case AV_PIX_FMT_RGB24:
    case AV_PIX_FMT_RGB0: case AV_PIX_FMT_0RGB: case AV_PIX_FMT_0BGR: case AV_PIX_FMT_GBRP:
      return true;
    default:
      return false;
  }
}

bool lossless_only(const AVCodec* codec) {
  const AVCodecDescriptor* d = avcodec_descriptor_get(codec->id);
  return d != nullptr && (d->props & AV_CODEC_PROP_LOSSLESS) && !(d->props & AV_CODEC_PROP_LOSSY);
}

bool is_full_range_format(AVPixelFormat f) {
  return f == AV_PIX_FMT_YUVJ420P || f == AV_PIX_FMT_YUVJ422P || f == AV_PIX_FMT_YUVJ444P ||
         f == AV_PIX_FMT_YUVJ440P || f == AV_PIX_FMT_YUVJ411P;
}

std::string extension_of(const std::string& target) {
  const size_t slash = target.rfind('/');
  const size_t dot = target.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  return target.substr(dot);
}

}  // namespace

OutputChoice choose_output(const std::string& target, const OutputRequest& request, const MediaInput& input) {
  const std::string quoted = "'" + target + "'";
  const std::string ext = extension_of(target);
  OutputChoice c;
  c.container = av_guess_format(nullptr, target.c_str(), nullptr);
  if (c.container == nullptr || c.container->video_codec == AV_CODEC_ID_NONE)
    throw usage_error("cannot tell a picture or video format from the name " + quoted +
                      " (use an extension such as .mkv, .mp4, .avi, .png or .jpg)");
  c.picture = std::strcmp(c.container->name, "image2") == 0;
  // A name with a frame number ("out%04d.png") is an image sequence.
  char numbered[4096];
  c.single_picture = c.picture && av_get_frame_filename2(numbered, sizeof numbered, target.c_str(), 1, 0) != 0;
  if (c.picture && request.crf)
    throw usage_error("--crf applies to video, not to pictures such as " + quoted);

  const AVPixelFormat in = input.decoder()->pix_fmt;
  const bool alpha = format_has_alpha(in);
  const bool grey = format_is_grey(in);
  const bool yuv_in = in != AV_PIX_FMT_NONE && !grey && !format_is_rgb(in);
  const std::string kind = ext.empty() ? c.container->name : ext;  // ".mkv", for messages

  if (!request.codec.empty()) {
    c.codec = avcodec_find_encoder_by_name(request.codec.c_str());
    if (c.codec == nullptr || c.codec->type != AVMEDIA_TYPE_VIDEO)
      throw usage_error("--codec: no video encoder named '" + request.codec + "' in this FFmpeg");
    if (container_holds(c.container, c.codec->id) == 0)
      throw usage_error("--codec: " + kind + " files cannot hold " + request.codec + " video");
    if (request.crf) c.codec_options.push_back({"crf", std::to_string(*request.crf)});
  } else if (c.picture) {
    const AVCodecID id = av_guess_codec(c.container, nullptr, target.c_str(), nullptr, AVMEDIA_TYPE_VIDEO);
    c.codec = avcodec_find_encoder(id);
    if (c.codec == nullptr)
      throw usage_error("this FFmpeg cannot write " + kind + " pictures (" + avcodec_get_name(id) + ")");
  } else {
    const auto& list = request.crf ? crf_candidates() : lossless_candidates();
    // Containers that know their codecs say yes or no; for the rest, the
    // first encoder present is tried.
    for (int pass = 0; pass < 2 && c.codec == nullptr; ++pass) {
      for (const EncoderCandidate& e : list) {
        const AVCodec* codec = avcodec_find_encoder_by_name(e.name);
        if (codec == nullptr) continue;
        const int holds = container_holds(c.container, codec->id);
        // A container that cannot tell gets only its own default codec.
        if (pass == 0 ? holds != 1 : (holds == 0 || (holds < 0 && codec->id != c.container->video_codec))) continue;
        if (!request.crf && exact_rgb_format(codec, false) == AV_PIX_FMT_NONE) continue;
        c.codec = codec;
        c.codec_options = e.options;
        break;
      }
    }
    if (c.codec == nullptr) {
      if (request.crf)
        throw usage_error(kind + " files cannot hold a video this FFmpeg encodes at constant quality; give --codec NAME");
      throw usage_error(kind + " files cannot hold a lossless video this FFmpeg writes; use .mkv, or give --crf N or --codec NAME for a lossy one");
    }
    if (request.crf) c.codec_options.insert(c.codec_options.begin(), {"crf", std::to_string(*request.crf)});
    c.lossless = !request.crf;
    // FFV1 version 3 with slices encodes on several cores, but this FFmpeg
    // (5.1) stores pictures only a few pixels wide wrongly in it (a 2x1
    // picture comes back black); small pictures get the plain version 1.
    if (input.decoder()->width < 128 || input.decoder()->height < 128)
      std::erase_if(c.codec_options, [](const auto& o) { return o.first == "slices" || o.first == "level"; });
  }

  // Pixel format: exact RGB where the pixels are to be kept exactly, the
  // input's own kind otherwise.
  const bool exact = c.lossless || lossless_only(c.codec);
  if (exact && grey && !alpha && c.picture && supports(c.codec, AV_PIX_FMT_GRAY8)) {
    c.pixel_format = AV_PIX_FMT_GRAY8;  // grey stays grey: the filter keeps the three channels equal
  } else if (exact) {
    c.pixel_format = exact_rgb_format(c.codec, alpha);
    c.keep_alpha = alpha && c.pixel_format != AV_PIX_FMT_NONE;
    if (c.pixel_format == AV_PIX_FMT_NONE) c.pixel_format = exact_rgb_format(c.codec, false);
  }
  if (c.pixel_format == AV_PIX_FMT_NONE) {
    AVPixelFormat like = AV_PIX_FMT_YUV420P;
    if (grey && !alpha) like = AV_PIX_FMT_GRAY8;
    else if (yuv_in) like = in;
    else if (c.picture) like = alpha ? AV_PIX_FMT_BGRA : AV_PIX_FMT_BGR0;
    int loss = 0;
    c.pixel_format = c.codec->pix_fmts ? avcodec_find_best_pix_fmt_of_list(c.codec->pix_fmts, like, alpha, &loss)
                                       : like;
    c.keep_alpha = alpha && format_has_alpha(c.pixel_format);
    if (c.pixel_format == AV_PIX_FMT_NONE)
      throw usage_error("the encoder " + std::string(c.codec->name) + " takes no pixel format velbrin can make");
  }
  c.lossless = exact && (is_exact_format(c.pixel_format) || (grey && c.pixel_format == AV_PIX_FMT_GRAY8));

  // Colour of a YUV output: the input's matrix and range; JPEG is full range.
  c.colour.space = yuv_in ? input.decoder()->colorspace : AVCOL_SPC_UNSPECIFIED;
  if (is_full_range_format(c.pixel_format) || c.codec->id == AV_CODEC_ID_MJPEG)
    c.colour.range = AVCOL_RANGE_JPEG;
  else if (yuv_in && input.decoder()->color_range != AVCOL_RANGE_UNSPECIFIED && !is_full_range_format(in))
    c.colour.range = input.decoder()->color_range;
  else
    c.colour.range = AVCOL_RANGE_MPEG;

  if (c.codec->id == AV_CODEC_ID_MJPEG) c.codec_options.push_back({"qscale", "2"});
  c.summary = std::string(c.codec->name) + ", " + av_get_pix_fmt_name(c.pixel_format) +
              (c.lossless ? ", lossless" : "");
  return c;
}

MediaOutput::MediaOutput(TempOutput& file, const std::string& target, const OutputChoice& choice,
                         const MediaInput& input)
    : target_(target), picture_(choice.picture), single_picture_(choice.single_picture), packet_(make_packet()) {
  const std::string quoted = "'" + target + "'";
  auto fail = [&](int err) { return CliError("cannot write " + quoted + ": " + av_error_text(err)); };
  AVFormatContext* muxer = nullptr;
  // The name is only a pattern for the picture numbers: velbrin opens the files.
  int err = avformat_alloc_output_context2(&muxer, choice.container, nullptr, target.c_str());
  if (err < 0) throw fail(err);
  muxer_.reset(muxer);
  io_.emplace(muxer, file);

  const AVStream* in = input.video();
  const AVCodecContext* dec = input.decoder();
  AVRational rate = av_guess_frame_rate(input.format(), const_cast<AVStream*>(in), nullptr);
  if (rate.num <= 0 || rate.den <= 0) rate = AVRational{25, 1};
  input_time_base_ = in->time_base;
  // Audio is copied as it is, even where its storage in the container is
  // still marked experimental (FLAC or Opus in MP4).
  muxer_->strict_std_compliance = FF_COMPLIANCE_EXPERIMENTAL;
  const bool rgb_out = format_is_rgb(choice.pixel_format);

  // Some encoders accept only time bases they can store; those get 1/rate.
  const AVRational time_bases[2] = {in->time_base, av_inv_q(rate)};
  for (int attempt = 0; attempt < 2; ++attempt) {
    encoder_.reset(avcodec_alloc_context3(choice.codec));
    if (!encoder_) throw std::bad_alloc();
    AVCodecContext* e = encoder_.get();
    e->width = dec->width;
    e->height = dec->height;
    e->pix_fmt = choice.pixel_format;
    e->sample_aspect_ratio = av_guess_sample_aspect_ratio(input.format(), const_cast<AVStream*>(in), nullptr);
    e->framerate = rate;
    e->time_base = time_bases[attempt];
    if (rgb_out) {
      e->colorspace = AVCOL_SPC_RGB;
    } else {
      e->colorspace = choice.colour.space;
      e->color_range = choice.colour.range;
      e->color_primaries = dec->color_primaries;
      e->color_trc = dec->color_trc;
    }
    e->field_order = dec->field_order;
    e->thread_count = 0;
    if (muxer_->oformat->flags & AVFMT_GLOBALHEADER) e->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* options = nullptr;
    for (const auto& [key, value] : choice.codec_options) {
      if (key == "qscale") {
        e->flags |= AV_CODEC_FLAG_QSCALE;
        e->global_quality = std::stoi(value) * FF_QP2LAMBDA;
      } else {
        av_dict_set(&options, key.c_str(), value.c_str(), 0);
      }
    }
    if (av_dict_get(options, "crf", nullptr, 0) != nullptr &&
        av_opt_find(e, "crf", nullptr, 0, AV_OPT_SEARCH_CHILDREN) == nullptr) {
      av_dict_free(&options);
      throw usage_error(std::string("--crf: the encoder ") + choice.codec->name + " has no constant-quality setting");
    }
    err = avcodec_open2(e, choice.codec, &options);
    av_dict_free(&options);
    if (err >= 0) break;
    if (attempt == 1 || av_cmp_q(time_bases[0], time_bases[1]) == 0)
      throw CliError("cannot encode " + quoted + " with " + choice.codec->name + ": " + av_error_text(err));
  }

  video_out_ = avformat_new_stream(muxer_.get(), nullptr);
  if (video_out_ == nullptr) throw std::bad_alloc();
  err = avcodec_parameters_from_context(video_out_->codecpar, encoder_.get());
  if (err < 0) throw fail(err);
  video_out_->time_base = encoder_->time_base;
  video_out_->avg_frame_rate = rate;
  video_out_->sample_aspect_ratio = encoder_->sample_aspect_ratio;
  // The input's display rotation goes with the pictures, which are stored
  // as decoded (the host does not turn them either).
  size_t size = 0;
  if (const uint8_t* m = av_stream_get_side_data(in, AV_PKT_DATA_DISPLAYMATRIX, &size); m != nullptr) {
    if (uint8_t* d = av_stream_new_side_data(video_out_, AV_PKT_DATA_DISPLAYMATRIX, size); d != nullptr)
      std::memcpy(d, m, size);
    // Only the MP4 family of muxers stores it in this FFmpeg.
    const double angle = size >= 9 * sizeof(int32_t) ? av_display_rotation_get(reinterpret_cast<const int32_t*>(m)) : 0;
    const std::string name = muxer_->oformat->name;
    const bool stored = name == "mov" || name == "mp4" || name == "ipod" || name == "ismv" || name == "3gp" ||
                        name == "3g2" || name == "psp";
    if (!std::isnan(angle) && std::lround(angle) % 360 != 0 && !stored)
      std::fprintf(stderr,
                   "velbrin: warning: the input carries a display rotation of %ld degrees, which %s files cannot "
                   "store; the frames are written as stored (use .mp4 or .mov to keep the rotation)\n",
                   std::lround(angle), extension_of(target).c_str());
  }

  // Pictures carry no sound: audio goes only into videos.
  if (!picture_) {
    av_dict_copy(&muxer_->metadata, input.format()->metadata, 0);
    for (int index : input.audio_indices()) {
      const AVStream* a = input.format()->streams[index];
      if (container_holds(muxer_->oformat, a->codecpar->codec_id) == 0) {
        std::fprintf(stderr, "velbrin: warning: %s files cannot hold %s audio; audio stream %d left out\n",
                     extension_of(target).c_str(), avcodec_get_name(a->codecpar->codec_id), index);
        continue;
      }
      AVStream* out = avformat_new_stream(muxer_.get(), nullptr);
      if (out == nullptr) throw std::bad_alloc();
      err = avcodec_parameters_copy(out->codecpar, a->codecpar);
      if (err < 0) throw fail(err);
      out->codecpar->codec_tag = 0;
      out->time_base = a->time_base;
      out->disposition = a->disposition;
      av_dict_copy(&out->metadata, a->metadata, 0);
      audio_map_[index] = {out, a->time_base};
    }
  }

  err = avformat_write_header(muxer_.get(), nullptr);
  if (err < 0) throw fail(err);
}

void MediaOutput::write_video(AVFrame* frame) {
  if (single_picture_ && frames_ >= 1)
    throw usage_error("'" + target_ +
                      "' holds one picture but the input has more frames: choose one with --frames N, or write a "
                      "video such as out.mkv");
  if (frame->width != encoder_->width || frame->height != encoder_->height)
    throw CliError("the input's picture size changes from " + std::to_string(encoder_->width) + "x" +
                   std::to_string(encoder_->height) + " to " + std::to_string(frame->width) + "x" +
                   std::to_string(frame->height) + "; velbrin keeps one size per output");
  int64_t pts = frame->pts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE
                                             : av_rescale_q(frame->pts, input_time_base_, encoder_->time_base);
  if (pts == AV_NOPTS_VALUE)
    pts = av_rescale_q(frames_, av_inv_q(encoder_->framerate), encoder_->time_base);
  // Encoders and muxers need rising timestamps; a damaged input may not have them.
  if (last_pts_ != INT64_MIN && pts <= last_pts_) pts = last_pts_ + 1;
  last_pts_ = pts;
  frame->pts = pts;
  frame->pict_type = AV_PICTURE_TYPE_NONE;
  if (on_frame_) on_frame_(frames_ + 1);
  encode(frame);
  ++frames_;
}

void MediaOutput::write_audio(AVPacket* packet, int input_stream) {
  auto it = audio_map_.find(input_stream);
  if (it == audio_map_.end()) return;
  packet->pos = -1;
  mux(packet, it->second.second, it->second.first);
}

void MediaOutput::encode(AVFrame* frame) {
  int err = avcodec_send_frame(encoder_.get(), frame);
  if (err < 0) throw CliError("cannot encode '" + target_ + "': " + av_error_text(err));
  for (;;) {
    err = avcodec_receive_packet(encoder_.get(), packet_.get());
    if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) return;
    if (err < 0) throw CliError("cannot encode '" + target_ + "': " + av_error_text(err));
    mux(packet_.get(), encoder_->time_base, video_out_);
  }
}

void MediaOutput::mux(AVPacket* packet, AVRational from, AVStream* stream) {
  av_packet_rescale_ts(packet, from, stream->time_base);
  packet->stream_index = stream->index;
  const int err = av_interleaved_write_frame(muxer_.get(), packet);
  if (err < 0) throw CliError("cannot write '" + target_ + "': " + av_error_text(err));
}

void MediaOutput::finish() {
  encode(nullptr);
  int err = av_write_trailer(muxer_.get());
  if (err < 0) throw CliError("cannot write '" + target_ + "': " + av_error_text(err));
  io_->close();
}
