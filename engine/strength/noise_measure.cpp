// The blind noise measurement (see noise_measure.h).
#include "engine/strength/noise_measure.h"

#include <algorithm>

namespace {

constexpr int kBlock = 16;
constexpr int kReading = 2;
// Blocks measured on a frame at most (a sixteenth of a 1080p frame): as
// many again measure no better (within 1 % on the calibration photos).
constexpr int kMostBlocks = 512;
// The flattest 1/kFlatShare of the blocks tell the noise.
constexpr int kFlatShare = 10;
// A block holding more clipped values than this (of 3 x 16 x 16) is left
// out while at least 1/kFewestShare of the blocks hold no more.
constexpr int kMostClipped = 12;
constexpr int kFewestShare = 10;
// sigma = reading x kScaleQ16 / 65536, where the reading is the mean over
// the chosen blocks' pixels of |response to B - G| + |response to R - G|.
// For Gaussian noise of deviation s per channel each difference has
// deviation sqrt(2) x s, its response 6 x sqrt(2) x s (the operator's
// weights squared sum to 36) and a mean absolute response of sqrt(2 / pi)
// times that: the reading is 13.54 x s, a scale of 65536 / 13.54 = 4840.
// The lowest tenth of pure noise's block readings averages 0.891 of their
// mean (measured on flat noise, tests/engine), which the factor 1.122 undoes.
constexpr int64_t kScaleQ16 = 4840 * 1122 / 1000;

struct BlockReading {
  int64_t sum;  // sum of |response| over the block's pixels
  int clipped;  // values at 0 or 255
  int order;    // the block's place in reading order, which settles ties
};

// One block whose top-left pixel is (x0, y0); its one-pixel border lies
// inside the frame. Noise independent per channel is in the channel
// differences B - G and R - G as much as in the channels, while texture and
// edges, mostly shared by the channels, cancel there (wholly in a grey
// picture): the block reads the operator's response to the differences.
BlockReading read_block(const unsigned char* base, ptrdiff_t pitch, int x0, int y0) {
  // The two differences over the block and its border, then the second
  // difference across each row, then down each column. 16-bit values hold
  // every step (at most 16 x 255 in size) and let the compiler work on
  // many pixels at once; the loops are plain for the same reason.
  int16_t blue_green[kBlock + 2][kBlock + 2], red_green[kBlock + 2][kBlock + 2];
  int clipped = 0;
  for (int r = 0; r < kBlock + 2; ++r) {
    const uint32_t* row = reinterpret_cast<const uint32_t*>(base + ptrdiff_t{y0 - 1 + r} * pitch) + (x0 - 1);
    for (int c = 0; c < kBlock + 2; ++c) {
      const uint32_t p = row[c];
      const int b = int(p & 0xff), g = int((p >> 8) & 0xff), red = int((p >> 16) & 0xff);
      blue_green[r][c] = int16_t(b - g);
      red_green[r][c] = int16_t(red - g);
    }
    // A value is clipped when it is 0 or 255: (v - 1) mod 256 is then 254 or 255.
    if (r == 0 || r == kBlock + 1) continue;
    for (int c = 1; c <= kBlock; ++c) {
      const uint32_t p = row[c];
      clipped += (((p & 0xff) - 1) & 0xff) >= 254;
      clipped += ((((p >> 8) & 0xff) - 1) & 0xff) >= 254;
      clipped += ((((p >> 16) & 0xff) - 1) & 0xff) >= 254;
    }
  }
  int total = 0;
  for (const auto& signal : {&blue_green, &red_green}) {
    int16_t across[kBlock + 2][kBlock];
    for (int r = 0; r < kBlock + 2; ++r)
      for (int c = 0; c < kBlock; ++c)
        across[r][c] = int16_t((*signal)[r][c] - 2 * (*signal)[r][c + 1] + (*signal)[r][c + 2]);
    for (int r = 0; r < kBlock; ++r)
      for (int c = 0; c < kBlock; ++c) {
        const int v = across[r][c] - 2 * across[r + 1][c] + across[r + 2][c];
        total += v < 0 ? -v : v;
      }
  }
  return {total, clipped, 0};
}

}  // namespace

NoiseMeasure measure_noise(const uint32_t* pixels, int width, int height, ptrdiff_t pitch) {
  NoiseMeasure result;
  if (pixels == nullptr || width < kBlock + 2 || height < kBlock + 2) return result;
  const int across = (width - 2) / kBlock, down = (height - 2) / kBlock;
  const int64_t all = int64_t{across} * down;
  // Every `step`-th block in reading order, at most kMostBlocks of them;
  // unless the step divides a row of blocks, the pattern shifts from one
  // row to the next and the chosen blocks spread over the frame.
  const int64_t step = (all + kMostBlocks - 1) / kMostBlocks;
  const auto* base = reinterpret_cast<const unsigned char*>(pixels);
  // Fixed storage: the frei0r plug-in's Windows file has no allocator to
  // offer.
  BlockReading readings[kMostBlocks];
  int count = 0, kept = 0;
  for (int64_t n = 0; n < all; n += step) {
    const int bx = int(n % across), by = int(n / across);
    readings[count] = read_block(base, pitch, 1 + bx * kBlock, 1 + by * kBlock);
    readings[count].order = count;
    kept += readings[count++].clipped <= kMostClipped;
  }
  result.blocks = count;
  // The blocks to choose from: those with few clipped values, or, where
  // they are too few (a picture mostly near black or white under strong
  // noise), the tenth of the blocks with the fewest, first after
  // nth_element (ties go to the earlier block, so that every build picks
  // the same ones). Taking all would let blocks flattened by clipping pass
  // for the flattest.
  const auto fewer_clipped = [](const BlockReading& a, const BlockReading& b) {
    return a.clipped != b.clipped ? a.clipped < b.clipped : a.order < b.order;
  };
  if (kept * kFewestShare < count) {
    kept = std::max(1, count / kFewestShare);
    std::nth_element(readings, readings + (kept - 1), readings + count, fewer_clipped);
  } else {
    std::partition(readings, readings + count, [](const BlockReading& r) { return r.clipped <= kMostClipped; });
  }
  // The flattest blocks: the lowest readings, first after nth_element
  // (blocks with equal readings add the same, whichever are taken).
  const int flat = std::max(1, kept / kFlatShare);
  std::nth_element(readings, readings + (flat - 1), readings + kept,
                   [](const BlockReading& a, const BlockReading& b) { return a.sum < b.sum; });
  int64_t total = 0;
  for (int k = 0; k < flat; ++k) total += readings[k].sum;
  const int64_t pixels_read = int64_t{flat} * kBlock * kBlock;
  result.sigma_q8 = int((total * kScaleQ16 * 256 + pixels_read * 32768) / (pixels_read * 65536));
  result.flat_blocks = flat;
  result.sigma = result.sigma_q8 / 256.0;
  return result;
}
