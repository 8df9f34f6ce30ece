// The decode / filter / encode pipeline and its hand-over between threads.
#include "cli/run/pipeline.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "cli/cli_error.h"
#include "cli/input/frame_seek.h"
#include "cli/input/media_input.h"
#include "cli/media/host_frame.h"
#include "cli/output/media_output.h"
#include "cli/output/output_choice.h"
#include "cli/media/decoder_drain.h"
#include "cli/run/frame_hand_over.h"
#include "cli/run/input_damage.h"
#include "cli/run/range_cut.h"
#include "cli/run/progress_line.h"

extern "C" {
#include <libavutil/imgutils.h>
}

#include <time.h>

namespace {

// Runs `body` and turns anything it throws into the pipeline's failure.
template <typename Body>
void guarded(FrameHandOver& shared, Body body) {
  try {
    body();
  } catch (...) {
    shared.fail(std::current_exception());
  }
}

// Whether the input is a file that can be read again from another place
// (not a pipe, a FIFO or an image sequence).
bool can_seek(const AVFormatContext* f) {
  return f->pb != nullptr && !(f->iformat->flags & AVFMT_NOFILE) && (f->pb->seekable & AVIO_SEEKABLE_NORMAL);
}

// The input's start: the earliest start of its video and audio streams, in
// microseconds; AV_NOPTS_VALUE when none says.
int64_t input_start(const MediaInput& input) {
  int64_t start = AV_NOPTS_VALUE;
  std::vector<int> streams = input.audio_indices();
  streams.push_back(input.video_index());
  for (int index : streams) {
    const AVStream* st = input.format()->streams[index];
    if (st->start_time == AV_NOPTS_VALUE) continue;
    const int64_t us = av_rescale_q(st->start_time, st->time_base, AV_TIME_BASE_Q);
    start = start == AV_NOPTS_VALUE ? us : std::min(start, us);
  }
  return start;
}

// The reader: demuxes, decodes, numbers the frames by the one frame clock
// (presentation order, as a full decode from the start outputs them), and
// hands the range's frames and audio, moved to the output's clock (the
// range cut), to the other threads. A range from a later frame starts at
// the key frame before it where the packets tell the clock exactly;
// otherwise, and on an input that cannot seek, it is read once from the
// start and its frames counted.
class Reader {
 public:
  Reader(MediaInput& input, bool with_output, const PipelineSettings& settings, FrameHandOver& shared,
         InputDamage& damage, PipelineResult& result)
      : input_(input), with_output_(with_output), settings_(settings), shared_(shared), damage_(damage),
        result_(result) {
    for (int index : input.audio_indices()) audio_wanted_[index] = true;
  }

  void run() {
    PacketPtr packet = make_packet();
    FramePtr frame = make_frame();
    AVCodecContext* dec = input_.decoder();
    const int video = input_.video_index();
    plan_range();
    while (!finished() && !shared_.stopped()) {
      int err = av_read_frame(input_.format(), packet.get());
      if (err < 0) {
        // The end of the file; anything else is a fault of the input.
        if (err != AVERROR_EOF) damage_.read_error(err);
        break;
      }
      note_position(*packet);
      if (packet->stream_index == video && !checked_) {
        // After a seek the first video packet must be the chosen key frame
        // or an earlier one; past it, the next way is tried, the last being
        // the start.
        checked_ = packet->pts != AV_NOPTS_VALUE && packet->pts <= seek_->key_pts;
        if (!checked_) {
          seek_next();
          cut_->forget_waiting();  // the audio read so far comes again
          av_packet_unref(packet.get());
          continue;
        }
      }
      if (packet->stream_index == video && !cut_->video_done()) {
        // Before frame A only what later frames refer to needs decoding:
        // frames no other frame refers to are skipped there.
        if (seek_)
          dec->skip_frame = packet->pts != AV_NOPTS_VALUE && packet->pts < seek_->first_pts ? AVDISCARD_NONREF
                                                                                             : AVDISCARD_DEFAULT;
        err = avcodec_send_packet(dec, packet.get());
        if (err == AVERROR(ENOMEM)) throw std::bad_alloc();
        if (err < 0) damage_.decode_error(err);
        receive_frames(dec, frame.get());
      } else if (with_output_ && audio_wanted_.count(packet->stream_index)) {
        const int stream = packet->stream_index;
        forward(cut_->take_audio(std::move(packet), stream, input_.format()->streams[stream]->time_base));
        packet = make_packet();
      }
      av_packet_unref(packet.get());
    }
    if (!cut_->video_done() && !shared_.stopped()) {
      avcodec_send_packet(dec, nullptr);
      receive_frames(dec, frame.get());
    }
    shared_.reader_done();
  }

