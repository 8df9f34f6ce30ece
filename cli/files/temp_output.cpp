// Temporary output files and their removal on failure or on a signal.
#include "cli/files/temp_output.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "cli/cli_error.h"
#include "cli/files/leftovers.h"
#include "cli/files/file_identity.h"
#include "cli/files/overwrite_guard.h"
#include "cli/files/path_parts.h"
#include "cli/files/sequence_pattern.h"

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

// The longest name the folder takes (255 on the usual file systems).
size_t name_limit(const std::string& folder) {
  const long n = pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
  return n > 0 ? size_t(n) : 255;
}

// The process's umask, read without changing it (other threads may be
// creating files): from /proc, else by setting it back at once.
mode_t process_umask() {
  if (FILE* f = std::fopen("/proc/self/status", "re")) {
    char line[256];
    unsigned value = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, f)) found = std::sscanf(line, "Umask: %o", &value) == 1;
    std::fclose(f);
    if (found) return mode_t(value & 0777);
  }
  const mode_t m = umask(022);
  umask(m);
  return m;
}

std::string random_part() {
  static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::random_device device;
  std::string s;
  for (int k = 0; k < 6; ++k) s += kAlphabet[device() % (sizeof kAlphabet - 1)];
  return s;
}

// `text` cut to at most `room` bytes, not inside a UTF-8 character.
std::string shortened(const std::string& text, size_t room) {
  if (text.size() <= room) return text;
  size_t n = room;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return text.substr(0, n);
}

int create_exclusive(const std::string& name) {
  int fd;
  do fd = open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  while (fd < 0 && errno == EINTR);
  return fd;
}

// Creates `name` and holds it as live (see hold_as_live): its descriptor,
// or -1 with errno set. A new file that another run's sweep took in the
// moment before the lock counts as a name taken (EEXIST): try another.
int create_held(const std::string& name) {
  const int fd = create_exclusive(name);
  if (fd < 0 || hold_as_live(fd)) return fd;
  unlink(name.c_str());
  close(fd);
  errno = EEXIST;
  return -1;
}

// Makes a finished rename survive a crash: the folder's entry is written out.
void sync_folder(const std::string& folder) {
  const int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

int give_final_mode(int fd, mode_t mode) {
  if (fchmod(fd, mode) == 0) return 0;
  const int err = errno;
  return err == EPERM || err == ENOTSUP || err == EOPNOTSUPP || err == ENOSYS ? 0 : err;
}

void install_cleanup_on_signals() {
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    struct sigaction sa {};
    sa.sa_handler = remove_temp_files_and_die;
    sigemptyset(&sa.sa_mask);
    sigaction(sig, &sa, nullptr);
  }
}

void TempOutput::check_target(const std::string& name, const std::string& shown) const {
  // Never rename over a device, a pipe or a socket (think of /dev/null).
  if (check_replaceable(name, shown, overwrite_, "cannot write") == Existing::kDevice)
    throw CliError("cannot write '" + shown + "': it is not a regular file");
}

