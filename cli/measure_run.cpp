// velbrin --measure (see measure_run.h).
#include "cli/measure_run.h"

#include <cstdio>
#include <memory>
#include <new>

#include "cli/cli_error.h"
#include "cli/files/standard_streams.h"
#include "cli/input/media_input.h"
#include "cli/media/decoder_drain.h"
#include "cli/media/host_frame.h"
#include "cli/run/auto_strength.h"

namespace {

// Whether frame `index` of `announced` is one of the kMeasuredFrames spread
// evenly over them: the middle of each of as many equal parts.
bool measured(int64_t index, int64_t announced) {
  if (announced <= kMeasuredFrames) return true;
  for (int64_t k = 0; k < kMeasuredFrames; ++k)
    if (index == (2 * k + 1) * announced / (2 * kMeasuredFrames)) return true;
  return false;
}

// Decodes the input from its start and measures the chosen frames, as
// --auto measures them in a run with the default output: converted into
// the host's layout the way that run converts them (exactly for a lossless
// input, whose output is lossless; velbrin's own integer conversion for a
// lossy one), since the filter, and so the measurement, sees those pixels.
struct Measured {
  StrengthSummary strength;
  int64_t frames = 0;  // frames decoded
};

Measured measure_input(const std::string& path) {
  MediaInput input(path);
  const int64_t announced = input.frames_announced();
  Measured m;
  ToHostConverter to_host(!input.is_lossless());
  std::unique_ptr<HostFrame> host;
  PacketPtr packet = make_packet();
  FramePtr frame = make_frame();
  AVCodecContext* dec = input.decoder();
  auto take = [&] {
    const int64_t index = m.frames++;
    // An input that announces nothing: its first frames, as many as would be measured.
    const bool wanted = announced > 0 ? measured(index, announced) : index < kMeasuredFrames;
    if (wanted) {
      if (!host || host->width() != frame->width || host->height() != frame->height) {
        host.reset();
        host = std::make_unique<HostFrame>(frame->width, frame->height);
      }
      to_host.convert(*frame, *host);
      m.strength.add(strength_of_frame(host->words(), frame->width, frame->height, ptrdiff_t{frame->width} * 4));
    }
    av_frame_unref(frame.get());
    const bool all_taken = announced > 0 ? m.strength.frames() >= std::min<int64_t>(announced, kMeasuredFrames)
                                         : m.strength.frames() >= kMeasuredFrames;
    return all_taken;
  };
  bool done = false;
  while (!done && av_read_frame(input.format(), packet.get()) >= 0) {
    if (packet->stream_index == input.video_index()) {
      if (avcodec_send_packet(dec, packet.get()) == AVERROR(ENOMEM)) throw std::bad_alloc();
      drain_decoder([&] { return avcodec_receive_frame(dec, frame.get()); }, [&] { return done = take(); });
    }
    av_packet_unref(packet.get());
  }
  if (!done) {
    avcodec_send_packet(dec, nullptr);
    drain_decoder([&] { return avcodec_receive_frame(dec, frame.get()); }, [&] { return done = take(); });
  }
  if (m.strength.frames() == 0) throw CliError("'" + path + "': no frame could be decoded");
  return m;
}

}  // namespace

int run_measure(const std::vector<std::string>& inputs, const LoadedFilterModule& module) {
  int status = 0;
  for (const std::string& path : inputs) {
    try {
      const Measured m = measure_input(path);
      const StrengthSettings fixed = m.strength.fixed_setting();
      const FilterInstance close(module, InstanceSettings{fixed.level, fixed.dynamic, false, false});
      char sigma[32];
      std::snprintf(sigma, sizeof sigma, "%.1f", m.strength.median_sigma_q8() / 256.0);
      const std::string line = path + ": noise \u03c3 " + sigma + " (" +
                               std::to_string(m.strength.frames()) + " frame" + (m.strength.frames() == 1 ? "" : "s") +
                               " measured: " + m.strength.measured_line() + "); fixed setting " + setting_options(fixed) +
                               ", script line " + close.script_line() + "\n";
      write_standard_output(line);
    } catch (const std::bad_alloc&) {
      std::fprintf(stderr, "velbrin: '%s': out of memory\n", path.c_str());
      status = kExitFailure;
    } catch (const std::exception& e) {
      const std::string what = e.what();
      std::fprintf(stderr, "velbrin: %s\n",
                   what.find("'" + path + "'") != std::string::npos ? what.c_str() : ("'" + path + "': " + what).c_str());
      status = kExitFailure;
    }
  }
  return status;
}