 private:
  // --frames: a file that can seek is read ahead, through a context of its
  // own, to plan the range; the input itself then seeks to the key frame
  // before A, or is read from the start.
  void plan_range() {
    const FrameRange& range = settings_.range;
    RangeCut::Setup setup;
    setup.range = range;
    setup.video_time_base = input_.video()->time_base;
    setup.start = input_start(input_);
    setup.start_time_base = AV_TIME_BASE_Q;
    const bool wanted = with_output_ && settings_.range_given && settings_.capture_at < 0 &&
                        (range.first > 0 || range.last != INT64_MAX);
    // A range is damaged by what reading its own frames reports; what comes
    // before frame A (a stream picked up mid-GOP, pictures that refer to
    // frames before a key frame sought to) is the earlier frames' affair.
    // Faults found while reading ahead are the run's to find again.
    damage_.listen(false);
    if (wanted && can_seek(input_.format())) {
      const RangePlan plan = ::plan_range(input_.path(), input_.video_index(), range.first, range.last);
      setup.end_pts = plan.end_pts;
      seek_ = plan.start;
      if (seek_) {
        checked_ = false;
        seek_next();
      }
    }
    damage_.listen(!with_output_ || range.first == 0);
    cut_.emplace(setup);
  }

  // Seeks to the key frame by its presentation time, then by its decoding
  // time (demuxers index one or the other), then to the start, where frames
  // are counted as they come.
  void seek_next() {
    AVFormatContext* f = input_.format();
    const int video = input_.video_index();
    while (seek_ && attempt_ < 2) {
      const int64_t ts = attempt_++ == 0 ? seek_->key_pts : seek_->key_dts;
      if (av_seek_frame(f, video, ts, AVSEEK_FLAG_BACKWARD) >= 0) return;
    }
    seek_.reset();
    checked_ = true;
    attempt_ = 2;
    const int64_t start = input_.video()->start_time != AV_NOPTS_VALUE ? input_.video()->start_time : 0;
    if (av_seek_frame(f, video, start, AVSEEK_FLAG_BACKWARD) < 0)
      throw CliError("cannot read '" + input_.path() + "': it cannot be read again from its start");
    avcodec_flush_buffers(input_.decoder());
  }

  // A decoded frame's number by the frame clock. After a seek, frames
  // before frame A come first and are dropped (-1).
  int64_t frame_number(const AVFrame* frame) {
    if (!seek_) {
      if (result_.frames_decoded == settings_.range.first) damage_.listen(true);
      return result_.frames_decoded++;
    }
    if (frame->best_effort_timestamp == AV_NOPTS_VALUE || frame->best_effort_timestamp < seek_->first_pts) return -1;
    const int64_t index = settings_.range.first + kept_since_seek_++;
    result_.frames_decoded = index + 1;
    if (index == settings_.range.first) damage_.listen(true);
    return index;
  }

  bool finished() const {
    if (!with_output_) return captured_;
    if (!cut_->video_done()) return false;
    return cut_->audio_done() || audio_wanted_.empty();
  }

  // Where the reading stands, for naming where a fault was reported.
  void note_position(const AVPacket& packet) {
    const AVRational tb = input_.format()->streams[packet.stream_index]->time_base;
    const double at = packet.pts == AV_NOPTS_VALUE ? last_seconds_ : double(packet.pts) * av_q2d(tb);
    last_seconds_ = at;
    damage_.reading_at(result_.frames_decoded, at);
  }

  void receive_frames(AVCodecContext* dec, AVFrame* frame) {
    const int failures = drain_decoder([&] { return avcodec_receive_frame(dec, frame); },
                                       [&] {
                                         take_frame(frame);
                                         av_frame_unref(frame);
                                         return cut_->video_done();
                                       });
    if (failures > 0) damage_.decode_error(AVERROR_INVALIDDATA);
  }

  void take_frame(AVFrame* frame) {
    const int64_t index = frame_number(frame);
    frame->pts = frame->best_effort_timestamp;
    if (frame->decode_error_flags != 0 || (frame->flags & AV_FRAME_FLAG_CORRUPT))
      damage_.corrupt_frame(index, frame->pts == AV_NOPTS_VALUE ? last_seconds_
                                                                : double(frame->pts) * av_q2d(input_.video()->time_base));
    if (index >= 0 && index == settings_.capture_at) {
      result_.captured.reset(av_frame_clone(frame));
      if (!result_.captured) throw std::bad_alloc();
      captured_ = true;
    }
    if (!with_output_) return;
    FramePtr copy(av_frame_clone(frame));
    if (!copy) throw std::bad_alloc();
    if (!cut_->take_frame(index, *copy)) return;
    forward(cut_->take_waiting());
    shared_.push_job(std::move(copy));
  }

