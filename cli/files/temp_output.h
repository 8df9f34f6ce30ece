// Output files are written under a temporary name beside the target and
// renamed over it only when complete, so a failure or a Ctrl-C never leaves
// a half-written target. Temporary files still present when a terminating
// signal arrives are removed by the signal handler.
//
// Every temporary file is created here, once, with O_CREAT|O_EXCL|O_NOFOLLOW
// and mode 0600, under a name with a random part, and written only through
// that descriptor: a link planted in a shared folder is never followed and a
// file of someone else is never opened. Its final mode (the replaced file's,
// or 0666 after the umask) is set just before the rename. Without -y the
// rename never replaces a file that appeared meanwhile.
//
// An image sequence (a target such as "frames/out%04d.png", numbered from 1
// as FFmpeg numbers it) is written the same way, picture by picture, and
// every picture is renamed at the end, all or nothing: with -y the pictures
// it replaces are first renamed aside (".velbrin-tmp-...-oN") and removed
// only once all are in place; a failure puts every old picture back. (A run
// killed by SIGKILL in the middle of that leaves the renamed-aside pictures,
// which a later run removes as leftovers.)
//
// Names: ".velbrin-tmp-HOST-PID-RANDOM-NAME" (NAME shortened to the
// folder's name limit) for a file, ".velbrin-tmp-HOST-PID-RANDOM-N" for
// picture N of a sequence. A run holds a lock on its temporary file while
// it lives; a later run on the same host removes those no process holds (a
// run killed with SIGKILL cannot clean up; see leftovers.h).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

class TempOutput {
 public:
  enum class Kind { kFile, kSequence };

  // Checks the target (a directory or another non-regular file, or an
  // existing file without `overwrite`, is an error), removes leftovers of
  // stopped runs in its folder, and creates the temporary file (for a
  // sequence, that of its first picture). A file target that is a symbolic
  // link is written where the link points, in that file's folder. Throws
  // CliError.
  TempOutput(const std::string& target, bool overwrite, Kind kind = Kind::kFile);
  // Removes the temporary file(s) unless committed.
  ~TempOutput();
  TempOutput(const TempOutput&) = delete;
  TempOutput& operator=(const TempOutput&) = delete;

  const std::string& target() const { return target_; }
  // Temporary files of stopped runs that the constructor removed from the
  // folder, and the folder, for a note to the user.
  int leftovers_removed() const { return leftovers_removed_; }
  std::string folder() const { return folder_.empty() ? "." : folder_; }
  Kind kind() const { return kind_; }

  // A file: the temporary file's descriptor (owned here, open until commit).
  int descriptor() const { return fd_; }

  // Sequence: picture `number` (from 1) is about to be written; checks its
  // target like the constructor does. Throws CliError.
  void add_picture(int64_t number);

  // Sequence: creates picture `number`'s temporary file and returns its
  // descriptor and final mode, for the caller to write and close;
  // -errno on failure. Pictures are created in order from 1.
  struct Picture {
    int fd;
    mode_t mode;
  };
  Picture create_picture(int64_t number);

  // A writer that failed to write (errno): commit then fails with it.
  void note_error(int err);

  // Gives the file its final mode, renames the temporary file(s) over the
  // target(s) and makes the rename durable. Throws CliError.
  void commit();

 private:
  std::string temp_name(int64_t number) const;
  std::string target_name(int64_t number) const;
  void check_target(const std::string& name, const std::string& shown) const;
  mode_t final_mode(const std::string& name) const;
  // `like`: the file whose owner a replacement keeps.
  void place(const std::string& from, const std::string& to, const std::string& shown, const std::string& like) const;
  std::string aside_name(int64_t number) const;
  void put_back(const std::vector<int64_t>& order, size_t failed, const std::vector<bool>& aside) const;

  std::string target_;   // as given
  std::string final_;    // a file: where it goes (the link's target for a link)
  std::string folder_;   // where the temporary files are ("" = current folder)
  std::string temp_;     // a file: the temporary file; a sequence: the names' prefix
  bool overwrite_;
  Kind kind_;
  int fd_ = -1;
  mode_t mode_ = 0600;
  int error_ = 0;
  // A sequence's target names: prefix, number with at least `width_` digits, suffix.
  std::string target_prefix_, suffix_;
  int width_ = 0;
  int64_t pictures_ = 0;   // temporary pictures that may exist
  Picture first_{-1, 0600};  // picture 1, created by the constructor
  int held_ = -1;            // a sequence: picture 1's open file, held as live
  int slot_ = -1;
  bool committed_ = false;
  int leftovers_removed_ = 0;
};

// Gives a finished file its final mode: 0, or the errno of a failure. A
// file system that keeps no permissions (FAT, some FUSE and network
// mounts) refuses any change with EPERM, ENOTSUP or ENOSYS; the file then
// has the mode that file system gives every file, and is written all the
// same. Every file velbrin writes gets its mode here.
int give_final_mode(int fd, mode_t mode);

// SIGINT, SIGTERM, SIGHUP and SIGQUIT remove the registered temporary
// files and then end the process as the signal would have.
void install_cleanup_on_signals();
