// Habits of the command line, end to end: the settings' ranges, combined
// switches, "--" and -n, and standard output that cannot be written.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "tests/cli/cli_test_support.h"

namespace velbrin_cli_test {
namespace {

class CommandLineHabits : public SmallClipSuite<CommandLineHabits, 2> {};

TEST_F(CommandLineHabits, CombinedSwitchesDoubleDashAndNeverReplace) {
  ScratchDir out;
  std::ofstream(out / "-out.mkv") << "old\n";
  ASSERT_EQ(run_program({"cp", clip(), out / "-in.mkv"}).exit_code, 0);
  // Names that start with a dash, given after "--" in the folder itself.
  auto in_folder = [&](const std::string& options) {
    return run_program({"sh", "-c", "cd '" + out.path() + "' && exec '" VELBRIN_EXECUTABLE "' " + options +
                                        " -- -in.mkv -out.mkv"});
  };
  RunResult r = in_folder("-n");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "velbrin: '-out.mkv' already exists (add -y to replace it)\n");
  r = in_folder("-y -n");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(read_file(out / "-out.mkv"), "old\n");
  r = in_folder("-qy");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out + r.err, "");  // quiet
  EXPECT_EQ(decode_frames(out / "-out.mkv", 32, 24).size(), 2u);
  r = in_folder("-qz");
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.err, "velbrin: unknown option '-z' in '-qz' (see velbrin --help)\n");
}

// A full or closed standard output is a failure with one line. A run that
// writes a file prints nothing there, so it succeeds, and its output file
// never takes the place of the closed descriptor.
TEST_F(CommandLineHabits, StandardOutputErrorsCount) {
  const std::string reference = *dir_ / "reference.png";
  ASSERT_EQ(run_velbrin({"-q", "-y", "--frames", "0", clip(), reference}).exit_code, 0);
  const struct {
    const char* name;
    std::string stdout_to;
    const char* why;
  } cases[] = {
      {"full", "/dev/full", "No space left on device"},
      {"closed", kClosedStdout, "Bad file descriptor"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string line = std::string("velbrin: cannot write to standard output: ") + c.why + "\n";
    for (const char* what : {"--version", "--help"}) {
      const RunResult r = run_velbrin({what}, c.stdout_to);
      EXPECT_EQ(r.exit_code, 1) << what;
      EXPECT_EQ(r.err, line) << what;
    }
    ScratchDir out;
    const RunResult r = run_velbrin({"--frames", "0", clip(), out / "o.png"}, c.stdout_to);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(read_file(out / "o.png"), read_file(reference));
  }
}

// Blocks of key=value lines, each ended by a progress= line.
std::vector<std::map<std::string, std::string>> progress_blocks(const std::string& text) {
  std::vector<std::map<std::string, std::string>> blocks(1);
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;  // other lines on stderr
    blocks.back()[line.substr(0, eq)] = line.substr(eq + 1);
    if (line.rfind("progress=", 0) == 0) blocks.emplace_back();
  }
  blocks.pop_back();
  return blocks;
}

TEST_F(CommandLineHabits, MachineReadableProgress) {
  ScratchDir out;
  make_noisy_clip(out / "long.mkv", 32, 24, 30, false);
  for (const std::string where : {"file", "-"}) {
    SCOPED_TRACE(where);
    const std::string report = where == "-" ? "-" : out / "progress.txt";
    const RunResult r = run_velbrin({"-q", "-y", "--progress", report, out / "long.mkv", out / "o.mkv"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const auto blocks = progress_blocks(where == "-" ? r.err : read_file(report));
    ASSERT_GE(blocks.size(), 2u);
    int64_t last_frame = -1;
    for (size_t k = 0; k < blocks.size(); ++k) {
      for (const char* key : {"frame", "fps", "out_time_us", "out_time"}) EXPECT_EQ(blocks[k].count(key), 1u) << key;
      EXPECT_EQ(blocks[k].at("progress"), k + 1 == blocks.size() ? "end" : "continue");
      EXPECT_GE(std::stoll(blocks[k].at("frame")), last_frame);
      last_frame = std::stoll(blocks[k].at("frame"));
    }
    EXPECT_EQ(blocks.back().at("frame"), "30");
    EXPECT_EQ(blocks.back().at("out_time_us"), "1160000");  // the 30th frame at 25 per second
    EXPECT_EQ(blocks.back().at("out_time"), "00:00:01.160000");
  }
  // The last block comes when the output is in place, not when the last
  // frame went to the encoder.
  const RunResult placed = run_program(
      {"bash", "-c", std::string(VELBRIN_EXECUTABLE) + " -q -y --progress /dev/stdout '" + out / "long.mkv" + "' '" +
                         out / "placed.mkv" + "' | { grep -q '^progress=end' && test -e '" + out / "placed.mkv" +
                         "' && echo placed; }"});
  EXPECT_EQ(placed.out, "placed\n") << placed.err;
  // A run that fails still closes its report, a folder run whose last
  // input fails with the figures of the inputs before it.
  ScratchDir folder;
  for (const bool single : {false, true}) {
    SCOPED_TRACE(single ? "single run" : "folder run");
    std::vector<std::string> args = {"-q", "-y", "--progress", folder / "p.txt", out / "long.mkv", out / "missing.mkv"};
    if (single) args.erase(args.begin() + 4);
    args.push_back(single ? folder / "o.mkv" : folder.path() + "/");
    const RunResult failed = run_velbrin(args);
    EXPECT_EQ(failed.exit_code, 1);
    const auto ended = progress_blocks(read_file(folder / "p.txt"));
    ASSERT_FALSE(ended.empty());
    EXPECT_EQ(ended.back().at("progress"), "end");
    EXPECT_EQ(ended.back().at("frame"), single ? "0" : "30");
  }
  // Refusals: one line, and neither the output nor a temporary file is left.
  const struct {
    std::vector<std::string> args;
    int exit_code;
    std::string message;
  } refusals[] = {
      {{"--progress", out / "progress.txt"}, 1, "velbrin: '" + out / "progress.txt" + "' already exists (add -y to replace it)\n"},
      {{"--progress", out.path()}, 1, "velbrin: cannot write progress to '" + out.path() + "': it is a directory\n"},
      {{"--progress", out / "none/p.txt"}, 1,
       "velbrin: cannot write progress to '" + out / "none/p.txt" + "': No such file or directory\n"},
      {{"--progress", ""}, 2, "velbrin: --progress: expected a file name, or - for standard error\n"},
  };
  const std::vector<std::string> before = out.entries();
  for (const auto& c : refusals) {
    SCOPED_TRACE(c.message);
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"-q", out / "long.mkv", out / "new.mkv"});
    const RunResult r = run_velbrin(args);
    EXPECT_EQ(r.exit_code, c.exit_code);
    EXPECT_EQ(r.err, c.message);
    EXPECT_EQ(out.entries(), before);
  }
}

}  // namespace
}  // namespace velbrin_cli_test
