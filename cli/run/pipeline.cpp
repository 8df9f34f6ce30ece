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
#include "cli/run/decoder_drain.h"
#include "cli/run/frame_hand_over.h"
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

// The reader: demuxes, decodes, picks the chosen frames and the audio that
// goes with them, and shifts timestamps so a chosen range starts at zero.
class Reader {
 public:
  Reader(MediaInput& input, bool with_output, const PipelineSettings& settings, FrameHandOver& shared,
         PipelineResult& result)
      : input_(input), with_output_(with_output), settings_(settings), shared_(shared), result_(result) {
    for (int index : input.audio_indices()) audio_wanted_[index] = true;
  }

  void run() {
    PacketPtr packet = make_packet();
    FramePtr frame = make_frame();
    AVCodecContext* dec = input_.decoder();
    const int video = input_.video_index();
    // --frames A-B: decoding starts at the key frame before A (no capture
    // for --compare then, which counts frames from the start).
    if (with_output_ && settings_.range_given && settings_.capture_at < 0) {
      const RangePlan plan = plan_range(input_.path(), video, settings_.range.first, settings_.range.last);
      seek_ = plan.start;
      // The range's audio ends where the frame after it starts, so that
      // ranges side by side share out the audio packets exactly.
      if (plan.end_pts) {
        end_pts_ = *plan.end_pts;
        end_seconds_ = seconds(end_pts_, input_.video()->time_base);
      }
    }
    int attempt = 0;
    if (seek_) seek_next(attempt);
    bool checked = !seek_;
    while (!finished() && !shared_.stopped()) {
      int err = av_read_frame(input_.format(), packet.get());
      if (err < 0) {
        // The end of the file, or a file cut short: what was read is used.
        if (err != AVERROR_EOF) ++result_.damaged_packets;
        break;
      }
      note_packet_end(*packet);
      if (packet->stream_index == video && !checked) {
        // The first video packet must be the chosen key frame or an earlier
        // one; past it, the next way is tried, the last being the start.
        checked = packet->pts != AV_NOPTS_VALUE && packet->pts <= seek_->key_pts;
        if (!checked) {
          pending_audio_.clear();
          seek_next(attempt);
          checked = !seek_;
          av_packet_unref(packet.get());
          continue;
        }
      }
      if (packet->stream_index == video && !video_done_) {
        // Before frame A only what later frames refer to needs decoding:
        // frames no other frame refers to are skipped there.
        if (seek_)
          dec->skip_frame = packet->pts != AV_NOPTS_VALUE && packet->pts < seek_->first_pts ? AVDISCARD_NONREF
                                                                                             : AVDISCARD_DEFAULT;
        err = avcodec_send_packet(dec, packet.get());
        if (err == AVERROR(ENOMEM)) throw std::bad_alloc();
        if (err < 0) ++result_.damaged_packets;
        receive_frames(dec, frame.get());
      } else if (with_output_ && audio_wanted_.count(packet->stream_index)) {
        take_audio(std::move(packet));
        packet = make_packet();
      }
      av_packet_unref(packet.get());
    }
    if (!video_done_ && !shared_.stopped()) {
      avcodec_send_packet(dec, nullptr);
      receive_frames(dec, frame.get());
    }
    shared_.reader_done();
  }

 private:
  // Seeks to the key frame by its presentation time, then by its decoding
  // time (demuxers index one or the other), then to the start, where frames
  // are counted as they come.
  void seek_next(int& attempt) {
    AVFormatContext* f = input_.format();
    const int video = input_.video_index();
    while (seek_ && attempt < 2) {
      const int64_t ts = attempt++ == 0 ? seek_->key_pts : seek_->key_dts;
      if (av_seek_frame(f, video, ts, AVSEEK_FLAG_BACKWARD) >= 0) return;
    }
    seek_.reset();
    if (attempt == 0) return;  // nothing moved yet
    const int64_t start = input_.video()->start_time != AV_NOPTS_VALUE ? input_.video()->start_time : 0;
    if (av_seek_frame(f, video, start, AVSEEK_FLAG_BACKWARD) < 0)
      throw CliError("cannot read '" + input_.path() + "': it cannot be read again from its start");
  }

