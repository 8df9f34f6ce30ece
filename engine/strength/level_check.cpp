// The Level a frame is best filtered with, by Stein's risk (see level_check.h).
#include "engine/strength/level_check.h"

#include <algorithm>
#include <array>
#include <bit>

#include "engine/kernels/smooth.h"

namespace {

// Strips of kWide x kHigh measured pixels, each read with the filter's reach
// (two pixels) around it so that its outputs are the whole frame's. Strips
// rather than squares: the kernels work along rows, and on rows this long
// they cost per pixel what they cost on a whole frame.
constexpr int kWide = 64;
constexpr int kHigh = 16;
constexpr int kReach = 2;
constexpr int kSideX = kWide + 2 * kReach;
constexpr int kSideY = kHigh + 2 * kReach;
constexpr int kPixels = kSideX * kSideY;
// Strips run through the filter side by side, and the buffer that holds them.
constexpr int kGroup = 4;
constexpr int kGroupX = kGroup * kSideX;
constexpr int kGroupPixels = kGroupX * kSideY;
// Strips on a frame at most: 32 x 1024 pixels, 1.6 % of a 1080p frame.
// Fewer, or fewer places, make the choice wander on pictures where two
// Levels are close.
constexpr int kMostStrips = 32;
// A lower Level is taken only when its risk is lower by this share of the
// noise's own (N s^2), x 256: about 3 %. The estimate wanders by about as
// much from one noise to another, and a gain smaller than that is worth
// less than a choice that holds still from frame to frame.
constexpr int kMarginQ8 = 8;
// Levels tried at once at most.
constexpr int kMostLevels = 2;

int isqrt(int64_t v) {
  int r = 0;
  while (int64_t{r + 1} * (r + 1) <= v) ++r;
  return r;
}

// Where the strips lie: `across` x `down` of them, spread evenly.
struct StripGrid {
  int across = 0, down = 0, width = 0, height = 0;
  explicit StripGrid(int w, int h) {
    if (w < kSideX || h < kSideY) return;
    width = w;
    height = h;
    const int fit_across = std::min(kMostStrips, w / kSideX), fit_down = std::max(1, h / kSideY);
    // As many across per row as there is room for across per room down.
    across = std::clamp(isqrt(int64_t{kMostStrips} * fit_across / fit_down), 1, fit_across);
    down = std::clamp(kMostStrips / across, 1, fit_down);
  }
  bool empty() const { return across == 0; }
  int x(int i) const { return int(int64_t{width - kSideX} * (2 * i + 1) / (2 * across)); }
  int y(int j) const { return int(int64_t{height - kSideY} * (2 * j + 1) / (2 * down)); }
};

// What the strips tell of one Level: the sums in Stein's risk.
struct RiskSums {
  int64_t squared = 0;     // |f(y) - y|^2
  int64_t divergence = 0;  // b . (f(y + b) - f(y))
};

struct StripTotals {
  int64_t values = 0;  // values measured
  int64_t moved = 0;   // of them, moved by +1 or -1 (b . b)
};

// The move of each byte of a strip: +1 or -1 from a fixed sequence (a
// 32-bit linear congruential generator's top bit), 0 for byte 3 of a pixel,
// which the filter does not read. Made once, when compiling; every strip
// is moved alike, which is as good as any other pattern since the noise in
// each strip is its own.
constexpr std::array<int8_t, kPixels * 4> kMoves = [] {
  std::array<int8_t, kPixels * 4> moves{};
  uint32_t state = 0x9e3779b9u;
  for (size_t k = 0; k < moves.size(); ++k) {
    state = state * 1664525u + 1013904223u;
    moves[k] = int8_t((k & 3) == 3 ? 0 : ((state >> 31) != 0 ? 1 : -1));
  }
  return moves;
}();

// The move a value `v` at byte `k` of a strip gets: the one kMoves holds, unless that
// would leave the range (then 0, so that the move is what the filter sees).
int move_at(int v, int k) {
  const int m = kMoves[size_t(k)];
  return v + m < 0 || v + m > 255 ? 0 : m;
}

// Runs the filter at each of `levels` (at most kMostLevels, none 0) on
// every strip and on the strip moved, adding to sums[k]. kGroup strips lie
// side by side in one buffer for each run of the filter: a measured pixel
// reaches only its own strip's margin, so the neighbours change nothing
// that is measured, and one long row costs the kernels less than several
// short ones. Strips are read as bytes: byte c of each pixel is channel c
// (blue, green, red; the targets are little-endian), byte 3 is cleared and
// never moved, and the filter writes it as 0, so it adds nothing to either
// sum.
StripTotals read_strips(const uint32_t* pixels, const StripGrid& grid, ptrdiff_t pitch, const int* levels,
                        int count, int dynamic, RiskSums* sums) {
  static_assert(std::endian::native == std::endian::little);
  StripTotals totals;
  const auto* base = reinterpret_cast<const unsigned char*>(pixels);
  uint32_t in[kGroupPixels], moved[kGroupPixels], out[kGroupPixels], moved_out[kGroupPixels];
  const auto* in_bytes = reinterpret_cast<const unsigned char*>(in);
  auto* moved_bytes = reinterpret_cast<unsigned char*>(moved);
  const auto* out_bytes = reinterpret_cast<const unsigned char*>(out);
  const auto* moved_out_bytes = reinterpret_cast<const unsigned char*>(moved_out);
  constexpr int kRowBytes = kSideX * 4;
  const int strips = grid.across * grid.down;
  for (int first = 0; first < strips; first += kGroup) {
    const int here = std::min(kGroup, strips - first);
    for (int g = 0; g < kGroup; ++g) {
      const int strip = first + g;
      const int x0 = grid.x(strip % grid.across), y0 = grid.y(strip / grid.across);
      for (int r = 0; r < kSideY; ++r) {
        uint32_t* slot = in + r * kGroupX + g * kSideX;
        if (g >= here) {
          std::fill(slot, slot + kSideX, 0u);
          continue;
        }
        const uint32_t* row = reinterpret_cast<const uint32_t*>(base + ptrdiff_t{y0 + r} * pitch) + x0;
        for (int c = 0; c < kSideX; ++c) slot[c] = row[c] & 0xffffffu;
      }
    }
    for (int r = 0; r < kSideY; ++r)
      for (int g = 0; g < kGroup; ++g)
        for (int b = 0; b < kRowBytes; ++b) {
          const int k = (r * kGroupX + g * kSideX) * 4 + b;
          moved_bytes[k] = static_cast<unsigned char>(in_bytes[k] + move_at(in_bytes[k], r * kRowBytes + b));
        }
    // The measured bytes of slot g's row r: [k0 + 4 kReach, k0 + kRowBytes - 4 kReach).
    const auto row_start = [](int r, int g) { return (r * kGroupX + g * kSideX) * 4; };
    for (int g = 0; g < here; ++g) {
      int moved_here = 0;
      for (int r = kReach; r < kSideY - kReach; ++r)
        for (int b = kReach * 4; b < kRowBytes - kReach * 4; ++b) {
          const int m = move_at(in_bytes[row_start(r, g) + b], r * kRowBytes + b);
          moved_here += m * m;
        }
      totals.moved += moved_here;
      totals.values += int64_t{kWide} * kHigh * 3;
    }
    for (int l = 0; l < count; ++l) {
      const SmoothParams params{levels[l], dynamic, 0, 0};
      smooth_frame(SmoothFrame{in, out, kGroupX, kSideY, kGroupX}, params);
      smooth_frame(SmoothFrame{moved, moved_out, kGroupX, kSideY, kGroupX}, params);
      for (int g = 0; g < here; ++g) {
        // At most 3 x 1024 x 255^2 and 3 x 1024 x 255: 32 bits hold a strip.
        int32_t squared = 0, divergence = 0;
        for (int r = kReach; r < kSideY - kReach; ++r)
          for (int b = kReach * 4; b < kRowBytes - kReach * 4; ++b) {
            const int k = row_start(r, g) + b;
            const int f = out_bytes[k], d = f - in_bytes[k];
            squared += d * d;
            divergence += move_at(in_bytes[k], r * kRowBytes + b) * (moved_out_bytes[k] - f);
          }
        sums[l].squared += squared;
        sums[l].divergence += divergence;
      }
    }
  }
  return totals;
}

// N x 65536 x risk = 65536 |f(y) - y|^2 - N s_q8^2 + 2 s_q8^2 div, where
// s = s_q8 / 256. A deviation above the Levels' whole range changes no
// choice; the cap keeps every product well inside 64 bits.
int64_t risk_of(const RiskSums& sums, const StripTotals& totals, int sigma_q8) {
  const int64_t s = std::clamp(sigma_q8, 0, 400 * 256);
  return 65536 * sums.squared - totals.values * s * s + 2 * s * s * sums.divergence;
}

// How much lower a lower Level's risk must be (see kMarginQ8).
int64_t margin_of(const StripTotals& totals, int sigma_q8) {
  const int64_t s = std::clamp(sigma_q8, 0, 400 * 256);
  return totals.values * s * s * kMarginQ8 / 256;
}

// Level 0 leaves every frame as it is: f(y) = y, and the divergence is
// how many values were moved.
RiskSums sums_at_level_0(const StripTotals& totals) { return {0, totals.moved}; }

}  // namespace

