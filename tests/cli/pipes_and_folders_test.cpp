// Pipes and several inputs, end to end: standard input and output as real
// pipes (so nothing can seek), stream formats read back and compared with
// the reference, and a folder of inputs where some fail or must not be
// written.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include "cli/files/folder_outputs.h"
#include "tests/cli/cli_test_support.h"

namespace velbrin_cli_test {
namespace {

constexpr int kW = 48, kH = 32, kFrames = 4;

// Runs a bash command line; pipefail makes a failing velbrin the result.
RunResult shell(const std::string& command) { return run_program({"bash", "-c", "set -o pipefail; " + command}); }

std::string quoted(const std::string& s) { return "'" + s + "'"; }

const std::string kVelbrin = quoted(VELBRIN_EXECUTABLE);

class PipesAndFolders : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new ScratchDir();
    make_noisy_clip(*dir_ / "clip.mkv", kW, kH, kFrames, false);
    ffmpeg({"-i", *dir_ / "clip.mkv", "-pix_fmt", "yuv444p", *dir_ / "clip.y4m"});
    ffmpeg({"-i", *dir_ / "clip.mkv", "-frames:v", "1", *dir_ / "pic.png"});
    input_ = new std::vector<Picture>(decode_frames(*dir_ / "clip.mkv", kW, kH));
  }
  static void TearDownTestSuite() {
    delete input_;
    delete dir_;
  }
  static std::string clip() { return *dir_ / "clip.mkv"; }
  static std::vector<Picture> filtered(const std::vector<Picture>& in) {
    return reference_filter_each(in, settings_of(100, 5));
  }
  static ScratchDir* dir_;
  static std::vector<Picture>* input_;
};
ScratchDir* PipesAndFolders::dir_ = nullptr;
std::vector<Picture>* PipesAndFolders::input_ = nullptr;

TEST_F(PipesAndFolders, StandardInputIsProbed) {
  struct Case {
    const char* name;
    std::string input;   // piped in with cat
    const char* output;  // in a scratch folder
    int frames;
  };
  const Case cases[] = {
      {"Matroska", clip(), "o.mkv", kFrames},
      {"Y4M", *dir_ / "clip.y4m", "o.mkv", kFrames},
      {"a picture", *dir_ / "pic.png", "o.png", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir out;
    const RunResult r = shell("cat " + quoted(c.input) + " | " + kVelbrin + " - " + quoted(out / c.output));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "");
    const std::vector<Picture> in = decode_frames(c.input, kW, kH);
    ASSERT_EQ(in.size(), size_t(c.frames));
    EXPECT_EQ(first_difference(filtered(in), decode_frames(out / c.output, kW, kH)), "");
    EXPECT_EQ(out.entries(), std::vector<std::string>{c.output});  // no temporary file left
  }
}

TEST_F(PipesAndFolders, StandardOutputCarriesOnlyTheStream) {
  struct Case {
    std::vector<std::string> options;
    const char* codec;  // as ffprobe names the stream's codec
    bool exact;         // the filtered pixels come back exactly
  };
  const Case cases[] = {
      {{}, "ffv1", true},
      {{"-f", "matroska", "--crf", "10"}, "h264", false},
      {{"--format", "nut"}, "ffv1", true},
      {{"-f", "image2pipe", "--codec", "png"}, "png", true},
      {{"-f", "yuv4mpegpipe"}, "rawvideo", false},
      {{"-f", "mp4"}, "h264", true},
  };
  for (const Case& c : cases) {
    std::string options;
    for (const std::string& o : c.options) options += " " + o;
    SCOPED_TRACE(options);
    ScratchDir out;
    // Through a pipe into cat: the stream is written front to back.
    const RunResult r = shell(kVelbrin + options + " " + quoted(clip()) + " - | cat > " + quoted(out / "stream"));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.err.find("velbrin: wrote standard output: "), std::string::npos) << r.err;
    const RunResult probe = run_program({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                                         "stream=codec_name", "-of", "csv=p=0", out / "stream"});
    EXPECT_EQ(probe.out, std::string(c.codec) + "\n");
    const std::vector<Picture> got = decode_frames(out / "stream", kW, kH);
    ASSERT_EQ(got.size(), size_t(kFrames));
    if (c.exact) {
      EXPECT_EQ(first_difference(filtered(*input_), got), "");
    }
    EXPECT_EQ(out.entries(), std::vector<std::string>{"stream"});
  }
  // Both ends at once.
  ScratchDir out;
  const RunResult r = shell("cat " + quoted(clip()) + " | " + kVelbrin + " -q - - | cat > " + quoted(out / "o.mkv"));
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(first_difference(filtered(*input_), decode_frames(out / "o.mkv", kW, kH)), "");
}