  void forward(std::vector<std::pair<int, PacketPtr>> packets) {
    for (auto& [stream, packet] : packets) shared_.push_audio(stream, std::move(packet));
  }

  MediaInput& input_;
  const bool with_output_;
  const PipelineSettings& settings_;
  FrameHandOver& shared_;
  InputDamage& damage_;
  PipelineResult& result_;
  std::optional<RangeCut> cut_;
  std::optional<SeekPoint> seek_;
  int attempt_ = 0;
  bool checked_ = true;
  int64_t kept_since_seek_ = 0;
  std::map<int, bool> audio_wanted_;
  double last_seconds_ = 0;
  bool captured_ = false;
};

// Processor time of the calling thread, in seconds.
double thread_seconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Pictures for the encoder, of one pixel format and size, in buffers that
// are used again once the encoder and muxer let go of them: a fresh buffer
// for each frame costs the kernel about 1 ms of page clearing per 1080p
// frame. Pictures of another size get a buffer of their own.
class PicturePool {
 public:
  PicturePool(AVPixelFormat format, int width, int height) : format_(format), width_(width), height_(height) {
    // Rows padded to 64 bytes, as av_frame_get_buffer pads them.
    const int padded = (width + 63) & ~63;
    if (av_image_fill_linesizes(linesize_, format, padded) < 0) return;
    const int size = av_image_get_buffer_size(format, padded, height, 64);
    if (size > 0) pool_.reset(av_buffer_pool_init(size_t(size), nullptr));
  }

  FramePtr get(int width, int height) {
    FramePtr f = make_frame();
    f->format = format_;
    f->width = width;
    f->height = height;
    if (pool_ && width == width_ && height == height_) {
      f->buf[0] = av_buffer_pool_get(pool_.get());
      if (f->buf[0] == nullptr) throw std::bad_alloc();
      uint8_t* data[4] = {};
      int linesize[4] = {};
      av_image_fill_arrays(data, linesize, f->buf[0]->data, format_, (width_ + 63) & ~63, height_, 64);
      for (int k = 0; k < 4; ++k) {
        f->data[k] = data[k];
        f->linesize[k] = linesize_[k];
      }
      return f;
    }
    if (av_frame_get_buffer(f.get(), 0) < 0) throw std::bad_alloc();
    return f;
  }

 private:
  struct PoolFree {
    void operator()(AVBufferPool* p) const { av_buffer_pool_uninit(&p); }
  };
  AVPixelFormat format_;
  int width_, height_;
  int linesize_[4] = {};
  std::unique_ptr<AVBufferPool, PoolFree> pool_;
};

// One worker: its own filter instance, conversion state and the two host
// frames it reuses for every frame.
class Worker {
 public:
  Worker(FilterInstance* instance, const OutputChoice& choice, bool bypass, bool auto_strength, PicturePool& pictures)
      : instance_(instance),
        pictures_(pictures),
        choice_(choice),
        bypass_(bypass),
        auto_strength_(auto_strength),
        to_host_(!choice.lossless),  // lossless outputs keep the exact, documented way in
        from_host_(choice.pixel_format, choice.colour) {}

  void run(FrameHandOver& shared) {
    while (std::unique_ptr<FrameInFlight> job = shared.take_job()) {
      filter(*job);
      shared.job_done(std::move(job));
    }
  }
  const StageTimes& times() const { return times_; }
  const StrengthSummary& strength() const { return strength_; }

 private:
  void filter(FrameInFlight& job) {
    const AVFrame& in = *job.decoded;
    if (!source_ || source_->width() != in.width || source_->height() != in.height) {
      source_.reset();  // the old pair goes before the new one is made
      filtered_.reset();
      source_.emplace(in.width, in.height);
      filtered_.emplace(in.width, in.height);
    }
    double t0 = thread_seconds();
    to_host_.convert(in, *source_);
    double t1 = thread_seconds();
    times_.to_host += t1 - t0;
    if (bypass_)
      std::memcpy(filtered_->words(), source_->words(), size_t(HostFrame::bytes(in.width, in.height)));
    else {
      // --auto: the settings follow this frame alone, so the frame's output
      // does not depend on which worker runs it or what came before.
      if (auto_strength_) {
        const FrameStrength f = strength_of_frame(source_->words(), in.width, in.height, ptrdiff_t{in.width} * 4);
        instance_->configure(f.settings.level, f.settings.dynamic);
        strength_.add(f);
      }
      instance_->run(source_->words(), filtered_->words(), in.width, in.height);
    }
    t0 = thread_seconds();
    times_.filter += t0 - t1;
    const int64_t pts = in.pts, duration = in.pkt_duration;
    const AVRational aspect = in.sample_aspect_ratio;
    const int width = in.width, height = in.height;
    // The decoded picture goes before the encoder's is made.
    job.decoded.reset();
    FramePtr encoded = pictures_.get(width, height);
    encoded->pts = pts;
    encoded->pkt_duration = duration;
    encoded->sample_aspect_ratio = aspect;
    from_host_.convert(*filtered_, choice_.keep_alpha ? &*source_ : nullptr, *encoded);
    times_.from_host += thread_seconds() - t0;
    job.encoded = std::move(encoded);
  }

