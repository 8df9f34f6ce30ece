// Connects a muxer to velbrin's temporary files, so that FFmpeg writes
// only through descriptors velbrin created itself and never opens an output
// path. A single file goes through one seekable I/O context on the
// temporary file's descriptor (Matroska and MP4 seek back to write their
// indexes); muxers that open their own files (an image sequence, one
// picture) get them through the muxer's io_open and io_close2 callbacks,
// which hand out the temporary files' descriptors. Standard output gets an
// I/O context that cannot seek, so the muxer writes it front to back.
#pragma once

#include <string>

#include "cli/media/av_helpers.h"

class TempOutput;

class MuxerOutput {
 public:
  // Attaches `file` to `muxer` (which must outlive this object).
  MuxerOutput(AVFormatContext* muxer, TempOutput& file);
  // Attaches the stream descriptor `fd` (standard output), which is not
  // closed here. Its first write error is kept: see stream_error().
  MuxerOutput(AVFormatContext* muxer, int fd);
  // Frees what the muxer still holds (on failure paths); errors are dropped.
  ~MuxerOutput();
  MuxerOutput(const MuxerOutput&) = delete;
  MuxerOutput& operator=(const MuxerOutput&) = delete;

  // After the trailer: flushes and frees the muxer's I/O. Write errors are
  // kept in the TempOutput, whose commit reports them.
  void close();

  // The stream's first write error (errno), or 0.
  int stream_error() const { return stream_error_; }

 private:
  static int open_callback(AVFormatContext* s, AVIOContext** pb, const char* url, int flags, AVDictionary** options);
  static int close_callback(AVFormatContext* s, AVIOContext* pb);

  AVFormatContext* muxer_;
  TempOutput* file_;  // null for a stream
  bool file_handed_out_ = false;
  int64_t pictures_ = 0;
  int stream_error_ = 0;
};
