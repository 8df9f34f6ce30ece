// What velbrin writes when nothing but the output's name is given: a lossy
// input gives a playable lossy video close to the filtered frames, a
// lossless input (or --lossless) the filtered frames exactly; odd sizes,
// thread counts and pictures too large for memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "cli/cli_error.h"
#include "cli/run/frame_budget.h"
#include "tests/cli/cli_test_support.h"

namespace velbrin_cli_test {
namespace {

constexpr int kW = 64, kH = 48;

std::string probe(const std::string& file, const std::string& stream, const std::string& entries) {
  return run_program({"ffprobe", "-v", "error", "-select_streams", stream, "-show_entries", "stream=" + entries, "-of",
                      "csv=p=0", file})
      .out;
}

// The largest mean difference of one channel between two sequences.
double worst_mean_difference(const std::vector<Picture>& a, const std::vector<Picture>& b) {
  double worst = 0;
  for (size_t f = 0; f < a.size() && f < b.size(); ++f)
    for (int c = 0; c < 3; ++c) {
      double total = 0;
      for (size_t k = 0; k < a[f].words.size(); ++k)
        total += std::abs(int(a[f].words[k] >> (8 * c) & 0xFF) - int(b[f].words[k] >> (8 * c) & 0xFF));
      worst = std::max(worst, total / double(a[f].words.size()));
    }
  return worst;
}

class OutputDefaults : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new ScratchDir();
    make_noisy_clip(*dir_ / "lossless.mkv", kW, kH, 6, false);
    // Camera-style inputs: H.264 4:2:0 with AAC, and 4:2:2.
    ffmpeg({"-i", *dir_ / "lossless.mkv", "-f", "lavfi", "-i", "sine=duration=0.24", "-c:v", "libx264", "-crf", "20",
            "-pix_fmt", "yuv420p", "-c:a", "aac", "-shortest", *dir_ / "camera.mp4"});
    ffmpeg({"-i", *dir_ / "lossless.mkv", "-c:v", "libx264", "-crf", "20", "-pix_fmt", "yuv422p", *dir_ / "camera422.mkv"});
    // Cinepak: lossy, though it decodes to RGB.
    ffmpeg({"-i", *dir_ / "lossless.mkv", "-c:v", "cinepak", *dir_ / "cinepak.avi"});
  }
  static void TearDownTestSuite() { delete dir_; }
  static std::vector<Picture> filtered(const std::string& input) {
    return reference_filter_each(decode_frames(input, kW, kH), settings_of(100, 5));
  }
  static ScratchDir* dir_;
};
ScratchDir* OutputDefaults::dir_ = nullptr;

