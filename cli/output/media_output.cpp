// Driving the output: the video encoder, the audio streams (copied or
// re-encoded), and muxing into the file, each set up in its own step.
#include "cli/output/media_output.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <thread>

extern "C" {
#include <libavutil/display.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include "cli/cli_error.h"
#include "cli/files/temp_output.h"
#include "cli/input/media_input.h"

int encoder_threads() {
  constexpr int kFewest = 3;  // keeps a two-core machine's encoder busy while it waits on frames
  return std::max(kFewest, int(std::thread::hardware_concurrency()));
}

namespace {

// The audio encoder a container is usually given: Opus in WebM, AAC in the
// MP4 family, the container's own default elsewhere.
const AVCodec* usual_audio_encoder(const AVOutputFormat* container) {
  const std::string name = container->name;
  if (name == "webm") {
    if (const AVCodec* c = avcodec_find_encoder_by_name("libopus")) return c;
  }
  if (container->audio_codec == AV_CODEC_ID_NONE) return nullptr;
  const AVCodec* c = avcodec_find_encoder(container->audio_codec);
  return c != nullptr && container_holds(container, c->id) != 0 ? c : nullptr;
}

// Containers that store a frame rate and no time per frame (AVI, Y4M; the
// MP4 family stores each frame's time):
// there a frame's time is its position, so the time base must be one frame,
// as ffmpeg makes it; a finer one would count every tick as a frame.
bool has_constant_rate(const AVOutputFormat* container) {
  return !(container->flags & (AVFMT_VARIABLE_FPS | AVFMT_NOTIMESTAMPS)) && !is_mp4_family(container);
}

std::string size_text(int w, int h) { return std::to_string(w) + "x" + std::to_string(h); }

// One line for an encoder that would not open: what was asked, why if it
// is known, and what to do.
CliError encoder_refusal(const std::string& target, const OutputChoice& c, int w, int h, int err) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(c.pixel_format);
  const std::string codec = codec_display_name(c.codec->id);
  if (d != nullptr && (d->log2_chroma_w > 0 || d->log2_chroma_h > 0) && (w % 2 != 0 || h % 2 != 0))
    return CliError(codec + (d->log2_chroma_h > 0 ? " 4:2:0" : " 4:2:2") + " needs an even width and height: " +
                    size_text(w, h) + "; use --lossless or .mkv");
  return CliError("cannot encode '" + target + "' as " + codec + " " + av_get_pix_fmt_name(c.pixel_format) + " at " +
                  size_text(w, h) + ": the encoder " + c.codec->name + " refused it (" + av_error_text(err) +
                  "); choose another encoder with --codec NAME or another format by the extension");
}

}  // namespace

MediaOutput::MediaOutput(TempOutput* file, const std::string& target, const OutputChoice& choice,
                         const MediaInput& input)
    : file_(file), target_(target), shown_(file == nullptr ? "standard output" : "'" + target + "'"), writes_pictures_(choice.writes_pictures), writes_one_picture_(choice.writes_one_picture),
      packet_(make_packet()) {
  create_muxer(choice);
  open_video_encoder(choice, input);
  add_video_stream(input);
  add_audio_streams(input, choice);
  open_file();
  AVDictionary* options = nullptr;
  for (const auto& [key, value] : choice.muxer_options) av_dict_set(&options, key.c_str(), value.c_str(), 0);
  const int err = avformat_write_header(muxer_.get(), &options);
  av_dict_free(&options);
  if (err < 0 && file_ == nullptr && io_->stream_error() != 0)
    throw CliError("cannot write to standard output: " + std::string(std::strerror(io_->stream_error())));
  if (err < 0)
    throw CliError("cannot write " + shown_ + ": " + format_name() +
                   " files refused its streams (" + av_error_text(err) + "); try " +
                   (file_ == nullptr ? "--format matroska" : ".mkv") + ", which holds nearly every codec");
}

