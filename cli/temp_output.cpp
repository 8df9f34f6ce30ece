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

// Writes prefix, `number` in decimal with at least `width` digits (zero
// padded, as FFmpeg's "%04d" frame patterns), and suffix into `out`. Uses
// nothing but plain stores, so the signal handler may call it. Returns false
// when `out` is too small.
bool numbered_name(char* out, size_t capacity, const char* prefix, int64_t number, int width, const char* suffix) {
  char digits[24];
  int n = 0;
  uint64_t v = number < 0 ? 0 : uint64_t(number);
  do {
    digits[n++] = char('0' + v % 10);
    v /= 10;
  } while (v != 0 && n < 20);
  while (n < width && n < 20) digits[n++] = '0';
  size_t at = 0;
  for (const char* p = prefix; *p; ++p) {
    if (at + 1 >= capacity) return false;
    out[at++] = *p;
  }
  while (n > 0) {
    if (at + 1 >= capacity) return false;
    out[at++] = digits[--n];
  }
  for (const char* p = suffix; *p; ++p) {
    if (at + 1 >= capacity) return false;
    out[at++] = *p;
  }
  out[at] = '\0';
  return true;
}

// What the signal handler removes. Fixed storage, because a signal handler
// may only touch memory that needs no allocation and no lock.
constexpr int kSlots = 4;
struct Slot {
  std::atomic<bool> used{false};
  char path[PATH_MAX];       // the file, or a sequence's prefix
  char suffix[PATH_MAX];     // a sequence's suffix
  int width = 0;
  std::atomic<int64_t> pictures{-1};  // -1: a single file
};
std::array<Slot, kSlots> g_slots;

int register_slot(const std::string& path, const std::string& suffix, int width, int64_t pictures) {
  if (path.size() >= PATH_MAX || suffix.size() >= PATH_MAX) return -1;
  for (int k = 0; k < kSlots; ++k) {
    Slot& s = g_slots[size_t(k)];
    if (s.used.load()) continue;
    std::memcpy(s.path, path.c_str(), path.size() + 1);
    std::memcpy(s.suffix, suffix.c_str(), suffix.size() + 1);
    s.width = width;
    s.pictures.store(pictures);
    s.used.store(true);
    return k;
  }
  return -1;
}

void unregister_slot(int slot) {
  if (slot >= 0) g_slots[size_t(slot)].used.store(false);
}

extern "C" void remove_temp_files_and_die(int sig) {
  for (Slot& s : g_slots) {
    if (!s.used.load()) continue;
    const int64_t pictures = s.pictures.load();
    if (pictures < 0) {
      unlink(s.path);
      continue;
    }
    char name[PATH_MAX];
    for (int64_t k = 1; k <= pictures; ++k)
      if (numbered_name(name, sizeof name, s.path, k, s.width, s.suffix)) unlink(name);
  }
  signal(sig, SIG_DFL);
  raise(sig);
}

std::string errno_text(int err) { return std::strerror(err); }

// Splits a file name at its one frame number conversion ("%d", "%04d"; "%%"
// stands for "%"), as FFmpeg reads image sequence patterns. False if the
// name has no such conversion, or more than one.
bool split_pattern(const std::string& name, std::string& prefix, int& width, std::string& suffix) {
  std::string parts[2];
  int conversions = 0;
  width = 0;
  for (size_t k = 0; k < name.size(); ++k) {
    if (name[k] != '%') {
      parts[conversions > 0 ? 1 : 0] += name[k];
      continue;
    }
    if (k + 1 < name.size() && name[k + 1] == '%') {
      parts[conversions > 0 ? 1 : 0] += '%';
      ++k;
      continue;
    }
    size_t j = k + 1;
    int digits = 0;
    while (j < name.size() && name[j] >= '0' && name[j] <= '9' && j - k <= 2) digits = digits * 10 + (name[j++] - '0');
    if (j >= name.size() || name[j] != 'd' || ++conversions > 1 || digits > 20) return false;
    width = digits;
    k = j;
  }
  if (conversions != 1) return false;
  prefix = parts[0];
  suffix = parts[1];
  return true;
}

// Escapes '%' for a name that FFmpeg reads as a pattern.
std::string escaped(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '%') out += '%';
    out += c;
  }
  return out;
}

}  // namespace

