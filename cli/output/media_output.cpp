// Driving the output: the video encoder, the audio streams (copied or
// re-encoded), and muxing into the file, each set up in its own step.
#include "cli/output/media_output.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <thread>

extern "C" {
#include <libavutil/display.h>
#include <libavutil/opt.h>
#include <libavutil/avstring.h>
#include <libavutil/pixdesc.h>
#include <libavutil/timecode.h>
}

#include "cli/cli_error.h"
#include "cli/files/temp_output.h"
#include "cli/input/media_input.h"
#include "cli/media/log_tap.h"

int encoder_threads() {
  constexpr int kFewest = 3;  // keeps a two-core machine's encoder busy while it waits on frames
  return std::max(kFewest, int(std::thread::hardware_concurrency()));
}

namespace {

// Containers whose frames show one per interval, with no time of their own:
// a frame that lasts longer is repeated there to keep the timing. Picture
// files are one per frame, whatever their times.
bool shows_constant_rate(const AVOutputFormat* container, bool pictures) {
  const std::string name = container->name;
  return !pictures && ((container->flags & AVFMT_NOTIMESTAMPS) || name == "yuv4mpegpipe" || name == "dv");
}

// Containers that store a frame rate and no time per frame (AVI, Y4M; the
// MP4 family stores each frame's time):
// there a frame's time is its position, so the time base must be one frame,
// as ffmpeg makes it; a finer one would count every tick as a frame.
bool has_constant_rate(const AVOutputFormat* container) {
  return !(container->flags & (AVFMT_VARIABLE_FPS | AVFMT_NOTIMESTAMPS)) && !is_mp4_family(container);
}

// Containers that keep chapters (a short list: FFmpeg cannot be asked).
bool holds_chapters(const AVOutputFormat* container) {
  const std::string name = container->name;
  return is_mp4_family(container) || name == "matroska" || name == "webm" || name == "ogg" || name == "ogv";
}

// The input video stream's metadata that still holds for the filtered
// stream: title, language, timecode, ...; not what describes the old
// encoding (its encoder, and Matroska's statistics of its bytes).
void copy_video_metadata(const AVDictionary* from, AVDictionary** to) {
  const AVDictionaryEntry* e = nullptr;
  while ((e = av_dict_get(from, "", e, AV_DICT_IGNORE_SUFFIX)) != nullptr) {
    const std::string key = e->key;
    if (av_strcasecmp(e->key, "encoder") == 0 || key == "BPS" || key == "DURATION" || key == "NUMBER_OF_FRAMES" ||
        key == "NUMBER_OF_BYTES" || key.rfind("_STATISTICS_", 0) == 0)
      continue;
    av_dict_set(to, e->key, e->value, 0);
  }
}

// A range's timecode is the input's at the range's first frame: the
// timecode the input gives (stream or file) moved on by `frames` at the
// video's rate, drop-frame counting kept. One that FFmpeg cannot read is
// left as it is.
void advance_timecode(AVDictionary* metadata, AVRational rate, int64_t frames) {
  const AVDictionaryEntry* e = av_dict_get(metadata, "timecode", nullptr, 0);
  if (e == nullptr || frames <= 0 || frames > INT_MAX) return;
  AVTimecode tc{};
  if (av_timecode_init_from_string(&tc, rate, e->value, nullptr) < 0) return;
  char text[AV_TIMECODE_STR_SIZE];
  av_dict_set(&metadata, "timecode", av_timecode_make_string(&tc, text, int(frames)), 0);
}

std::string size_text(int w, int h) { return std::to_string(w) + "x" + std::to_string(h); }

// One line for an encoder that would not open: what was asked, why if it
// is known, and what to do.
CliError encoder_refusal(const std::string& target, const OutputChoice& c, int w, int h,
                         const std::string& reason) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(c.pixel_format);
  const std::string codec = codec_display_name(c.codec->id);
  if (d != nullptr && (d->log2_chroma_w > 0 || d->log2_chroma_h > 0) && (w % 2 != 0 || h % 2 != 0))
    return CliError(codec + (d->log2_chroma_h > 0 ? " 4:2:0" : " 4:2:2") + " needs an even width and height: " +
                    size_text(w, h) + "; use --lossless or .mkv");
  return CliError("cannot encode '" + target + "' as " + codec + " " + av_get_pix_fmt_name(c.pixel_format) + " at " +
                  size_text(w, h) + ": the encoder " + c.codec->name + " refused it (" + reason + "); choose another encoder with --codec NAME or another format by the extension");
}

}  // namespace

