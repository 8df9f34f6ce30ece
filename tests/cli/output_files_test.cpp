// How velbrin treats the files around its output: exclusive creation in a
// shared folder, no replacement by a concurrent run, long names, the mode
// of a replaced file, links, and leftovers of killed runs.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

#include "cli/files/leftovers.h"
#include "tests/cli/cli_test_support.h"

namespace velbrin_cli_test {
namespace {

class OutputFiles : public SmallClipSuite<OutputFiles, 3> {};

mode_t mode_of(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

int temp_files_in(const ScratchDir& dir) {
  int n = 0;
  for (const std::string& name : dir.entries()) n += name.rfind(".velbrin-tmp-", 0) == 0;
  return n;
}

// A velbrin run held in the middle: its input is a pipe that is given the
// whole clip but not closed, so the run has made its temporary files and
// waits for the end of its input until release().
class HeldRun {
 public:
  HeldRun(const ScratchDir& dir, const std::string& clip_path, const std::string& target) : dir_(dir) {
    fifo_ = dir / "feed.mkv";
    EXPECT_EQ(mkfifo(fifo_.c_str(), 0600), 0);
    err_ = dir / "err.txt";
    pid_ = fork();
    if (pid_ == 0) {
      const int null = open("/dev/null", O_WRONLY);
      const int err = open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(null, 1);
      dup2(err, 2);
      std::vector<std::string> all = {VELBRIN_EXECUTABLE, "-q", "--threads", "1", fifo_, target};
      std::vector<char*> argv;
      for (std::string& a : all) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    feed_ = open(fifo_.c_str(), O_WRONLY);
    const std::string bytes = read_file(clip_path);
    EXPECT_EQ(write(feed_, bytes.data(), bytes.size()), ssize_t(bytes.size()));
  }
  HeldRun(const HeldRun&) = delete;
  HeldRun& operator=(const HeldRun&) = delete;
  bool wait_for_temp_files(int count) const {
    for (int k = 0; k < 1000; ++k) {
      if (temp_files_in(dir_) >= count) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  // Ends the input and waits for the run; its exit code, or -signal.
  int release() {
    close(feed_);
    return finish();
  }
  int kill_hard() {
    kill(pid_, SIGKILL);
    const int status = finish();
    close(feed_);
    return status;
  }
  std::string err() const { return read_file(err_); }
  ~HeldRun() {
    unlink(fifo_.c_str());
    unlink(err_.c_str());
  }

 private:
  int finish() {
    int status = 0;
    waitpid(pid_, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  }
  const ScratchDir& dir_;
  std::string fifo_, err_;
  pid_t pid_ = -1;
  int feed_ = -1;
};

// Every file velbrin makes in a folder others may write to is created with
// O_EXCL|O_NOFOLLOW; nothing there is opened by name again, and links
// planted under names a run might use lead nowhere.
TEST_F(OutputFiles, CreatesOnlyExclusivelyInASharedFolder) {
  // strace needs ptrace, which some containers forbid.
  if (run_program({"strace", "-f", "-o", "/dev/null", "true"}).exit_code != 0)
    GTEST_SKIP() << "strace is missing or may not trace here (ptrace forbidden)";
  struct Case {
    const char* name;
    std::vector<std::string> args;  // "@" stands for the shared folder
  };
  const Case cases[] = {
      {"Matroska", {"@/out.mkv"}},
      {"MP4 (seeks back for its index)", {"@/out.mp4"}},
      {"one picture", {"--frames", "0", "@/out.png"}},
      {"image sequence", {"@/pic%03d.png"}},
      {"video and comparison picture", {"--compare", "@/cmp.png", "@/out.avi"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir shared;
    chmod(shared.path().c_str(), 01777);
    std::ofstream(shared / "victim") << "precious\n";
    const std::string tagged = ".velbrin-tmp-" + host_tag() + "-1-aaaaaa-out.mkv";
    const char* planted[] = {"out.mkv.tmp", ".out.mkv.tmp", tagged.c_str(), "pic001.png.tmp"};
    for (const char* name : planted) ASSERT_EQ(symlink((shared / "victim").c_str(), (shared / name).c_str()), 0);
    // LeakSanitizer cannot run under ptrace; the other tests cover leaks.
    std::vector<std::string> argv = {"env", "ASAN_OPTIONS=detect_leaks=0", "strace", "-f", "-qq", "-e", "trace=open,openat,openat2,creat", "-o",
                                     *dir_ / "trace.txt", VELBRIN_EXECUTABLE, "-q", clip()};
    for (const std::string& a : c.args) argv.push_back(a[0] == '@' ? shared.path() + a.substr(1) : a);
    const RunResult r = run_program(argv);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::istringstream trace(read_file(*dir_ / "trace.txt"));
    int created = 0;
    for (std::string line; std::getline(trace, line);) {
      if (line.find("\"" + shared.path() + "/") == std::string::npos) continue;
      EXPECT_EQ(line.find("O_TRUNC"), std::string::npos) << line;
      if (line.find("O_CREAT") != std::string::npos) {
        ++created;
        EXPECT_NE(line.find("O_EXCL"), std::string::npos) << line;
        EXPECT_NE(line.find("O_NOFOLLOW"), std::string::npos) << line;
      }
      for (const char* name : planted) EXPECT_EQ(line.find(std::string("/").append(name).append("\"")), std::string::npos) << line;
    }
    EXPECT_GE(created, 1);
    EXPECT_EQ(read_file(shared / "victim"), "precious\n");
    EXPECT_EQ(temp_files_in(shared), 1);  // the planted one
  }
  unlink((*dir_ / "trace.txt").c_str());
}

// A file that appears at the output while a run works is kept: the run
// fails with one line and leaves nothing of its own.
TEST_F(OutputFiles, AFileThatAppearsMeanwhileIsNotReplaced) {
  for (const std::string name : {"out.mkv", "pic%d.png"}) {
    SCOPED_TRACE(name);
    ScratchDir out;
    const std::string target = out / name;
    const std::string appears = name.find('%') == std::string::npos ? target : out / "pic2.png";
    HeldRun run(out, clip(), target);
    ASSERT_TRUE(run.wait_for_temp_files(1));
    std::ofstream(appears) << "another run's\n";
    EXPECT_EQ(run.release(), 1);
    const std::string err = run.err();
    EXPECT_EQ(err.rfind("velbrin: '" + appears + "' already exists", 0), 0u) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_EQ(read_file(appears), "another run's\n");
    EXPECT_EQ(temp_files_in(out), 0);
    EXPECT_FALSE(file_exists(out / "pic1.png"));
  }
}

// Two runs to one output at the same moment: one writes it, the other
// fails; neither leaves a temporary file.
TEST_F(OutputFiles, ConcurrentRunsWithoutYes) {
  ScratchDir out;
  const std::string target = out / "same.mkv";
  RunResult results[2];
  std::thread other([&] { results[1] = run_velbrin({"-q", clip(), target}); });
  results[0] = run_velbrin({"-q", clip(), target});
  other.join();
  const int winners = (results[0].exit_code == 0) + (results[1].exit_code == 0);
  EXPECT_EQ(winners, 1) << results[0].err << results[1].err;
  for (const RunResult& r : results)
    if (r.exit_code != 0) {
      EXPECT_EQ(r.exit_code, 1);
      EXPECT_EQ(r.err.rfind("velbrin: '" + target + "' already exists", 0), 0u) << r.err;
    }
  EXPECT_EQ(out.entries(), std::vector<std::string>{"same.mkv"});
}

// Names up to the usual limit of 255 bytes work, also when replacing.
TEST_F(OutputFiles, LongNames) {
  ScratchDir out;
  std::string accented;  // 125 two-byte characters
  for (int k = 0; k < 125; ++k) accented += "\xC3\xA9";
  const struct {
    std::string name;
    std::vector<std::string> args;
    std::vector<std::string> made;
  } cases[] = {
      {std::string(251, 'v') + ".mkv", {}, {std::string(251, 'v') + ".mkv"}},
      {std::string(251, 'p') + ".png", {"--frames", "0"}, {std::string(251, 'p') + ".png"}},
      {std::string(247, 's') + "%04d.png", {}, {std::string(247, 's') + "0001.png", std::string(247, 's') + "0003.png"}},
      // Multi-byte characters: the shortened temporary name stays valid.
      {accented + ".mkv", {}, {accented + ".mkv"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name.size());
    ASSERT_LE(c.name.size(), 255u);
    for (const char* yes : {"-n", "-y"}) {  // the second run replaces the first's output
      std::vector<std::string> args = {"-q", yes};
      args.insert(args.end(), c.args.begin(), c.args.end());
      args.push_back(clip());
      args.push_back(out / c.name);
      const RunResult r = run_velbrin(args);
      EXPECT_EQ(r.exit_code, 0) << r.err;
      for (const std::string& made : c.made) EXPECT_TRUE(file_exists(out / made)) << made;
      EXPECT_EQ(temp_files_in(out), 0);
    }
  }
}

// -y gives the new file the replaced file's permission bits; a new file
// gets 0666 less the umask.
TEST_F(OutputFiles, ReplacingKeepsPermissions) {
  const struct {
    const char* name;
    mode_t existing;  // 0: no file before
    mode_t umask_value;
    mode_t expected;
  } cases[] = {
      {"private file stays private", 0600, 022, 0600},
      {"group-readable stays so", 0640, 077, 0640},
      {"read-only for all", 0444, 022, 0444},
      {"new file, umask 022", 0, 022, 0644},
      {"new file, umask 027", 0, 027, 0640},
  };
  for (const char* target : {"out.mkv", "pic%d.png"}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(target) + ": " + c.name);
      ScratchDir out;
      const std::string first = std::string(target) == "out.mkv" ? out / "out.mkv" : out / "pic1.png";
      if (c.existing != 0) {
        std::ofstream(first) << "old\n";
        chmod(first.c_str(), c.existing);
      }
      const mode_t saved = umask(c.umask_value);
      const RunResult r = run_velbrin({"-q", "-y", clip(), out / target});
      umask(saved);
      ASSERT_EQ(r.exit_code, 0) << r.err;
      EXPECT_EQ(mode_of(first), c.expected);
      EXPECT_NE(read_file(first), "old\n");
    }
    // A file system that keeps no permissions refuses every mode; the
    // output is written all the same, with the mode it was made with.
    SCOPED_TRACE(std::string(target) + ": no permissions kept");
    ScratchDir out;
    const RunResult r = run_program({"env", "LD_PRELOAD=" VELBRIN_FCHMOD_REFUSED, "ASAN_OPTIONS=verify_asan_link_order=0",
                                     VELBRIN_EXECUTABLE, "-q", clip(), out / target});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(out.entries().size(), std::string(target) == "out.mkv" ? 1u : 3u);
    EXPECT_EQ(temp_files_in(out), 0);
  }
}

// A sequence is put in place all or nothing: when a picture cannot be
// replaced (here a file mounted over it, which no rename may move), the
// pictures already placed are taken back and the old ones restored, with
// or without -y; once it can, the old pictures go and nothing is left.
TEST_F(OutputFiles, ASequenceIsPutInPlaceAllOrNothing) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a file over a picture";
  ScratchDir out;
  for (const char* name : {"p1.png", "p2.png", "pinned.png"}) std::ofstream(out / name) << "old " << name;
  std::ofstream(out / "p3.png") << "old p3.png";
  // Pictures are placed 2, 3, then 1 (whose lock keeps the rest live), so
  // picture 2 is in place when 3 fails.
  if (run_program({"mount", "--bind", out / "pinned.png", out / "p3.png"}).exit_code != 0)
    GTEST_SKIP() << "this system refuses a bind mount";
  const RunResult r = run_velbrin({"-q", "-y", clip(), out / "p%d.png"});
  run_program({"umount", out / "p3.png"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "velbrin: cannot write '" + out / "p%d.png" + "': Device or resource busy\n");
  for (const char* name : {"p1.png", "p2.png", "p3.png"}) EXPECT_EQ(read_file(out / name), std::string("old ") + name);
  EXPECT_EQ(temp_files_in(out), 0);
  const RunResult again = run_velbrin({"-q", "-y", clip(), out / "p%d.png"});
  EXPECT_EQ(again.exit_code, 0) << again.err;
  EXPECT_EQ(out.entries(), (std::vector<std::string>{"p1.png", "p2.png", "p3.png", "pinned.png"}));
  EXPECT_NE(read_file(out / "p1.png"), "old p1.png");
}

// OUTPUT a symbolic link: the file it points to is replaced (in its own
// folder, keeping its mode) and the link stays.
TEST_F(OutputFiles, ALinkIsWrittenThrough) {
  const struct {
    const char* name;
    const char* link_text;  // relative to the folder of the link
    bool target_exists;
  } cases[] = {
      {"relative link", "sub/real.mkv", true},
      {"link to a link", "chain.mkv", true},
      {"link to a file still to come", "sub/real.mkv", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir out;
    mkdir((out / "sub").c_str(), 0755);
    if (c.target_exists) {
      std::ofstream(out / "sub/real.mkv") << "old\n";
      chmod((out / "sub/real.mkv").c_str(), 0640);
    }
    symlink("sub/real.mkv", (out / "chain.mkv").c_str());
    ASSERT_EQ(symlink(c.link_text, (out / "link.mkv").c_str()), 0);
    RunResult r = run_velbrin({"-q", clip(), out / "link.mkv"});
    EXPECT_EQ(r.exit_code, 1) << "without -y the link counts as an existing file";
    EXPECT_EQ(read_file(out / "sub/real.mkv"), c.target_exists ? "old\n" : "");
    r = run_velbrin({"-q", "-y", clip(), out / "link.mkv"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    struct stat st {};
    ASSERT_EQ(lstat((out / "link.mkv").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_GT(read_file(out / "sub/real.mkv").size(), 100u);
    if (c.target_exists) {
      EXPECT_EQ(mode_of(out / "sub/real.mkv"), 0640u);
    }
    EXPECT_EQ(out.entries(), (std::vector<std::string>{"chain.mkv", "link.mkv", "sub"}));
    EXPECT_EQ(run_program({"ls", "-A", out / "sub"}).out, "real.mkv\n");
  }
}

// A run creates its temporary file and locks it a moment later; a sweep by
// another run in between either finds it locked (and keeps it) or takes it
// first, and then the run is told to make another. Runs side by side in
// one folder (segments with GNU parallel) all write their outputs, files
// and sequences, up to their last rename.
TEST_F(OutputFiles, ASweepNeverTakesALiveRunsFile) {
  ScratchDir dir;
  const struct {
    const char* name;
    bool swept_first;  // another open of the file locks it before the run does
    bool removed;      // the sweep removed it before the run's lock
    bool held;
  } cases[] = {
      {"nobody in between", false, false, true},
      {"a sweep holds it", true, false, false},
      {"a sweep removed it", false, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string name = dir / ".velbrin-tmp-";
    name.append(host_tag()).append("-1-abcdef-x.mkv");
    const int fd = open(name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    int sweep = -1;
    if (c.swept_first) {
      sweep = open(name.c_str(), O_RDWR);
      struct flock lock {};
      lock.l_type = F_WRLCK;
      ASSERT_EQ(fcntl(sweep, F_OFD_SETLK, &lock), 0);
    }
    if (c.removed) unlink(name.c_str());
    EXPECT_EQ(hold_as_live(fd), c.held);
    if (sweep >= 0) close(sweep);
    close(fd);
    unlink(name.c_str());
  }
  // A sweep right after the run creates its file and before each rename of
  // its files, with -y over old outputs (a sequence's are renamed aside
  // first) and without.
  for (const char* target : {"out.mkv", "p%d.png"}) {
    for (const bool replace : {false, true}) {
      SCOPED_TRACE(std::string(target) + (replace ? " over old outputs" : " new"));
      ScratchDir out;
      if (replace)
        for (const char* name : {"out.mkv", "p1.png", "p2.png", "p3.png"}) std::ofstream(out / name) << "old";
      std::vector<std::string> command = {"env", "LD_PRELOAD=" VELBRIN_SWEEP_IN_BETWEEN,
                                          "ASAN_OPTIONS=verify_asan_link_order=0", VELBRIN_EXECUTABLE, "-q"};
      if (replace) command.push_back("-y");
      command.insert(command.end(), {clip(), out / target});
      const RunResult r = run_program(command);
      EXPECT_EQ(r.exit_code, 0) << r.err;
      EXPECT_EQ(temp_files_in(out), 0);
      EXPECT_NE(read_file(out / (std::string(target) == "out.mkv" ? "out.mkv" : "p3.png")), "old");
    }
  }
  ScratchDir out;
  for (int round = 0; round < 2; ++round) {
    std::vector<std::thread> runs;
    std::vector<RunResult> results(6);
    for (size_t k = 0; k < results.size(); ++k)
      runs.emplace_back([&, k] {
        const std::string target = std::to_string(k) + (k % 2 == 0 ? ".mkv" : "-%d.png");
        results[k] = run_velbrin({"-q", "-y", clip(), out / target});
      });
    for (std::thread& t : runs) t.join();
    for (const RunResult& r : results) EXPECT_EQ(r.exit_code, 0) << r.err;
  }
  EXPECT_EQ(out.entries().size(), 3u + 3u * 3u) << "three files and three sequences of three pictures";
}

// A run killed with SIGKILL leaves its temporary file; the next run into
// that folder removes it (and other files of the same user no process
// holds) with one line, and leaves alone what is not such a leftover. A
// file held by a process, whatever PID its name says (a run in another PID
// namespace), is live, and so are the other files of its run.
TEST_F(OutputFiles, LeftoversOfKilledRunsAreRemoved) {
  ScratchDir out;
  {
    HeldRun killed(out, clip(), out / "first.mkv");
    ASSERT_TRUE(killed.wait_for_temp_files(1));
    EXPECT_EQ(killed.kill_hard(), -SIGKILL);
  }
  ASSERT_EQ(out.entries().size(), 1u);
  ASSERT_EQ(temp_files_in(out), 1);
  const std::string killed_file = out.entries().front();
  // A live run writing a sequence: it removes the killed run's file, and
  // its own pictures are held while it waits for the end of its input (how
  // many it has written by then depends on how much the demuxer reads
  // ahead). Counting files alone cannot tell its pictures from the killed
  // run's file, so wait for that file to go and a picture to come.
  std::optional<HeldRun> live;
  live.emplace(out, clip(), out / "live%d.png");
  const auto live_has_started = [&] {
    const std::vector<std::string> now = out.entries();
    return temp_files_in(out) >= 1 && std::find(now.begin(), now.end(), killed_file) == now.end();
  };
  for (int k = 0; k < 2000 && !live_has_started(); ++k) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(live_has_started()) << ::testing::PrintToString(out.entries()) << live->err();
  const pid_t dead = fork();
  if (dead == 0) _exit(0);
  waitpid(dead, nullptr, 0);
  const std::string gone = std::to_string(dead), alive = std::to_string(getpid());
  const std::string here = ".velbrin-tmp-" + host_tag() + "-";
  const std::string other_host = host_tag() == "0badf00d" ? "0badf00e" : "0badf00d";
  const std::vector<std::string> kept = {
      here + gone + "-held00-live.mkv",      // held by a live process
      here + gone + "-held01-1",             // a live sequence: its first picture held,
      here + gone + "-held01-2",             // the others not
      here + gone + "-abc-short.mkv",        // not velbrin's naming
      here + "x" + gone + "-abcdef-odd.mkv",
      "velbrin-tmp-" + host_tag() + "-" + gone + "-abcdef-visible.mkv",
      ".velbrin-tmp-" + gone + "-abcdef-untagged.mkv",                 // no host: not ours to judge
      ".velbrin-tmp-" + other_host + "-" + gone + "-abcdef-remote.mkv",  // another machine's, maybe live
  };
  for (const std::string& name : kept) std::ofstream(out / name) << "x";
  std::ofstream(out / (here + gone + "-Zz09Aa-7")) << "x";   // a sequence's picture
  std::ofstream(out / (here + alive + "-abcdef-stale.mkv")) << "x";  // a PID in use, the file held by none
  // The holder: a child that locks the files as a live run does and waits.
  int ready[2], release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  const pid_t holder = fork();
  if (holder == 0) {
    close(release[1]);
    const int held_file = open((out / (here + gone + "-held00-live.mkv")).c_str(), O_RDWR);
    const int first = open((out / (here + gone + "-held01-1")).c_str(), O_RDWR);
    const bool held = hold_as_live(held_file) && hold_as_live(first);
    char c = held ? 'y' : 'n';
    if (write(ready[1], &c, 1) != 1 || read(release[0], &c, 1) < 0) _exit(1);
    _exit(0);
  }
  close(release[0]);
  close(ready[1]);
  char held = 0;
  ASSERT_EQ(read(ready[0], &held, 1), 1);
  close(ready[0]);
  ASSERT_EQ(held, 'y');
  std::vector<std::string> expected = kept;
  if (geteuid() == 0) {  // another user's leftover is theirs to remove
    const std::string foreign = here + gone + "-qwerty-foreign.mkv";
    std::ofstream(out / foreign) << "x";
    ASSERT_EQ(chown((out / foreign).c_str(), 65534, 65534), 0);
    expected.push_back(foreign);
  }
  // A live run writing a sequence, its first picture written and closed.
  const RunResult r = run_velbrin({clip(), out / "next.mkv"});
  close(release[1]);
  waitpid(holder, nullptr, 0);
  EXPECT_EQ(live->release(), 0) << live->err();
  live.reset();
  for (const char* picture : {"live1.png", "live2.png", "live3.png"}) expected.push_back(picture);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err.rfind("velbrin: removed 2 temporary files left in '" + out.path() + "/' by runs that were stopped\n", 0),
            0u) << r.err;
  expected.push_back("next.mkv");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(out.entries(), expected);
}

}  // namespace
}  // namespace velbrin_cli_test