std::string MediaOutput::format_name() const {
  return file_ == nullptr ? std::string(muxer_->oformat->name) : extension_of(target_);
}

void MediaOutput::fail(int err) const {
  if (file_ == nullptr && io_ && io_->stream_error() != 0)
    throw CliError("cannot write to standard output: " + std::string(std::strerror(io_->stream_error())));
  throw CliError("cannot write " + shown_ + ": " + av_error_text(err));
}

void MediaOutput::create_muxer(const OutputChoice& choice) {
  AVFormatContext* muxer = nullptr;
  // The name is only a pattern for the picture numbers: velbrin opens the files.
  const int err = avformat_alloc_output_context2(&muxer, choice.container, nullptr,
                                                 file_ == nullptr ? "pipe:" : target_.c_str());
  if (err < 0) fail(err);
  muxer_.reset(muxer);
  // Audio is copied as it is, even where its storage in the container is
  // still marked experimental (FLAC or Opus in MP4).
  muxer_->strict_std_compliance = FF_COMPLIANCE_EXPERIMENTAL;
}

void MediaOutput::open_video_encoder(const OutputChoice& choice, const MediaInput& input) {
  const AVStream* in = input.video();
  const AVCodecContext* dec = input.decoder();
  frame_rate_ = input.frame_rate();
  input_time_base_ = in->time_base;
  const bool rgb_out = format_is_rgb(choice.pixel_format);

  // Some encoders accept only time bases they can store; those get 1/rate,
  // as does every constant-rate container.
  const AVRational per_frame = av_inv_q(frame_rate_);
  const AVRational time_bases[2] = {has_constant_rate(muxer_->oformat) ? per_frame : in->time_base, per_frame};
  for (int attempt = 0; attempt < 2; ++attempt) {
    encoder_.reset(avcodec_alloc_context3(choice.codec));
    if (!encoder_) throw std::bad_alloc();
    AVCodecContext* e = encoder_.get();
    e->width = dec->width;
    e->height = dec->height;
    e->pix_fmt = choice.pixel_format;
    e->sample_aspect_ratio = av_guess_sample_aspect_ratio(input.format(), const_cast<AVStream*>(in), nullptr);
    e->framerate = frame_rate_;
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
    // A picture is one frame: frame threads would only hold more copies of it.
    e->thread_count = writes_pictures_ ? 1 : encoder_threads();
    if (muxer_->oformat->flags & AVFMT_GLOBALHEADER) e->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (choice.fixed_quantiser) {
      e->flags |= AV_CODEC_FLAG_QSCALE;
      e->global_quality = *choice.fixed_quantiser * FF_QP2LAMBDA;
    }
    if (choice.crf && av_opt_find(e, "crf", nullptr, 0, AV_OPT_SEARCH_CHILDREN) == nullptr)
      throw usage_error(std::string("--crf: the encoder ") + choice.codec->name + " has no constant-quality setting");
    AVDictionary* options = nullptr;
    for (const auto& [key, value] : choice.codec_options) av_dict_set(&options, key.c_str(), value.c_str(), 0);
    // x265 prints its own lines, past FFmpeg's log level: it follows that
    // level (velbrin's --verbose) only when told.
    if (std::strcmp(choice.codec->name, "libx265") == 0 && av_log_get_level() < AV_LOG_INFO)
      av_dict_set(&options, "x265-params", "log-level=error", 0);
    if (choice.crf) av_dict_set(&options, "crf", std::to_string(*choice.crf).c_str(), 0);
    const int err = avcodec_open2(e, choice.codec, &options);
    av_dict_free(&options);
    if (err >= 0) return;
    if (attempt == 1 || av_cmp_q(time_bases[0], time_bases[1]) == 0)
      throw encoder_refusal(target_, choice, dec->width, dec->height, err);
  }
}

