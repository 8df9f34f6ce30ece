// Process running, media making and frame reading for the end-to-end tests.
#include "tests/cli/cli_test_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/kernels/smooth.h"

namespace velbrin_cli_test {

namespace {

std::string scratch_file(const char* tag) {
  char name[] = "/tmp/velbrin-cli-run-XXXXXX";
  const int fd = mkstemp(name);
  if (fd >= 0) close(fd);
  (void)tag;
  return name;
}

}  // namespace

std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

bool file_exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

RunResult run_program(const std::vector<std::string>& argv, const std::string& stdout_to) {
  const std::string out_path = scratch_file("out"), err_path = scratch_file("err");
  RunResult r;
  const pid_t pid = fork();
  if (pid == 0) {
    const int out = stdout_to.empty()          ? open(out_path.c_str(), O_WRONLY | O_TRUNC)
                    : stdout_to == kClosedStdout ? -1
                                                 : open(stdout_to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(err_path.c_str(), O_WRONLY | O_TRUNC);
    const int in = open("/dev/null", O_RDONLY);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (out < 0) close(1);
    if (out >= 0) close(out);
    close(err);
    close(in);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) r.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) r.signal = WTERMSIG(status);
  r.out = read_file(out_path);
  r.err = read_file(err_path);
  unlink(out_path.c_str());
  unlink(err_path.c_str());
  return r;
}

RunResult run_velbrin(const std::vector<std::string>& args, const std::string& stdout_to) {
  std::vector<std::string> argv = {VELBRIN_EXECUTABLE};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_program(argv, stdout_to);
}

void ffmpeg(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y"};
  argv.insert(argv.end(), args.begin(), args.end());
  const RunResult r = run_program(argv);
  ASSERT_EQ(r.exit_code, 0) << "ffmpeg failed: " << r.err;
}

void make_noisy_clip(const std::string& path, int width, int height, int frames, bool audio) {
  const std::string seconds = std::to_string(frames / 25.0);
  std::vector<std::string> args = {
      "-f", "lavfi", "-i",
      "testsrc2=s=" + std::to_string(width) + "x" + std::to_string(height) + ":r=25,noise=alls=24:allf=t+u"};
  if (audio) args.insert(args.end(), {"-f", "lavfi", "-i", "sine=frequency=440:duration=" + seconds, "-c:a", "pcm_s16le"});
  args.insert(args.end(), {"-frames:v", std::to_string(frames)});
  args.insert(args.end(), {"-c:v", "ffv1", "-pix_fmt", "bgr0", path});
  ffmpeg(args);
}

std::vector<Picture> decode_frames(const std::string& path, int width, int height) {
  const std::string raw = scratch_file("raw");
  ffmpeg({"-i", path, "-map", "0:v:0", "-fps_mode", "passthrough", "-sws_flags",
          "bicubic+accurate_rnd+bitexact", "-f", "rawvideo", "-pix_fmt", "bgra", raw});
  const std::string bytes = read_file(raw);
  unlink(raw.c_str());
  const size_t frame_bytes = size_t(width) * size_t(height) * 4;
  std::vector<Picture> frames;
  EXPECT_EQ(bytes.size() % frame_bytes, 0u) << path << " does not decode to " << width << "x" << height;
  for (size_t at = 0; at + frame_bytes <= bytes.size(); at += frame_bytes) {
    Picture p{width, height, std::vector<uint32_t>(size_t(width) * size_t(height))};
    std::memcpy(p.words.data(), bytes.data() + at, frame_bytes);
    frames.push_back(std::move(p));
  }
  return frames;
}

Picture reference_filter(const Picture& in, const FilterSettings& settings) {
  const size_t w = size_t(in.width), h = size_t(in.height);
  std::vector<uint32_t> src(w * h), dst(w * h, 0xDEADBEEFu);
  // The host's layout: the picture's bottom row first in memory.
  for (size_t y = 0; y < h; ++y) std::memcpy(&src[(h - 1 - y) * w], &in.words[y * w], w * 4);
  smooth_frame_c(SmoothFrame{src.data(), dst.data(), in.width, in.height, ptrdiff_t(w)},
                 SmoothParams{settings.level, settings.dynamic, settings.showNoise, settings.disable});
  Picture out{in.width, in.height, std::vector<uint32_t>(w * h)};
  for (size_t y = 0; y < h; ++y) std::memcpy(&out.words[y * w], &dst[(h - 1 - y) * w], w * 4);
  return out;
}

std::vector<Picture> reference_filter_each(const std::vector<Picture>& in, const FilterSettings& settings) {
  std::vector<Picture> out;
  for (const Picture& p : in) out.push_back(reference_filter(p, settings));
  return out;
}

FilterSettings settings_of(int level, int dynamic, bool show_noise, bool disable) {
  FilterSettings s{};
  s.level = level;
  s.dynamic = dynamic;
  s.showNoise = show_noise ? 1 : 0;
  s.disable = disable ? 1 : 0;
  return s;
}

std::string first_difference(const std::vector<Picture>& expected, const std::vector<Picture>& actual) {
  if (expected.size() != actual.size())
    return "frame count " + std::to_string(actual.size()) + ", expected " + std::to_string(expected.size());
  for (size_t f = 0; f < expected.size(); ++f) {
    const Picture& e = expected[f];
    const Picture& a = actual[f];
    if (e.width != a.width || e.height != a.height) return "frame " + std::to_string(f) + " has another size";
    for (size_t k = 0; k < e.words.size(); ++k) {
      if (((e.words[k] ^ a.words[k]) & 0xFFFFFFu) == 0) continue;
      char buf[160];
      std::snprintf(buf, sizeof buf, "frame %zu, x %zu, y %zu: %06X, expected %06X", f, k % size_t(e.width),
                    k / size_t(e.width), a.words[k] & 0xFFFFFFu, e.words[k] & 0xFFFFFFu);
      return buf;
    }
  }
  return "";
}

ScratchDir::ScratchDir() {
  char name[] = "/tmp/velbrin-cli-test-XXXXXX";
  const char* made = mkdtemp(name);
  path_ = made ? made : "";
}

ScratchDir::~ScratchDir() {
  if (path_.empty()) return;
  const std::vector<std::string> argv = {"rm", "-rf", path_};
  run_program(argv);
}

const std::string& velbrin_for_any_user() {
  static const ScratchDir copies;
  static const std::string velbrin = [] {
    namespace fs = std::filesystem;
    const fs::path module = VELBRIN_MODULE_FILE;
    const std::string copy = copies / "velbrin";
    fs::copy_file(VELBRIN_EXECUTABLE, copy);
    fs::copy_file(module, copies / module.filename().string());
    chmod(copies.path().c_str(), 0755);
    chmod(copy.c_str(), 0755);
    chmod((copies / module.filename().string()).c_str(), 0644);
    return copy;
  }();
  return velbrin;
}

std::vector<std::string> ScratchDir::entries() const {
  std::vector<std::string> names;
  if (DIR* d = opendir(path_.c_str())) {
    while (dirent* e = readdir(d))
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace velbrin_cli_test
