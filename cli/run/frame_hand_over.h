// The hand-over between the pipeline's threads: the reader queues decoded
// frames (bounded by the frames in flight) and audio packets (bounded in
// bytes), the workers take frames and give them back filtered, and the
// writer takes them in order with the audio due before each. One lock and
// one condition guard it all; any thread's failure stops every other.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "cli/media/av_helpers.h"

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
