// Temporary output files and their removal on failure or on a signal.
#include "cli/temp_output.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>

#include "cli/cli_error.h"

namespace {

// Paths the signal handler removes. Fixed storage, because a signal handler
// may only touch memory that needs no allocation and no lock.
constexpr int kSlots = 4;
struct Slot {
  std::atomic<bool> used{false};
  char path[PATH_MAX];
};
std::array<Slot, kSlots> g_slots;

int register_path(const std::string& path) {
  if (path.size() >= PATH_MAX) return -1;
  for (int k = 0; k < kSlots; ++k) {
    Slot& s = g_slots[size_t(k)];
    if (s.used.load()) continue;
    std::memcpy(s.path, path.c_str(), path.size() + 1);
    s.used.store(true);
    return k;
  }
  return -1;
}

void unregister_path(int slot) {
  if (slot >= 0) g_slots[size_t(slot)].used.store(false);
}

extern "C" void remove_temp_files_and_die(int sig) {
  for (Slot& s : g_slots)
    if (s.used.load()) unlink(s.path);
  signal(sig, SIG_DFL);
  raise(sig);
}

std::string errno_text(int err) { return std::strerror(err); }

}  // namespace

void install_cleanup_on_signals() {
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    struct sigaction sa {};
    sa.sa_handler = remove_temp_files_and_die;
    sigemptyset(&sa.sa_mask);
    sigaction(sig, &sa, nullptr);
  }
}

TempOutput::TempOutput(const std::string& target, bool overwrite) : target_(target) {
  struct stat st {};
  if (stat(target.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) throw CliError("cannot write '" + target + "': it is a directory");
    // Never rename over a device, a pipe or a socket (think of /dev/null).
    if (!S_ISREG(st.st_mode)) throw CliError("cannot write '" + target + "': it is not a regular file");
    if (!overwrite) throw CliError("'" + target + "' already exists (add -y to replace it)");
  }
  const size_t slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  const size_t dot = name.rfind('.');
  const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
  const std::string ext = dot == std::string::npos || dot == 0 ? "" : name.substr(dot);
  temp_ = dir + "." + stem + ".velbrin-tmp-" + std::to_string(getpid()) + ext;

  // Register before creating, so a signal in between cannot leave it behind.
  slot_ = register_path(temp_);
  const int fd = open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    const int err = errno;
    unregister_path(slot_);
    slot_ = -1;
    temp_.clear();
    throw CliError("cannot write '" + target + "': " + errno_text(err));
  }
  close(fd);
}

TempOutput::~TempOutput() {
  if (!committed_ && !temp_.empty()) unlink(temp_.c_str());
  unregister_path(slot_);
}

void TempOutput::commit() {
  if (rename(temp_.c_str(), target_.c_str()) != 0) {
    const int err = errno;
    throw CliError("cannot write '" + target_ + "': " + errno_text(err));
  }
  committed_ = true;
  unregister_path(slot_);
  slot_ = -1;
}
