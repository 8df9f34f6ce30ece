// Every kind of bad input gets one line on stderr, its exit code, and leaves
// no output and no temporary file behind; an existing output is untouched.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/cli/cli_test_support.h"

namespace velbrin_cli_test {
namespace {

class BadInput : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new ScratchDir();
    make_noisy_clip(*dir_ / "clip.mkv", 32, 24, 3, false);
    ffmpeg({"-f", "lavfi", "-i", "sine=duration=0.2", *dir_ / "tone.wav"});
    ffmpeg({"-f", "lavfi", "-i", "testsrc2=s=32x24:r=25", "-frames:v", "25", "-c:v", "libx264", *dir_ / "whole.mp4"});
    const std::string whole = read_file(*dir_ / "whole.mp4");
    std::ofstream(*dir_ / "cut.mp4", std::ios::binary) << whole.substr(0, whole.size() / 3);
    std::string noise(4096, '\0');
    for (size_t k = 0; k < noise.size(); ++k) noise[k] = char((k * 2654435761u) >> 13);
    std::ofstream(*dir_ / "noise.mp4", std::ios::binary) << noise;
    std::ofstream(*dir_ / "empty.mkv", std::ios::binary);
    ffmpeg({"-f", "lavfi", "-i", "testsrc2=s=32x24", "-frames:v", "9", *dir_ / "gap%02d.png"});
    unlink((*dir_ / "gap05.png").c_str());
    std::ofstream(*dir_ / "notes.txt") << "not a folder\n";
    std::ofstream(*dir_ / "existing.mkv") << "keep me\n";
    mkdir((*dir_ / "folder").c_str(), 0755);
    mkfifo((*dir_ / "pipe.mkv").c_str(), 0600);
    ffmpeg({"-f", "lavfi", "-i", "color=s=16000x8", "-frames:v", "1", *dir_ / "wide.png"});
    // Inputs whose demuxer reads the files they name (here existing.mkv,
    // which each row names as its output with -y), under other names.
    const std::string named = *dir_ / "existing.mkv";
    std::ofstream(*dir_ / "list.mkv") << "ffconcat version 1.0\nfile '" + named + "'\n";
    std::ofstream(*dir_ / "playlist.mp4") << "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:4,\n" + named + "\n";
    std::ofstream(*dir_ / "manifest.png") << "<MPD profiles=\"urn:mpeg:dash:profile:isoff-live:2011\"><BaseURL>" + named +
                                                 "</BaseURL></MPD>\n";
    std::ofstream(*dir_ / "session.avi") << "v=0\nc=IN IP4 127.0.0.1\nm=video 5004 RTP/AVP 96\n";
    std::ofstream(*dir_ / "index.mkv") << "# VobSub index file, v7 (do not modify this line!)\n";
  }
  static void TearDownTestSuite() { delete dir_; }
  static ScratchDir* dir_;
};
ScratchDir* BadInput::dir_ = nullptr;

