// The noise measurement against noise of known deviation added to pictures
// of known kind (flat, shaded, hard edges, fine grey texture, clipped),
// the rule's shape from noise to settings, and the check of a frame's Level
// against the error it gives on the clean picture.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <vector>

#include "engine/kernels/smooth.h"
#include "engine/setting_ranges.h"
#include "engine/strength/frame_strength.h"
#include "engine/strength/level_check.h"
#include "engine/strength/noise_measure.h"
#include "engine/strength/strength_rule.h"
#include "tests/support/frame_content.h"
#include "tests/support/frame_error.h"

namespace {

constexpr int kW = 320, kH = 240;

// The clean picture's grey value at (x, y).
using Scene = int (*)(int x, int y);

int flat(int, int) { return 128; }
int shaded(int x, int y) { return 40 + x / 2 + y / 3; }
// Hard edges every 20 pixels both ways: most 16 x 16 blocks hold one.
int edges(int x, int y) { return ((x / 20 + y / 20) % 2) ? 200 : 50; }
// Fine texture, the same in every channel, at every pixel: no flat area.
int texture(int x, int y) { return 128 + int((uint32_t(x * 7919 + y * 104729) * 2654435761u) >> 27) * 4 - 64; }
// The right half at 250: the noise there is clipped at 255.
int half_white(int x, int) { return x < kW / 2 ? 100 : 250; }
// Mostly bright: strong noise reaches 255 in nearly every block, and the
// blocks flattened most by clipping must not pass for the flattest.
int mostly_bright(int x, int) { return x < kW / 5 ? 128 : 230; }

int colour_texture(int x, int y, int c) { return colour_texture_value(y, x, c); }

// Gaussian noise of deviation `sigma`, independent per pixel and channel,
// added to the scene (one value for all channels, or one per channel),
// rounded and clipped as 8-bit pixels hold it.
std::vector<uint32_t> noisy_colour(const std::function<int(int x, int y, int c)>& scene, double sigma, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0.0, sigma);
  std::vector<uint32_t> pixels;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      uint32_t p = 0;
      for (int c = 0; c < 3; ++c) {
        const double v = std::round(scene(x, y, c) + (sigma > 0 ? noise(rng) : 0.0));
        p |= uint32_t(v < 0 ? 0 : (v > 255 ? 255 : v)) << (8 * c);
      }
      pixels.push_back(p);
    }
  return pixels;
}

std::vector<uint32_t> noisy(Scene scene, double sigma, unsigned seed) {
  return noisy_colour([scene](int x, int y, int) { return scene(x, y); }, sigma, seed);
}

TEST(NoiseMeasure, FindsTheAddedDeviationWhateverThePicture) {
  const struct {
    const char* name;
    Scene scene;
  } kScenes[] = {{"flat", flat}, {"shaded", shaded}, {"edges", edges}, {"texture", texture}, {"half white", half_white},
                 {"mostly bright", mostly_bright}};
  unsigned seed = 1;
  for (const auto& s : kScenes)
    for (double sigma : {0.0, 2.0, 5.0, 10.0, 20.0}) {
      SCOPED_TRACE(testing::Message() << s.name << ", sigma " << sigma);
      const std::vector<uint32_t> frame = noisy(s.scene, sigma, seed++);
      const NoiseMeasure m = measure_noise(frame.data(), kW, kH, kW * 4);
      EXPECT_NEAR(m.sigma, sigma, 0.15 + 0.04 * sigma);
      EXPECT_EQ(m.sigma, m.sigma_q8 / 256.0);
      EXPECT_EQ(m.blocks, ((kW - 2) / 16) * ((kH - 2) / 16));
    }
}

TEST(NoiseMeasure, ReadsRowsByThePitchAndNeedsOneWholeBlock) {
  const std::vector<uint32_t> packed = noisy(shaded, 7, 99);
  // The same rows with 3 more words each.
  std::vector<uint32_t> padded;
  for (int y = 0; y < kH; ++y) {
    padded.insert(padded.end(), packed.begin() + y * kW, packed.begin() + (y + 1) * kW);
    padded.insert(padded.end(), {0xFFFFFFu, 0, 0xFFFFFFu});
  }
  EXPECT_EQ(measure_noise(padded.data(), kW, kH, (kW + 3) * 4).sigma_q8,
            measure_noise(packed.data(), kW, kH, kW * 4).sigma_q8);
  // 17 pixels hold no 16 x 16 block with its border: nothing to tell.
  for (const auto& [w, h] : {std::pair{17, 100}, {100, 17}, {18, 18}}) {
    const NoiseMeasure small = measure_noise(packed.data(), w, h, kW * 4);
    EXPECT_EQ(small.blocks, w == 18 ? 1 : 0);
    EXPECT_EQ(small.sigma_q8 == 0, w != 18);
  }
}

