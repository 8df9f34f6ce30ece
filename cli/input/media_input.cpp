// Opening the input and its video decoder, with one clear message for each
// way a file can be unusable.
#include "cli/input/media_input.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/cli_error.h"
#include "cli/input/sequence_kind.h"
#include "cli/files/sequence_pattern.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

MediaInput::MediaInput(const std::string& path) : path_(path) {
  const bool from_stdin = path == "-";
  const std::string quoted = from_stdin ? "standard input" : "'" + path + "'";
  if (from_stdin && isatty(STDIN_FILENO))
    throw usage_error("INPUT - reads standard input, which is a terminal; pipe a picture or a stream into it");
  if (!from_stdin && !is_sequence_pattern(path)) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) throw CliError("cannot open " + quoted + ": " + std::strerror(errno));
    if (S_ISDIR(st.st_mode))
      throw CliError("cannot open " + quoted + ": it is a directory (for a folder of frames give a pattern such as '" +
                     path + "/%04d.png')");
    if (access(path.c_str(), R_OK) != 0) throw CliError("cannot open " + quoted + ": " + std::strerror(errno));
  }

  // Read through the file protocol only: a name is always a local file,
  // never a network address or a protocol such as "concat:". "-" is
  // standard input, read as a pipe (FFmpeg probes what comes).
  AVDictionary* options = nullptr;
  av_dict_set(&options, "protocol_whitelist", from_stdin ? "pipe" : "file", 0);
  const std::string url = from_stdin ? "pipe:0" : "file:" + path;
  AVFormatContext* opened = nullptr;
  int err = avformat_open_input(&opened, url.c_str(), nullptr, &options);
  av_dict_free(&options);
  format_.reset(opened);
  if (err < 0) {
    if (err == AVERROR_INVALIDDATA)
      throw CliError("cannot read " + quoted + ": not a picture or video that FFmpeg can read");
    throw CliError("cannot open " + quoted + ": " + av_error_text(err));
  }
  err = avformat_find_stream_info(format_.get(), nullptr);
  if (err < 0) throw CliError("cannot read " + quoted + ": " + av_error_text(err));

  const AVCodec* codec = nullptr;
  video_index_ = av_find_best_stream(format_.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
  if (video_index_ == AVERROR_DECODER_NOT_FOUND) {
    const AVStream* st = format_->streams[av_find_best_stream(format_.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0)];
    throw CliError("cannot read " + quoted + ": no decoder for its video (" +
                   avcodec_get_name(st->codecpar->codec_id) + ")");
  }
  if (video_index_ < 0) throw CliError("cannot read " + quoted + ": it has no video or picture in it");
  for (unsigned k = 0; k < format_->nb_streams; ++k)
    if (format_->streams[k]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) audio_indices_.push_back(int(k));

  decoder_.reset(avcodec_alloc_context3(codec));
  if (!decoder_) throw std::bad_alloc();
  const AVStream* st = video();
  err = avcodec_parameters_to_context(decoder_.get(), st->codecpar);
  if (err < 0) throw CliError("cannot read " + quoted + ": " + av_error_text(err));
  decoder_->pkt_timebase = st->time_base;
  decoder_->thread_count = 0;  // as many as FFmpeg sees fit
  err = avcodec_open2(decoder_.get(), codec, nullptr);
  if (err < 0) throw CliError("cannot decode " + quoted + ": " + av_error_text(err));
  if (decoder_->width <= 0 || decoder_->height <= 0)
    throw CliError("cannot read " + quoted + ": no picture could be read from it");
  pixel_format_ = decoder_->pix_fmt;
  if (!from_stdin && is_sequence_pattern(path)) pixel_format_ = widest_sequence_format(url, pixel_format_);
}

bool MediaInput::is_lossless() const {
  const AVCodecParameters* par = video()->codecpar;
  const AVCodecDescriptor* d = avcodec_descriptor_get(par->codec_id);
  if (d != nullptr && (d->props & AV_CODEC_PROP_LOSSLESS) && !(d->props & AV_CODEC_PROP_LOSSY)) return true;
  // Lossy codecs store RGB in practice only in their lossless modes (RGB
  // H.264 is written with QP 0). Lossless YUV H.264 cannot be told from a
  // lossy one by its parameters; it counts as lossy.
  const AVPixFmtDescriptor* f = av_pix_fmt_desc_get(decoder_->pix_fmt);
  return f != nullptr && (f->flags & AV_PIX_FMT_FLAG_RGB);
}

int64_t MediaInput::frames_announced() const {
  if (const std::optional<SequencePattern> pattern = SequencePattern::parse(path_))
    return int64_t(pattern->existing_numbers().size());
  const AVStream* st = video();
  if (st->nb_frames > 0) return st->nb_frames;
  const AVRational rate = frame_rate();
  if (st->duration > 0) return av_rescale_q(st->duration, st->time_base, av_inv_q(rate));
  if (format_->duration > 0) return av_rescale_q(format_->duration, AV_TIME_BASE_Q, av_inv_q(rate));
  return -1;
}

MediaInput::SequenceGap MediaInput::sequence_gap() const {
  const std::optional<SequencePattern> pattern = SequencePattern::parse(path_);
  if (!pattern) return {};
  const std::vector<int64_t> numbers = pattern->existing_numbers();
  for (size_t k = 1; k < numbers.size(); ++k)
    if (numbers[k] != numbers[k - 1] + 1) return {pattern->name_of(numbers[k - 1] + 1), int64_t(k)};
  return {};
}

AVRational MediaInput::frame_rate() const {
  const AVRational rate = av_guess_frame_rate(format_.get(), video(), nullptr);
  return rate.num > 0 && rate.den > 0 ? rate : AVRational{25, 1};
}
