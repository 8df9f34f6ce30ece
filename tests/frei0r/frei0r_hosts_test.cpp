// The frei0r plug-in in the real hosts, each run as a separate process on
// pictures made here with random alpha: ffmpeg (the short and the
// spelled-out filter syntax, a clip and an RGBA PNG), melt (MLT, as Kdenlive
// and Shotcut use it) and gst-launch-1.0 (GStreamer). Every output frame,
// read back as BGRA, must be the reference's bytes with the input's alpha.
// A host that is not installed is skipped with a message.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "tests/cli/cli_test_support.h"
#include "tests/frei0r/frei0r_frames.h"

namespace {

using namespace frei0r_test;
using namespace velbrin_cli_test;

struct HostRun {
  const char* name;
  const char* tool;  // "" when not installed
  // ffmpeg 5.1 pads rows to 64 bytes and GStreamer 1.28 to 16 (frei0r has
  // no row stride): widths there are multiples of 16 and of 4.
  int w, h, frames;
  const char* input;
  std::vector<std::string> args;  // "@" stands for the scratch folder
  Settings want;
};

// melt takes its profile (frame size and rate) from the clip, rendering a
// first frame for that, and then unloads the plug-in without f0r_deinit,
// with the pool's threads running (frames of 100000 pixels use them);
// real_time=0 keeps its consumer from dropping frames. GStreamer keeps a
// registry of plug-ins: a fresh one finds this build's.
const HostRun kRuns[] = {
    {"ffmpeg_clip", "ffmpeg", 48, 20, 3, "in.mkv",
     {"-nostdin", "-v", "error", "-i", "@/in.mkv", "-vf", "frei0r=velbrin:0.25|0.5", "-c:v", "ffv1", "@/out.mkv"},
     {100, 5, false, false}},
    {"ffmpeg_png_spelled_out", "ffmpeg", 32, 17, 1, "in.png",
     {"-nostdin", "-v", "error", "-i", "@/in.png", "-vf", "frei0r=filter_name=velbrin:filter_params=0.3|0.7|y|n",
      "@/out.png"},
     {120, 7, true, false}},
    {"melt", VELBRIN_MELT, 400, 250, 3, "in.mkv",
     {"-silent", "@/in.mkv", "-filter", "frei0r.velbrin", "0=0.5", "1=0.3", "2=1", "-consumer", "avformat:@/out.mkv",
      "vcodec=ffv1", "pix_fmt=bgra", "real_time=0"},
     {200, 3, true, false}},
    {"gstreamer", VELBRIN_GST_LAUNCH, 44, 19, 1, "in.png",
     {"-q", "filesrc", "location=@/in.png", "!", "pngdec", "!", "videoconvert", "!", "frei0r-filter-velbrin",
      "level=0.75", "dynamic=0.2", "!", "videoconvert", "!", "pngenc", "!", "filesink", "location=@/out.png"},
     {300, 2, false, false}},
};

void PrintTo(const HostRun& run, std::ostream* os) { *os << run.name; }

class Frei0rHosts : public testing::TestWithParam<HostRun> {};

TEST_P(Frei0rHosts, OutputIsTheReferenceWithAlpha) {
  const HostRun& run = GetParam();
  if (*run.tool == '\0') GTEST_SKIP() << run.name << " is not installed; scripts/install-deps.sh installs it";
  ScratchDir dir;
  setenv("FREI0R_PATH", VELBRIN_FREI0R_DIR, 1);
  setenv("GST_REGISTRY", (dir / "registry.bin").c_str(), 1);
  // The input: raw BGRA pictures, stored losslessly with their alpha.
  std::vector<std::vector<uint32_t>> in;
  {
    std::ofstream raw(dir / "in.bgra", std::ios::binary);
    for (int k = 0; k < run.frames; ++k) {
      in.push_back(picture(run.w, run.h, uint64_t(run.w * 100 + k)));
      raw.write(reinterpret_cast<const char*>(in.back().data()), std::streamsize(in.back().size() * 4));
    }
  }
  ffmpeg({"-f", "rawvideo", "-pix_fmt", "bgra", "-s", std::to_string(run.w) + "x" + std::to_string(run.h), "-i",
          dir / "in.bgra", "-c:v", run.frames > 1 ? "ffv1" : "png", "-pix_fmt", run.frames > 1 ? "bgra" : "rgba",
          dir / run.input});

  std::vector<std::string> argv = {run.tool};
  for (std::string a : run.args) {
    if (const size_t at = a.find('@'); at != std::string::npos) a.replace(at, 1, dir.path());
    argv.push_back(a);
  }
  const RunResult r = run_program(argv);
  ASSERT_EQ(r.exit_code, 0) << "signal " << r.signal << ": " << r.err;
  const std::vector<Picture> out = decode_frames(dir / (run.frames > 1 ? "out.mkv" : "out.png"), run.w, run.h);
  ASSERT_EQ(out.size(), in.size());
  for (size_t k = 0; k < in.size(); ++k) {
    const std::vector<uint32_t> want = expected_output(in[k], run.w, run.h, run.want);
    const auto first = std::mismatch(want.begin(), want.end(), out[k].words.begin(), out[k].words.end());
    EXPECT_TRUE(first.first == want.end()) << "frame " << k << ", first at pixel " << (first.first - want.begin())
                                           << std::hex << ": 0x" << (first.first == want.end() ? 0 : *first.first)
                                           << " wanted, 0x" << (first.second == out[k].words.end() ? 0 : *first.second)
                                           << " written, input 0x" << in[k][size_t(first.first - want.begin()) % in[k].size()];
  }
}

INSTANTIATE_TEST_SUITE_P(EachHost, Frei0rHosts, testing::ValuesIn(kRuns),
                         [](const testing::TestParamInfo<HostRun>& i) { return std::string(i.param.name); });

}  // namespace
