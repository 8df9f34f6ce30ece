// The frei0r plug-in in the real hosts, each run once as a separate process
// on pictures made here with random alpha: ffmpeg (the short and the
// spelled-out filter syntax, a clip and an RGBA PNG), melt (MLT, as Kdenlive
// and Shotcut use it) and gst-launch-1.0 (GStreamer). Every output frame,
// read back as BGRA, must be the reference's bytes with the input's alpha.
// A host that is not installed is skipped with a message.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "tests/cli/cli_test_support.h"
#include "tests/frei0r/frei0r_frames.h"

namespace {

using namespace frei0r_test;
using velbrin_cli_test::decode_frames;
using velbrin_cli_test::ffmpeg;
using velbrin_cli_test::run_program;
using velbrin_cli_test::ScratchDir;

// Pictures of w x h with random alpha, as a raw BGRA file and the given
// container (an RGBA PNG for one picture, FFV1 with alpha for several).
std::vector<std::vector<uint32_t>> make_input(const std::string& raw, const std::string& path, int w, int h,
                                              int count) {
  std::vector<std::vector<uint32_t>> pictures;
  std::ofstream out(raw, std::ios::binary);
  for (int k = 0; k < count; ++k) {
    pictures.push_back(picture(w, h, uint64_t(w * 1000 + k)));
    out.write(reinterpret_cast<const char*>(pictures.back().data()), std::streamsize(pictures.back().size() * 4));
  }
  out.close();
  const std::string size = std::to_string(w) + "x" + std::to_string(h);
  std::vector<std::string> args = {"-f", "rawvideo", "-pix_fmt", "bgra", "-s", size, "-i", raw};
  if (count > 1) args.insert(args.end(), {"-c:v", "ffv1", "-pix_fmt", "bgra"});
  else args.insert(args.end(), {"-pix_fmt", "rgba"});
  args.push_back(path);
  ffmpeg(args);
  return pictures;
}

// The host's output file, decoded to BGRA by ffmpeg, against the reference.
void expect_filtered(const std::vector<std::vector<uint32_t>>& in, const std::string& out, int w, int h,
                     const Settings& s) {
  const std::vector<velbrin_cli_test::Picture> got = decode_frames(out, w, h);
  ASSERT_EQ(got.size(), in.size()) << out;
  for (size_t k = 0; k < in.size(); ++k)
    EXPECT_EQ(first_difference(got[k].words, expected_output(in[k], w, h, s)), -1) << out << " frame " << k;
}

// The hosts find the plug-in through FREI0R_PATH, the build's folder.
class Frei0rHosts : public testing::Test {
 protected:
  void SetUp() override { setenv("FREI0R_PATH", VELBRIN_FREI0R_DIR, 1); }
  static void skip_without(const char* tool) {
    if (*tool == '\0') GTEST_SKIP() << "not installed; scripts/install-deps.sh installs it";
  }
  ScratchDir dir;
};

// ffmpeg 5.1 pads each row to 64 bytes, which frei0r cannot describe:
// widths that are multiples of 16 only.
TEST_F(Frei0rHosts, Ffmpeg) {
  const auto clip = make_input(dir / "clip.bgra", dir / "in.mkv", 48, 20, 3);
  ffmpeg({"-i", dir / "in.mkv", "-vf", "frei0r=velbrin:0.25|0.5", "-c:v", "ffv1", dir / "out.mkv"});
  expect_filtered(clip, dir / "out.mkv", 48, 20, Settings{100, 5, false, false});

  const auto png = make_input(dir / "pic.bgra", dir / "in.png", 32, 17, 1);
  ffmpeg({"-i", dir / "in.png", "-vf", "frei0r=filter_name=velbrin:filter_params=0.3|0.7|y|n", dir / "out.png"});
  expect_filtered(png, dir / "out.png", 32, 17, Settings{120, 7, true, false});
}

// MLT scales to its profile's frame size, so the profile is the picture's
// (melt 7.12 crashes on a profile without a description); real_time=0 keeps
// the consumer from dropping frames.
TEST_F(Frei0rHosts, Melt) {
  skip_without(VELBRIN_MELT);
  const auto png = make_input(dir / "pic.bgra", dir / "in.png", 45, 19, 1);
  std::ofstream(dir / "profile") << "description=45x19\nwidth=45\nheight=19\nprogressive=1\nframe_rate_num=25\nframe_rate_den=1\n"
                                    "sample_aspect_num=1\nsample_aspect_den=1\ndisplay_aspect_num=45\n"
                                    "display_aspect_den=19\ncolorspace=709\n";
  const auto r = run_program({VELBRIN_MELT, "-silent", "-profile", dir / "profile", "avformat:" + dir / "in.png",
                              "out=0", "-filter", "frei0r.velbrin", "0=0.5", "1=0.3", "2=1", "-consumer",
                              "avformat:" + dir / "out.png", "vcodec=png", "pix_fmt=rgba", "update=1", "real_time=0"});
  ASSERT_EQ(r.exit_code, 0) << "signal " << r.signal << ": " << r.err;
  expect_filtered(png, dir / "out.png", 45, 19, Settings{200, 3, true, false});
}

// GStreamer keeps a registry of plug-ins: a fresh one finds this build's.
TEST_F(Frei0rHosts, GStreamer) {
  skip_without(VELBRIN_GST_LAUNCH);
  setenv("GST_REGISTRY", (dir / "registry.bin").c_str(), 1);
  const auto png = make_input(dir / "pic.bgra", dir / "in.png", 45, 19, 1);
  const auto r = run_program({VELBRIN_GST_LAUNCH, "-q", "filesrc", "location=" + dir / "in.png", "!", "pngdec", "!",
                              "videoconvert", "!", "video/x-raw,format=BGRA", "!", "frei0r-filter-velbrin",
                              "level=0.75", "dynamic=0.2", "!", "filesink", "location=" + dir / "out.bgra"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::string raw = velbrin_cli_test::read_file(dir / "out.bgra");
  std::vector<uint32_t> got(raw.size() / 4);
  std::memcpy(got.data(), raw.data(), got.size() * 4);
  EXPECT_EQ(first_difference(got, expected_output(png[0], 45, 19, Settings{300, 2, false, false})), -1);
}

}  // namespace