MediaOutput::MediaOutput(TempOutput* file, const std::string& target, const OutputChoice& choice,
                         const MediaInput& input)
    : file_(file), target_(target), shown_(file == nullptr ? "standard output" : "'" + target + "'"), writes_pictures_(choice.writes_pictures), writes_one_picture_(choice.writes_one_picture),
      packet_(make_packet()) {
  create_muxer(choice);
  constant_rate_ = shows_constant_rate(muxer_->oformat, writes_pictures_);
  open_video_encoder(choice, input);
  add_video_stream(input, choice.first_frame);
  add_streams(input, choice);
  open_file();
  AVDictionary* options = nullptr;
  for (const auto& [key, value] : choice.muxer_options) av_dict_set(&options, key.c_str(), value.c_str(), 0);
  const LogTap tap;
  const int err = avformat_write_header(muxer_.get(), &options);
  av_dict_free(&options);
  if (err < 0 && file_ == nullptr && io_->stream_error() != 0)
    throw CliError("cannot write to standard output: " + std::string(std::strerror(io_->stream_error())));
  if (err < 0)
    throw CliError("cannot write " + shown_ + ": " + format_name() + " files refused its streams (" +
                   tap.reason(err) + "); try " +
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
    // The filter works on whole frames and the encoder codes them so: the
    // output is progressive, whatever field order the input had.
    e->field_order = AV_FIELD_PROGRESSIVE;
    // A picture is one frame: frame threads would only hold more copies of it.
    e->thread_count = writes_pictures_ ? 1 : encoder_threads();
    if (muxer_->oformat->flags & AVFMT_GLOBALHEADER) e->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (choice.fixed_quantiser) {
      e->flags |= AV_CODEC_FLAG_QSCALE;
      e->global_quality = *choice.fixed_quantiser * FF_QP2LAMBDA;
    }
    AVDictionary* options = nullptr;
    for (const auto& [key, value] : choice.codec_options) av_dict_set(&options, key.c_str(), value.c_str(), 0);
    // x265 prints its own lines, past FFmpeg's log level: it follows that
    // level (velbrin's --verbose) only when told.
    if (std::strcmp(choice.codec->name, "libx265") == 0 && av_log_get_level() < AV_LOG_INFO)
      av_dict_set(&options, "x265-params", "log-level=error", 0);
    if (choice.crf) av_dict_set(&options, "crf", std::to_string(*choice.crf).c_str(), 0);
    const LogTap tap;
    const int err = avcodec_open2(e, choice.codec, &options);
    av_dict_free(&options);
    if (err >= 0) return;
    if (attempt == 1 || av_cmp_q(time_bases[0], time_bases[1]) == 0)
      throw encoder_refusal(target_, choice, dec->width, dec->height, tap.reason(err));
  }
}