void install_cleanup_on_signals() {
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    struct sigaction sa {};
    sa.sa_handler = remove_temp_files_and_die;
    sigemptyset(&sa.sa_mask);
    sigaction(sig, &sa, nullptr);
  }
}

void TempOutput::check_target(const std::string& name) const {
  struct stat st {};
  if (stat(name.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) throw CliError("cannot write '" + name + "': it is a directory");
  // Never rename over a device, a pipe or a socket (think of /dev/null).
  if (!S_ISREG(st.st_mode)) throw CliError("cannot write '" + name + "': it is not a regular file");
  if (!overwrite_) throw CliError("'" + name + "' already exists (add -y to replace it)");
}

std::string TempOutput::temp_name(int64_t number) const {
  char buf[PATH_MAX];
  if (!numbered_name(buf, sizeof buf, temp_prefix_.c_str(), number, width_, suffix_.c_str()))
    throw CliError("cannot write '" + target_ + "': the name is too long");
  return buf;
}

std::string TempOutput::target_name(int64_t number) const {
  char buf[PATH_MAX];
  if (!numbered_name(buf, sizeof buf, target_prefix_.c_str(), number, width_, suffix_.c_str()))
    throw CliError("cannot write '" + target_ + "': the name is too long");
  return buf;
}

TempOutput::TempOutput(const std::string& target, bool overwrite, Kind kind)
    : target_(target), overwrite_(overwrite), kind_(kind) {
  const size_t slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  const std::string pid = std::to_string(getpid());

  std::string first;  // the file created now, to find out at once whether writing works
  if (kind == Kind::kSequence) {
    std::string prefix;
    if (dir.find('%') != std::string::npos || !split_pattern(name, prefix, width_, suffix_))
      throw usage_error("'" + target + "' is not an image sequence pattern such as frames/out%04d.png");
    target_prefix_ = dir + prefix;
    temp_prefix_ = dir + ".velbrin-tmp-" + pid + "-" + prefix;
    temp_ = escaped(temp_prefix_) + "%0" + std::to_string(width_) + "d" + escaped(suffix_);
    check_target(target_name(1));
    first = temp_name(1);
    pictures_ = 1;
    // Register before creating, so a signal in between cannot leave it behind.
    slot_ = register_slot(temp_prefix_, suffix_, width_, 1);
  } else {
    check_target(target);
    const size_t dot = name.rfind('.');
    const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    const std::string ext = dot == std::string::npos || dot == 0 ? "" : name.substr(dot);
    temp_ = dir + "." + stem + ".velbrin-tmp-" + pid + ext;
    first = temp_;
    slot_ = register_slot(temp_, "", 0, -1);
  }
  const int fd = open(first.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    const int err = errno;
    unregister_slot(slot_);
    slot_ = -1;
    pictures_ = 0;
    temp_.clear();
    throw CliError("cannot write '" + target + "': " + errno_text(err));
  }
  close(fd);
}

TempOutput::~TempOutput() {
  if (!committed_ && !temp_.empty()) {
    if (kind_ == Kind::kFile) {
      unlink(temp_.c_str());
    } else {
      for (int64_t k = 1; k <= pictures_; ++k) unlink(temp_name(k).c_str());
    }
  }
  unregister_slot(slot_);
}

void TempOutput::add_picture(int64_t number) {
  if (kind_ != Kind::kSequence || number <= pictures_) return;
  check_target(target_name(number));
  pictures_ = number;
  if (slot_ >= 0) g_slots[size_t(slot_)].pictures.store(number);
}

void TempOutput::commit() {
  auto fail = [&](const std::string& name) {
    const int err = errno;
    return CliError("cannot write '" + name + "': " + errno_text(err));
  };
  if (kind_ == Kind::kFile) {
    if (rename(temp_.c_str(), target_.c_str()) != 0) throw fail(target_);
  } else {
    // Each picture again, in case one appeared meanwhile, then all of them.
    for (int64_t k = 1; k <= pictures_; ++k) check_target(target_name(k));
    for (int64_t k = 1; k <= pictures_; ++k)
      if (rename(temp_name(k).c_str(), target_name(k).c_str()) != 0) throw fail(target_name(k));
  }
  committed_ = true;
  unregister_slot(slot_);
  slot_ = -1;
}
