// The smoothing kernels' interface. They know nothing of the host: they take
// plain pixel pointers, the frame's size, one row stride (in pixels) shared
// by source and destination, and the settings as plain values.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

struct SmoothFrame {
  const uint32_t* src;  // row 0 at src[0]; row i at src[i * stride]
  uint32_t* dst;        // same geometry as src
  int width;
  int height;
  ptrdiff_t stride;  // in pixels, may be negative (rows stored bottom-up)
};

// What a frame needs of the settings. Level and Dynamic are taken as given
// for the whole call.
//
// The two switches can also be followed while a frame runs: a host's dialog
// flips them in the instance's record from another thread and redoes the
// preview, and a frame already under way then picks up the new state part
// way through instead of finishing with the old one. When `live_show_noise`
// and `live_disable` point at those words, the reference re-reads them for
// every pixel and the vector kernels at the start of every row of a column
// tile; otherwise `show_noise` and `disable` hold for the whole call.
struct SmoothParams {
  int level;       // base brightness tolerance L
  int dynamic;     // D; the pair divisor is 11 - D
  int show_noise;  // non-zero: output 10 x the change, centred on 127
  int disable;     // non-zero: pass the frame through (byte 3 as keep_alpha says)
  const int* live_show_noise = nullptr;
  const int* live_disable = nullptr;
  // Non-zero: byte 3 of each output pixel is the source pixel's (frei0r
  // hosts keep alpha through effects); zero: byte 3 is 0, as the host's
  // module has always written it.
  int keep_alpha = 0;
};

// A followed switch as it stands now. Another thread writes the word while
// bands run, so it is read with a relaxed atomic load (store_setting in
// filter_settings.h is the writer's side): no ordering is needed, only a
// value that is whole and not kept from an earlier read.
inline int load_live_switch(const int* word) {
  return std::atomic_ref<int>(*const_cast<int*>(word)).load(std::memory_order_relaxed);
}

// The switches as they stand now (see SmoothParams).
struct SmoothSwitches {
  bool show_noise;
  bool disable;
};

inline SmoothSwitches current_switches(const SmoothParams& p) {
  const int noise = p.live_show_noise != nullptr ? load_live_switch(p.live_show_noise) : p.show_noise;
  const int disable = p.live_disable != nullptr ? load_live_switch(p.live_disable) : p.disable;
  return {noise != 0, disable != 0};
}

// The plain reference: one pixel at a time, exactly as the algorithm reads.
// Every faster kernel must produce the same bytes for every input.
// Nothing is done for a width or height below 1.
void smooth_frame_c(const SmoothFrame& frame, const SmoothParams& params);

// Row stride in pixels from the width and the modulo in bytes: the modulo is
// shifted right arithmetically by two, so a negative modulo rounds down.
inline ptrdiff_t smooth_stride(int width, ptrdiff_t modulo) { return ptrdiff_t{width} + (modulo >> 2); }

// The kernel the run procedure uses: the fastest one this processor runs
// (and the instruction-set cap allows, see smooth_kernels.h), producing the
// same bytes as smooth_frame_c.
void smooth_frame(const SmoothFrame& frame, const SmoothParams& params);