TEST_F(OutputDefaults, CodecAndPixelFormatFollowTheInput) {
  struct Case {
    const char* input;
    const char* output;
    std::vector<std::string> options;
    const char* video;  // ffprobe's codec_name,profile,pix_fmt
    bool exact;         // the filtered frames bit for bit
  };
  const Case cases[] = {
      {"camera.mp4", "a.mkv", {}, "h264,High,yuv420p", false},
      {"camera.mp4", "a.mp4", {}, "h264,High,yuv420p", false},
      {"camera.mp4", "a.mov", {}, "h264,High,yuv420p", false},
      {"camera.mp4", "a.webm", {}, "vp9,Profile 0,yuv420p", false},
      {"camera422.mkv", "b.mkv", {}, "h264,High 4:2:2,yuv422p", false},
      {"camera.mp4", "c.mkv", {"--crf", "30"}, "h264,High,yuv420p", false},
      {"camera.mp4", "d.mkv", {"--lossless"}, "ffv1,unknown,bgr0", true},
      {"camera.mp4", "d.mp4", {"--lossless"}, nullptr, true},
      {"lossless.mkv", "e.mkv", {}, "ffv1,unknown,bgr0", true},
      {"lossless.mkv", "e.mp4", {}, nullptr, true},
      {"cinepak.avi", "f.mkv", {}, "h264,High,yuv420p", false},
      {"camera.mp4", "g.ts", {}, "h264,High,yuv420p", false},
      {"camera.mp4", "h.mkv", {"--codec", "libx264"}, "h264,High,yuv420p", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.input) + " -> " + c.output);
    std::vector<std::string> args = c.options;
    args.insert(args.end(), {"-y", *dir_ / c.input, *dir_ / c.output});
    const RunResult r = run_velbrin(args);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "");
    if (c.video != nullptr) {
      // (A transport stream lists its streams once more under its program.)
      const std::string video = probe(*dir_ / c.output, "v", "codec_name,pix_fmt,profile");
      EXPECT_EQ(video.substr(0, video.find('\n') + 1), std::string(c.video) + "\n");
    }
    // The closing line names what was written.
    EXPECT_NE(r.err.find("velbrin: wrote " + *dir_ / c.output + ": 6 frames, "), std::string::npos) << r.err;
    const std::vector<Picture> want = filtered(*dir_ / c.input), got = decode_frames(*dir_ / c.output, kW, kH);
    ASSERT_EQ(got.size(), want.size());
    if (c.exact) {
      EXPECT_EQ(first_difference(want, got), "");
    } else if (std::string(c.input) != "cinepak.avi") {  // RGB noise costs more than swscale's floor says
      // Lossy, but close: within a little of what the chroma subsampling
      // alone costs this noisy clip. A wrong matrix, range or plane order
      // is far off.
      const std::string exact = *dir_ / "exact.mkv", sub = *dir_ / "subsampled.mkv";
      ASSERT_EQ(run_velbrin({"-q", "-y", "--lossless", *dir_ / c.input, exact}).exit_code, 0);
      const std::string video = c.video;
      ffmpeg({"-i", exact, "-sws_flags", "bicubic+accurate_rnd+bitexact", "-pix_fmt", video.substr(video.rfind(',') + 1),
              "-c:v", "ffv1", sub});
      const double floor = worst_mean_difference(want, decode_frames(sub, kW, kH));
      EXPECT_LT(worst_mean_difference(want, got), floor + (c.options.empty() ? 2.0 : 6.0)) << "floor " << floor;
    }
  }
  // The closing line in full, and the audio: copied into .mp4, re-encoded to Opus for .webm.
  for (const std::vector<std::string>& codec : {std::vector<std::string>{}, {"--codec", "libx264"}}) {
    std::vector<std::string> args = codec;
    args.insert(args.end(), {"-y", *dir_ / "camera.mp4", *dir_ / "s.mkv"});
    const RunResult r = run_velbrin(args);
    EXPECT_NE(r.err.find(": 6 frames, H.264 yuv420p CRF 16, "), std::string::npos) << r.err;
  }
  EXPECT_EQ(probe(*dir_ / "a.mp4", "a", "codec_name"), "aac\n");
  EXPECT_EQ(probe(*dir_ / "a.webm", "a", "codec_name"), "opus\n");
}

// Containers that none of velbrin's constant-quality encoders goes into get
// their own default codec; an encoder named for Matroska is taken whenever
// the muxer takes it, and stores the filtered frames exactly where it is
// lossless. Interlaced input is written as the whole frames the filter
// made, and labelled progressive.
TEST_F(OutputDefaults, EveryContainerGetsAnEncoderThatWorksThere) {
  ffmpeg({"-i", *dir_ / "lossless.mkv", "-vf", "setfield=tff", "-c:v", "mpeg2video", "-flags", "+ildct+ilme",
          *dir_ / "interlaced.mkv"});
  const struct {
    const char* input;
    const char* output;
    std::vector<std::string> options;
    const char* codec;  // ffprobe's codec_name
    bool exact;
  } cases[] = {
      {"camera.mp4", "own.mpg", {}, "mpeg1video", false},
      {"camera.mp4", "own.vob", {}, "mpeg2video", false},
      {"camera422.mkv", "own.mxf", {}, "mpeg2video", false},
      {"camera.mp4", "own.gif", {}, "gif", false},
      {"camera.mp4", "png.mkv", {"--codec", "png"}, "png", true},
      {"camera.mp4", "ffvhuff.mkv", {"--codec", "ffvhuff"}, "ffvhuff", true},
      {"camera.mp4", "utvideo.mkv", {"--codec", "utvideo"}, "utvideo", true},
      {"interlaced.mkv", "interlaced-out.mkv", {}, "h264", false},
  };
  // (MPEG streams add a field of side data.)
  auto first_value = [](const std::string& text) { return text.substr(0, text.find_first_of(",\n")); };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.output);
    std::vector<std::string> args = c.options;
    args.insert(args.end(), {"-q", "-y", *dir_ / c.input, *dir_ / c.output});
    const RunResult r = run_velbrin(args);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(first_value(probe(*dir_ / c.output, "v", "codec_name")), c.codec);
    const std::vector<Picture> got = decode_frames(*dir_ / c.output, kW, kH);
    EXPECT_EQ(got.size(), 6u);
    if (c.exact) {
      EXPECT_EQ(first_difference(filtered(*dir_ / c.input), got), "");
    }
  }
  // The input is labelled interlaced, top field first.
  const std::string input_order = first_value(probe(*dir_ / "interlaced.mkv", "v", "field_order"));
  EXPECT_TRUE(input_order == "tt" || input_order == "tb") << input_order;
  EXPECT_EQ(first_value(probe(*dir_ / "interlaced-out.mkv", "v", "field_order")), "progressive");
}

