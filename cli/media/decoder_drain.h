// Taking the frames a decoder has ready, without ever spinning on one that
// keeps failing.
#pragma once

#include <new>

extern "C" {
#include <libavutil/error.h>
}

// A decoder that fails on one frame may have good ones behind it, so a
// failure is counted and the next frame asked for. A decoder that fails on
// every call would be asked forever, so after this many failures in a row
// the drain stops; the next packet (or the end) asks again.
constexpr int kDecoderFailuresInARow = 16;

// Calls receive() (avcodec_receive_frame's result) until the decoder wants
// more input or has ended, and take() for each frame it gives; take()
// returns true when no more frames are wanted. Returns the failures, which
// the caller counts as damage. ENOMEM is thrown as std::bad_alloc.
template <typename Receive, typename Take>
int drain_decoder(Receive receive, Take take) {
  int failures = 0;
  for (int in_a_row = 0; in_a_row < kDecoderFailuresInARow;) {
    const int err = receive();
    if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) break;
    if (err == AVERROR(ENOMEM)) throw std::bad_alloc();
    if (err < 0) {
      ++failures;
      ++in_a_row;
      continue;
    }
    in_a_row = 0;
    if (take()) break;
  }
  return failures;
}