TEST_F(BadInput, OneLineAnExitCodeAndNoOutput) {
  const std::string d = dir_->path();
  struct Case {
    const char* name;
    std::vector<std::string> args;
    int exit_code;
    std::string message;
  };
  const Case cases[] = {
      {"missing input", {d + "/missing.mp4", d + "/o.mkv"}, 1,
       "velbrin: cannot open '" + d + "/missing.mp4': No such file or directory"},
      {"folder as input", {d + "/folder", d + "/o.mkv"}, 1, "velbrin: cannot open '" + d + "/folder': it is a directory"},
      {"not a video", {d + "/noise.mp4", d + "/o.mkv"}, 1,
       "velbrin: cannot read '" + d + "/noise.mp4': not a picture or video that FFmpeg can read"},
      {"empty file", {d + "/empty.mkv", d + "/o.mkv"}, 1, "velbrin: cannot read '" + d + "/empty.mkv'"},
      {"cut short, FFmpeg's reason", {d + "/cut.mp4", d + "/o.mkv"}, 1,
       "velbrin: cannot read '" + d + "/cut.mp4': not a picture or video that FFmpeg can read (moov atom not found)"},
      {"no video", {d + "/tone.wav", d + "/o.mkv"}, 1, "it has no video or picture in it"},
      {"unknown option", {"--levle", "3", d + "/clip.mkv", d + "/o.mkv"}, 2, "velbrin: unknown option '--levle'"},
      {"negative threads", {"--threads", "-1", d + "/clip.mkv", d + "/o.mkv"}, 2, "velbrin: --threads: expected an integer from 0"},
      {"backwards range", {"--frames", "5-2", d + "/clip.mkv", d + "/o.mkv"}, 2, "velbrin: --frames:"},
      {"missing output", {d + "/clip.mkv"}, 2, "velbrin: missing OUTPUT"},
      {"existing output", {d + "/clip.mkv", d + "/existing.mkv"}, 1,
       "velbrin: '" + d + "/existing.mkv' already exists (add -y to replace it)"},
      {"folder missing", {d + "/clip.mkv", d + "/nowhere/o.mkv"}, 1,
       "velbrin: cannot write '" + d + "/nowhere/o.mkv': No such file or directory"},
      {"folder is a file", {d + "/clip.mkv", d + "/notes.txt/o.mkv"}, 1, "Not a directory"},
      {"output folder two levels missing", {d + "/clip.mkv", d + "/nowhere/deeper/"}, 1,
       "velbrin: cannot write into '" + d + "/nowhere/deeper/': No such file or directory"},
      {"several inputs, last not a folder", {d + "/clip.mkv", d + "/clip.mkv", d + "/o.mkv"}, 2,
       "velbrin: several inputs need a folder as the last name"},
      {"format for a file", {"-f", "nut", d + "/clip.mkv", d + "/o.mkv"}, 2, "velbrin: --format is for OUTPUT -"},
      {"output is the input", {"-y", d + "/clip.mkv", d + "/./clip.mkv"}, 2,
       "velbrin: OUTPUT '" + d + "/./clip.mkv' would write over the input '" + d + "/clip.mkv'; name another file"},
      {"device as output", {"-y", d + "/clip.mkv", "/dev/null"}, 2, "cannot tell"},
      {"device with an extension", {"-y", d + "/clip.mkv", d + "/pipe.mkv"}, 1,
       "velbrin: cannot write '" + d + "/pipe.mkv': it is not a regular file"},
      {"unknown extension", {d + "/clip.mkv", d + "/o.xyz"}, 2, "velbrin: cannot tell a picture or video format from the name"},
      {"frames past the end", {"--frames", "7-9", d + "/clip.mkv", d + "/o.mkv"}, 1, "velbrin: --frames: the input has only 3 frames"},
      {"range past a missing picture", {"--frames", "6-8", d + "/gap%02d.png", d + "/o.mkv"}, 1,
       "velbrin: --frames: the input has only 4 frames (counted from 0): '" + d + "/gap05.png' is missing"},
      {"frame past the end", {"--compare", d + "/c.png", "--at", "3", d + "/clip.mkv"}, 1, "velbrin: --at 3: the input has only 3 frames"},
      {"compare not a picture", {"--compare", d + "/c.mkv", d + "/clip.mkv"}, 2, "velbrin: --compare:"},
      {"compare past the range", {"--frames", "0-1", "--compare", d + "/c.png", "--at", "2", d + "/clip.mkv", d + "/o.mkv"},
       2, "velbrin: --at 2 lies outside --frames 0-1; choose a frame the run writes"},
      // One row per demuxer that reads other files and that a file can reach
      // (rtp, rtsp and sap take only addresses; imf is never probed).
      {"a concat list", {"-y", d + "/list.mkv", d + "/existing.mkv"}, 1,
       "velbrin: cannot read '" + d + "/list.mkv': it is a concat list (FFmpeg's concat demuxer), which reads the "
       "files it names; velbrin reads only the file it is given"},
      {"an HLS playlist", {"-y", d + "/playlist.mp4", d + "/existing.mkv"}, 1, "it is an HLS playlist (FFmpeg's hls"},
      {"a DASH manifest", {"-y", d + "/manifest.png", d + "/existing.mkv"}, 1, "it is a DASH manifest (FFmpeg's dash"},
      {"an SDP session", {"-y", d + "/session.avi", d + "/existing.mkv"}, 1, "it is an SDP session description"},
      {"a VobSub index", {"-y", d + "/index.mkv", d + "/existing.mkv"}, 1, "it is a VobSub index (FFmpeg's vobsub"},
      {"a playlist as output", {d + "/clip.mkv", d + "/o.m3u8"}, 2, "velbrin: cannot write '" + d + "/o.m3u8': hls is written"},
      {"AVI into a pipe", {"-f", "avi", d + "/clip.mkv", "-"}, 2, "velbrin: --format: avi cannot be written to a pipe"},
      {"many frames, one picture", {d + "/clip.mkv", d + "/o.png"}, 2, "holds one picture"},
      {"missing module", {"--module", d + "/none.so", d + "/clip.mkv", d + "/o.mkv"}, 1, "velbrin: cannot load the filter module"},
      {"module not a library", {"--module", d + "/notes.txt", d + "/clip.mkv", d + "/o.mkv"}, 1,
       "velbrin: cannot load the filter module"},
      {"lossless impossible", {d + "/clip.mkv", d + "/o.gif"}, 2, "cannot hold a lossless video"},
      {"crf for a picture", {"--crf", "20", "--frames", "0", d + "/clip.mkv", d + "/o.png"}, 2, "--crf applies to video"},
      {"unknown codec", {"--codec", "nosuch", d + "/clip.mkv", d + "/o.mkv"}, 2, "--codec: no video encoder named 'nosuch'"},
      {"lossless lossy picture", {"--lossless", "--frames", "0", d + "/clip.mkv", d + "/o.jpg"}, 2,
       "velbrin: --lossless: .jpg pictures cannot store the pixels exactly; use .png, .bmp or .tif"},
      {"lossless and crf", {"--lossless", "--crf", "20", d + "/clip.mkv", d + "/o.mkv"}, 2,
       "velbrin: --lossless and --crf ask for opposite things"},
      {"lossless codec without a lossless mode", {"--lossless", "--codec", "mpeg4", d + "/clip.mkv", d + "/o.mkv"}, 2,
       "velbrin: --lossless: velbrin knows no lossless setting of mpeg4; use --codec ffv1"},
      {"crf the encoder would clamp", {"--crf", "60", d + "/clip.mkv", d + "/o.mkv"}, 2,
       "velbrin: --crf: libx264 takes 0 to 51, got 60"},
      {"crf for a container's own encoder without one", {"--crf", "20", d + "/clip.mkv", d + "/o.mpg"}, 2,
       "velbrin: --crf: the encoder mpeg1video has no constant-quality setting"},
      {"muxer refuses the named encoder", {"--codec", "utvideo", d + "/clip.mkv", d + "/o.mp4"}, 2,
       "velbrin: --codec: .mp4 files cannot hold utvideo video (Could not find tag for codec utvideo"},
      {"encoder refuses with its own reason", {"--codec", "dnxhd", d + "/clip.mkv", d + "/o.mkv"}, 1,
       "the encoder dnxhd refused it (video parameters incompatible with DNxHD);"},
      {"encoder refuses the size", {"--codec", "mpeg4", "-y", d + "/wide.png", d + "/o.mkv"}, 1,
       "velbrin: cannot encode '" + d + "/o.mkv' as MPEG4 yuv420p at 16000x8: the encoder mpeg4 refused it"},
  };
  const std::vector<std::string> before = dir_->entries();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const RunResult r = run_velbrin(c.args);
    EXPECT_EQ(r.exit_code, c.exit_code);
    EXPECT_EQ(r.err.rfind(c.message, 0) == 0 || r.err.find(c.message) != std::string::npos, true) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.err.rfind("velbrin: ", 0), 0u) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(dir_->entries(), before);
  }
  EXPECT_EQ(read_file(*dir_ / "existing.mkv"), "keep me\n");
}

