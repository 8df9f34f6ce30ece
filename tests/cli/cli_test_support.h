// Support for velbrin's end-to-end tests: a scratch folder per test, running
// velbrin and the ffmpeg command-line tool, reading frames back as BGRA, and
// the reference result (the plain kernel run on the host's bottom-up layout).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/filter_settings.h"

namespace velbrin_cli_test {

struct RunResult {
  int exit_code = -1;  // -1 when ended by a signal
  int signal = 0;
  std::string out;
  std::string err;
};

// Runs a program with arguments (no shell), capturing stdout and stderr.
// With `stdout_to`, standard output goes to that file instead, or is
// closed when it is kClosedStdout.
inline constexpr const char* kClosedStdout = "<closed>";
RunResult run_program(const std::vector<std::string>& argv, const std::string& stdout_to = "");
RunResult run_velbrin(const std::vector<std::string>& args, const std::string& stdout_to = "");

// One picture: width x height words, top row first, byte 0 blue .. byte 2 red.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> words;
};

// Every frame of a file as FFmpeg's tool decodes it, without dropping or
// repeating frames. YUV is converted with the same swscale flags velbrin uses.
std::vector<Picture> decode_frames(const std::string& path, int width, int height);

// What the host's filter makes of a picture: the picture is laid out bottom
// row first, as the host hands it over, and run through smooth_frame_c.
Picture reference_filter(const Picture& in, const FilterSettings& settings);
// The same for every picture of a sequence.
std::vector<Picture> reference_filter_each(const std::vector<Picture>& in, const FilterSettings& settings);

FilterSettings settings_of(int level, int dynamic, bool show_noise = false, bool disable = false);

// Empty string when the two sequences agree in blue, green and red (byte 3
// is not compared); otherwise where they first differ.
std::string first_difference(const std::vector<Picture>& expected, const std::vector<Picture>& actual);

// A scratch folder removed after the test.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  // File names in the folder, sorted.
  std::vector<std::string> entries() const;

 private:
  std::string path_;
};

// Runs the ffmpeg tool quietly with these arguments; fails the test if it fails.
void ffmpeg(const std::vector<std::string>& args);

// A small noisy clip: testsrc2 with noise, `frames` frames at 25 per second,
// FFV1 in RGB (so its decoded frames are exact), with a sine tone when `audio`.
void make_noisy_clip(const std::string& path, int width, int height, int frames, bool audio);

// A suite sharing one scratch folder that holds a 32x24 noisy clip of
// `Frames` frames, clip.mkv, made once for all its tests.
template <typename Suite, int Frames>
class SmallClipSuite : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new ScratchDir();
    make_noisy_clip(*dir_ / "clip.mkv", 32, 24, Frames, false);
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static std::string clip() { return *dir_ / "clip.mkv"; }
  static inline ScratchDir* dir_ = nullptr;
};

// velbrin and its filter module copied into a folder every user may enter,
// once per test process: the cases that run velbrin as another user cannot
// count on reaching the build folder (a checkout under a private home).
const std::string& velbrin_for_any_user();

std::string read_file(const std::string& path);
bool file_exists(const std::string& path);

}  // namespace velbrin_cli_test
