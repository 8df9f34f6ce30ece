// Owning pointers for FFmpeg's objects and the text of its error codes, so
// that every path out of a function, thrown or not, frees what it made.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <memory>
#include <optional>
#include <string>

#include "cli/media/ffmpeg_compat.h"

struct AvFrameFree {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct AvPacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct AvCodecContextFree {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct SwsContextFree {
  void operator()(SwsContext* s) const { sws_freeContext(s); }
};

struct InputFormatClose {
  void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};
// An output context, with its file closed if the muxer did not do that
// itself (an I/O context of the caller's own is the caller's to free).
struct OutputFormatClose {
  void operator()(AVFormatContext* f) const {
    if (!(f->oformat->flags & AVFMT_NOFILE) && !(f->flags & AVFMT_FLAG_CUSTOM_IO) && f->pb != nullptr)
      avio_closep(&f->pb);
    avformat_free_context(f);
  }
};

using FramePtr = std::unique_ptr<AVFrame, AvFrameFree>;
using PacketPtr = std::unique_ptr<AVPacket, AvPacketFree>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, AvCodecContextFree>;
using SwsPtr = std::unique_ptr<SwsContext, SwsContextFree>;
using InputFormatPtr = std::unique_ptr<AVFormatContext, InputFormatClose>;
using OutputFormatPtr = std::unique_ptr<AVFormatContext, OutputFormatClose>;

// Allocations that fail throw std::bad_alloc, which main() reports.
FramePtr make_frame();
PacketPtr make_packet();

std::string av_error_text(int err);

// Uncompressed PCM audio, of any sample format.
bool is_pcm(AVCodecID id);
// The muxers of QuickTime and MP4 files (.mov, .mp4, .m4v, .3gp, ...): they
// store each frame's time and the display rotation.
bool is_mp4_family(const AVOutputFormat* container);

// 1: the container holds the codec; 0: it does not; negative: it cannot tell.
int container_holds(const AVOutputFormat* container, AVCodecID id);

struct CodecParametersFree {
  void operator()(AVCodecParameters* p) const { avcodec_parameters_free(&p); }
};
using CodecParametersPtr = std::unique_ptr<AVCodecParameters, CodecParametersFree>;

// Why the muxer would not take a stream like `stream`: where the container
// cannot say beforehand, a header with it is written into memory, as the
// run would write it into the file, and the refusal returned (FFmpeg's
// reason when it logs one, else its error); none when it takes it. A
// container that writes files of its own (a sequence) is asked only what
// it holds ("" when not).
std::optional<std::string> muxer_refusal(const AVOutputFormat* container, const AVCodecParameters& stream);