// An input that cannot seek is read once, from the start: --frames on a
// FIFO and on standard input writes the frames a file run writes.
TEST_F(PipesAndFolders, RangesOfInputsThatCannotSeek) {
  ScratchDir dir;
  ffmpeg({"-f", "lavfi", "-i", "testsrc2=s=48x32:r=25", "-t", "4", "-c:v", "libx264", "-g", "25", dir / "long.mkv"});
  ASSERT_EQ(mkfifo((dir / "fifo.mkv").c_str(), 0600), 0);
  const std::string range = "--frames 30-41 --lossless --disable -q -y ";
  ASSERT_EQ(shell(kVelbrin + " " + range + quoted(dir / "long.mkv") + " " + quoted(dir / "file.mkv")).exit_code, 0);
  const std::vector<Picture> want = decode_frames(dir / "file.mkv", kW, kH);
  ASSERT_EQ(want.size(), 12u);
  for (const std::string& command :
       {"cat " + quoted(dir / "long.mkv") + " > " + quoted(dir / "fifo.mkv") + " & timeout 60 " + kVelbrin + " " +
            range + quoted(dir / "fifo.mkv") + " " + quoted(dir / "out.mkv"),
        "cat " + quoted(dir / "long.mkv") + " | " + kVelbrin + " " + range + "- " + quoted(dir / "out.mkv")}) {
    SCOPED_TRACE(command);
    const RunResult r = shell(command);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(first_difference(want, decode_frames(dir / "out.mkv", kW, kH)), "");
  }
}