TEST(StrengthRule, LevelFollowsTheNoiseFromZeroOnCleanPictures) {
  const struct {
    double sigma;
    int level;
  } kRows[] = {
      {-3, 0}, {NAN, 0}, {0, 0}, {1.0, 0},  // a clean picture's own grain and compression: left alone
      {1.5, 21}, {2.0, 42},                 // rising from 0 to the plain rule
      {5, 105}, {10, 210}, {19, 399},       // about 21 x sigma
      {20, 400}, {1e9, 400}, {INFINITY, 400},
  };
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.sigma);
    const StrengthSettings s = strength_for_noise(row.sigma);
    EXPECT_EQ(s.level, row.level);
    EXPECT_EQ(s.dynamic, kAutoDynamic);
  }
  // Level never falls as the noise grows, and never jumps: a measurement
  // that moves a little moves Level a little.
  int last = 0;
  for (int q = 0; q <= 30 * 256; ++q) {
    const int level = strength_for_noise_q8(q).level;
    ASSERT_GE(level, last) << q;
    ASSERT_LE(level - last, 1) << q;
    ASSERT_LE(level, kLevelMax);
    last = level;
  }
}

// Stein's risk of a Level, from the noisy frame alone, against the error
// the filter's output really has on the clean picture (over the strips'
// values, which are spread over the frame, so about the whole frame's).
TEST(LevelCheck, RiskIsTheErrorAgainstTheCleanPicture) {
  const auto grey = [](int x, int y, int) { return shaded(x, y); };
  const struct {
    const char* name;
    int (*scene)(int, int, int);
  } kScenes[] = {{"shaded", grey}, {"colour texture", colour_texture}};
  unsigned seed = 50;
  for (const auto& s : kScenes)
    for (const double sigma : {5.0, 10.0})
      for (const int level : {0, 60, 210}) {
        SCOPED_TRACE(testing::Message() << s.name << ", sigma " << sigma << ", Level " << level);
        const std::vector<uint32_t> clean = noisy_colour(s.scene, 0, 0), frame = noisy_colour(s.scene, sigma, seed++);
        std::vector<uint32_t> out(frame.size());
        smooth_frame(SmoothFrame{frame.data(), out.data(), kW, kH, kW}, SmoothParams{level, 8, 0, 0});
        const double error = mean_squared_error(out, clean);
        int64_t values = 0;
        const int64_t risk = level_risk(frame.data(), kW, kH, kW * 4, int(sigma * 256), level, 8, &values);
        ASSERT_GT(values, 0);
        EXPECT_NEAR(double(risk) / 65536.0 / double(values), error, 0.03 * error + 0.05 * sigma * sigma);
      }
}

TEST(LevelCheck, LowersTheLevelOnlyWhereSmoothingTakesMoreThanNoise) {
  const auto grey = [](int x, int y, int) { return shaded(x, y); };
  const auto grey_texture = [](int x, int y, int) { return texture(x, y); };
  const struct {
    const char* name;
    int (*scene)(int, int, int);
    double sigma;
    bool lowered;
  } kRows[] = {
      {"colour texture, light noise", colour_texture, 5, true},
      {"shaded, light noise", grey, 5, false},
      {"shaded, heavy noise", grey, 20, false},
      {"grey texture, noise", grey_texture, 10, false},
  };
  unsigned seed = 70;
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.name);
    const std::vector<uint32_t> frame = noisy_colour(row.scene, row.sigma, seed++);
    const FrameStrength f = strength_of_frame(frame.data(), kW, kH, kW * 4);
    EXPECT_EQ(f.rule.level, strength_for_noise_q8(f.noise.sigma_q8).level);
    EXPECT_EQ(f.settings.dynamic, f.rule.dynamic);
    EXPECT_EQ(f.settings.level < f.rule.level, row.lowered) << f.settings.level << " of " << f.rule.level;
    EXPECT_LE(f.settings.level, f.rule.level);
    // The same bytes bottom row first, as the hosts lay frames out, give
    // the same choice: the rows are read by the pitch.
    std::vector<uint32_t> flipped(frame.size());
    for (int y = 0; y < kH; ++y) std::copy_n(frame.begin() + y * kW, kW, flipped.begin() + (kH - 1 - y) * kW);
    const FrameStrength again = strength_of_frame(flipped.data() + (kH - 1) * kW, kW, kH, -kW * 4);
    EXPECT_EQ(again.settings.level, f.settings.level);
  }
  // Frames too small for a strip (68 x 20 pixels), and clean frames, keep
  // the rule's settings untouched.
  const std::vector<uint32_t> textured = noisy_colour(colour_texture, 5, 90);
  const StrengthSettings rule{105, kAutoDynamic};
  for (const auto& [w, h] : {std::pair{67, 200}, {200, 19}}) {
    const StrengthSettings s = checked_settings(textured.data(), w, h, kW * 4, 5 * 256, rule);
    EXPECT_EQ(s.level, rule.level) << w << "x" << h;
  }
  EXPECT_EQ(checked_settings(textured.data(), kW, kH, kW * 4, 0, {0, kAutoDynamic}).level, 0);
  EXPECT_LT(checked_settings(textured.data(), 68, 20, kW * 4, 5 * 256, rule).level, rule.level);
}

}  // namespace
