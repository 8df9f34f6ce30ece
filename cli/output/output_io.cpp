// I/O contexts on descriptors velbrin owns, and the muxer callbacks that
// hand them out.
#include "cli/output/output_io.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <new>

#include "cli/cli_error.h"
#include "cli/files/temp_output.h"

namespace {

constexpr int kBufferSize = 1 << 16;

// One descriptor being written. A picture's descriptor is owned (closed,
// with its final mode, when the muxer is done with it); a single file's
// belongs to TempOutput, which closes it at the commit; standard output's
// is never closed here, and its first error goes to `stream_error`.
struct Sink {
  int fd;
  bool owned;
  mode_t mode;
  TempOutput* file;
  int* stream_error = nullptr;
};

void keep_error(Sink* sink, int err) {
  if (sink->file != nullptr) sink->file->note_error(err);
  if (sink->stream_error != nullptr && *sink->stream_error == 0) *sink->stream_error = err;
}

int write_all(void* opaque, AvioWriteData buf, int size) {
  Sink* sink = static_cast<Sink*>(opaque);
  int done = 0;
  while (done < size) {
    const ssize_t n = write(sink->fd, buf + done, size_t(size - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int err = n < 0 ? errno : EIO;
      keep_error(sink, err);
      return AVERROR(err);
    }
    done += int(n);
  }
  return size;
}

int64_t seek_to(void* opaque, int64_t offset, int whence) {
  Sink* sink = static_cast<Sink*>(opaque);
  if (whence & AVSEEK_SIZE) {
    struct stat st {};
    return fstat(sink->fd, &st) == 0 ? int64_t(st.st_size) : AVERROR(errno);
  }
  const off_t at = lseek(sink->fd, off_t(offset), whence & ~AVSEEK_FORCE);
  return at < 0 ? AVERROR(errno) : int64_t(at);
}

AVIOContext* context_on(Sink* sink, bool seekable = true) {
  uint8_t* buffer = static_cast<uint8_t*>(av_malloc(kBufferSize));
  if (buffer == nullptr) return nullptr;
  AVIOContext* pb = avio_alloc_context(buffer, kBufferSize, 1, sink, nullptr, write_all, seekable ? seek_to : nullptr);
  if (pb == nullptr) av_free(buffer);
  return pb;
}

// Flushes and frees a context made by context_on, closing an owned
// descriptor with its final mode. Returns 0 or an AVERROR.
int free_context(AVIOContext* pb) {
  if (pb == nullptr) return 0;
  Sink* sink = static_cast<Sink*>(pb->opaque);
  avio_flush(pb);
  int err = pb->error;
  if (sink->owned) {
    int sys = 0;
    if (fsync(sink->fd) != 0 && errno != EINVAL) sys = errno;
    if (const int mode_err = give_final_mode(sink->fd, sink->mode); mode_err != 0 && sys == 0) sys = mode_err;
    if (::close(sink->fd) != 0 && sys == 0) sys = errno;
    if (sys != 0) {
      keep_error(sink, sys);
      if (err == 0) err = AVERROR(sys);
    }
  }
  if (err < 0) keep_error(sink, err == AVERROR(ENOSPC) ? ENOSPC : err == AVERROR(EPIPE) ? EPIPE : EIO);  // the first is kept
  delete sink;
  av_freep(&pb->buffer);
  avio_context_free(&pb);
  return err;
}

}  // namespace

MuxerOutput::MuxerOutput(AVFormatContext* muxer, int fd) : muxer_(muxer), file_(nullptr) {
  muxer_->opaque = this;
  muxer_->io_open = open_callback;  // refuses: a stream format opens no files
  muxer_->io_close2 = close_callback;
  auto sink = std::make_unique<Sink>(Sink{fd, false, 0, nullptr, &stream_error_});
  muxer_->pb = context_on(sink.get(), false);
  if (muxer_->pb == nullptr) throw std::bad_alloc();
  sink.release();  // the context owns it now (free_context)
  muxer_->flags |= AVFMT_FLAG_CUSTOM_IO;
  file_handed_out_ = true;
}

MuxerOutput::MuxerOutput(AVFormatContext* muxer, TempOutput& file) : muxer_(muxer), file_(&file) {
  muxer_->opaque = this;
  muxer_->io_open = open_callback;
  muxer_->io_close2 = close_callback;
  if (muxer_->oformat->flags & AVFMT_NOFILE) return;
  // The muxer writes one stream: give it the temporary file's descriptor.
  auto sink = std::make_unique<Sink>(Sink{file_->descriptor(), false, 0, file_});
  muxer_->pb = context_on(sink.get());
  if (muxer_->pb == nullptr) throw std::bad_alloc();
  sink.release();  // the context owns it now (free_context)
  muxer_->flags |= AVFMT_FLAG_CUSTOM_IO;
  file_handed_out_ = true;
}

MuxerOutput::~MuxerOutput() {
  if (muxer_->flags & AVFMT_FLAG_CUSTOM_IO) {
    free_context(muxer_->pb);
    muxer_->pb = nullptr;
  }
}

void MuxerOutput::close() {
  if (!(muxer_->flags & AVFMT_FLAG_CUSTOM_IO)) return;
  free_context(muxer_->pb);
  muxer_->pb = nullptr;
  muxer_->flags &= ~AVFMT_FLAG_CUSTOM_IO;
}

int MuxerOutput::open_callback(AVFormatContext* s, AVIOContext** pb, const char*, int flags, AVDictionary**) {
  MuxerOutput* self = static_cast<MuxerOutput*>(s->opaque);
  *pb = nullptr;
  // Nothing but velbrin's own new files is written, and nothing is read back.
  if ((flags & AVIO_FLAG_READ) || !(flags & AVIO_FLAG_WRITE)) return AVERROR(EPERM);
  Sink* sink = nullptr;
  if (self->file_ == nullptr) return AVERROR(EPERM);
  if (self->file_->kind() == TempOutput::Kind::kFile) {
    if (self->file_handed_out_) return AVERROR(EPERM);
    self->file_handed_out_ = true;
    sink = new Sink{self->file_->descriptor(), false, 0, self->file_};
  } else {
    const TempOutput::Picture p = self->file_->create_picture(++self->pictures_);
    if (p.fd < 0) {
      self->file_->note_error(-p.fd);
      return AVERROR(-p.fd);
    }
    sink = new Sink{p.fd, true, p.mode, self->file_};
  }
  *pb = context_on(sink);
  if (*pb == nullptr) {
    if (sink->owned) ::close(sink->fd);
    delete sink;
    return AVERROR(ENOMEM);
  }
  return 0;
}

int MuxerOutput::close_callback(AVFormatContext*, AVIOContext* pb) { return free_context(pb); }
