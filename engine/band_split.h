// Cuts one frame into bands of output rows and runs them on the band pool,
// the calling thread included. Each band reads the two source rows above
// and below it, so the result is the same bytes for any number of threads
// and any band size.
#pragma once

#include "engine/kernels/smooth.h"

// Frames with fewer pixels run on the calling thread alone: below this the
// hand-over to other threads costs more than it saves (see README).
constexpr int kBandMinPixels = 96 * 1024;

// Called on the thread that wrote them, right after output rows
// row_begin .. row_end - 1 are final, while they are still in that
// processor's cache: once per band, or once for the whole frame when it is
// not cut. Rows of different calls never overlap.
using BandRowsDone = void (*)(const void* context, const SmoothFrame& frame, int row_begin, int row_end);

struct BandSplit {
  int max_threads = 0;  // threads on this frame at most (0: as many as the pool has)
  int band_rows = 0;    // rows per band (0: chosen from the height and the threads)
  int min_pixels = kBandMinPixels;
  BandRowsDone rows_done = nullptr;  // optional
  const void* rows_done_context = nullptr;
};

// smooth_frame with the frame's rows shared among threads. Frames that the
// vector kernels refuse (overlapping source and destination, among others)
// go to the reference on the calling thread, as smooth_frame does; for an
// overlapping frame, rows_done then sees a source already overwritten.
void smooth_frame_split(const SmoothFrame& frame, const SmoothParams& params, const BandSplit& split = {});
