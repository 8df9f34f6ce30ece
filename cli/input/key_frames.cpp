// Counting the frames a full decode outputs, and their key-frame flags.
#include "cli/input/key_frames.h"

#include <new>

#include "cli/input/media_input.h"
#include "cli/media/decoder_drain.h"

std::vector<bool> key_frames_by_clock(MediaInput& input) {
  AVFormatContext* format = input.format();
  for (unsigned k = 0; k < format->nb_streams; ++k)
    if (int(k) != input.video_index()) format->streams[k]->discard = AVDISCARD_ALL;
  AVCodecContext* dec = input.decoder();
  std::vector<bool> key;
  PacketPtr packet = make_packet();
  FramePtr frame = make_frame();
  auto take = [&] {
    drain_decoder([&] { return avcodec_receive_frame(dec, frame.get()); },
                  [&] {
                    key.push_back(frame_is_key(*frame));
                    av_frame_unref(frame.get());
                    return false;
                  });
  };
  while (av_read_frame(format, packet.get()) >= 0) {
    if (packet->stream_index == input.video_index()) {
      if (avcodec_send_packet(dec, packet.get()) == AVERROR(ENOMEM)) throw std::bad_alloc();
      take();  // as a run does, whether or not the packet was taken
    }
    av_packet_unref(packet.get());
  }
  avcodec_send_packet(dec, nullptr);
  take();
  return key;
}