  FilterInstance* instance_;
  PicturePool& pictures_;
  const OutputChoice& choice_;
  const bool bypass_;
  const bool auto_strength_;
  StrengthSummary strength_;
  ToHostConverter to_host_;
  FromHostConverter from_host_;
  std::optional<HostFrame> source_, filtered_;
  StageTimes times_;
};

// The pipeline's threads, joined whatever happens. When the system refuses
// a thread (a process limit), those already running are stopped and joined
// before the failure goes up as one line, instead of being destroyed while
// joinable, which would end the process at once.
class PipelineThreads {
 public:
  explicit PipelineThreads(FrameHandOver& shared) : shared_(shared) {}
  ~PipelineThreads() {
    shared_.stop();
    join();
  }
  PipelineThreads(const PipelineThreads&) = delete;
  PipelineThreads& operator=(const PipelineThreads&) = delete;

  template <typename Body>
  void start(Body body) {
    try {
      threads_.emplace_back(std::move(body));
    } catch (const std::system_error& e) {
      throw CliError(std::string("cannot start a thread: ") + e.code().message());
    }
  }
  void join() {
    for (std::thread& t : threads_)
      if (t.joinable()) t.join();
  }

 private:
  FrameHandOver& shared_;
  std::vector<std::thread> threads_;
};

}  // namespace

PipelineResult run_pipeline(MediaInput& input, MediaOutput* output, const OutputChoice* choice,
                            const LoadedFilterModule& module, const PipelineSettings& settings, InputDamage& damage,
                            ProgressLine& progress) {
  PipelineResult result;
  result.workers = output != nullptr ? std::max(settings.plan.workers, 1) : 0;
  result.in_flight = std::max<int64_t>(settings.plan.in_flight, 1);
  FrameHandOver shared(result.in_flight);

  // Each worker's instance is made here, before any thread starts, exactly
  // as the host makes one: InitProc, then the settings replayed.
  const AVCodecContext* dec = input.decoder();
  std::optional<PicturePool> pictures;
  if (choice != nullptr) pictures.emplace(choice->pixel_format, dec->width, dec->height);
  std::vector<std::unique_ptr<FilterInstance>> instances;
  std::vector<std::unique_ptr<Worker>> workers;
  for (int k = 0; k < result.workers; ++k) {
    instances.push_back(std::make_unique<FilterInstance>(module, settings.instance));
    workers.push_back(std::make_unique<Worker>(instances.back().get(), *choice, settings.bypass,
                                                     settings.auto_strength, *pictures));
  }

  Reader reader(input, output != nullptr, settings, shared, damage, result);
  PipelineThreads threads(shared);
  threads.start([&] { guarded(shared, [&] { reader.run(); }); });
  for (auto& w : workers) threads.start([&, w = w.get()] { guarded(shared, [&] { w->run(shared); }); });

  if (output != nullptr) {
    guarded(shared, [&] {
      std::vector<AudioItem> audio;
      std::unique_ptr<FrameInFlight> job;
      while (shared.take_output(audio, job)) {
        for (AudioItem& a : audio) output->write_audio(a.packet.get(), a.stream);
        audio.clear();
        if (job) {
          output->write_video(job->encoded.get());
          job.reset();
          shared.frame_written();
          ++result.frames_written;
          progress.update(output->frames_written(), output->written_time_us());
        }
      }
    });
  }
  // Whatever happened, every thread is stopped and joined before returning.
  if (shared.error()) shared.stop();
  threads.join();
  if (std::exception_ptr e = shared.error()) std::rethrow_exception(e);
  result.most_audio_queued = shared.most_audio_queued();
  for (const auto& w : workers) {
    result.stages.to_host += w->times().to_host;
    result.stages.filter += w->times().filter;
    result.stages.from_host += w->times().from_host;
    result.strength.merge(w->strength());
  }
  return result;
}
