// The comparison picture: its size, its three panels (input, output, Show
// noise view of the chosen frame) and the labels under them.
#include <gtest/gtest.h>

#include "cli/compare/compare_picture.h"
#include "tests/cli/cli_test_support.h"

namespace velbrin_cli_test {
namespace {

constexpr int kW = 64, kH = 48;

Picture panel(const Picture& whole, int index, int height) {
  Picture p{kW, height, std::vector<uint32_t>(size_t(kW) * size_t(height))};
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < kW; ++x)
      p.words[size_t(y) * kW + size_t(x)] = whole.words[size_t(y) * size_t(whole.width) + size_t(index * kW + x)];
  return p;
}

TEST(ComparePicture, ThreePanelsWithLabels) {
  ScratchDir dir;
  make_noisy_clip(dir / "clip.mkv", kW, kH, 6, false);
  const std::vector<Picture> input = decode_frames(dir / "clip.mkv", kW, kH);
  ASSERT_EQ(input.size(), 6u);

  const RunResult r = run_velbrin({"-y", "--level", "120", "--dynamic", "4", "--compare", dir / "cmp.png", "--at", "4",
                                   dir / "clip.mkv", dir / "out.mkv"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(file_exists(dir / "out.mkv"));

  const int strip = label_strip_height(kW);
  EXPECT_GT(strip, 7);  // room for the 7-pixel font
  const std::vector<Picture> cmp = decode_frames(dir / "cmp.png", 3 * kW, kH + strip);
  ASSERT_EQ(cmp.size(), 1u);
  const std::string size =
      run_program({"ffprobe", "-v", "error", "-show_entries", "stream=width,height", "-of", "csv=p=0", dir / "cmp.png"})
          .out;
  EXPECT_EQ(size, std::to_string(3 * kW) + "," + std::to_string(kH + strip) + "\n");

  const Picture& frame = input[4];
  EXPECT_EQ(first_difference({frame}, {panel(cmp[0], 0, kH)}), "") << "input panel";
  EXPECT_EQ(first_difference({reference_filter(frame, settings_of(120, 4))}, {panel(cmp[0], 1, kH)}), "")
      << "output panel";
  EXPECT_EQ(first_difference({reference_filter(frame, settings_of(120, 4, true))}, {panel(cmp[0], 2, kH)}), "")
      << "show noise panel";

  // Under each panel a label: some white text pixels on the dark strip.
  for (int p = 0; p < 3; ++p) {
    int text = 0, background = 0;
    for (int y = kH; y < kH + strip; ++y)
      for (int x = p * kW; x < (p + 1) * kW; ++x) {
        const uint32_t v = cmp[0].words[size_t(y) * size_t(3 * kW) + size_t(x)] & 0xFFFFFFu;
        text += v == 0xFFFFFFu;
        background += v == 0x202020u;
      }
    EXPECT_GT(text, 20) << "label of panel " << p;
    EXPECT_GT(background, text) << "label of panel " << p;
  }
}

TEST(ComparePicture, AloneWithoutOutput) {
  ScratchDir dir;
  make_noisy_clip(dir / "clip.mkv", kW, kH, 3, false);
  const RunResult r = run_velbrin({"-q", "--compare", dir / "cmp.jpg", dir / "clip.mkv"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"clip.mkv", "cmp.jpg"}));
}

}  // namespace
}  // namespace velbrin_cli_test
