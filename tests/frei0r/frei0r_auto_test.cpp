// The frei0r plug-in's Auto in ffmpeg gives velbrin --auto --lossless's
// bytes, frame by frame, on a clip whose noise changes from frame to frame
// (so each frame gets settings of its own); and those are not what the
// plug-in's default setting gives.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <string>
#include <vector>

#include "tests/cli/cli_test_support.h"
#include "tests/frei0r/frei0r_frames.h"

namespace {

using namespace frei0r_test;
using namespace velbrin_cli_test;

TEST(Frei0rAuto, SameBytesAsVelbrinAuto) {
  constexpr int kW = 96, kH = 64;
  const int kNoise[] = {2, 12, 30};  // photo_pixel's noise amplitude per frame
  ScratchDir dir;
  setenv("FREI0R_PATH", VELBRIN_FREI0R_DIR, 1);
  std::vector<Picture> clip;
  {
    std::ofstream raw(dir / "in.bgra", std::ios::binary);
    for (int amp : kNoise) {
      std::vector<uint32_t> words;
      TestRng rng{uint64_t(amp)};
      for (int i = 0; i < kH; ++i)
        for (int j = 0; j < kW; ++j) words.push_back(photo_pixel(i, j, kW, kH, amp, rng) | 0xFF000000u);
      raw.write(reinterpret_cast<const char*>(words.data()), std::streamsize(words.size() * 4));
      clip.push_back({kW, kH, words});
    }
  }
  ffmpeg({"-f", "rawvideo", "-pix_fmt", "bgra", "-s", std::to_string(kW) + "x" + std::to_string(kH), "-i",
          dir / "in.bgra", "-c:v", "ffv1", "-pix_fmt", "bgra", dir / "in.mkv"});
  const RunResult plugin = run_program({"ffmpeg", "-nostdin", "-v", "error", "-i", dir / "in.mkv", "-vf",
                                        "frei0r=velbrin:0.25|0.5|n|n|y", "-c:v", "ffv1", dir / "plugin.mkv"});
  ASSERT_EQ(plugin.exit_code, 0) << plugin.err;
  const RunResult velbrin = run_velbrin({"--auto", "--lossless", dir / "in.mkv", dir / "velbrin.mkv"});
  ASSERT_EQ(velbrin.exit_code, 0) << velbrin.err;
  // The closing lines name the settings used, which differ between frames.
  EXPECT_NE(velbrin.err.find("Level "), std::string::npos) << velbrin.err;
  EXPECT_NE(velbrin.err.find("\u2013"), std::string::npos) << velbrin.err;

  const std::vector<Picture> from_plugin = decode_frames(dir / "plugin.mkv", kW, kH);
  const std::vector<Picture> from_velbrin = decode_frames(dir / "velbrin.mkv", kW, kH);
  ASSERT_EQ(from_plugin.size(), clip.size());
  EXPECT_EQ(first_difference(from_velbrin, from_plugin), "");
  EXPECT_NE(first_difference(reference_filter_each(clip, settings_of(kDefaultLevel, kDefaultDynamic)), from_plugin),
            "");
}

}  // namespace
