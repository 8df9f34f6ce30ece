// What reading the input reported, the one evidence of damage: a read
// error other than the end of the file, a decoding error, a frame the
// decoder flags as corrupt, an error FFmpeg logs for the input's demuxer
// or decoders, or a picture missing from a sequence. Durations in headers,
// index entry counts and frame counts guessed from them are never evidence:
// drop frames, start offsets, edit lists and audio that runs a little past
// the video are how clean files look.
//
// A damaged input still gives an output of everything that could be read,
// but the run says what was reported and where, and ends with its own exit
// status, so that a script that removes the originals after a clean run
// leaves these alone.
#pragma once

#include <atomic>
#include <cstdint>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

class InputDamage {
 public:
  // Listens to FFmpeg's log for errors of demuxers and decoders while it
  // lives (one at a time: a run reads one input). `shown` names the input
  // in the warning.
  explicit InputDamage(std::string shown);
  ~InputDamage();
  InputDamage(const InputDamage&) = delete;
  InputDamage& operator=(const InputDamage&) = delete;

  // Where the reading stands, for saying where a fault was reported: the
  // frames decoded so far and the time of the last packet read.
  void reading_at(int64_t frames, double seconds);

  // A read error (not the end of the file), and a decoder's error.
  void read_error(int err);
  void decode_error(int err);
  // A frame the decoder flags as corrupt; frame `number` at `seconds`.
  void corrupt_frame(int64_t number, double seconds);
  // A picture of a sequence that does not exist, where reading stops.
  void missing_picture(const std::string& name);

  // While false (reading the input ahead to plan a range, which the run
  // reads again), faults are not counted.
  void listen(bool on) { listening_ = on; }

  // Faults count by where they lie. Until count_held() they are held, not
  // counted: those met while opening and probing the input, and in a range
  // from frame A those met before it. drop_held() forgets what is held, at
  // each key frame before the range (at `key_seconds` on the input's
  // clock): what lies before the key frame the range starts from is not the
  // range's, and neither is a fault met later at an earlier time (a leading
  // picture of an open GOP, which refers to the GOP before and is decoded
  // only to be dropped). A run from frame 0 counts from the start; a range
  // from frame A counts from the key frame before it.
  void count_held();
  void drop_held(double key_seconds);

  bool damaged() const;
  // The warning ("'x.mkv' is damaged: ..."), or "" when nothing was
  // reported; `pictures`: the input is a sequence of pictures.
  std::string warning(int64_t frames_written, bool pictures) const;

  // FFmpeg's log callback calls this for each message of its errors.
  void logged(const std::string& message);
  // The first error FFmpeg logged for the input, counted or not ("moov atom
  // not found"): its own reason when the input cannot be opened.
  std::string first_logged() const;

 private:
  // `seconds`: where the fault lies on the input's clock; `frame`: the
  // frame the decoder flagged as corrupt, or -1.
  void record(const std::string& what, const std::string& where, double seconds, int64_t frame = -1);

  const std::string shown_;
  std::atomic<bool> listening_{true};
  std::atomic<int64_t> frames_{0};
  std::atomic<double> seconds_{0};
  mutable std::mutex mutex_;
  int64_t faults_ = 0;
  std::string first_;          // the first fault, with where it was reported
  std::vector<int64_t> corrupt_;  // the frames flagged as corrupt, the first few
  int64_t corrupt_count_ = 0;
  bool holding_ = true;
  int64_t held_ = 0;           // faults held, the first of them and the frames among them
  std::string first_held_;
  std::vector<int64_t> held_frames_;
  double held_from_ = -std::numeric_limits<double>::infinity();  // the last key frame's time before the range
  std::string missing_;        // the missing picture of a sequence
  std::string first_logged_;
};
