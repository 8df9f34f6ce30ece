// The mean squared error between two frames of BGRX pixels, over the three
// colour channels on the 8-bit scale: for tests and benchmarks that judge
// the filter against a clean picture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

inline double mean_squared_error(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  double squared = 0;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i)
    for (int c = 0; c < 3; ++c) {
      const double d = double((a[i] >> (8 * c)) & 0xff) - double((b[i] >> (8 * c)) & 0xff);
      squared += d * d;
    }
  return a.empty() ? 0 : squared / (3.0 * double(a.size()));
}