mode_t TempOutput::final_mode(const std::string& name) const {
  struct stat st {};
  if (lstat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return st.st_mode & 0777;
  return 0666 & ~process_umask();
}

std::string TempOutput::temp_name(int64_t number) const {
  char buf[PATH_MAX];
  if (!numbered_name(buf, sizeof buf, temp_.c_str(), number, 0, ""))
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
  const std::string pid = std::to_string(getpid());
  if (kind == Kind::kSequence) {
    folder_ = folder_part(target);
    const std::optional<SequencePattern> pattern = SequencePattern::parse(target);
    if (folder_.find('%') != std::string::npos || !pattern)
      throw usage_error("'" + target + "' is not an image sequence pattern such as frames/out%04d.png");
    target_prefix_ = pattern->prefix;
    width_ = pattern->width;
    suffix_ = pattern->suffix;
    check_target(target_name(1), target_name(1));
  } else {
    check_target(target, target);
    final_ = overwrite ? follow_links(target) : target;
    folder_ = folder_part(final_);
    if (overwrite) check_target(final_, target);
    mode_ = final_mode(final_);
  }
  leftovers_removed_ = remove_leftovers(folder_);

  // A random part makes the name unguessable; a name taken (by chance or
  // by a planted file or link) is simply passed over.
  const size_t limit = name_limit(folder_);
  int err = EEXIST;
  for (int attempt = 0; attempt < 100 && err == EEXIST; ++attempt) {
    const std::string base = std::string(kTempMarker) + host_tag() + "-" + pid + "-" + random_part() + "-";
    temp_ = folder_ + base;
    if (kind == Kind::kFile) {
      const size_t slash = final_.rfind('/');
      const std::string name = slash == std::string::npos ? final_ : final_.substr(slash + 1);
      temp_ += shortened(name, limit > base.size() ? limit - base.size() : 0);
    }
    const std::string first = kind == Kind::kFile ? temp_ : temp_name(1);
    // Register before creating, so a signal in between cannot leave it behind.
    slot_ = register_slot(temp_, "", 0, kind == Kind::kFile ? -1 : 1);
    // Held while this run lives, so that no other run takes it for a
    // leftover; a sequence's first picture is held through a descriptor of
    // its own, since the writer closes the one it is given.
    const int fd = create_held(first);
    err = fd < 0 ? errno : 0;
    if (fd < 0) {
      unregister_slot(slot_);
      slot_ = -1;
    } else if (kind == Kind::kFile) {
      fd_ = fd;
    } else {
      first_ = Picture{fd, final_mode(target_name(1))};
      pictures_ = 1;
      held_ = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    }
  }
  if (err != 0) {
    temp_.clear();
    throw CliError("cannot write '" + target + "': " + errno_text(err));
  }
}

TempOutput::~TempOutput() {
  if (fd_ >= 0) close(fd_);
  if (first_.fd >= 0) close(first_.fd);
  if (!committed_ && !temp_.empty()) {
    if (kind_ == Kind::kFile) {
      unlink(temp_.c_str());
    } else {
      // As the signal handler does: no allocation, nothing thrown (a
      // destructor that threw would end the process).
      char name[PATH_MAX];
      for (int64_t k = 1; k <= pictures_; ++k)
        if (numbered_name(name, sizeof name, temp_.c_str(), k, 0, "")) unlink(name);
    }
  }
  if (held_ >= 0) close(held_);
  unregister_slot(slot_);
}

void TempOutput::add_picture(int64_t number) {
  if (kind_ != Kind::kSequence) return;
  const std::string name = target_name(number);
  check_target(name, name);
}

TempOutput::Picture TempOutput::create_picture(int64_t number) {
  if (kind_ != Kind::kSequence || number < 1) return {-EINVAL, 0};
  if (number == 1 && first_.fd >= 0) {
    const Picture p = first_;
    first_.fd = -1;
    return p;
  }
  if (number != pictures_ + 1) return {-EINVAL, 0};
  // Counted before it exists, so the signal handler and the destructor
  // remove it whatever happens next.
  pictures_ = number;
  if (slot_ >= 0) g_slots[size_t(slot_)].pictures.store(number);
  const int fd = create_exclusive(temp_name(number));
  if (fd < 0) return {-errno, 0};
  return {fd, final_mode(target_name(number))};
}

void TempOutput::note_error(int err) {
  if (error_ == 0) error_ = err;
}

// Without -y, renameat2 with RENAME_NOREPLACE fails if the target appeared
// meanwhile; where the file system lacks it, link + unlink does the same.
void TempOutput::place(const std::string& from, const std::string& to, const std::string& shown,
                       const std::string& like) const {
  auto fail = [&](int err) {
    if (err == EEXIST)
      return CliError("'" + shown + "' already exists (it appeared while velbrin ran; add -y to replace it)");
    return CliError("cannot write '" + shown + "': " + errno_text(err));
  };
  if (overwrite_) {
    // A replaced file keeps its owner and group where this user may give
    // them (root may; others keep their own, as a new file would have).
    struct stat st {};
    if (lstat(like.c_str(), &st) == 0 && S_ISREG(st.st_mode) && lchown(from.c_str(), st.st_uid, st.st_gid) == 0)
      chmod(from.c_str(), st.st_mode & 0777);  // chown may clear the mode's bits
    if (rename(from.c_str(), to.c_str()) != 0) throw fail(errno);
    return;
  }
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) throw fail(errno);
  if (link(from.c_str(), to.c_str()) != 0) throw fail(errno);
  unlink(from.c_str());
}

std::string TempOutput::aside_name(int64_t number) const { return temp_ + "o" + std::to_string(number); }

// Undoes a sequence's commit that failed at picture `order[failed]`: the pictures
// placed go back to their temporary names (removed with the rest), and
// those renamed aside return to their names.
void TempOutput::put_back(const std::vector<int64_t>& order, size_t failed, const std::vector<bool>& aside) const {
  for (size_t i = failed + 1; i-- > 0;) {
    const int64_t j = order[i];
    const std::string target = target_name(j);
    if (i < failed) renameat2(AT_FDCWD, target.c_str(), AT_FDCWD, temp_name(j).c_str(), RENAME_NOREPLACE);
    if (aside[size_t(j)]) rename(aside_name(j).c_str(), target.c_str());
  }
}

void TempOutput::commit() {
  auto fail = [&](int err) { return CliError("cannot write '" + target_ + "': " + errno_text(err)); };
  if (error_ != 0) throw fail(error_);
  if (kind_ == Kind::kFile) {
    if (fsync(fd_) != 0 && errno != EINVAL) throw fail(errno);
    if (const int err = give_final_mode(fd_, mode_); err != 0) throw fail(err);
    // Closed only once renamed: the lock it holds keeps another run's
    // sweep from taking the file for a leftover up to the rename. Its data
    // is on disk already (fsync), so closing it cannot lose any.
    place(temp_, final_, target_, final_);
    close(fd_);
    fd_ = -1;
  } else {
    // Each picture again, in case one appeared meanwhile, then all of them,
    // all or nothing: a picture replaced (-y) is first renamed aside under
    // this run's temporary naming, and a failure at any picture (one that
    // appeared in between, a rename refused) puts back what was there. The
    // first picture, whose lock marks the run's files as live, goes last,
    // so that no sweep takes the others while they wait for their turn.
    for (int64_t k = 1; k <= pictures_; ++k) check_target(target_name(k), target_name(k));
    std::vector<int64_t> order;
    for (int64_t k = 2; k <= pictures_; ++k) order.push_back(k);
    order.push_back(1);
    std::vector<bool> aside(size_t(pictures_) + 1, false);
    for (size_t i = 0; i < order.size(); ++i) {
      const int64_t k = order[i];
      const std::string target = target_name(k);
      try {
        struct stat st {};
        if (overwrite_ && lstat(target.c_str(), &st) == 0) {
          if (rename(target.c_str(), aside_name(k).c_str()) != 0) throw fail(errno);
          aside[size_t(k)] = true;
        }
        place(temp_name(k), target, target, aside[size_t(k)] ? aside_name(k) : target);
      } catch (const CliError&) {
        put_back(order, i, aside);
        throw;
      }
    }
    for (int64_t k = 1; k <= pictures_; ++k)
      if (aside[size_t(k)]) unlink(aside_name(k).c_str());
  }
  sync_folder(folder_);
  committed_ = true;
  unregister_slot(slot_);
  slot_ = -1;
}
