// Small rules shared by every smoothing kernel: the brightness key of a
// pixel and the tolerance of a pair of opposite neighbours.
#pragma once

#include <cstdint>

// Weighted brightness B + 6G + 3R, at most 2550.
inline int brightness_key(uint32_t pixel) {
  return static_cast<int>(pixel & 0xFF) + 6 * static_cast<int>((pixel >> 8) & 0xFF) +
         3 * static_cast<int>((pixel >> 16) & 0xFF);
}

inline int64_t abs_diff(int a, int b) { return a > b ? int64_t{a} - b : int64_t{b} - a; }

// Tolerance of a pair: T = L - |Y(A) - Y(Z)| / K with K = 11 - D and a
// truncating division. Computed in 64 bits, so any int Level and Dynamic
// give the exact integer result with no overflow (11 - INT_MIN and
// INT_MIN - 2550 both fit).
//
// D = 11 makes K = 0. It is taken as the limit of a vanishing divisor: a
// pair whose members have the same key keeps T = L, any other pair gets no
// tolerance at all (kNone, below every possible |Y0 - Y| >= 0).
class PairTolerance {
 public:
  static constexpr int64_t kNone = INT64_MIN;

  PairTolerance(int level, int dynamic) : level_(level), divisor_(int64_t{11} - dynamic) {}

  int64_t of_pair(int ya, int yz) const {
    const int64_t diff = abs_diff(ya, yz);
    if (divisor_ == 0) return diff == 0 ? level_ : kNone;
    return level_ - diff / divisor_;
  }

  int64_t level() const { return level_; }
  int64_t divisor() const { return divisor_; }

 private:
  int64_t level_;
  int64_t divisor_;
};