int64_t level_risk(const uint32_t* pixels, int width, int height, ptrdiff_t pitch, int sigma_q8, int level,
                   int dynamic, int64_t* values) {
  if (values != nullptr) *values = 0;
  const StripGrid grid(width, height);
  if (pixels == nullptr || grid.empty()) return 0;
  RiskSums sums;
  const StripTotals totals = read_strips(pixels, grid, pitch, &level, level == 0 ? 0 : 1, dynamic, &sums);
  if (values != nullptr) *values = totals.values;
  return risk_of(level == 0 ? sums_at_level_0(totals) : sums, totals, sigma_q8);
}

StrengthSettings checked_settings(const uint32_t* pixels, int width, int height, ptrdiff_t pitch, int sigma_q8,
                                  StrengthSettings rule) {
  const StripGrid grid(width, height);
  if (pixels == nullptr || rule.level <= 0 || grid.empty()) return rule;
  // The rule's Level and three quarters of it first; half of it only where
  // three quarters did better, since the risk falls steadily from the rule
  // down to the best Level on the pictures that want less.
  const int first[kMostLevels] = {rule.level, rule.level * 3 / 4};
  RiskSums sums[kMostLevels];
  const StripTotals totals = read_strips(pixels, grid, pitch, first, kMostLevels, rule.dynamic, sums);
  StrengthSettings best = rule;
  int64_t least = risk_of(sums[0], totals, sigma_q8);
  const int64_t margin = margin_of(totals, sigma_q8);
  if (const int64_t risk = risk_of(sums[1], totals, sigma_q8); risk < least - margin) {
    least = risk;
    best.level = first[1];
    const int half = rule.level / 2;
    if (half > 0) {
      RiskSums at_half;
      read_strips(pixels, grid, pitch, &half, 1, rule.dynamic, &at_half);
      if (const int64_t at_half_risk = risk_of(at_half, totals, sigma_q8); at_half_risk < least - margin) {
        least = at_half_risk;
        best.level = half;
      }
    }
  }
  if (risk_of(sums_at_level_0(totals), totals, sigma_q8) < least - margin) best.level = 0;
  return best;
}