// Odd sizes never fail on a default 4:2:0 encoder: H.264 gets 4:4:4 and
// says so; VP9 takes odd sizes in 4:2:0.
TEST_F(OutputDefaults, OddSizes) {
  const std::string in = *dir_ / "odd.mp4";
  ffmpeg({"-f", "lavfi", "-i", "testsrc2=s=98x34,format=rgb24,crop=97:33:0:0,noise=alls=20:allf=t+u", "-frames:v", "3", "-c:v", "libx264",
          "-pix_fmt", "yuv444p", in});
  // x264 takes no odd 4:2:0 sizes; VP9 makes the odd-sized 4:2:0 input.
  ffmpeg({"-i", in, "-c:v", "libvpx-vp9", "-pix_fmt", "yuv420p", *dir_ / "odd420.webm"});
  struct Case {
    const char* source;
    const char* output;
    std::vector<std::string> options;
    const char* video;
    const char* note;
  };
  const Case cases[] = {
      {"odd.mp4", "odd.mkv", {}, "h264,yuv444p\n", ""},  // a 4:4:4 input stays 4:4:4
      {"odd420.webm", "odd420.mkv", {}, "h264,yuv444p\n",
       "velbrin: note: H.264 4:2:0 needs an even width and height, and the input is 97x33: writing yuv444p instead of "
       "yuv420p\n"},
      {"odd420.webm", "odd.webm", {}, "vp9,yuv420p\n", ""},
      {"odd420.webm", "odd-exact.mkv", {"--lossless"}, "ffv1,bgr0\n", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    std::vector<std::string> args = c.options;
    args.insert(args.end(), {"-y", *dir_ / c.source, *dir_ / c.output});
    const RunResult r = run_velbrin(args);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(probe(*dir_ / c.output, "v", "codec_name,pix_fmt"), c.video);
    EXPECT_EQ(r.err.rfind(c.note, 0), 0u) << r.err;
    EXPECT_EQ(decode_frames(*dir_ / c.output, 97, 33).size(), 3u);
  }
}

// Containers that store a frame rate and no frame times (AVI, Y4M) get one
// frame as their time base, so their frame count and duration are the
// input's; what the output cannot keep of the input is said in a note.
TEST_F(OutputDefaults, ConstantRateAndWhatIsLost) {
  ffmpeg({"-i", *dir_ / "lossless.mkv", "-c:v", "libx264", "-pix_fmt", "yuv420p10le", *dir_ / "ten-bit.mkv"});
  ffmpeg({"-i", *dir_ / "lossless.mkv", "-frames:v", "1", "-vf", "format=rgba,geq=r='r(X,Y)':a='X*4'", *dir_ / "alpha.png"});
  const struct {
    const char* input;
    const char* output;
    const char* rate;  // ffprobe's avg_frame_rate,time_base
    const char* note;
  } cases[] = {
      {"camera.mp4", "cfr.avi", "25/1,1/25\n", ""},
      {"lossless.mkv", "cfr.y4m", "25/1,1/25\n", ""},
      {"ten-bit.mkv", "ten.mkv", nullptr, "velbrin: note: the input has 10-bit samples; the filter works on 8 bits"},
      {"alpha.png", "alpha.jpg", nullptr, "velbrin: note: the input's alpha channel is left out: JPEG yuvj444p in .jpg"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.output);
    const RunResult r = run_velbrin({"-y", *dir_ / c.input, *dir_ / c.output});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err.rfind(c.note, 0), 0u) << r.err;
    if (c.rate == nullptr) continue;
    EXPECT_EQ(probe(*dir_ / c.output, "v", "time_base,avg_frame_rate"), c.rate);
    EXPECT_EQ(decode_frames(*dir_ / c.output, kW, kH).size(), 6u);
    // ffmpeg re-encoding it finds the same six frames, not one per tick.
    ffmpeg({"-y", "-i", *dir_ / c.output, "-c:v", "ffv1", *dir_ / "again.mkv"});
    EXPECT_EQ(decode_frames(*dir_ / "again.mkv", kW, kH).size(), 6u);
  }
}

