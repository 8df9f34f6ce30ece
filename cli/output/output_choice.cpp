// Choosing the output: container by the file's extension, then encoder,
// pixel format and colour, each in its own step. A lossy input gets a
// high-quality lossy video in its own chroma format; a lossless input, or
// --lossless, gets a video that stores the filtered pixels exactly.
#include "cli/output/output_choice.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <new>

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include "cli/cli_error.h"
#include "cli/input/media_input.h"
#include "cli/files/sequence_pattern.h"

namespace {

struct EncoderCandidate {
  const char* name;
  std::vector<std::pair<std::string, std::string>> options;
  int default_crf = 0;  // lossy encoders: the quality used when --crf is not given
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

// Constant-quality encoders, in order of preference. The default qualities
// are chosen so that the result cannot be told from the filtered frames by
// eye: H.264 at CRF 16 and VP9 at 20 keep film grain and fine noise.
const std::vector<EncoderCandidate>& lossy_candidates() {
  static const std::vector<EncoderCandidate> list = {
      {"libx264", {{"preset", "medium"}}, 16},
      {"libvpx-vp9", {{"b", "0"}, {"row-mt", "1"}, {"deadline", "good"}, {"cpu-used", "4"}}, 20},
      {"libaom-av1", {{"b", "0"}, {"cpu-used", "6"}}, 24},
  };
  return list;
}

// Encoders that refuse odd widths or heights in a subsampled format.
bool needs_even_size(const AVCodec* codec) {
  for (const char* name : {"libx264", "libx265", "libopenh264", "h264_vaapi", "hevc_vaapi"})
    if (std::strcmp(codec->name, name) == 0) return true;
  return false;
}

bool supports(const AVCodec* codec, AVPixelFormat f) {
  const AVPixelFormat* formats = supported_pixel_formats(codec);
  if (formats == nullptr) return true;  // takes any format
  for (const AVPixelFormat* p = formats; *p != AV_PIX_FMT_NONE; ++p)
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

bool is_subsampled(AVPixelFormat f) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(f);
  return d != nullptr && (d->log2_chroma_w > 0 || d->log2_chroma_h > 0);
}

// The 8-bit planar YUV format with the input's chroma layout (4:2:0 for
// anything unusual, as players expect).
AVPixelFormat planar_like(AVPixelFormat in) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(in);
  if (d == nullptr || (d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) || d->nb_components <= 2)
    return AV_PIX_FMT_YUV420P;
  if (d->log2_chroma_w == 0 && d->log2_chroma_h == 0) return AV_PIX_FMT_YUV444P;
  if (d->log2_chroma_w == 1 && d->log2_chroma_h == 0) return AV_PIX_FMT_YUV422P;
  return AV_PIX_FMT_YUV420P;
}

std::string size_text(int w, int h) { return std::to_string(w) + "x" + std::to_string(h); }

// Step 1 for standard output: a stream format, with the settings that let
// it be written without seeking back (Matroska without its index, MP4 as
// fragments). Formats that write files of their own cannot go to a pipe.
void choose_stream_container(const std::string& format, OutputChoice& c) {
  const std::string name = format.empty() ? "matroska" : format;
  c.container = av_guess_format(name.c_str(), nullptr, nullptr);
  if (c.container == nullptr || c.container->video_codec == AV_CODEC_ID_NONE)
    throw usage_error("--format: no video format named '" + name +
                      "' in this FFmpeg (try matroska, nut, yuv4mpegpipe or image2pipe)");
  if (c.container->flags & AVFMT_NOFILE)
    throw usage_error("--format: " + name + " writes files of its own and cannot go to standard output (try image2pipe)");
  // AVI keeps its index at the end and writes its sizes by seeking back,
  // which a pipe cannot do.
  if (std::strcmp(c.container->name, "avi") == 0)
    throw usage_error("--format: avi cannot be written to a pipe (it seeks back to finish); use matroska or nut");
  c.to_pipe = true;
  c.writes_pictures = std::strcmp(c.container->name, "image2pipe") == 0;
  const std::string muxer = c.container->name;
  if (muxer == "matroska" || muxer == "webm") c.muxer_options = {{"live", "1"}};
  if (muxer == "mp4" || muxer == "mov" || muxer == "ipod" || muxer == "ismv")
    c.muxer_options = {{"movflags", "frag_keyframe+empty_moov+default_base_moof"}};
}

// Step 1: the container, and whether it holds pictures or a video.
void choose_container(const std::string& target, OutputChoice& c) {
  c.container = av_guess_format(nullptr, target.c_str(), nullptr);
  if (c.container == nullptr || c.container->video_codec == AV_CODEC_ID_NONE)
    throw usage_error("cannot tell a picture or video format from the name '" + target +
                      "' (use an extension such as .mkv, .mp4, .avi, .png or .jpg)");
  c.writes_pictures = std::strcmp(c.container->name, "image2") == 0;
  // A playlist (.m3u8) and the like are written as many files of the
  // muxer's own making, which velbrin neither plans nor guards.
  if ((c.container->flags & AVFMT_NOFILE) && !c.writes_pictures)
    throw usage_error("cannot write '" + target + "': " + c.container->name +
                      " is written as many files of its own; write one file (.mp4, .mkv, .ts) and make it from that");
  // A name with a frame number ("out%04d.png") is an image sequence.
  c.writes_one_picture = c.writes_pictures && !is_sequence_pattern(target);
}

// Step 2a: the encoder the user named, refused only where the muxer refuses
// it (Matroska cannot say beforehand that it holds PNG or Ut Video).
void take_named_encoder(const OutputRequest& request, const MediaInput& input, const std::string& kind,
                        OutputChoice& c) {
  c.codec = avcodec_find_encoder_by_name(request.codec.c_str());
  if (c.codec == nullptr || c.codec->type != AVMEDIA_TYPE_VIDEO)
    throw usage_error("--codec: no video encoder named '" + request.codec + "' in this FFmpeg");
  CodecParametersPtr stream(avcodec_parameters_alloc());
  if (!stream) throw std::bad_alloc();
  stream->codec_type = AVMEDIA_TYPE_VIDEO;
  stream->codec_id = c.codec->id;
  stream->width = input.decoder()->width;
  stream->height = input.decoder()->height;
  if (const std::optional<std::string> refusal = muxer_refusal(c.container, *stream))
    throw usage_error("--codec: " + kind + " files cannot hold " + request.codec + " video" +
                      (refusal->empty() ? "" : " (" + *refusal + ")"));
  c.crf = request.crf;
  if (!request.lossless) {
    // One of velbrin's own lossy encoders keeps its settings and quality.
    for (const EncoderCandidate& e : lossy_candidates())
      if (request.codec == e.name) {
        c.codec_options = e.options;
        if (!c.crf) c.crf = e.default_crf;
      }
    return;
  }
  // --lossless with a named encoder: its lossless settings, when it has some.
  c.lossless = true;
  for (const EncoderCandidate& e : lossless_candidates())
    if (request.codec == e.name) c.codec_options = e.options;
  if (c.codec_options.empty() && !lossless_only(c.codec))
    throw usage_error("--lossless: velbrin knows no lossless setting of " + request.codec + "; use --codec ffv1");
}

// Step 2b: the encoder of a picture format, which the extension decides.
void take_picture_encoder(const std::string& target, const OutputRequest& request, const std::string& kind,
                          OutputChoice& c) {
  const AVCodecID id = av_guess_codec(c.container, nullptr, target.c_str(), nullptr, AVMEDIA_TYPE_VIDEO);
  c.codec = avcodec_find_encoder(id);
  if (c.codec == nullptr)
    throw usage_error("this FFmpeg cannot write " + kind + " pictures (" + avcodec_get_name(id) + ")");
  if (request.lossless && (exact_rgb_format(c.codec, false) == AV_PIX_FMT_NONE || !lossless_only(c.codec)))
    throw usage_error("--lossless: " + kind + " pictures cannot store the pixels exactly; use .png, .bmp or .tif");
}

// Step 2c: the first encoder of `list` the container holds. Containers that
// know their codecs say yes or no; one that cannot tell gets only its own
// default codec.
const EncoderCandidate* first_held(const std::vector<EncoderCandidate>& list, const AVOutputFormat* container,
                                   bool exact_rgb) {
  for (int pass = 0; pass < 2; ++pass) {
    for (const EncoderCandidate& e : list) {
      const AVCodec* codec = avcodec_find_encoder_by_name(e.name);
      if (codec == nullptr) continue;
      const int holds = container_holds(container, codec->id);
      if (pass == 0 ? holds != 1 : (holds == 0 || (holds < 0 && codec->id != container->video_codec))) continue;
      if (exact_rgb && exact_rgb_format(codec, false) == AV_PIX_FMT_NONE) continue;
      return &e;
    }
  }
  return nullptr;
}

bool has_option(const AVCodec* codec, const char* name) {
  return codec->priv_class != nullptr &&
         av_opt_find(const_cast<const AVClass**>(&codec->priv_class), name, nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ) != nullptr;
}

// Step 2d: a container that none of velbrin's constant-quality encoders
// goes into (.mpg, .vob, .gif, .webp, .ogv, .mxf, .dv) gets the encoder of
// its own default codec, as ffmpeg gives it; those that take a quantiser
// are run at the best one, the others with their own defaults. --crf goes
// to it, and check_crf refuses it there when the encoder has no such
// setting. False when this FFmpeg has no encoder for that codec.
bool take_container_default(const OutputRequest& request, OutputChoice& c) {
  c.codec = avcodec_find_encoder(c.container->video_codec);
  if (c.codec == nullptr || c.codec->type != AVMEDIA_TYPE_VIDEO) return false;
  c.crf = request.crf;
  for (const char* name : {"mpeg1video", "mpeg2video", "mpeg4", "libtheora"})
    if (!c.crf && std::strcmp(c.codec->name, name) == 0) c.fixed_quantiser = 2;
  return true;
}

void take_video_encoder(const OutputRequest& request, const MediaInput& input, const std::string& kind,
                        OutputChoice& c) {
  // Formats of uncompressed frames (Y4M) take their own encoder only.
  if (c.container->video_codec == AV_CODEC_ID_WRAPPED_AVFRAME && !request.crf && !request.lossless) {
    c.codec = avcodec_find_encoder(AV_CODEC_ID_WRAPPED_AVFRAME);
    if (c.codec != nullptr) return;
  }
  // A lossless input stays lossless unless a quality is asked for; a lossy
  // one gets a lossy video of high quality, unless --lossless.
  const bool want_lossless = request.lossless || (!request.crf && input.is_lossless());
  const EncoderCandidate* e = want_lossless ? nullptr : first_held(lossy_candidates(), c.container, false);
  if (e == nullptr && !want_lossless && take_container_default(request, c)) return;
  if (e != nullptr) {
    c.crf = request.crf ? *request.crf : e->default_crf;
  } else {
    if (request.crf)
      throw usage_error(kind + " files cannot hold a video this FFmpeg encodes at constant quality; give --codec NAME");
    e = first_held(lossless_candidates(), c.container, true);
    if (e == nullptr) {
      const AVCodec* own = avcodec_find_encoder(c.container->video_codec);
      const std::string crf_hint = own != nullptr && has_option(own, "crf") ? "--crf N or " : "";
      throw usage_error(kind + " files cannot hold a lossless video this FFmpeg writes; use .mkv" +
                        (request.lossless ? "" : ", or give " + crf_hint + "--codec NAME for a lossy one"));
    }
    c.lossless = true;
  }
  c.codec = avcodec_find_encoder_by_name(e->name);
  c.codec_options = e->options;
  // FFV1 version 3 with slices encodes on several cores, but this FFmpeg
  // (5.1) stores pictures only a few pixels wide wrongly in it (a 2x1
  // picture comes back black); small pictures get the plain version 1.
  // Below this side length slices would gain nothing anyway.
  constexpr int kSmallestSlicedSide = 128;
  if (input.decoder()->width < kSmallestSlicedSide || input.decoder()->height < kSmallestSlicedSide)
    std::erase_if(c.codec_options, [](const auto& o) { return o.first == "slices" || o.first == "level"; });
}

// Step 3: the pixel format. Exact RGB where the pixels are to be kept
// exactly; otherwise the input's own kind of picture, and for a YUV video
// the input's chroma layout in 8 bits (the filter's output has 8 bits).
void choose_pixel_format(const MediaInput& input, OutputChoice& c) {
  const AVPixelFormat in = input.pixel_format();
  const bool alpha = format_has_alpha(in);
  const bool grey = format_is_grey(in);
  const bool yuv_in = in != AV_PIX_FMT_NONE && !grey && !format_is_rgb(in);
  if (std::strcmp(c.container->name, "yuv4mpegpipe") == 0) {
    // Y4M holds 8-bit YUV or grey only; RGB keeps full chroma resolution.
    c.pixel_format = grey && !alpha ? AV_PIX_FMT_GRAY8 : yuv_in ? planar_like(in) : AV_PIX_FMT_YUV444P;
    c.lossless = false;
    return;
  }
  const bool exact = c.lossless || lossless_only(c.codec);
  // Grey stays grey (the filter keeps the three channels equal), with its
  // alpha where the picture format holds grey and alpha together.
  const AVPixelFormat grey_format = alpha ? AV_PIX_FMT_YA8 : AV_PIX_FMT_GRAY8;
  if (exact && grey && c.writes_pictures && supports(c.codec, grey_format)) {
    c.pixel_format = grey_format;
    c.keep_alpha = alpha;
  } else if (exact) {
    c.pixel_format = exact_rgb_format(c.codec, alpha);
    c.keep_alpha = alpha && c.pixel_format != AV_PIX_FMT_NONE;
    if (c.pixel_format == AV_PIX_FMT_NONE) c.pixel_format = exact_rgb_format(c.codec, false);
  }
  if (c.pixel_format == AV_PIX_FMT_NONE) {
    AVPixelFormat like = AV_PIX_FMT_YUV420P;
    if (c.writes_pictures && grey && !alpha) like = AV_PIX_FMT_GRAY8;
    else if (c.writes_pictures && !yuv_in) like = alpha ? AV_PIX_FMT_BGRA : AV_PIX_FMT_BGR0;
    else if (c.writes_pictures) like = in;
    else like = planar_like(in);
    int loss = 0;
    c.pixel_format = supported_pixel_formats(c.codec) ? avcodec_find_best_pix_fmt_of_list(supported_pixel_formats(c.codec), like, alpha, &loss)
                                       : like;
    c.keep_alpha = alpha && format_has_alpha(c.pixel_format);
    if (c.pixel_format == AV_PIX_FMT_NONE)
      throw usage_error("the encoder " + std::string(c.codec->name) + " takes no pixel format velbrin can make");
  }
  c.lossless = exact && (is_exact_format(c.pixel_format) ||
                         (grey && (c.pixel_format == AV_PIX_FMT_GRAY8 || c.pixel_format == AV_PIX_FMT_YA8)));
}

// Step 3b: what the output cannot keep of the input, said once: alpha in
// a format without it, and samples of more than 8 bits (the filter works on
// 8-bit pixels).
void note_losses(const MediaInput& input, const std::string& kind, OutputChoice& c) {
  const AVPixelFormat in = input.pixel_format();
  const std::string format = av_get_pix_fmt_name(c.pixel_format);
  if (format_has_alpha(in) && !c.keep_alpha)
    c.notes.push_back("the input's alpha channel is left out: " + codec_display_name(c.codec->id) + " " + format +
                      " in " + kind + " holds none");
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(in);
  int depth = 0;
  for (int k = 0; d != nullptr && k < d->nb_components; ++k) depth = std::max(depth, d->comp[k].depth);
  if (depth > 8)
    c.notes.push_back("the input has " + std::to_string(depth) + "-bit samples; the filter works on 8 bits, so " +
                      format + " with 8 bits is written");
}

// Step 3c: a constant quality the encoder would clamp is refused, so that
// what velbrin reports is what the encoder used. The one check of --crf's
// range: only here is the encoder known.
void check_crf(OutputChoice& c) {
  if (!c.crf) return;
  if (!has_option(c.codec, "crf"))
    throw usage_error(std::string("--crf: the encoder ") + c.codec->name + " has no constant-quality setting");
  struct Range {
    const char* encoder;
    int low, high;
  };
  static const Range known[] = {{"libx264", 0, 51}, {"libx264rgb", 0, 51}, {"libx265", 0, 51},
                                {"libvpx-vp9", 0, 63}, {"libvpx", 4, 63}, {"libaom-av1", 0, 63},
                                {"libsvtav1", 0, 63}};
  for (const Range& r : known)
    if (std::strcmp(c.codec->name, r.encoder) == 0 && (*c.crf < r.low || *c.crf > r.high))
      throw usage_error("--crf: " + std::string(r.encoder) + " takes " + std::to_string(r.low) + " to " +
                        std::to_string(r.high) + ", got " + std::to_string(*c.crf));
}

// Step 4: an odd-sized picture in a subsampled format that the encoder
// cannot take. When velbrin chose the format, full chroma resolution is
// used instead, and the user is told; a named encoder that has no such
// format is refused with what to do.
void fit_odd_size(const OutputRequest& request, const MediaInput& input, OutputChoice& c) {
  const int w = input.decoder()->width, h = input.decoder()->height;
  if ((w % 2 == 0 && h % 2 == 0) || !is_subsampled(c.pixel_format) || !needs_even_size(c.codec)) return;
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(c.pixel_format);
  const std::string layout = d->log2_chroma_h > 0 ? "4:2:0" : "4:2:2";
  const std::string what = codec_display_name(c.codec->id) + " " + layout;
  if (!supports(c.codec, AV_PIX_FMT_YUV444P))
    throw CliError(what + " needs an even width and height: " + size_text(w, h) + "; use --lossless or .mkv");
  const AVPixelFormat was = c.pixel_format;
  c.pixel_format = AV_PIX_FMT_YUV444P;
  c.notes.push_back(what + " needs an even width and height, and the input is " + size_text(w, h) + ": writing " +
           av_get_pix_fmt_name(c.pixel_format) + " instead of " + av_get_pix_fmt_name(was) +
           (request.codec.empty() ? "" : " (with --codec " + request.codec + ")"));
}

// Step 5: colour of a YUV output: the input's matrix and range; JPEG is
// full range.
void choose_colour(const MediaInput& input, OutputChoice& c) {
  const AVPixelFormat in = input.pixel_format();
  const bool yuv_in = in != AV_PIX_FMT_NONE && !format_is_grey(in) && !format_is_rgb(in);
  c.colour.space = yuv_in ? input.decoder()->colorspace : AVCOL_SPC_UNSPECIFIED;
  if (is_full_range_format(c.pixel_format) || c.codec->id == AV_CODEC_ID_MJPEG)
    c.colour.range = AVCOL_RANGE_JPEG;
  else if (yuv_in && input.decoder()->color_range != AVCOL_RANGE_UNSPECIFIED && !is_full_range_format(in))
    c.colour.range = input.decoder()->color_range;
  else
    c.colour.range = AVCOL_RANGE_MPEG;
  // JPEG pictures at the encoder's best fixed quantiser.
  if (c.codec->id == AV_CODEC_ID_MJPEG) c.fixed_quantiser = 2;
}

}  // namespace

