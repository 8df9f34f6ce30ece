// Test support: frames with row padding, pixel helpers, and a call of the
// run procedure through an activation record as a host makes it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "engine/filter_settings.h"
#include "engine/run_proc.h"
#include "host/vd_filter.h"

namespace velbrin_test {

constexpr uint32_t grey(int v) { return uint32_t(v) * 0x010101u; }
constexpr uint32_t bgr(int b, int g, int r) { return uint32_t(b) | uint32_t(g) << 8 | uint32_t(r) << 16; }

// A frame of w x h pixels stored with `pad` extra words after each row.
// The padding words are filled with a marker so tests can see whether
// anything wrote them. With `bottom_up`, row 0 is the last row in memory
// and the modulo is negative, as a host does for pictures stored top-down.
struct TestFrame {
  int w = 0, h = 0, pad = 0;
  bool bottom_up = false;
  std::vector<uint32_t> words;

  static constexpr uint32_t kPadMarker = 0xA5C3E1F7u;

  TestFrame(int w_, int h_, int pad_ = 0, bool bottom_up_ = false)
      : w(w_), h(h_), pad(pad_), bottom_up(bottom_up_),
        words(size_t(w_ + pad_) * size_t(h_ > 0 ? h_ : 0), kPadMarker) {}

  ptrdiff_t pitch_words() const { return bottom_up ? -ptrdiff_t(w + pad) : ptrdiff_t(w + pad); }
  ptrdiff_t modulo_bytes() const { return (pitch_words() - w) * 4; }
  uint32_t* row0() { return words.data() + (bottom_up ? ptrdiff_t(w + pad) * (h - 1) : 0); }
  uint32_t& at(int row, int col) { return row0()[row * pitch_words() + col]; }

  // Rows given top to bottom in row order (row 0 first), as the tables read.
  static TestFrame from_rows(const std::vector<std::vector<uint32_t>>& rows, int pad = 0, bool bottom_up = false) {
    TestFrame f(int(rows[0].size()), int(rows.size()), pad, bottom_up);
    for (int i = 0; i < f.h; ++i)
      for (int j = 0; j < f.w; ++j) f.at(i, j) = rows[size_t(i)][size_t(j)];
    return f;
  }

  std::vector<uint32_t> pixels() {
    std::vector<uint32_t> out;
    for (int i = 0; i < h; ++i)
      for (int j = 0; j < w; ++j) out.push_back(at(i, j));
    return out;
  }

  bool padding_untouched() const {
    for (size_t k = 0; k < words.size(); ++k)
      if (int(k % size_t(w + pad)) >= w && words[k] != kPadMarker) return false;
    return true;
  }
};

inline VFBitmap bitmap_of(TestFrame& f) {
  VFBitmap b{};
  b.data = f.h > 0 ? f.row0() : f.words.data();
  b.depth = 32;
  b.w = f.w;
  b.h = f.h;
  b.pitch = f.pitch_words() * 4;
  b.modulo = f.modulo_bytes();
  return b;
}

inline FilterSettings make_settings(int level, int dynamic, bool show_noise = false, bool disable = false) {
  FilterSettings s{};
  s.level = level;
  s.dynamic = dynamic;
  s.showNoise = show_noise;
  s.disable = disable;
  return s;
}

// Calls RunProc through an activation record as a host does.
inline int run_proc_on(VFBitmap& src, VFBitmap& dst, FilterSettings settings) {
  FilterActivation fa{};
  fa.filter_data = &settings;
  fa.src = &src;
  fa.dst = &dst;
  return RunProc(&fa, nullptr);
}

// Runs RunProc as a host does and returns the destination frame. The
// destination starts filled with `dst_fill` (and marked padding).
inline TestFrame run_filter(TestFrame& src, const FilterSettings& settings, uint32_t dst_fill = 0xDEADBEEFu) {
  TestFrame dst(src.w, src.h, src.pad, src.bottom_up);
  for (int i = 0; i < dst.h; ++i)
    for (int j = 0; j < dst.w; ++j) dst.at(i, j) = dst_fill;
  VFBitmap sb = bitmap_of(src), db = bitmap_of(dst);
  EXPECT_EQ(run_proc_on(sb, db, settings), 0);
  return dst;
}

inline std::string hex_words(const std::vector<uint32_t>& v) {
  std::string s;
  char buf[16];
  for (uint32_t x : v) {
    snprintf(buf, sizeof buf, "%06X ", x);
    s += buf;
  }
  return s;
}

}  // namespace velbrin_test
