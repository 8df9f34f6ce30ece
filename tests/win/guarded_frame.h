// Frames as a host hands them to the run procedure: 32-bit pixels with row
// padding, optionally stored bottom-up (negative modulo), with guard words
// before and after the whole buffer so a write outside the pixels is seen.
// Also the expected output, from the engine's reference kernel.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "engine/filter_settings.h"
#include "host/vd_filter.h"

namespace wintest {

class GuardedFrame {
 public:
  static constexpr int kGuardWords = 64;
  static constexpr uint32_t kGuardWord = 0x5EC0DE5Au;

  GuardedFrame(int w, int h, int pad, bool bottom_up);

  uint32_t* row0();
  uint32_t& at(int row, int col) { return row0()[row * pitch_words() + col]; }
  ptrdiff_t pitch_words() const { return bottom_up_ ? -ptrdiff_t(w_ + pad_) : ptrdiff_t(w_ + pad_); }
  VFBitmap bitmap();

  void fill(uint32_t value);
  // Pixels with flat areas, edges, fine noise and random byte 3.
  void fill_picture(std::mt19937& rng);
  std::vector<uint32_t> pixels();
  // Every word outside the pixels (guards and row padding) still holds the guard.
  bool outside_untouched() const;

  int width() const { return w_; }
  int height() const { return h_; }
  std::string describe() const;

 private:
  int w_, h_, pad_;
  bool bottom_up_;
  std::vector<uint32_t> words_;
};

// The reference kernel's output for `src` under `settings`.
std::vector<uint32_t> reference_output(GuardedFrame& src, const FilterSettings& settings);
// The source with byte 3 cleared: what the filter shows when it passes the frame through.
std::vector<uint32_t> passed_through(GuardedFrame& src);
// Index of the first differing pixel, or -1.
long first_difference(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b);

}  // namespace wintest