  // A decoded frame's number counted from 0 in presentation order. After a
  // seek, frames before frame A come first and are dropped.
  int64_t frame_number(const AVFrame* frame) {
    if (!seek_) return result_.frames_decoded++;
    const int64_t first = settings_.range.first;
    if (frame->best_effort_timestamp == AV_NOPTS_VALUE || frame->best_effort_timestamp < seek_->first_pts)
      return first - 1;
    const int64_t index = first + kept_since_seek_++;
    result_.frames_decoded = index + 1;
    return index;
  }

  bool finished() const {
    if (!with_output_) return captured_;
    if (!video_done_) return false;
    return audio_done_ || audio_wanted_.empty();
  }

  // How far into the file the reading got: a file cut short stops early in
  // every stream.
  void note_packet_end(const AVPacket& packet) {
    if (packet.pts == AV_NOPTS_VALUE) return;
    const AVRational tb = input_.format()->streams[packet.stream_index]->time_base;
    const int64_t start = input_.format()->start_time == AV_NOPTS_VALUE ? 0 : input_.format()->start_time;
    const int64_t end = av_rescale_q(packet.pts + std::max<int64_t>(packet.duration, 0), tb, AV_TIME_BASE_Q) - start;
    result_.read_end_us = std::max(result_.read_end_us, end);
  }

  double seconds(int64_t ts, AVRational tb) const { return ts == AV_NOPTS_VALUE ? 0.0 : double(ts) * av_q2d(tb); }

  void receive_frames(AVCodecContext* dec, AVFrame* frame) {
    result_.damaged_packets += drain_decoder([&] { return avcodec_receive_frame(dec, frame); },
                                             [&] {
                                               take_frame(frame);
                                               av_frame_unref(frame);
                                               return video_done_;
                                             });
  }


  void take_frame(AVFrame* frame) {
    const int64_t index = frame_number(frame);
    const AVRational tb = input_.video()->time_base;
    frame->pts = frame->best_effort_timestamp;
    if (frame->pts != AV_NOPTS_VALUE) {
      // Counted from the video's start (also after a seek), or from its
      // first frame when the container does not say where it starts.
      if (first_pts_ == AV_NOPTS_VALUE)
        first_pts_ = input_.video()->start_time != AV_NOPTS_VALUE ? input_.video()->start_time : frame->pts;
      const int64_t end = frame->pts - first_pts_ + std::max<int64_t>(frame->pkt_duration, 0);
      result_.decoded_end_us = std::max(result_.decoded_end_us, av_rescale_q(end, tb, AV_TIME_BASE_Q));
    }
    if (index == settings_.capture_at) {
      result_.captured.reset(av_frame_clone(frame));
      if (!result_.captured) throw std::bad_alloc();
      captured_ = true;
    }
    if (!with_output_) return;
    const double t = seconds(frame->pts, tb);
    if (index < settings_.range.first) {
      // Audio before this frame cannot belong to the chosen range.
      while (!pending_audio_.empty() && packet_end(pending_audio_.front()) <= t) pending_audio_.pop_front();
      return;
    }
    if (index == settings_.range.first) {
      if (settings_.range_given && frame->pts != AV_NOPTS_VALUE) offset_ = frame->pts;
      start_seconds_ = settings_.range_given ? t : -1e300;
      started_ = true;
      for (auto& p : pending_audio_) forward_audio(std::move(p.second), p.first);
      pending_audio_.clear();
    }
    FramePtr copy(av_frame_clone(frame));
    if (!copy) throw std::bad_alloc();
    if (copy->pts != AV_NOPTS_VALUE) copy->pts -= offset_;
    if (!shared_.push_job(std::move(copy))) return;
    if (index >= settings_.range.last) {
      video_done_ = true;
      const double duration = frame->pkt_duration > 0 ? seconds(frame->pkt_duration, tb) : 0.0;
      if (end_pts_ == AV_NOPTS_VALUE) end_seconds_ = t + duration;
    }
  }

  double packet_end(const std::pair<int, PacketPtr>& p) const {
    const AVRational tb = input_.format()->streams[p.first]->time_base;
    return seconds(p.second->pts, tb) + seconds(p.second->duration, tb);
  }