void MediaOutput::add_video_stream(const MediaInput& input) {
  video_out_ = avformat_new_stream(muxer_.get(), nullptr);
  if (video_out_ == nullptr) throw std::bad_alloc();
  const int err = avcodec_parameters_from_context(video_out_->codecpar, encoder_.get());
  if (err < 0) fail(err);
  video_out_->time_base = encoder_->time_base;
  video_out_->avg_frame_rate = frame_rate_;
  video_out_->sample_aspect_ratio = encoder_->sample_aspect_ratio;
  // The input's display rotation goes with the pictures, which are stored
  // as decoded (the host does not turn them either).
  size_t size = 0;
  const uint8_t* m = stream_side_data(input.video(), AV_PKT_DATA_DISPLAYMATRIX, &size);
  if (m == nullptr) return;
  add_stream_side_data(video_out_, AV_PKT_DATA_DISPLAYMATRIX, m, size);
  // Only the MP4 family of muxers stores it in this FFmpeg.
  const double angle = size >= 9 * sizeof(int32_t) ? av_display_rotation_get(reinterpret_cast<const int32_t*>(m)) : 0;
  if (!std::isnan(angle) && std::lround(angle) % 360 != 0 && !is_mp4_family(muxer_->oformat))
    std::fprintf(stderr,
                 "velbrin: warning: the input carries a display rotation of %ld degrees, which %s files cannot "
                 "store; the frames are written as stored (use .mp4 or .mov to keep the rotation)\n",
                 std::lround(angle), format_name().c_str());
}

void MediaOutput::add_audio_streams(const MediaInput& input, const OutputChoice& choice) {
  if (!writes_pictures_) av_dict_copy(&muxer_->metadata, input.format()->metadata, 0);
  const size_t streams = input.audio_indices().size();
  if (streams == 0 || !choice.audio) return;  // --no-audio leaves it out on purpose
  // Pictures carry no sound, and some containers (Y4M) hold video alone.
  if (writes_pictures_ || muxer_->oformat->audio_codec == AV_CODEC_ID_NONE) {
    notes_.push_back(std::string(writes_pictures_ ? "pictures" : format_name() + " files") + " hold no sound: " +
                     (streams == 1 ? "the audio stream" : "the " + std::to_string(streams) + " audio streams") +
                     " left out");
    return;
  }
  for (int index : input.audio_indices()) {
    const AVStream* a = input.format()->streams[index];
    if (container_holds(muxer_->oformat, a->codecpar->codec_id) != 0)
      add_copied_audio(a, index);
    else
      add_reencoded_audio(a, index);
  }
}

void MediaOutput::add_copied_audio(const AVStream* in, int index) {
  AVStream* out = avformat_new_stream(muxer_.get(), nullptr);
  if (out == nullptr) throw std::bad_alloc();
  const int err = avcodec_parameters_copy(out->codecpar, in->codecpar);
  if (err < 0) fail(err);
  out->codecpar->codec_tag = 0;
  keep_padding_in_timestamps(muxer_->oformat, out->codecpar);
  out->time_base = in->time_base;
  out->disposition = in->disposition;
  av_dict_copy(&out->metadata, in->metadata, 0);
  audio_[index] = AudioRoute{out, in->time_base, nullptr};
}

void MediaOutput::add_reencoded_audio(const AVStream* in, int index) {
  const std::string ext = format_name();
  const std::string from = avcodec_get_name(in->codecpar->codec_id);
  const AVCodec* encoder = usual_audio_encoder(muxer_->oformat);
  if (encoder == nullptr) {
    notes_.push_back(ext + " files cannot hold " + from + " audio; audio stream " + std::to_string(index) +
                     " left out");
    return;
  }
  const std::string to = codec_display_name(encoder->id);
  AudioRoute route;
  route.transcoder = std::make_unique<AudioTranscoder>(in, encoder, (muxer_->oformat->flags & AVFMT_GLOBALHEADER) != 0,
                                                       to + " audio for " + shown_);
  route.out = avformat_new_stream(muxer_.get(), nullptr);
  if (route.out == nullptr) throw std::bad_alloc();
  const int err = avcodec_parameters_from_context(route.out->codecpar, route.transcoder->encoder());
  if (err < 0) fail(err);
  route.out->time_base = route.transcoder->encoder()->time_base;
  route.out->disposition = in->disposition;
  av_dict_copy(&route.out->metadata, in->metadata, 0);
  route.from = in->time_base;
  audio_[index] = std::move(route);
  notes_.push_back(ext + " files cannot hold " + from + " audio; audio stream " + std::to_string(index) +
                   " re-encoded to " + to);
}