void MediaOutput::add_video_stream(const MediaInput& input, int64_t first_frame) {
  video_out_ = avformat_new_stream(muxer_.get(), nullptr);
  if (video_out_ == nullptr) throw std::bad_alloc();
  const int err = avcodec_parameters_from_context(video_out_->codecpar, encoder_.get());
  if (err < 0) fail(err);
  video_out_->time_base = encoder_->time_base;
  video_out_->avg_frame_rate = frame_rate_;
  video_out_->sample_aspect_ratio = encoder_->sample_aspect_ratio;
  // The filtered stream is still the input's video: its title, language
  // and disposition (default, forced, ...) stay.
  video_out_->disposition = input.video()->disposition;
  copy_video_metadata(input.video()->metadata, &video_out_->metadata);
  advance_timecode(video_out_->metadata, frame_rate_, first_frame);
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

void MediaOutput::add_streams(const MediaInput& input, const OutputChoice& choice) {
  if (!writes_pictures_) av_dict_copy(&muxer_->metadata, input.format()->metadata, 0);
  advance_timecode(muxer_->metadata, frame_rate_, choice.first_frame);
  const StreamWishes wishes{choice.audio, choice.subtitles, writes_pictures_, choice.whole};
  const std::vector<StreamRoute> routes = map_streams(input.format(), input.video_index(), muxer_->oformat, wishes);
  bool left_out = false;
  for (const StreamRoute& r : routes) {
    const AVStream* in = input.format()->streams[r.index];
    switch (r.way) {
      case StreamWay::kCopy: add_copied(in, r.index); break;
      case StreamWay::kReencode: add_reencoded_audio(in, r.index, r.encoder); break;
      case StreamWay::kConvert: add_converted_subtitles(in, r.index, r.encoder); break;
      case StreamWay::kTimecode: break;  // in the video's metadata
      case StreamWay::kLeaveOut: left_out = true; break;
    }
  }
  const int chapters_left_out = add_chapters(input, choice);
  if (!left_out && chapters_left_out == 0) return;
  // Whether Matroska would have held everything: then the note says so.
  const AVOutputFormat* matroska = av_guess_format("matroska", nullptr, nullptr);
  bool matroska_holds_all = !writes_pictures_ && matroska != nullptr && matroska != muxer_->oformat;
  if (matroska_holds_all)
    for (const StreamRoute& r : map_streams(input.format(), input.video_index(), matroska, wishes))
      matroska_holds_all = matroska_holds_all && r.way != StreamWay::kLeaveOut;
  notes_.push_back(left_out_note(routes, chapters_left_out, writes_pictures_ ? "pictures" : format_name() + " files",
                                 matroska_holds_all));
}

int MediaOutput::add_chapters(const MediaInput& input, const OutputChoice& choice) {
  const AVFormatContext* in = input.format();
  if (in->nb_chapters == 0 || !choice.whole) return 0;
  if (writes_pictures_ || !holds_chapters(muxer_->oformat)) return int(in->nb_chapters);
  // On the output's clock, which starts at the input's start.
  const int64_t start = input.start_time_us();
  for (unsigned k = 0; k < in->nb_chapters; ++k) {
    const AVChapter* c = in->chapters[k];
    const int64_t shift = start == AV_NOPTS_VALUE ? 0 : av_rescale_q(start, AV_TIME_BASE_Q, c->time_base);
    // Freed with the muxer (avformat_free_context frees its chapters).
    auto* chapter = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
    if (chapter == nullptr || av_dynarray_add_nofree(&muxer_->chapters, reinterpret_cast<int*>(&muxer_->nb_chapters), chapter) < 0) {
      av_free(chapter);
      throw std::bad_alloc();
    }
    chapter->id = c->id;
    chapter->time_base = c->time_base;
    chapter->start = std::max<int64_t>(c->start - shift, 0);
    chapter->end = std::max<int64_t>(c->end - shift, chapter->start);
    av_dict_copy(&chapter->metadata, c->metadata, 0);
  }
  return 0;
}

// A new output stream with the input stream's time base, disposition and
// metadata (title, language, a font's file name and type).
AVStream* MediaOutput::new_stream_like(const AVStream* in) {
  AVStream* out = avformat_new_stream(muxer_.get(), nullptr);
  if (out == nullptr) throw std::bad_alloc();
  out->time_base = in->time_base;
  out->disposition = in->disposition;
  av_dict_copy(&out->metadata, in->metadata, 0);
  return out;
}

void MediaOutput::add_copied(const AVStream* in, int index) {
  AVStream* out = new_stream_like(in);
  const int err = avcodec_parameters_copy(out->codecpar, in->codecpar);
  if (err < 0) fail(err);
  out->codecpar->codec_tag = 0;
  keep_padding_in_timestamps(muxer_->oformat, out->codecpar);
  out->avg_frame_rate = in->avg_frame_rate;
  out->sample_aspect_ratio = in->sample_aspect_ratio;
  // An attachment has no packets: it is all in its parameters.
  if (in->codecpar->codec_type != AVMEDIA_TYPE_ATTACHMENT) routes_[index] = Route{out, in->time_base, nullptr, nullptr};
}

void MediaOutput::add_reencoded_audio(const AVStream* in, int index, const AVCodec* encoder) {
  const std::string ext = format_name();
  const std::string from = avcodec_get_name(in->codecpar->codec_id);
  const std::string to = codec_display_name(encoder->id);
  Route route;
  route.transcoder = std::make_unique<AudioTranscoder>(in, encoder, (muxer_->oformat->flags & AVFMT_GLOBALHEADER) != 0,
                                                       to + " audio for " + shown_);
  route.out = new_stream_like(in);
  const int err = avcodec_parameters_from_context(route.out->codecpar, route.transcoder->encoder());
  if (err < 0) fail(err);
  route.out->time_base = route.transcoder->encoder()->time_base;
  route.from = in->time_base;
  routes_[index] = std::move(route);
  notes_.push_back(ext + " files cannot hold " + from + " audio; audio stream " + std::to_string(index) +
                   " re-encoded to " + to);
}

void MediaOutput::add_converted_subtitles(const AVStream* in, int index, const AVCodec* encoder) {
  Route route;
  route.converter = std::make_unique<SubtitleConverter>(in, encoder, std::string(encoder->name) + " subtitles for " + shown_);
  route.out = new_stream_like(in);
  const int err = avcodec_parameters_from_context(route.out->codecpar, route.converter->encoder());
  if (err < 0) fail(err);
  route.from = in->time_base;
  routes_[index] = std::move(route);
}

std::vector<int> MediaOutput::packet_streams() const {
  std::vector<int> streams;
  for (const auto& [index, route] : routes_) streams.push_back(index);
  return streams;
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
  if (constant_rate_) {
    write_at_constant_rate(frame);
    return;
  }
  int64_t pts = frame->pts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE
                                             : av_rescale_q(frame->pts, input_time_base_, encoder_->time_base);
  if (pts == AV_NOPTS_VALUE)
    pts = av_rescale_q(frames_, av_inv_q(encoder_->framerate), encoder_->time_base);
  // Encoders and muxers need rising timestamps; a damaged input may not have them.
  if (last_pts_ != INT64_MIN && pts <= last_pts_) pts = last_pts_ + 1;
  // Encoders that hold frames back give their packets no duration: each
  // packet takes its frame's, so the last frame lasts as long as in the
  // input (where the output ends, and where a joined segment starts).
  if (frame_duration(*frame) > 0)
    durations_[pts] = av_rescale_q(frame_duration(*frame), input_time_base_, encoder_->time_base);
  give_encoder(frame, pts);
}

void MediaOutput::write_at_constant_rate(AVFrame* frame) {
  const AVRational interval = av_inv_q(frame_rate_);
  const double at = frame->pts == AV_NOPTS_VALUE ? double(slots_.next())
                                                 : double(frame->pts) * av_q2d(input_time_base_) / av_q2d(interval);
  const double lasts = double(frame_duration(*frame)) * av_q2d(input_time_base_) / av_q2d(interval);
  const ConstantRateSlots::Copies copies = slots_.place(at, lasts);
  int64_t slot = slots_.next() - copies.previous - copies.current;
  for (int64_t k = 0; k < copies.previous && previous_frame_; ++k)
    give_encoder(previous_frame_.get(), av_rescale_q(slot++, interval, encoder_->time_base));
  for (int64_t k = 0; k < copies.current; ++k) give_encoder(frame, av_rescale_q(slot++, interval, encoder_->time_base));
  previous_frame_.reset(av_frame_clone(frame));
  if (!previous_frame_) throw std::bad_alloc();
}

std::string MediaOutput::timing_note() const {
  const std::string what = slots_.summary();
  if (what.empty()) return "";
  return format_name() + " holds a constant frame rate: " + what + " to keep the timing";
}

void MediaOutput::give_encoder(AVFrame* frame, int64_t pts) {
  last_pts_ = pts;
  frame->pts = pts;
  frame->pict_type = AV_PICTURE_TYPE_NONE;
  // A sequence's picture is checked against what exists before it is made.
  if (file_ != nullptr) file_->add_picture(frames_ + 1);
  encode(frame);
  ++frames_;
}

void MediaOutput::write_packet(AVPacket* packet, int input_stream) {
  auto it = routes_.find(input_stream);
  if (it == routes_.end()) return;
  Route& route = it->second;
  packet->pos = -1;
  if (route.transcoder) {
    route.transcoder->send(packet, [&](AVPacket* p, AVRational tb) { mux(p, tb, route.out); });
  } else if (route.converter) {
    PacketPtr text = make_packet();
    if (route.converter->convert(*packet, *text)) mux(text.get(), route.from, route.out);
  } else {
    mux(packet, route.from, route.out);
  }
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
  for (auto& [index, route] : routes_)
    if (route.transcoder) route.transcoder->finish([&](AVPacket* p, AVRational tb) { mux(p, tb, route.out); });
  int err = av_write_trailer(muxer_.get());
  if (err < 0) fail(err);
  if (io_) io_->close();
  if (file_ == nullptr && io_->stream_error() != 0) fail(AVERROR(io_->stream_error()));
}