  void take_audio(PacketPtr packet) {
    const int stream = packet->stream_index;
    if (!started_) {
      pending_audio_.emplace_back(stream, std::move(packet));
      return;
    }
    const AVRational tb = input_.format()->streams[stream]->time_base;
    if ((video_done_ || end_pts_ != AV_NOPTS_VALUE) && settings_.range_given && seconds(packet->pts, tb) >= end_seconds_) {
      // Past the chosen range; a second later nothing more of it can come.
      if (seconds(packet->pts, tb) >= end_seconds_ + 1.0) audio_done_ = true;
      return;
    }
    forward_audio(std::move(packet), stream);
  }

  void forward_audio(PacketPtr packet, int stream) {
    const AVRational tb = input_.format()->streams[stream]->time_base;
    if (settings_.range_given && packet->pts != AV_NOPTS_VALUE && seconds(packet->pts, tb) < start_seconds_) return;
    // The packet that spans the range's end stays here, but ends at it, so
    // the file lasts as long as its video and joins the next range exactly.
    if (end_pts_ != AV_NOPTS_VALUE && packet->pts != AV_NOPTS_VALUE && packet->duration > 0) {
      const int64_t end = av_rescale_q(end_pts_, input_.video()->time_base, tb);
      if (packet->pts + packet->duration > end) packet->duration = std::max<int64_t>(end - packet->pts, 1);
    }
    if (offset_ != 0) {
      const int64_t shift = av_rescale_q(offset_, input_.video()->time_base, tb);
      if (packet->pts != AV_NOPTS_VALUE) packet->pts -= shift;
      if (packet->dts != AV_NOPTS_VALUE) packet->dts -= shift;
    }
    shared_.push_audio(stream, std::move(packet));
  }

  MediaInput& input_;
  const bool with_output_;
  const PipelineSettings& settings_;
  FrameHandOver& shared_;
  PipelineResult& result_;
  std::optional<SeekPoint> seek_;
  int64_t kept_since_seek_ = 0;
  int64_t end_pts_ = AV_NOPTS_VALUE;  // where the range ends, when known beforehand
  std::map<int, bool> audio_wanted_;
  std::deque<std::pair<int, PacketPtr>> pending_audio_;
  int64_t offset_ = 0;
  int64_t first_pts_ = AV_NOPTS_VALUE;
  double start_seconds_ = -1e300;
  double end_seconds_ = 1e300;
  bool started_ = false;
  bool video_done_ = false;
  bool audio_done_ = false;
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
  Worker(FilterInstance* instance, const OutputChoice& choice, bool bypass, PicturePool& pictures)
      : instance_(instance),
        pictures_(pictures),
        choice_(choice),
        bypass_(bypass),
        to_host_(!choice.lossless),  // lossless outputs keep the exact, documented way in
        from_host_(choice.pixel_format, choice.colour) {}

  void run(FrameHandOver& shared) {
    while (std::unique_ptr<FrameInFlight> job = shared.take_job()) {
      filter(*job);
      shared.job_done(std::move(job));
    }
  }
  const StageTimes& times() const { return times_; }

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
    else
      instance_->run(source_->words(), filtered_->words(), in.width, in.height);
    t0 = thread_seconds();
    times_.filter += t0 - t1;
    const int64_t pts = in.pts;
    const AVRational aspect = in.sample_aspect_ratio;
    const int width = in.width, height = in.height;
    // The decoded picture goes before the encoder's is made.
    job.decoded.reset();
    FramePtr encoded = pictures_.get(width, height);
    encoded->pts = pts;
    encoded->sample_aspect_ratio = aspect;
    from_host_.convert(*filtered_, choice_.keep_alpha ? &*source_ : nullptr, *encoded);
    times_.from_host += thread_seconds() - t0;
    job.encoded = std::move(encoded);
  }

  FilterInstance* instance_;
  PicturePool& pictures_;
  const OutputChoice& choice_;
  const bool bypass_;
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
                            const LoadedFilterModule& module, const PipelineSettings& settings, ProgressLine& progress) {
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
    workers.push_back(std::make_unique<Worker>(instances.back().get(), *choice, settings.bypass, *pictures));
  }

  Reader reader(input, output != nullptr, settings, shared, result);
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
  }
  return result;
}
