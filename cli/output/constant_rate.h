// Frames for a container that shows one frame per frame interval and stores
// no time of its own for each (Y4M, raw video, DV, MXF): a frame is shown
// in as many intervals as it lasts, so the output keeps the input's
// duration and every frame its place. As ffmpeg's -vsync cfr does, a frame
// that lasts several intervals is repeated, a gap before a frame is filled
// with the frame before it, and a frame that falls between two intervals
// already taken is dropped.
#pragma once

#include <cstdint>
#include <string>

class ConstantRateSlots {
 public:
  struct Copies {
    int64_t previous = 0;  // copies of the frame before, filling a gap first
    int64_t current = 0;   // copies of this frame
  };

  // A frame shown at `at` for `lasts`, both in frame intervals from the
  // output's start (`lasts` 0 or less: one interval). Returns the copies to
  // write now, each into the next interval.
  Copies place(double at, double lasts);

  int64_t repeated() const { return repeated_; }
  int64_t dropped() const { return dropped_; }
  // The next free interval.
  int64_t next() const { return next_; }

  // "12 frames repeated, 3 dropped"; "" when every frame went once.
  std::string summary() const;

 private:
  int64_t next_ = 0;
  int64_t repeated_ = 0;
  int64_t dropped_ = 0;
  bool any_ = false;  // a frame has been placed: there is one before the next
};
