// An image sequence whose pictures differ in kind (grey, colour, alpha):
// every picture keeps its colour and alpha, in pictures and in a video.
#include <gtest/gtest.h>

#include "tests/cli/cli_test_support.h"

namespace velbrin_cli_test {
namespace {

constexpr int kW = 32, kH = 24;

std::string pixel_format_of(const std::string& path) {
  std::string f = run_program({"ffprobe", "-v", "error", "-show_entries", "stream=pix_fmt", "-of", "csv=p=0", path}).out;
  while (!f.empty() && (f.back() == '\n' || f.back() == '\r')) f.pop_back();
  return f;
}

// One picture of testsrc2 (frame `n`) in `pix_fmt`; with alpha, a left to
// right ramp of alpha.
void make_picture(const std::string& path, int n, const std::string& pix_fmt) {
  std::string graph = "testsrc2=s=32x24,trim=start_frame=" + std::to_string(n) + ",noise=alls=30:allf=t";
  if (pix_fmt == "rgba" || pix_fmt == "ya8")
    graph += ",format=rgba,geq=r='r(X,Y)':g='g(X,Y)':b='b(X,Y)':a='X*8'";
  ffmpeg({"-f", "lavfi", "-i", graph, "-frames:v", "1", "-pix_fmt", pix_fmt, path});
}

uint32_t alpha_at(const Picture& p, size_t k) { return p.words[k] >> 24; }

TEST(MixedSequence, EveryPictureKeepsItsColourAndAlpha) {
  const struct {
    const char* name;
    std::vector<std::string> kinds;  // pixel format of each input picture
    const char* output_format;       // of the written pictures
  } cases[] = {
      {"grey first, then alpha and colour", {"gray", "rgba", "rgb24"}, "rgba"},
      {"grey first, then colour", {"gray", "gray", "rgb24"}, "rgb24"},
      {"grey first, then grey with alpha", {"gray", "ya8"}, "ya8"},
      {"grey throughout stays grey", {"gray", "gray"}, "gray"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    std::vector<Picture> input;
    for (size_t k = 0; k < c.kinds.size(); ++k) {
      const std::string in = dir / ("in" + std::to_string(k + 1) + ".png");
      make_picture(in, int(k), c.kinds[k]);
      input.push_back(decode_frames(in, kW, kH).at(0));
    }
    const std::vector<Picture> expected = reference_filter_each(input, settings_of(100, 5));

    // Pictures: each compared with the reference, alpha with the input's.
    RunResult r = run_velbrin({"-q", dir / "in%d.png", dir / "out%d.png"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    for (size_t k = 0; k < input.size(); ++k) {
      SCOPED_TRACE(k + 1);
      const std::string out = dir / ("out" + std::to_string(k + 1) + ".png");
      EXPECT_EQ(pixel_format_of(out), c.output_format);
      const Picture written = decode_frames(out, kW, kH).at(0);
      EXPECT_EQ(first_difference({expected[k]}, {written}), "");
      for (size_t p = 0; p < written.words.size(); ++p)
        if (alpha_at(written, p) != alpha_at(input[k], p)) {
          ADD_FAILURE() << "alpha " << alpha_at(written, p) << " at pixel " << p << ", input has "
                        << alpha_at(input[k], p);
          break;
        }
    }
    // A lossless video of the same sequence holds every picture's colour.
    r = run_velbrin({"-q", dir / "in%d.png", dir / "out.mkv"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(first_difference(expected, decode_frames(dir / "out.mkv", kW, kH)), "");
  }
}

}  // namespace
}  // namespace velbrin_cli_test
