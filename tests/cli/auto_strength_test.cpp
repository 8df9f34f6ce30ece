// velbrin --auto and --measure end to end, on a clip whose noise grows from
// frame to frame and ends on fine colour texture: each frame filtered with
// the settings the engine gives it (the rule's for the noise measured in
// it, the Level lowered on the texture; the reference kernel on the host's
// layout gives the bytes), the same frames whatever the thread count or
// range, and --measure naming the frames' median setting without writing a
// file.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "engine/strength/frame_strength.h"
#include "tests/cli/cli_test_support.h"
#include "tests/support/frame_content.h"

namespace velbrin_cli_test {
namespace {

constexpr int kW = 96, kH = 48;
// photo_pixel's noise amplitude, one per frame, then colour texture with
// noise of +-8 (which asks for a lower Level than the rule's).
const int kNoise[] = {0, 3, 8, 14, 24, 40};
constexpr int kTextureNoise = 8;
constexpr int kFrames = 7;

class AutoStrength : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new ScratchDir();
    std::ofstream raw(*dir_ / "clip.bgra", std::ios::binary);
    for (int k = 0; k < kFrames; ++k) {
      const bool textured = k == kFrames - 1;
      const int amp = textured ? kTextureNoise : kNoise[k];
      TestRng rng{uint64_t(amp) + 1};
      Picture p{kW, kH, {}};
      for (int i = 0; i < kH; ++i)
        for (int j = 0; j < kW; ++j)
          p.words.push_back((textured ? colour_texture_pixel(i, j, amp, rng) : photo_pixel(i, j, kW, kH, amp, rng)) &
                            0xFFFFFFu);
      raw.write(reinterpret_cast<const char*>(p.words.data()), std::streamsize(p.words.size() * 4));
      frames_.push_back(std::move(p));
    }
    raw.close();
    ffmpeg({"-f", "rawvideo", "-pix_fmt", "bgr0", "-s", std::to_string(kW) + "x" + std::to_string(kH), "-i",
            *dir_ / "clip.bgra", "-c:v", "ffv1", "-pix_fmt", "bgr0", *dir_ / "clip.mkv"});
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }

  // A frame's settings as the engine gives them on the host's layout,
  // bottom row first.
  static FrameStrength strength(const Picture& p) {
    std::vector<uint32_t> host(p.words.size());
    for (int y = 0; y < kH; ++y) std::copy_n(p.words.begin() + y * kW, kW, host.begin() + (kH - 1 - y) * kW);
    return strength_of_frame(host.data(), kW, kH, kW * 4);
  }

  static inline ScratchDir* dir_ = nullptr;
  static inline std::vector<Picture> frames_;
};

TEST_F(AutoStrength, EachFrameItsOwnSettingWhateverTheThreadsOrRange) {
  std::vector<Picture> expected;
  std::vector<int> levels;
  for (const Picture& p : frames_) {
    const StrengthSettings s = strength(p).settings;
    levels.push_back(s.level);
    expected.push_back(reference_filter(p, settings_of(s.level, s.dynamic)));
  }
  // The clip's frames do ask for different settings, and the texture for
  // less than the rule says.
  ASSERT_LT(*std::min_element(levels.begin(), levels.end()), *std::max_element(levels.begin(), levels.end()));
  ASSERT_LT(levels.back(), strength(frames_.back()).rule.level);

  const struct {
    const char* name;
    std::vector<std::string> args;
    size_t first, count;
  } kRuns[] = {
      {"whole.mkv", {"--threads", "2"}, 0, 7},
      {"one-thread.mkv", {"--threads", "1"}, 0, 7},
      {"four-threads.mkv", {"--threads", "4"}, 0, 7},
      {"range.mkv", {"--frames", "4-6"}, 4, 3},
  };
  for (const auto& run : kRuns) {
    SCOPED_TRACE(run.name);
    std::vector<std::string> args = {"--auto", "--lossless"};
    args.insert(args.end(), run.args.begin(), run.args.end());
    args.insert(args.end(), {*dir_ / "clip.mkv", *dir_ / run.name});
    const RunResult r = run_velbrin(args);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::vector<Picture> want(expected.begin() + ptrdiff_t(run.first),
                                    expected.begin() + ptrdiff_t(run.first + run.count));
    EXPECT_EQ(first_difference(want, decode_frames(*dir_ / run.name, kW, kH)), "");
    // The closing lines: what was measured and used, and a fixed setting.
    EXPECT_NE(r.err.find("--auto: noise \u03c3 "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Config("), std::string::npos) << r.err;
  }
}

TEST_F(AutoStrength, MeasureNamesTheMedianFramesSettingAndWritesNothing) {
  std::vector<int> levels;
  for (const Picture& p : frames_) levels.push_back(strength(p).settings.level);
  std::sort(levels.begin(), levels.end());
  const StrengthSettings s = {levels[3], strength(frames_[3]).settings.dynamic};
  const std::vector<std::string> before = dir_->entries();
  const RunResult r = run_velbrin({"--measure", *dir_ / "clip.mkv", *dir_ / "missing.mkv"});
  EXPECT_EQ(r.exit_code, 1) << r.err;  // the missing input
  EXPECT_NE(r.err.find("missing.mkv"), std::string::npos) << r.err;
  const std::string setting = "--level " + std::to_string(s.level) + " --dynamic " + std::to_string(s.dynamic) +
                              ", script line Config(" + std::to_string(s.level) + ", " + std::to_string(s.dynamic) +
                              ")";
  EXPECT_NE(r.out.find("clip.mkv: noise \u03c3 "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("7 frames measured"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(setting), std::string::npos) << r.out << " wanted " << setting;
  EXPECT_EQ(dir_->entries(), before);
}

// On a lossy YUV input the filter sees the pixels of velbrin's own
// conversion, which differ from the exact one in the chroma: --measure
// must measure those, so that it names the fixed setting a default --auto
// run closes with (both take the median of all six frames here; the exact
// conversion reads this clip's noise about a fifth lower).
TEST_F(AutoStrength, MeasureSeesWhatADefaultRunFilters) {
  ffmpeg({"-f", "lavfi", "-i", "testsrc2=s=320x240,noise=alls=20:allf=t", "-frames:v", "6", "-c:v", "libx264", "-crf",
          "10", "-pix_fmt", "yuv420p", *dir_ / "lossy.mkv"});
  const RunResult measured = run_velbrin({"--measure", *dir_ / "lossy.mkv"});
  const RunResult run = run_velbrin({"-y", "--auto", *dir_ / "lossy.mkv", *dir_ / "lossy-auto.mkv"});
  ASSERT_EQ(measured.exit_code, 0) << measured.err;
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const size_t at = run.err.find("a fixed setting close to it: ");
  ASSERT_NE(at, std::string::npos) << run.err;
  const std::string setting = run.err.substr(at + 29, run.err.find('\n', at) - at - 29);
  EXPECT_NE(measured.out.find("fixed setting " + setting + ","), std::string::npos)
      << measured.out << " wanted " << setting;
}

}  // namespace
}  // namespace velbrin_cli_test
