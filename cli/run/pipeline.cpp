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
#include "cli/media/host_frame.h"
#include "cli/input/media_input.h"
#include "cli/output/media_output.h"
#include "cli/output/output_choice.h"
#include "cli/run/decoder_drain.h"
#include "cli/run/progress_line.h"

#include <time.h>

namespace {

struct FrameInFlight {
  int64_t seq = 0;
  FramePtr decoded;
  FramePtr encoded;
};

// Audio waiting for its frames to be written, at most (a little more by the
// last packet): about 40 seconds of 48 kHz stereo PCM, far more of any
// compressed audio.
constexpr int64_t kAudioQueueBytes = 8 << 20;

struct AudioItem {
  int64_t written_before = 0;  // video frames that go before it
  int stream = 0;
  PacketPtr packet;
};

// Everything the threads share, under one lock.
class FrameHandOver {
 public:
  explicit FrameHandOver(int64_t max_in_flight) : max_in_flight_(max_in_flight) {}

  // Records the first failure and wakes every thread so it can stop.
  void fail(std::exception_ptr e) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!error_) error_ = e;
    stop_ = true;
    changed_.notify_all();
  }
  void stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    changed_.notify_all();
  }
  bool stopped() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stop_;
  }
  std::exception_ptr error() {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
  }

  // Reader: queue a frame for the workers, waiting while too many are in flight.
  bool push_job(FramePtr frame) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return stop_ || created_ - written_ < max_in_flight_; });
    if (stop_) return false;
    auto job = std::make_unique<FrameInFlight>();
    job->seq = created_++;
    job->decoded = std::move(frame);
    work_.push_back(std::move(job));
    changed_.notify_all();
    return true;
  }
  // Reader: queue an audio packet to be written after the frames read so
  // far. A file may store its audio far from the video of the same time;
  // the reader then waits while kAudioQueueBytes are queued, until the
  // writer has caught up with the frames before them (which are all handed
  // out already, so the wait always ends).
  bool push_audio(int stream, PacketPtr packet) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return stop_ || audio_bytes_ < kAudioQueueBytes; });
    if (stop_) return false;
    audio_bytes_ += packet->size;
    most_audio_bytes_ = std::max(most_audio_bytes_, audio_bytes_);
    audio_.push_back(AudioItem{created_, stream, std::move(packet)});
    changed_.notify_all();
    return true;
  }
  int64_t most_audio_queued() {
    std::lock_guard<std::mutex> lock(mutex_);
    return most_audio_bytes_;
  }

  void reader_done() {
    std::lock_guard<std::mutex> lock(mutex_);
    reader_done_ = true;
    changed_.notify_all();
  }

  // Worker: the next frame to filter, or null when there is none left.
  std::unique_ptr<FrameInFlight> take_job() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return stop_ || !work_.empty() || reader_done_; });
    if (stop_ || work_.empty()) return nullptr;
    std::unique_ptr<FrameInFlight> job = std::move(work_.front());
    work_.pop_front();
    return job;
  }
  void job_done(std::unique_ptr<FrameInFlight> job) {
    std::lock_guard<std::mutex> lock(mutex_);
    const int64_t seq = job->seq;
    done_[seq] = std::move(job);
    changed_.notify_all();
  }

  // Writer: audio due before the next frame, and the next frame in order
  // when it is ready. Returns false when everything has been handed out.
  bool take_output(std::vector<AudioItem>& audio, std::unique_ptr<FrameInFlight>& job) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] {
      return stop_ || (!audio_.empty() && audio_.front().written_before <= written_) || done_.count(written_) ||
             (reader_done_ && written_ == created_);
    });
    if (stop_) return false;
    while (!audio_.empty() && audio_.front().written_before <= written_) {
      audio_bytes_ -= audio_.front().packet->size;
      audio.push_back(std::move(audio_.front()));
      audio_.pop_front();
      changed_.notify_all();
    }
    if (auto it = done_.find(written_); it != done_.end()) {
      job = std::move(it->second);
      done_.erase(it);
    }
    return !(reader_done_ && written_ == created_ && audio.empty() && !job && audio_.empty());
  }
  void frame_written() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++written_;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  const int64_t max_in_flight_;
  std::deque<std::unique_ptr<FrameInFlight>> work_;
  std::map<int64_t, std::unique_ptr<FrameInFlight>> done_;
  std::deque<AudioItem> audio_;
  int64_t audio_bytes_ = 0;       // in audio_
  int64_t most_audio_bytes_ = 0;  // the most that was ever queued
  int64_t created_ = 0;
  int64_t written_ = 0;
  bool reader_done_ = false;
  bool stop_ = false;
  std::exception_ptr error_;
};

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
    while (!finished() && !shared_.stopped()) {
      int err = av_read_frame(input_.format(), packet.get());
      if (err < 0) {
        // The end of the file, or a file cut short: what was read is used.
        if (err != AVERROR_EOF) ++result_.damaged_packets;
        break;
      }
      note_packet_end(*packet);
      if (packet->stream_index == video && !video_done_) {
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
    const int64_t index = result_.frames_decoded++;
    const AVRational tb = input_.video()->time_base;
    frame->pts = frame->best_effort_timestamp;
    if (frame->pts != AV_NOPTS_VALUE) {
      if (first_pts_ == AV_NOPTS_VALUE) first_pts_ = frame->pts;
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
      end_seconds_ = t + duration;
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
    if (video_done_ && settings_.range_given && seconds(packet->pts, tb) >= end_seconds_) {
      // Past the chosen range; a second later nothing more of it can come.
      if (seconds(packet->pts, tb) >= end_seconds_ + 1.0) audio_done_ = true;
      return;
    }
    forward_audio(std::move(packet), stream);
  }

  void forward_audio(PacketPtr packet, int stream) {
    const AVRational tb = input_.format()->streams[stream]->time_base;
    if (settings_.range_given && packet->pts != AV_NOPTS_VALUE && seconds(packet->pts, tb) < start_seconds_) return;
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

// One worker: its own filter instance, conversion state and the two host
// frames it reuses for every frame.
class Worker {
 public:
  Worker(FilterInstance* instance, const OutputChoice& choice, bool bypass)
      : instance_(instance), choice_(choice), bypass_(bypass), from_host_(choice.pixel_format, choice.colour) {}

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
    FramePtr encoded = make_frame();
    encoded->format = choice_.pixel_format;
    encoded->width = in.width;
    encoded->height = in.height;
    encoded->pts = in.pts;
    encoded->sample_aspect_ratio = in.sample_aspect_ratio;
    // The decoded picture goes before the encoder's is made.
    job.decoded.reset();
    if (av_frame_get_buffer(encoded.get(), 0) < 0) throw std::bad_alloc();
    from_host_.convert(*filtered_, choice_.keep_alpha ? &*source_ : nullptr, *encoded);
    times_.from_host += thread_seconds() - t0;
    job.encoded = std::move(encoded);
  }

  FilterInstance* instance_;
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
  std::vector<std::unique_ptr<FilterInstance>> instances;
  std::vector<std::unique_ptr<Worker>> workers;
  for (int k = 0; k < result.workers; ++k) {
    instances.push_back(std::make_unique<FilterInstance>(module, settings.instance));
    workers.push_back(std::make_unique<Worker>(instances.back().get(), *choice, settings.bypass));
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