std::string extension_of(const std::string& target) {
  const size_t slash = target.rfind('/');
  const size_t dot = target.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  return target.substr(dot);
}

std::string codec_display_name(AVCodecID id) {
  switch (id) {
    case AV_CODEC_ID_H264: return "H.264";
    case AV_CODEC_ID_HEVC: return "H.265";
    case AV_CODEC_ID_VP9: return "VP9";
    case AV_CODEC_ID_AV1: return "AV1";
    case AV_CODEC_ID_FFV1: return "FFV1";
    case AV_CODEC_ID_MJPEG: return "JPEG";
    case AV_CODEC_ID_AAC: return "AAC";
    case AV_CODEC_ID_OPUS: return "Opus";
    case AV_CODEC_ID_VORBIS: return "Vorbis";
    case AV_CODEC_ID_WRAPPED_AVFRAME: return "uncompressed";
    default: break;
  }
  std::string name = avcodec_get_name(id);
  for (char& ch : name) ch = char(std::toupper(static_cast<unsigned char>(ch)));
  return name;
}

OutputChoice choose_output(const std::string& target, const OutputRequest& request, const MediaInput& input) {
  const std::string ext = extension_of(target);
  OutputChoice c;
  c.audio = request.audio;
  c.subtitles = request.subtitles;
  c.whole = request.whole;
  c.first_frame = request.first_frame;
  if (target == "-")
    choose_stream_container(request.format, c);
  else
    choose_container(target, c);
  const std::string kind = ext.empty() ? c.container->name : ext;  // ".mkv", for messages
  if (c.writes_pictures && request.crf)
    throw usage_error("--crf applies to video, not to pictures such as '" + target + "'");

  if (!request.codec.empty())
    take_named_encoder(request, input, kind, c);
  else if (c.writes_pictures)
    take_picture_encoder(target, request, kind, c);
  else
    take_video_encoder(request, input, kind, c);
  choose_pixel_format(input, c);
  note_losses(input, kind, c);
  check_crf(c);
  if (request.lossless && !c.lossless)
    throw usage_error("--lossless: " + std::string(c.codec->name) + " in " + kind +
                      " cannot store the pixels exactly; use .mkv, or leave out --codec");
  fit_odd_size(request, input, c);
  choose_colour(input, c);
  return c;
}

std::string describe(const OutputChoice& c) {
  std::string text = codec_display_name(c.codec->id) + " " + av_get_pix_fmt_name(c.pixel_format);
  if (c.lossless) text += " lossless";
  else if (c.crf) text += " CRF " + std::to_string(*c.crf);
  return text;
}