// Permissions do not bind root (as CI runs), so as root the run drops to
// the nobody user for this case.
TEST_F(BadInput, UnreadableInput) {
  ScratchDir dir;
  chmod(dir.path().c_str(), 0777);
  const std::string locked = dir / "locked.mkv";
  std::ofstream(locked) << read_file(*dir_ / "clip.mkv");
  chmod(locked.c_str(), 0);
  std::vector<std::string> argv = {velbrin_for_any_user(), locked, dir / "o.mkv"};
  if (geteuid() == 0) argv.insert(argv.begin(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
  const RunResult r = run_program(argv);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "velbrin: cannot open '" + locked + "': Permission denied\n");
  EXPECT_FALSE(file_exists(dir / "o.mkv"));
  // A filter module beside velbrin that its user cannot read is named as such.
  const std::string velbrin = dir / "velbrin", module = dir / "noname.so";
  std::filesystem::copy_file(velbrin_for_any_user(), velbrin);
  std::filesystem::copy_file(VELBRIN_MODULE_FILE, module);
  chmod(velbrin.c_str(), 0755);
  chmod(module.c_str(), 0);
  chmod(locked.c_str(), 0644);
  argv[argv.size() - 3] = velbrin;
  const RunResult m = run_program(argv);
  EXPECT_EQ(m.exit_code, 1);
  EXPECT_EQ(m.err, "velbrin: cannot read the filter module '" + module + "': Permission denied\n");
  EXPECT_FALSE(file_exists(dir / "o.mkv"));
}

// A sequence stops at the first picture that exists already; nothing of
// it is left, and the existing picture is untouched.
TEST_F(BadInput, SequenceMeetingAnExistingPicture) {
  ScratchDir out;
  std::ofstream(out / "p3.png") << "keep\n";
  const RunResult r = run_velbrin({"-q", *dir_ / "clip.mkv", out / "p%d.png"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "velbrin: '" + out / "p3.png" + "' already exists (add -y to replace it)\n");
  EXPECT_EQ(out.entries(), (std::vector<std::string>{"p3.png"}));
  EXPECT_EQ(read_file(out / "p3.png"), "keep\n");
  const RunResult y = run_velbrin({"-q", "-y", *dir_ / "clip.mkv", out / "p%d.png"});
  EXPECT_EQ(y.exit_code, 0) << y.err;
  EXPECT_EQ(out.entries(), (std::vector<std::string>{"p1.png", "p2.png", "p3.png"}));
}

// The write plan: every way of naming something velbrin reads as something
// it writes, or two writes as one file, is refused before anything is
// written, -y or not, with both names. A single run ends with exit 2; in a
// folder run the input whose output meets is not written, the others are.
TEST_F(BadInput, WritesThatMeetAreRefused) {
  ScratchDir dir;
  const std::string d = dir.path(), clip = dir / "in.mkv", seq = dir / "seq";
  for (const char* sub : {"seq", "seq2", "src", "out", "other", "out3", "out4"}) mkdir((dir / sub).c_str(), 0755);
  ffmpeg({"-f", "lavfi", "-i", "testsrc2=s=32x24", "-frames:v", "3", seq + "/%04d.png"});
  ffmpeg({"-f", "lavfi", "-i", "testsrc2=s=32x24", "-frames:v", "2", dir / "seq2/%04d.png"});
  std::ofstream(clip, std::ios::binary) << read_file(*dir_ / "clip.mkv");
  for (const char* picture : {"src/a.png", "out/a.png", "other/b.png", "out/1.png"})
    std::ofstream(dir / picture, std::ios::binary) << read_file(seq + "/0001.png");
  ASSERT_EQ(symlink(clip.c_str(), (dir / "link.mkv").c_str()), 0);
  ASSERT_EQ(symlink("../other/b.png", (dir / "out3/a.png").c_str()), 0);
  ASSERT_EQ(symlink((dir / "out/1.png").c_str(), (dir / "x.png").c_str()), 0);
  ASSERT_EQ(link(clip.c_str(), (dir / "hard.mkv").c_str()), 0);
  const struct {
    const char* name;
    std::vector<std::string> args;
    int exit_code;
    std::string message;
    std::string stdin_from = "";  // a file for standard input
  } cases[] = {
      {"output through another path", {"-y", clip, dir / "src/../in.mkv"}, 2,
       "OUTPUT '" + dir / "src/../in.mkv" + "' would write over the input '" + clip + "'"},
      {"output is a hard link of the input", {"-y", clip, dir / "hard.mkv"}, 2,
       "OUTPUT '" + dir / "hard.mkv" + "' would write over the input '" + clip + "'"},
      {"output is a link to the input", {"-y", clip, dir / "link.mkv"}, 2,
       "OUTPUT '" + dir / "link.mkv" + "' would write over the input '" + clip + "'"},
      {"progress FILE forgotten", {"-y", "--progress", clip, clip, dir / "o.mkv"}, 2,
       "--progress '" + clip + "' would write over the input '" + clip + "'"},
      {"progress through a link", {"-y", "--progress", dir / "link.mkv", clip, dir / "o.mkv"}, 2,
       "--progress '" + dir / "link.mkv" + "' would write over the input '" + clip + "'"},
      {"progress is the output", {"-y", "--progress", dir / "o.mkv", clip, dir / "./o.mkv"}, 2,
       "--progress '" + dir / "o.mkv" + "' and OUTPUT '" + dir / "./o.mkv" + "' are one file"},
      {"progress into the stream of OUTPUT -", {"--progress", "/dev/stdout", clip, "-"}, 2,
       "--progress '/dev/stdout' and OUTPUT - (standard output) are one file"},
      {"compare and output named two ways", {"-y", "--compare", d + "/./o.png", "--frames", "0", clip, dir / "o.png"}, 2,
       "--compare '" + d + "/./o.png' and OUTPUT '" + dir / "o.png" + "' are one file"},
      {"sequence over its own pictures", {"-y", seq + "/%04d.png", seq + "/00%02d.png"}, 2,
       "OUTPUT '" + seq + "/00%02d.png' would write over the input's picture '" + seq + "/0001.png'"},
      {"sequence through another path", {"-y", seq + "/%04d.png", seq + "/../seq/%04d.png"}, 2, "would write over"},
      {"a file into a picture of the sequence", {"-y", seq + "/%04d.png", seq + "/0002.png"}, 2,
       "would write over the input's picture '" + seq + "/0002.png'"},
      {"a sequence over the file behind a linked input", {"-y", dir / "x.png", dir / "out/%d.png"}, 2,
       "OUTPUT '" + dir / "out/%d.png" + "' would write over the input '" + dir / "x.png" + "'"},
      {"standard input is the output", {"-y", "-", clip}, 2,
       "OUTPUT '" + clip + "' would write over standard input (INPUT -)", clip},
      {"a folder output over a later input", {"-y", dir / "src/a.png", dir / "out/a.png", dir / "out/"}, 1,
       "'" + dir / "src/a.png" + "': its output '" + dir / "out/a.png" + "' would write over the input '" +
           dir / "out/a.png" + "'; not written"},
      {"a folder output through a link onto an input", {"-y", dir / "src/a.png", dir / "other/b.png", dir / "out3/"}, 1,
       "'" + dir / "src/a.png" + "': its output '" + dir / "out3/a.png" + "' would write over the input '" +
           dir / "other/b.png" + "'; not written"},
      {"a sequence and a picture of one name in a folder", {"-y", seq + "/%d.png", dir / "out/1.png", dir / "other/"}, 1,
       "'" + dir / "out/1.png" + "': its output '" + dir / "other/1.png" + "' is also the output of '" + seq +
           "/%d.png'; not written"},
      {"two sequences of one pattern into a folder", {"-y", seq + "/%04d.png", dir / "seq2/%04d.png", dir / "out4/"}, 1,
       "'" + dir / "seq2/%04d.png" + "': its output '" + dir / "out4/%04d.png" + "' is also the output of '" + seq +
           "/%04d.png'; not written"},
  };
  const std::vector<std::string> kept = {clip, seq + "/0001.png", seq + "/0002.png", dir / "out/a.png",
                                         dir / "other/b.png", dir / "out/1.png"};
  auto contents = [&] {
    std::string all;
    for (const std::string& f : kept) all += read_file(f);
    return all;
  };
  const std::string before = contents();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> argv = {VELBRIN_EXECUTABLE};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    if (!c.stdin_from.empty()) argv = {"sh", "-c", "exec \"$0\" \"$@\" < " + c.stdin_from, VELBRIN_EXECUTABLE, "-y", "-", clip};
    const RunResult r = run_program(argv);
    EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(contents(), before);
    EXPECT_FALSE(file_exists(dir / "o.mkv"));
    EXPECT_FALSE(file_exists(dir / "o.png"));
  }
  // Through an overlay mount the input shows another device number than
  // in its layer; it is the input all the same.
  if (geteuid() != 0) return;
  for (const char* sub : {"lower", "upper", "work", "merged"}) mkdir((dir / sub).c_str(), 0755);
  std::ofstream(dir / "lower/clip.mkv", std::ios::binary) << read_file(clip);
  if (run_program({"mount", "-t", "overlay", "overlay", "-o",
                   "lowerdir=" + dir / "lower" + ",upperdir=" + dir / "upper" + ",workdir=" + dir / "work", dir / "merged"})
          .exit_code != 0)
    GTEST_SKIP() << "this kernel refuses an overlay mount here";
  const RunResult r = run_velbrin({"-y", dir / "merged/clip.mkv", dir / "lower/clip.mkv"});
  run_program({"umount", dir / "merged"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.err, "velbrin: OUTPUT '" + dir / "lower/clip.mkv" + "' would write over the input '" +
                       dir / "merged/clip.mkv" + "'; name another file\n");
  EXPECT_EQ(read_file(dir / "lower/clip.mkv"), read_file(clip));
}

// The plan holds to the last moment: in a folder run, links made in the
// output folder while the first input is read are checked when each later
// output is created and when each output is put in place; the input they
// lead to is not written, and the run ends with a line for each.
TEST_F(BadInput, NamesMadeDuringAFolderRunAreChecked) {
  ScratchDir dir;
  const std::string src = dir / "src", out = dir / "out";
  mkdir(src.c_str(), 0755);
  mkdir(out.c_str(), 0755);
  const std::string clip = read_file(*dir_ / "clip.mkv");
  ASSERT_EQ(mkfifo((src + "/a.mkv").c_str(), 0600), 0);
  for (const char* name : {"/b.mkv", "/c.mkv"}) std::ofstream(src + name, std::ios::binary) << clip;
  RunResult r;
  std::thread run([&] { r = run_velbrin({"-q", "-y", src + "/a.mkv", src + "/b.mkv", src + "/c.mkv", out + "/"}); });
  const int feed = open((src + "/a.mkv").c_str(), O_WRONLY);
  EXPECT_EQ(write(feed, clip.data(), clip.size()), ssize_t(clip.size()));
  for (int k = 0; k < 1000 && run_program({"sh", "-c", "ls -A '" + out + "' | grep -q velbrin-tmp"}).exit_code != 0; ++k)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  symlink("../src/b.mkv", (out + "/a.mkv").c_str());  // a's output, after it was created
  symlink("../src/c.mkv", (out + "/b.mkv").c_str());  // b's output, before it is created
  close(feed);
  run.join();
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("velbrin: '" + src + "/a.mkv': its output '" + out + "/a.mkv' would write over the input '" + src +
                       "/b.mkv'; not written\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("velbrin: '" + src + "/b.mkv': its output '" + out + "/b.mkv' would write over the input '" + src +
                       "/c.mkv'; not written\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(read_file(src + "/b.mkv"), clip);
  EXPECT_EQ(read_file(src + "/c.mkv"), clip);
  EXPECT_GT(read_file(out + "/c.mkv").size(), 100u);
}

// Damage is what the demuxer and decoders report, nothing else: a damaged
// input gives what could be read, a warning that names the fault and where,
// and exit status 3; clean files that only look short by their headers
// (drop frames, a start offset, an edit list, audio past the video, a
// variable rate) stay exit 0.
TEST_F(BadInput, DamageIsWhatReadingReports) {
  ScratchDir dir;
  const std::string src = "testsrc2=s=160x120:r=25", tone = "sine=r=48000";
  auto make = [&](const std::vector<std::string>& args) { ffmpeg(args); };
  make({"-f", "lavfi", "-i", src, "-frames:v", "50", "-g", "10", "-c:v", "libx264", dir / "whole.mkv"});
  make({"-f", "lavfi", "-i", src, "-frames:v", "50", "-g", "10", "-c:v", "libx264", "-movflags", "+faststart",
        dir / "whole.mp4"});
  make({"-f", "lavfi", "-i", src, "-f", "lavfi", "-i", tone, "-frames:v", "9", "-t", "0.45", "-c:v", "libx264",
        "-c:a", "libopus", dir / "audio-longer.mkv"});
  make({"-f", "lavfi", "-i", src, "-f", "lavfi", "-i", tone, "-t", "1", "-c:v", "libx264", "-c:a", "aac",
        "-output_ts_offset", "5", dir / "starts-at-5s.mkv"});
  make({"-f", "lavfi", "-i", src, "-f", "lavfi", "-i", tone, "-t", "3", "-c:v", "libx264", "-g", "25", "-c:a", "aac",
        dir / "long.mp4"});
  make({"-ss", "1.3", "-i", dir / "long.mp4", "-c", "copy", dir / "edit-list.mp4"});
  make({"-f", "lavfi", "-i", src + ",setpts='PTS+gt(N\\,20)*0.4/TB'", "-t", "2", "-c:v", "mpeg4", "-fps_mode", "vfr",
        dir / "drop-frames.avi"});
  make({"-f", "lavfi", "-i", src + ",setpts='PTS+gt(N\\,20)*0.4/TB'", "-frames:v", "40", "-c:v", "libx264",
        "-fps_mode", "vfr", dir / "vfr.mkv"});
  make({"-f", "lavfi", "-i", "testsrc2=s=32x24", "-frames:v", "12", dir / "seq%02d.png"});
  ASSERT_EQ(unlink((dir / "seq05.png").c_str()), 0);
  make({"-f", "lavfi", "-i", src, "-frames:v", "100", "-g", "10", "-bf", "0", "-c:v", "libx264", dir / "g10.mkv"});
  make({"-f", "lavfi", "-i", "sine=r=48000", "-t", "4", "-c:a", "aac", "-b:a", "256k", dir / "tone.adts"});
  make({"-f", "lavfi", "-i", "testsrc2=s=320x240:r=25", "-frames:v", "50", "-g", "10", "-c:v", "mpeg2video", "-slices",
        "8", dir / "mpeg2.ts"});
  ffmpeg({"-f", "lavfi", "-i", "testsrc2=s=32x24", "-frames:v", "3", "-start_number", "7", dir / "from%03d.png"});
  // A picture cut in half: its fault lies at its place in the sequence.
  make({"-f", "lavfi", "-i", "testsrc2=s=32x24", "-frames:v", "8", dir / "bad%02d.png"});
  const std::string picture = read_file(dir / "bad05.png");
  std::ofstream(dir / "bad05.png", std::ios::binary | std::ios::trunc) << picture.substr(0, picture.size() / 2);
  // Damage: cut in the middle of a block, and zeroed bytes in the middle.
  const std::string mkv = read_file(dir / "whole.mkv"), mp4 = read_file(dir / "whole.mp4");
  std::ofstream(dir / "cut.mkv", std::ios::binary) << mkv.substr(0, mkv.size() * 2 / 3 + 17);
  std::string zeroed_mkv = mkv, zeroed_mp4 = mp4;
  zeroed_mkv.replace(mkv.size() / 2, 3000, 3000, '\0');
  zeroed_mp4.replace(mp4.size() * 3 / 10, 3000, 3000, '\0');
  std::ofstream(dir / "zeroed.mkv", std::ios::binary) << zeroed_mkv;
  std::ofstream(dir / "zeroed.mp4", std::ios::binary) << zeroed_mp4;
  // Frames 2 and 45 of a video with a key frame every 10 frames garbled.
  std::string garbled = read_file(dir / "g10.mkv");
  const std::string packets = run_program({"ffprobe", "-v", "error", "-select_streams", "v", "-show_entries",
                                           "packet=size,pos", "-of", "csv=p=0", dir / "g10.mkv"}).out;
  std::vector<std::pair<size_t, size_t>> size_pos;
  std::istringstream lines(packets);
  for (std::string line; std::getline(lines, line);) {
    const size_t comma = line.find(',');
    size_pos.emplace_back(std::stoul(line.substr(0, comma)), std::stoul(line.substr(comma + 1)));
  }
  ASSERT_EQ(size_pos.size(), 100u);
  for (const size_t frame : {2, 45})
    for (size_t k = size_pos[frame].second + 12; k + 2 < size_pos[frame].second + size_pos[frame].first; ++k)
      garbled[k] = char(garbled[k] ^ 0x55);
  std::ofstream(dir / "garbled.mkv", std::ios::binary) << garbled;
  // AAC garbled from 70 % of its length on, copied into Matroska as it is.
  std::string aac = read_file(dir / "tone.adts");
  for (size_t k = aac.size() * 7 / 10; k < aac.size() * 7 / 10 + 400; k += 7) aac[k] = char(aac[k] ^ 0x5a);
  std::ofstream(dir / "garbled.adts", std::ios::binary) << aac;
  make({"-f", "lavfi", "-i", src, "-i", dir / "garbled.adts", "-t", "4", "-map", "0:v", "-map", "1:a", "-c:v", "libx264",
        "-c:a", "copy", dir / "garbled-audio.mkv"});
  // A transport stream that lost one packet of its video: the decoder
  // conceals what is missing and flags the frame.
  std::string ts = read_file(dir / "mpeg2.ts");
  std::vector<size_t> video_packets;
  for (size_t at = 0; at + 188 <= ts.size(); at += 188)
    if (((uint8_t(ts[at + 1]) & 0x1f) << 8 | uint8_t(ts[at + 2])) == 0x100) video_packets.push_back(at);
  ts.erase(video_packets.at(video_packets.size() / 2), 188);
  std::ofstream(dir / "lost-packet.ts", std::ios::binary) << ts;
  const struct {
    const char* input;
    int exit_code;
    std::string warning;  // "" for none
    std::vector<std::string> options = {};
    std::vector<const char*> outputs = {"out.mkv"};
  } cases[] = {
      {"whole.mkv", 0, ""},
      {"whole.mp4", 0, ""},
      {"audio-longer.mkv", 0, ""},
      {"starts-at-5s.mkv", 0, ""},
      {"edit-list.mp4", 0, ""},
      {"drop-frames.avi", 0, ""},
      {"vfr.mkv", 0, ""},
      {"from%03d.png", 0, ""},  // a sequence numbered from 007
      {"cut.mkv", 3, "is damaged: FFmpeg reported \"File ended prematurely\" at "},
      {"zeroed.mkv", 3, "is damaged: FFmpeg reported \""},
      {"zeroed.mp4", 3, "is damaged: FFmpeg reported \""},
      {"seq%02d.png", 3, "is incomplete: '" + dir / "seq05.png" + "' is missing; 4 pictures written"},
      // Copied audio is checked as re-encoded audio is: the same for every container.
      {"garbled-audio.mkv", 3, "is damaged: FFmpeg reported \"", {}, {"out.mkv", "out.mp4", "out.webm"}},
      {"lost-packet.ts", 3, "flagged as corrupt)"},
      // A range counts the faults from the key frame it starts at (40 for
      // frame 47), not those met while probing the start of the file.
      {"garbled.mkv", 3, "is damaged: FFmpeg reported \"", {"--frames", "0-10"}},
      {"garbled.mkv", 0, "", {"--frames", "50-74"}},
      {"garbled.mkv", 3, "is damaged: FFmpeg reported \"", {"--frames", "47-60"}},
      {"bad%02d.png", 3, "is damaged: FFmpeg reported \"chunk too big\" at 0."},
  };
  for (const auto& c : cases)
    for (const char* output : c.outputs) {
      SCOPED_TRACE(std::string(c.input) + " into " + output);
      std::vector<std::string> args = c.options;
      args.insert(args.end(), {"-y", dir / c.input, dir / output});
      const RunResult r = run_velbrin(args);
      EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
      EXPECT_EQ(r.err.find("velbrin: warning: ") != std::string::npos, !c.warning.empty()) << r.err;
      if (!c.warning.empty()) {
        EXPECT_NE(r.err.find(c.warning), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("all that could be read (exit status 3)"), std::string::npos) << r.err;
      }
      EXPECT_TRUE(file_exists(dir / output));  // all that could be read is written
    }
}

// -y replaces only what the user could have written; root may write
// anything, so as root the run drops to the nobody user for this case.
TEST_F(BadInput, YesNeverReplacesAFileTheUserCannotWrite) {
  ScratchDir dir;
  chmod(dir.path().c_str(), 0777);
  const std::string input = dir / "in.mkv", locked = dir / "locked.mkv";
  std::ofstream(input, std::ios::binary) << read_file(*dir_ / "clip.mkv");
  std::ofstream(locked) << "keep\n";
  chmod(input.c_str(), 0644);
  chmod(locked.c_str(), 0444);
  std::vector<std::string> argv = {velbrin_for_any_user(), "-y", input, locked};
  if (geteuid() == 0) argv.insert(argv.begin(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
  const RunResult r = run_program(argv);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "velbrin: cannot replace '" + locked + "': Permission denied\n");
  EXPECT_EQ(read_file(locked), "keep\n");
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.mkv", "locked.mkv"}));
}

// Replacing as root keeps the replaced file's owner and group; a file size
// limit (ulimit -f) ends the run with one line and no leftover.
TEST_F(BadInput, OwnerKeptAndSizeLimitReported) {
  ScratchDir dir;
  const std::string input = dir / "in.mkv", replaced = dir / "owned.mkv";
  make_noisy_clip(input, 320, 240, 20, false);
  if (geteuid() == 0) {
    std::ofstream(replaced) << "old\n";
    ASSERT_EQ(chown(replaced.c_str(), 65534, 65534), 0);
    const RunResult r = run_velbrin({"-qy", input, replaced});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    struct stat st {};
    ASSERT_EQ(stat(replaced.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 65534u);
    unlink(replaced.c_str());
  }
  const RunResult limited =
      run_program({"sh", "-c", "ulimit -f 20; exec \"$0\" \"$@\"", VELBRIN_EXECUTABLE, "--lossless", input, dir / "big.mkv"});
  EXPECT_EQ(limited.exit_code, 1);
  EXPECT_EQ(limited.err, "velbrin: cannot write '" + dir / "big.mkv" + "': File too large\n");
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.mkv"}));
}

// Ctrl-C in the middle of a run: the process ends by the signal, the
// target is never created, and the temporary file is gone. The input is a
// pipe that is fed half a clip and then held open, so the run is
// certainly under way and waiting when the signal comes.
TEST_F(BadInput, InterruptLeavesNothing) {
  ScratchDir dir;
  make_noisy_clip(dir / "clip.mkv", 64, 48, 40, false);
  const std::string clip = read_file(dir / "clip.mkv");
  // A video, and an image sequence whose first pictures are written by then.
  for (const std::string& target : {dir / "out.mkv", dir / "pic%03d.png"}) {
    SCOPED_TRACE(target);
    const std::string fifo = dir / "feed.mkv";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const pid_t pid = fork();
    if (pid == 0) {
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      execl(VELBRIN_EXECUTABLE, VELBRIN_EXECUTABLE, "-q", "--threads", "1", fifo.c_str(), target.c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    const int feed = open(fifo.c_str(), O_WRONLY);  // waits for velbrin to open it
    ASSERT_GE(feed, 0);
    // The run may end while the writer still waits in write(): that must
    // fail with EPIPE, not end the test by SIGPIPE.
    signal(SIGPIPE, SIG_IGN);
    std::thread writer([&] { (void)!write(feed, clip.data(), clip.size() / 2); });

    // Wait for temporary output to appear (for the sequence, a few
    // pictures): the run is then writing.
    int temporary = 0;
    for (int k = 0; k < 500 && temporary < 3; ++k) {
      temporary = 0;
      for (const std::string& name : dir.entries()) temporary += name.find(".velbrin-tmp-") != std::string::npos;
      if (target.find('%') == std::string::npos && temporary > 0) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_GE(temporary, target.find('%') == std::string::npos ? 1 : 3);
    kill(pid, SIGINT);
    int status = 0;
    waitpid(pid, &status, 0);
    close(feed);
    writer.join();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << "status " << status;
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"clip.mkv", "feed.mkv"}));
    unlink(fifo.c_str());
  }
}

}  // namespace
}  // namespace velbrin_cli_test
