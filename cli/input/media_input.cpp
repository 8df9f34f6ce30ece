// Opening the input and its video decoder, with one clear message for each
// way a file can be unusable.
#include "cli/input/media_input.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "cli/cli_error.h"
#include "cli/input/nested_demuxers.h"
#include "cli/input/playlist_probe.h"
#include "cli/input/sequence_kind.h"
#include "cli/files/sequence_pattern.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace {

// The demuxer's way of opening files: the first call opens the input
// itself, any other is refused and remembered.
int open_only_the_input(AVFormatContext* s, AVIOContext** pb, const char* url, int flags, AVDictionary** options) {
  auto* opens = static_cast<MediaInput::Opens*>(s->opaque);
  if (!opens->input_opened) {
    opens->input_opened = true;
    return opens->default_open(s, pb, url, flags, options);
  }
  if (opens->refused.empty()) opens->refused = std::strncmp(url, "file:", 5) == 0 ? url + 5 : url;
  return AVERROR(EPERM);
}

// Opens the named file (or standard input) and tells its demuxer from its
// first bytes, as avformat_open_input would, so that a demuxer that reads
// other files is refused before it reads anything. Returns the opened
// file, its probe data kept for the demuxer to read again.
AVIOContext* open_and_probe(const std::string& url, const std::string& quoted, void* log_context,
                            const AVInputFormat** format) {
  AVDictionary* options = nullptr;
  av_dict_set(&options, "protocol_whitelist", url.rfind("pipe:", 0) == 0 ? "pipe" : "file", 0);
  AVIOContext* pb = nullptr;
  int err = avio_open2(&pb, url.c_str(), AVIO_FLAG_READ, nullptr, &options);
  av_dict_free(&options);
  if (err < 0) throw CliError("cannot open " + quoted + ": " + av_error_text(err));
  err = av_probe_input_buffer2(pb, format, url.c_str(), log_context, 0, 0);
  // A playlist is one whatever its name (FFmpeg 7.1 probes one named .mp4
  // as MP4), so that it is refused below on every version.
  if (err >= 0 && url.rfind("file:", 0) == 0)
    if (const AVInputFormat* playlist = playlist_format(url.substr(5))) *format = playlist;
  if (err < 0) {
    avio_closep(&pb);
    if (err == AVERROR_INVALIDDATA)
      throw CliError("cannot read " + quoted + ": " + kNotReadable);
    throw CliError("cannot read " + quoted + ": " + av_error_text(err));
  }
  if (const char* kind = nested_input_kind((*format)->name)) {
    avio_closep(&pb);
    throw CliError("cannot read " + quoted + ": it is " + kind + " (FFmpeg's " + (*format)->name +
                   " demuxer), which reads the files it names; velbrin reads only the file it is given");
  }
  return pb;
}

}  // namespace

void MediaInput::IoClose::operator()(AVIOContext* pb) const { avio_closep(&pb); }

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
  // A sequence starts at its first existing picture, however high its
  // number ("007.png"; FFmpeg itself looks only a few numbers past 0).
  const std::string first_number = first_picture_number(path);
  if (!first_number.empty()) av_dict_set(&options, "start_number", first_number.c_str(), 0);
  AVFormatContext* opened = avformat_alloc_context();
  if (opened == nullptr) throw std::bad_alloc();
  // Only the named file is read. A demuxer known to read other files or
  // addresses (a playlist, a concat list, a manifest) is refused by what it
  // is, before it reads anything; any other that asks to open a file (a
  // reference) is refused that. A demuxer that opens its file itself
  // (image2 for a single picture) may open that one. An image sequence's
  // pictures are opened by its demuxer and stay allowed.
  const AVInputFormat* demuxer = nullptr;
  if (!is_sequence_pattern(path)) {
    try {
      input_file_.reset(open_and_probe(url, quoted, opened, &demuxer));
    } catch (...) {
      avformat_free_context(opened);  // not yet the demuxer's to free
      av_dict_free(&options);
      throw;
    }
    if (!(demuxer->flags & AVFMT_NOFILE)) {
      opened->pb = input_file_.get();
      opens_.input_opened = true;
    } else {
      input_file_.reset();
    }
    opens_.default_open = opened->io_open;
    opened->opaque = &opens_;
    opened->io_open = open_only_the_input;
  }
  int err = avformat_open_input(&opened, url.c_str(), demuxer, &options);
  av_dict_free(&options);
  format_.reset(opened);
  if (err >= 0) err = avformat_find_stream_info(format_.get(), nullptr);
  if (!opens_.refused.empty())
    throw CliError("cannot read " + quoted + ": it names another file to read ('" + opens_.refused +
                   "'), as a playlist or a list does; velbrin reads only the file it is given");
  if (err < 0 && !format_) {
    if (err == AVERROR_INVALIDDATA)
      throw CliError("cannot read " + quoted + ": " + kNotReadable);
    throw CliError("cannot open " + quoted + ": " + av_error_text(err));
  }
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
  if (!from_stdin && is_sequence_pattern(path))
    pixel_format_ = widest_sequence_format(url, first_number, pixel_format_);
}

bool MediaInput::is_lossless() const {
  // The codec decides, not the pixel format it decodes to (Cinepak decodes
  // to RGB and is lossy).
  const AVCodecParameters* par = video()->codecpar;
  const AVCodecDescriptor* d = avcodec_descriptor_get(par->codec_id);
  if (d == nullptr || !(d->props & AV_CODEC_PROP_LOSSLESS)) return false;
  if (!(d->props & AV_CODEC_PROP_LOSSY)) return true;
  // A codec with both modes stores RGB in practice only in its lossless
  // one (RGB H.264 is written with QP 0). Lossless YUV H.264 cannot be told
  // from a lossy one by its parameters; it counts as lossy.
  const AVPixFmtDescriptor* f = av_pix_fmt_desc_get(decoder_->pix_fmt);
  return f != nullptr && (f->flags & AV_PIX_FMT_FLAG_RGB);
}

int64_t MediaInput::frames_announced() const {
  if (const std::optional<SequencePattern> pattern = SequencePattern::parse(path_))
    return int64_t(pattern->existing_numbers().size());
  AVStream* st = video();
  if (st->nb_frames > 0) {
    // AVI and MP4 index every packet when opened, and count empty drop
    // frames and an edit list's pre-roll among their frames, which no
    // decode outputs: there the index's shown entries count.
    const std::string name = format_->iformat->name;
    if (name == "avi" || name.rfind("mov,", 0) == 0) {
      int64_t shown = 0;
      for (int k = 0, n = avformat_index_get_entries_count(st); k < n; ++k) {
        const AVIndexEntry* e = avformat_index_get_entry(st, k);
        shown += e != nullptr && e->size > 0 && !(e->flags & AVINDEX_DISCARD_FRAME);
      }
      if (shown > 0) return shown;
    }
    return st->nb_frames;
  }
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

int64_t MediaInput::start_time_us() const {
  int64_t start = AV_NOPTS_VALUE;
  std::vector<int> streams = audio_indices_;
  streams.push_back(video_index_);
  for (int index : streams) {
    const AVStream* st = format_->streams[index];
    if (st->start_time == AV_NOPTS_VALUE) continue;
    const int64_t us = av_rescale_q(st->start_time, st->time_base, AV_TIME_BASE_Q);
    start = start == AV_NOPTS_VALUE ? us : std::min(start, us);
  }
  return start;
}
