// Opening the progress destination and writing its blocks.
#include "cli/run/progress_report.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "cli/cli_error.h"
#include "cli/files/overwrite_guard.h"

namespace {

constexpr auto kInterval = std::chrono::milliseconds(500);

}  // namespace

ProgressReport::ProgressReport(const std::string& path, bool overwrite)
    : path_(path), last_(std::chrono::steady_clock::now()) {
  if (path == "-") {
    fd_ = STDERR_FILENO;
    return;
  }
  auto fail = [&](int err) { return CliError("cannot write progress to '" + path + "': " + std::strerror(err)); };
  switch (check_replaceable(path, path, overwrite, "cannot write progress to")) {
    case Existing::kNothing:
      // A new file, made as every other file of velbrin: exclusively, never
      // through a link.
      fd_ = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
      break;
    case Existing::kFile:
      fd_ = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
      break;
    case Existing::kDevice:
      fd_ = open(path.c_str(), O_WRONLY | O_CLOEXEC);  // a pipe or a device: a reader waits there
      break;
  }
  if (fd_ < 0) throw fail(errno);
  owned_ = true;
}

ProgressReport::~ProgressReport() {
  end(frames_, fps_, out_time_us_);
  if (owned_) close(fd_);
}

void ProgressReport::update(int64_t frames, double fps, int64_t out_time_us) {
  frames_ = frames;
  fps_ = fps;
  out_time_us_ = out_time_us;
  const auto now = std::chrono::steady_clock::now();
  if (written_ && now - last_ < kInterval) return;
  last_ = now;
  write_block(frames, fps, out_time_us, false);
}

void ProgressReport::end(int64_t frames, double fps, int64_t out_time_us) {
  if (ended_) return;
  ended_ = true;
  write_block(frames, fps, out_time_us, true);
}

void ProgressReport::write_block(int64_t frames, double fps, int64_t out_time_us, bool last) {
  if (failed_) return;
  written_ = true;
  const int64_t us = out_time_us;
  const int64_t s = us / 1000000;
  char block[256];
  const int n = std::snprintf(block, sizeof block,
                              "frame=%" PRId64 "\nfps=%.2f\nout_time_us=%" PRId64 "\nout_time=%02" PRId64
                              ":%02" PRId64 ":%02" PRId64 ".%06" PRId64 "\nprogress=%s\n",
                              frames, fps, us, s / 3600, s / 60 % 60, s % 60, us % 1000000, last ? "end" : "continue");
  size_t done = 0;
  while (n > 0 && done < size_t(n)) {
    const ssize_t w = write(fd_, block + done, size_t(n) - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      // The reader went away or the disk is full: the run goes on without
      // progress reports, and says so once.
      failed_ = true;
      std::fprintf(stderr, "velbrin: warning: cannot write progress to '%s': %s; progress reports stopped\n",
                   path_.c_str(), std::strerror(w < 0 ? errno : EIO));
      return;
    }
    done += size_t(w);
  }
}
