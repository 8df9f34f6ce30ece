// Placement of checker frames in guarded pages (see guarded_frame.h).
#include "tests/support/guarded_frame.h"

#include <cstring>

#include "tests/support/frame_content.h"

const char* placement_name(Placement p) {
  switch (p) {
    case Placement::kLowGuard: return "low-guard";
    case Placement::kHighGuard: return "high-guard";
    case Placement::kRowGuardAfter: return "row-guard-after";
    case Placement::kRowGuardBefore: return "row-guard-before";
  }
  return "?";
}

GuardedFrame::GuardedFrame(int w, int h, ptrdiff_t stride, Placement placement) : w_(w), h_(h), stride_(stride) {
  const size_t page = GuardedPages::page_size();
  const ptrdiff_t page_words = static_cast<ptrdiff_t>(page / 4);
  if (placement == Placement::kRowGuardAfter || placement == Placement::kRowGuardBefore) {
    const bool down = stride < 0;
    stride_ = down ? -2 * page_words : 2 * page_words;
    pages_ = std::make_unique<GuardedPages>(2 * static_cast<size_t>(h));
    protected_.assign(2 * static_cast<size_t>(h), false);
    const bool after = placement == Placement::kRowGuardAfter;
    for (int m = 0; m < h; ++m) {
      const size_t guard = after ? 2 * static_cast<size_t>(m) + 1 : 2 * static_cast<size_t>(m);
      pages_->protect_page(guard);
      protected_[guard] = true;
    }
    // Memory row m holds picture row m (top-down) or h - 1 - m (bottom-up).
    const size_t m0 = down ? static_cast<size_t>(h - 1) : 0;
    uint8_t* page0 = pages_->begin() + (after ? 2 * m0 : 2 * m0 + 1) * page;
    row0_ = reinterpret_cast<uint32_t*>(after ? page0 + page - 4 * static_cast<size_t>(w) : page0);
    return;
  }
  const ptrdiff_t last = static_cast<ptrdiff_t>(h - 1) * stride;
  const ptrdiff_t lo = last < 0 ? last : 0;
  const ptrdiff_t hi = (last > 0 ? last : 0) + w;
  const size_t bytes = static_cast<size_t>(hi - lo) * 4;
  const size_t pages = (bytes + page - 1) / page;
  pages_ = std::make_unique<GuardedPages>(pages > 0 ? pages : 1);
  protected_.assign(pages > 0 ? pages : 1, false);
  uint32_t* first = placement == Placement::kLowGuard ? reinterpret_cast<uint32_t*>(pages_->begin())
                                                       : reinterpret_cast<uint32_t*>(pages_->end()) - (hi - lo);
  row0_ = first - lo;
}

void GuardedFrame::fill_all(uint64_t seed) {
  TestRng rng(seed);
  const size_t page = GuardedPages::page_size();
  for (size_t p = 0; p < protected_.size(); ++p) {
    if (protected_[p]) continue;
    uint32_t* words = reinterpret_cast<uint32_t*>(pages_->begin() + p * page);
    for (size_t k = 0; k < page / 4; ++k) words[k] = rng.u32();
  }
}

std::vector<uint32_t> GuardedFrame::pixels() const {
  std::vector<uint32_t> out;
  out.reserve(static_cast<size_t>(w_) * static_cast<size_t>(h_));
  for (int i = 0; i < h_; ++i)
    for (int j = 0; j < w_; ++j) out.push_back(at(i, j));
  return out;
}

bool GuardedFrame::same_bytes(const GuardedFrame& other, ptrdiff_t* first_diff) const {
  const size_t page = GuardedPages::page_size();
  for (size_t p = 0; p < protected_.size(); ++p) {
    if (protected_[p]) continue;
    const uint8_t* a = pages_->begin() + p * page;
    const uint8_t* b = other.pages_->begin() + p * page;
    if (std::memcmp(a, b, page) == 0) continue;
    for (size_t k = 0; k < page; k += 4)
      if (std::memcmp(a + k, b + k, 4) != 0) {
        *first_diff = reinterpret_cast<const uint32_t*>(a + k) - row0_;
        return false;
      }
  }
  return true;
}
