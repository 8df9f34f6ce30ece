// How many frames velbrin keeps in memory at once. Each filter worker owns
// two host frames (the converted input and the filtered result); each frame
// in flight holds a decoded picture and, once filtered, the picture for the
// encoder. Both counts are limited by the thread count and by a memory
// budget, so a large picture gets fewer workers and fewer frames in flight,
// and a picture too large for even one is refused before it is decoded.
#pragma once

#include <cstdint>
#include <string>

extern "C" {
#include <libavutil/pixfmt.h>
}

// The memory velbrin allows itself for frames: 2 GiB.
constexpr int64_t kFrameMemoryBudget = int64_t(2) << 30;

struct FramePlan {
  int workers = 1;          // filter instances side by side
  int64_t in_flight = 1;    // frames between the decoder and the encoder
  int64_t peak_bytes = 0;   // frame memory at most, by this plan
};

// Bytes of one picture of this size and pixel format (at least 1 byte a pixel).
int64_t picture_bytes(int width, int height, AVPixelFormat format);

// Throws CliError naming `input`, its size and what it would take when even
// one worker with one frame in flight does not fit `budget`. Besides the
// frames velbrin holds, the decoder and the encoder each keep a picture of
// their own, counted here too.
FramePlan plan_frames(const std::string& input, int width, int height, AVPixelFormat decoded, AVPixelFormat encoded,
                      int threads, int64_t budget = kFrameMemoryBudget);
