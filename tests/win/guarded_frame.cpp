// Guarded frames and the reference outputs they are compared with.
#include "tests/win/guarded_frame.h"

#include "engine/kernels/smooth.h"

namespace wintest {

GuardedFrame::GuardedFrame(int w, int h, int pad, bool bottom_up)
    : w_(w), h_(h), pad_(pad), bottom_up_(bottom_up),
      words_(size_t(2 * kGuardWords) + size_t(w + pad) * size_t(h), kGuardWord) {}

uint32_t* GuardedFrame::row0() {
  uint32_t* first = words_.data() + kGuardWords;
  return bottom_up_ ? first + ptrdiff_t(w_ + pad_) * (h_ - 1) : first;
}

VFBitmap GuardedFrame::bitmap() {
  VFBitmap b{};
  b.data = row0();
  b.depth = 32;
  b.w = w_;
  b.h = h_;
  b.pitch = pitch_words() * 4;
  b.modulo = (pitch_words() - w_) * 4;
  b.size = ptrdiff_t(w_ + pad_) * h_ * 4;
  return b;
}

void GuardedFrame::fill(uint32_t value) {
  for (int i = 0; i < h_; ++i)
    for (int j = 0; j < w_; ++j) at(i, j) = value;
}

void GuardedFrame::fill_picture(std::mt19937& rng) {
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> noise(-9, 9);
  // A few flat patches with sharp borders, plus fine noise on top; one row
  // in five is pure random bytes so every comparison branch is reached.
  const int base[4] = {byte(rng), byte(rng), byte(rng), byte(rng)};
  for (int i = 0; i < h_; ++i) {
    const bool random_row = i % 5 == 3;
    for (int j = 0; j < w_; ++j) {
      uint32_t px = uint32_t(byte(rng)) << 24;  // byte 3 holds junk
      const int patch = base[((i / 4) + (j / 3)) % 4];
      for (int c = 0; c < 3; ++c) {
        int v = random_row ? byte(rng) : patch + c * 7 + noise(rng);
        v = v < 0 ? 0 : (v > 255 ? 255 : v);
        px |= uint32_t(v) << (8 * c);
      }
      at(i, j) = px;
    }
  }
}

std::vector<uint32_t> GuardedFrame::pixels() {
  std::vector<uint32_t> out;
  out.reserve(size_t(w_) * size_t(h_));
  for (int i = 0; i < h_; ++i)
    for (int j = 0; j < w_; ++j) out.push_back(at(i, j));
  return out;
}

bool GuardedFrame::outside_untouched() const {
  for (size_t k = 0; k < words_.size(); ++k) {
    const bool in_guard = k < size_t(kGuardWords) || k >= words_.size() - size_t(kGuardWords);
    const bool in_padding = !in_guard && int((k - size_t(kGuardWords)) % size_t(w_ + pad_)) >= w_;
    if ((in_guard || in_padding) && words_[k] != kGuardWord) return false;
  }
  return true;
}

std::string GuardedFrame::describe() const {
  return std::to_string(w_) + "x" + std::to_string(h_) + " pad " + std::to_string(pad_) +
         (bottom_up_ ? " bottom-up" : "");
}

std::vector<uint32_t> reference_output(GuardedFrame& src, const FilterSettings& settings) {
  const int w = src.width(), h = src.height();
  std::vector<uint32_t> in = src.pixels(), out(in.size(), 0);
  smooth_frame_c(SmoothFrame{in.data(), out.data(), w, h, w},
                 SmoothParams{settings.level, settings.dynamic, settings.showNoise, settings.disable});
  return out;
}

std::vector<uint32_t> passed_through(GuardedFrame& src) {
  std::vector<uint32_t> out = src.pixels();
  for (uint32_t& px : out) px &= 0x00FFFFFFu;
  return out;
}

long first_difference(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  if (a.size() != b.size()) return 0;
  for (size_t k = 0; k < a.size(); ++k)
    if (a[k] != b[k]) return long(k);
  return -1;
}

}  // namespace wintest