// The muxer gets the temporary file(s) velbrin created, or standard
// output; it opens nothing itself.
void MediaOutput::open_file() {
  if (file_ == nullptr)
    io_.emplace(muxer_.get(), STDOUT_FILENO);
  else
    io_.emplace(muxer_.get(), *file_);
}

void MediaOutput::write_video(AVFrame* frame) {
  if (writes_one_picture_ && frames_ >= 1)
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
  // Encoders that hold frames back give their packets no duration: each
  // packet takes its frame's, so the last frame lasts as long as in the
  // input (where the output ends, and where a joined segment starts).
  if (frame_duration(*frame) > 0)
    durations_[pts] = av_rescale_q(frame_duration(*frame), input_time_base_, encoder_->time_base);
  frame->pict_type = AV_PICTURE_TYPE_NONE;
  // A sequence's picture is checked against what exists before it is made.
  if (file_ != nullptr) file_->add_picture(frames_ + 1);
  encode(frame);
  ++frames_;
}

void MediaOutput::write_audio(AVPacket* packet, int input_stream) {
  auto it = audio_.find(input_stream);
  if (it == audio_.end()) return;
  AudioRoute& route = it->second;
  packet->pos = -1;
  if (!route.transcoder) {
    mux(packet, route.from, route.out);
    return;
  }
  route.transcoder->send(packet, [&](AVPacket* p, AVRational tb) { mux(p, tb, route.out); });
}

void MediaOutput::encode(AVFrame* frame) {
  const int err = avcodec_send_frame(encoder_.get(), frame);
  if (err < 0) throw CliError("cannot encode " + shown_ + ": " + av_error_text(err));
  while (receive_packet()) {
  }
}

bool MediaOutput::receive_packet() {
  const int err = avcodec_receive_packet(encoder_.get(), packet_.get());
  if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) return false;
  if (err < 0) throw CliError("cannot encode " + shown_ + ": " + av_error_text(err));
  ++frames_muxed_;
  if (packet_->pts != AV_NOPTS_VALUE) {
    muxed_time_ = std::max(muxed_time_, packet_->pts);
    if (const auto it = durations_.find(packet_->pts); it != durations_.end()) {
      if (packet_->duration <= 0) packet_->duration = it->second;
      durations_.erase(it);
    }
  }
  mux(packet_.get(), encoder_->time_base, video_out_);
  return true;
}

bool MediaOutput::drain_encoder() {
  if (!draining_) {
    draining_ = true;
    const int err = avcodec_send_frame(encoder_.get(), nullptr);
    if (err < 0 && err != AVERROR_EOF) throw CliError("cannot encode " + shown_ + ": " + av_error_text(err));
  }
  return receive_packet();
}

void MediaOutput::mux(AVPacket* packet, AVRational from, AVStream* stream) {
  av_packet_rescale_ts(packet, from, stream->time_base);
  packet->stream_index = stream->index;
  const int err = av_interleaved_write_frame(muxer_.get(), packet);
  if (err < 0) fail(err);
}

void MediaOutput::finish() {
  while (drain_encoder()) {
  }
  for (auto& [index, route] : audio_)
    if (route.transcoder) route.transcoder->finish([&](AVPacket* p, AVRational tb) { mux(p, tb, route.out); });
  int err = av_write_trailer(muxer_.get());
  if (err < 0) fail(err);
  if (io_) io_->close();
  if (file_ == nullptr && io_->stream_error() != 0) fail(AVERROR(io_->stream_error()));
}
