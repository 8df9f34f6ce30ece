// A frame of 32-bit pixels placed in guarded pages: against the leading guard
// (the lowest pixel is the first accessible word), against the trailing
// guard (the highest pixel is the last accessible word), or with a guard
// page right after (or right before) every row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "tests/support/guarded_memory.h"

enum class Placement : int { kLowGuard, kHighGuard, kRowGuardAfter, kRowGuardBefore };

const char* placement_name(Placement p);

class GuardedFrame {
 public:
  // For the row-guard placements the stride is two pages (its sign taken
  // from `stride`) and the width must fit a page.
  GuardedFrame(int w, int h, ptrdiff_t stride, Placement placement);

  int width() const { return w_; }
  int height() const { return h_; }
  ptrdiff_t stride() const { return stride_; }
  uint32_t* row0() const { return row0_; }
  uint32_t& at(int i, int j) const { return row0_[i * stride_ + j]; }

  // Fills every accessible byte (pixels and padding) from a seed.
  void fill_all(uint64_t seed);
  // The pixels, row 0 first.
  std::vector<uint32_t> pixels() const;
  // Same accessible bytes as `other` (same geometry); on a difference,
  // reports the first differing word's position relative to row 0.
  bool same_bytes(const GuardedFrame& other, ptrdiff_t* first_diff) const;

 private:
  int w_, h_;
  ptrdiff_t stride_;
  std::unique_ptr<GuardedPages> pages_;
  std::vector<bool> protected_;  // per accessible page
  uint32_t* row0_ = nullptr;
};
