// Cuts one frame into bands of output rows and runs them on the band pool,
// the calling thread included. Each band reads the two source rows above
// and below it, so the result is the same bytes for any number of threads
// and any band size.
#pragma once

#include "engine/kernels/smooth.h"

// Frames with fewer pixels run on the calling thread alone: below this the
// hand-over to other threads costs more than it saves (see docs/engine.md).
constexpr int kBandMinPixels = 96 * 1024;

struct BandSplit {
  int max_threads = 0;  // threads on this frame at most (0: as many as the pool has)
  int band_rows = 0;    // rows per band (0: chosen from the height and the threads)
  int min_pixels = kBandMinPixels;
};

// smooth_frame with the frame's rows shared among threads. Frames that the
// vector kernels refuse (overlapping source and destination, among others)
// go to the reference on the calling thread, as smooth_frame does.
void smooth_frame_split(const SmoothFrame& frame, const SmoothParams& params, const BandSplit& split = {});