// The thread count changes neither the frames nor the encoded bytes.
TEST_F(OutputDefaults, ThreadCountGivesTheSameBytes) {
  std::string packets[2];
  for (int k = 0; k < 2; ++k) {
    const std::string out = *dir_ / ("threads" + std::to_string(k + 1) + ".mkv");
    const RunResult r = run_velbrin({"-q", "-y", "--threads", std::to_string(k + 1), *dir_ / "camera.mp4", out});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    packets[k] = run_program({"ffmpeg", "-v", "error", "-i", out, "-map", "0", "-c", "copy", "-f", "md5", "-"}).out;
  }
  EXPECT_FALSE(packets[0].empty());
  EXPECT_EQ(packets[0], packets[1]);
}

// A picture too large for the memory budget is refused in one line before
// it is decoded, leaving nothing behind.
TEST_F(OutputDefaults, PictureTooLargeIsRefused) {
  ScratchDir big;
  ffmpeg({"-f", "lavfi", "-i", "color=c=gray:s=16000x16000", "-frames:v", "1", big / "huge.png"});
  const RunResult r = run_velbrin({big / "huge.png", big / "out.png"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err.rfind("velbrin: '" + big / "huge.png" + "' is 16000x16000: filtering it takes about ", 0), 0u) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
  EXPECT_EQ(big.entries(), std::vector<std::string>{"huge.png"});
}

TEST(FramePlan, WorkersAndFramesFitTheBudget) {
  struct Case {
    int w, h;
    AVPixelFormat in, out;
    int threads;
    int64_t budget;
    int workers;
    int64_t in_flight;
  };
  const int64_t gib = int64_t(1) << 30;
  const Case cases[] = {
      {1920, 1080, AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P, 2, 2 * gib, 2, 5},  // thread count decides
      {1920, 1080, AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P, 1, 2 * gib, 1, 3},
      {7680, 4320, AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P, 8, 2 * gib, 5, 7},  // the budget decides
      {7680, 4320, AV_PIX_FMT_RGB24, AV_PIX_FMT_BGR0, 2, gib, 1, 2},          // one worker, two frames
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " threads " + std::to_string(c.threads));
    const FramePlan p = plan_frames("in", c.w, c.h, c.in, c.out, c.threads, c.budget);
    EXPECT_EQ(p.workers, c.workers);
    EXPECT_EQ(p.in_flight, c.in_flight);
    EXPECT_LE(p.peak_bytes, c.budget);
  }
  EXPECT_THROW(plan_frames("in", 16000, 16000, AV_PIX_FMT_RGB24, AV_PIX_FMT_RGB24, 2, 2 * gib), CliError);
  EXPECT_THROW(plan_frames("in", 7680, 4320, AV_PIX_FMT_RGB24, AV_PIX_FMT_BGR0, 2, gib / 4), CliError);
}

}  // namespace
}  // namespace velbrin_cli_test