TEST_F(PipesAndFolders, PipeProblemsGiveOneLine) {
  ScratchDir big;
  make_noisy_clip(big / "big.mkv", 320, 240, 12, false);  // far more than a pipe holds
  const struct {
    const char* name;
    std::string command;
    int exit_code;
    std::string message;
  } cases[] = {
      {"reader gone", kVelbrin + " " + quoted(big / "big.mkv") + " - | head -c 1 > /dev/null", 1,
       "velbrin: cannot write to standard output: Broken pipe\n"},
      {"not a medium", "echo hello | " + kVelbrin + " - " + quoted(big / "o.mkv"), 1,
       "velbrin: cannot read standard input: not a picture or video that FFmpeg can read\n"},
      {"nothing", kVelbrin + " - " + quoted(big / "o.mkv") + " < /dev/null", 1, "velbrin: cannot"},
      {"unknown format", kVelbrin + " -f nosuch " + quoted(clip()) + " - | cat", 2, "velbrin: --format: no video format"},
      {"a format of files", kVelbrin + " -f image2 " + quoted(clip()) + " - | cat", 2,
       "velbrin: --format: image2 writes files of its own"},
      {"no name in a folder", kVelbrin + " - " + quoted(big.path() + "/") + " < " + quoted(clip()), 2,
       "velbrin: standard input has no name"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const RunResult r = shell(c.command);
    EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
    EXPECT_EQ(r.err.rfind(c.message, 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(big.entries(), std::vector<std::string>{"big.mkv"});
  }
}

TEST_F(PipesAndFolders, FolderOfInputsGoesOnPastFailures) {
  ScratchDir out;
  const RunResult r = run_velbrin({clip(), *dir_ / "missing.mkv", *dir_ / "pic.png", out.path()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(out.entries(), (std::vector<std::string>{"clip.mkv", "pic.png"}));
  EXPECT_EQ(first_difference(filtered(*input_), decode_frames(out / "clip.mkv", kW, kH)), "");
  EXPECT_EQ(first_difference(filtered(decode_frames(*dir_ / "pic.png", kW, kH)), decode_frames(out / "pic.png", kW, kH)),
            "");
  // The run ends with one line for the one failure; a failed run shows no
  // caption and script line.
  const std::string tail = "frames per second\nvelbrin: cannot open '" + (*dir_ / "missing.mkv") + "': No such file or directory\n";
  ASSERT_GE(r.err.size(), tail.size());
  EXPECT_EQ(r.err.find("Config("), std::string::npos) << r.err;
  EXPECT_EQ(r.err.substr(r.err.size() - tail.size()), tail) << r.err;
  EXPECT_EQ(r.out, "");

  // All written: exit 0; a name ending in '/' is a folder, made when missing.
  ScratchDir again;
  const RunResult ok = run_velbrin({"-q", clip(), *dir_ / "pic.png", again.path() + "/new/"});
  EXPECT_EQ(ok.exit_code, 0) << ok.err;
  EXPECT_EQ(ok.err, "");
  EXPECT_EQ(again.entries(), std::vector<std::string>{"new"});
  EXPECT_EQ(run_program({"ls", again / "new"}).out, "clip.mkv\npic.png\n");

  // Each note names the input it is about.
  ScratchDir noted;
  const RunResult cut = run_velbrin({"--frames", "0-99", clip(), *dir_ / "pic.png", noted.path()});
  EXPECT_EQ(cut.exit_code, 0) << cut.err;
  for (const std::string& about : {"'" + clip() + "': --frames 0-99: the input ends at frame " +
                                       std::to_string(kFrames - 1) + "; wrote " + std::to_string(kFrames) + " frames",
                                   "'" + (*dir_ / "pic.png") + "': --frames 0-99: the input ends at frame 0; wrote 1 frame"})
    EXPECT_NE(cut.err.find("velbrin: note: " + about + "\n"), std::string::npos) << cut.err;

  // On a terminal the progress line names the file being worked on.
  ScratchDir shown;
  const RunResult tty = run_program({"script", "-qec",
                                     kVelbrin + " " + quoted(clip()) + " " + quoted(*dir_ / "pic.png") + " " +
                                         quoted(shown.path()),
                                     "/dev/null"});
  EXPECT_EQ(tty.exit_code, 0) << tty.out;
  EXPECT_NE(tty.out.find("\r[1/2] clip.mkv  ["), std::string::npos) << tty.out;
  EXPECT_NE(tty.out.find("\r[2/2] pic.png  "), std::string::npos) << tty.out;
}

TEST_F(PipesAndFolders, InputsThatMustNotBeWritten) {
  ScratchDir work;
  ASSERT_EQ(run_program({"mkdir", work / "a", work / "b", work / "out"}).exit_code, 0);
  ASSERT_EQ(run_program({"cp", clip(), work / "a/x.mkv"}).exit_code, 0);
  ASSERT_EQ(run_program({"cp", *dir_ / "pic.png", work / "b/x.mkv"}).exit_code, 0);  // another file, same name
  const std::string original = read_file(work / "a/x.mkv");

  // Into its own folder, even with -y: refused, the input kept as it was.
  RunResult r = run_velbrin({"-qy", work / "a/x.mkv", work / "a"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "velbrin: '" + (work / "a/x.mkv") + "': its output '" + (work / "a/x.mkv") +
                       "' would write over the input '" + (work / "a/x.mkv") + "'; not written (choose another folder)\n");
  EXPECT_EQ(read_file(work / "a/x.mkv"), original);
  EXPECT_EQ(run_velbrin({"-qy", work / "a/x.mkv", work / "a/x.mkv"}).exit_code, 2);
  EXPECT_EQ(read_file(work / "a/x.mkv"), original);

  // Two inputs of one name: the first is written, the second refused rather
  // than written over it.
  r = run_velbrin({"-qy", work / "a/x.mkv", work / "b/x.mkv", work / "out"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "velbrin: '" + (work / "b/x.mkv") + "': its output '" + (work / "out/x.mkv") +
                       "' is also the output of '" + (work / "a/x.mkv") +
                       "'; not written (filter inputs of the same name into different folders)\n");
  EXPECT_EQ(first_difference(filtered(*input_), decode_frames(work / "out/x.mkv", kW, kH)), "");

  // --compare takes one input.
  r = run_velbrin({"--compare", work / "c.png", work / "a/x.mkv", *dir_ / "pic.png", work / "out"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.err, "velbrin: --compare takes one input; give it one INPUT at a time\n");
  EXPECT_FALSE(file_exists(work / "c.png"));
}

TEST(FolderOutputs, NamesAndRefusals) {
  const struct {
    std::vector<std::string> inputs;
    std::string folder;
    std::vector<std::string> outputs;  // "" where refused
  } cases[] = {
      {{"a/x.mkv", "y.png"}, "out", {"out/x.mkv", "out/y.png"}},
      {{"a/x.mkv"}, "out//", {"out/x.mkv"}},
      {{"a/x.mkv"}, "/", {"/x.mkv"}},
      {{"frames/%04d.png"}, "out/", {"out/%04d.png"}},
      {{"a/", "a/..", "a/x.mkv", "b/x.mkv"}, "out", {"", "", "out/x.mkv", "out/x.mkv"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.folder);
    const std::vector<PlannedJob> jobs = plan_folder_outputs(c.inputs, c.folder);
    ASSERT_EQ(jobs.size(), c.outputs.size());
    for (size_t k = 0; k < jobs.size(); ++k) {
      EXPECT_EQ(jobs[k].input, c.inputs[k]);
      EXPECT_EQ(jobs[k].refusal.empty() ? jobs[k].output : "", c.outputs[k]);
      EXPECT_NE(jobs[k].refusal.empty(), c.outputs[k].empty());
    }
  }
}

}  // namespace
}  // namespace velbrin_cli_test
