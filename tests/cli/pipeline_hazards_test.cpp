// The pipeline under conditions a normal clip never makes: a decoder that
// keeps failing, threads the system refuses, and audio stored far from its
// video.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "cli/media/av_helpers.h"
#include "cli/media/decoder_drain.h"
#include "tests/cli/cli_test_support.h"

namespace velbrin_cli_test {
namespace {

TEST(DecoderDrain, StopsOnADecoderThatKeepsFailing) {
  constexpr int kFrame = 0, kBad = AVERROR_INVALIDDATA, kMore = AVERROR(EAGAIN);
  const struct {
    const char* name;
    std::vector<int> results;  // what receive() returns, in turn; then it keeps failing
    int frames_taken;
    int failures;
  } cases[] = {
      {"frames, then wants input", {kFrame, kFrame, kMore}, 2, 0},
      {"a failure between good frames", {kFrame, kBad, kFrame, kMore}, 2, 1},
      {"fails on every call", {}, 0, kDecoderFailuresInARow},
      {"good frames reset the count", {kBad, kBad, kFrame, kBad}, 1, 2 + kDecoderFailuresInARow},
      {"the end", {kFrame, AVERROR_EOF}, 1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    size_t next = 0;
    int taken = 0, calls = 0;
    const int failures = drain_decoder(
        [&] {
          ++calls;
          return next < c.results.size() ? c.results[next++] : kBad;
        },
        [&] { return ++taken > 100; });
    EXPECT_EQ(taken, c.frames_taken);
    EXPECT_EQ(failures, c.failures);
    EXPECT_LT(calls, 100);
  }
}

// Under a process limit the system refuses threads at every possible point
// (FFmpeg's decoder and encoder threads, the reader, the workers) as the
// limit grows. Each run ends with one line and exit 1, or succeeds; none
// ends by a signal, and none leaves a file behind. Root is exempt from the
// limit, so the runs drop to the nobody user; other users skip.
TEST(PipelineHazards, RefusedThreadsEndWithOneLine) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run velbrin as another user under a process limit";
  ScratchDir dir;
  chmod(dir.path().c_str(), 0777);
  make_noisy_clip(dir / "clip.mkv", 32, 24, 4, false);
  chmod((dir / "clip.mkv").c_str(), 0644);
  bool refused_a_pipeline_thread = false, succeeded = false;
  for (int limit = 1; limit <= 600 && !succeeded; ++limit) {
    SCOPED_TRACE("threads allowed: " + std::to_string(limit));
    const std::string n = std::to_string(limit);
    // x264 leaks what it had made when its own threads are refused; that is
    // not velbrin's to mend, so the sanitizer build does not count leaks here.
    const RunResult r = run_program({"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "prlimit",
                                     "--nproc=" + n + ":" + n, "env", "ASAN_OPTIONS=detect_leaks=0", velbrin_for_any_user(), "-q", "--threads", "2",
                                     "--crf", "20", dir / "clip.mkv", dir / "out.mp4"});
    ASSERT_EQ(r.signal, 0) << r.err;
    if (r.exit_code == 0) {
      succeeded = true;
      break;
    }
    EXPECT_EQ(r.exit_code, 1) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    refused_a_pipeline_thread = refused_a_pipeline_thread || r.err.find("cannot start a thread") != std::string::npos;
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"clip.mkv"});
  }
  EXPECT_TRUE(succeeded);
  EXPECT_TRUE(refused_a_pipeline_thread);
}

// Under an address-space limit (ulimit -v) a failure to get memory, a
// thread's stack included, is named as memory, never as a resource that is
// only "temporarily unavailable"; no run ends by a signal or leaves a file.
TEST(PipelineHazards, MemoryLimitsAreNamedAsMemory) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer's shadow memory does not fit under an address-space limit";
#endif
  ScratchDir dir;
  ffmpeg({"-f", "lavfi", "-i", "testsrc2=s=640x480", "-frames:v", "10", "-c:v", "libx264", dir / "clip.mp4"});
  bool named_memory = false;
  for (int mb = 150; mb <= 500; mb += 10) {
    SCOPED_TRACE("address space: " + std::to_string(mb) + " MB");
    const std::string kb = std::to_string(mb * 1024);
    // Below what the libraries need to load and start (glib, which FFmpeg
    // 7.1 brings along, aborts when its start-up allocation fails) velbrin's
    // own code never runs: such a limit says nothing of it.
    if (run_program({"sh", "-c", "ulimit -v " + kb + "; exec \"$0\" --version", VELBRIN_EXECUTABLE}).exit_code != 0)
      continue;
    const RunResult r = run_program({"sh", "-c", "ulimit -v " + kb + "; exec \"$0\" \"$@\"", VELBRIN_EXECUTABLE, "-q",
                                     "-y", "--threads", "4", dir / "clip.mp4", dir / "out.mkv"});
    ASSERT_EQ(r.signal, 0) << r.err;
    EXPECT_EQ(r.err.find("temporarily unavailable"), std::string::npos) << r.err;
    named_memory = named_memory || r.err.find("out of memory") != std::string::npos ||
                   r.err.find("Cannot allocate memory") != std::string::npos;
    unlink((dir / "out.mkv").c_str());
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"clip.mp4"});
  }
  EXPECT_TRUE(named_memory);
}

// Muxes a NUT file by hand, in an order no muxer would choose: three large
// video frames, then a minute of PCM audio (all of it for later times), then
// the rest of the video.
void write_audio_far_from_video(const std::string& path, int width, int height, int frames, int audio_seconds) {
  AVFormatContext* raw = nullptr;
  ASSERT_GE(avformat_alloc_output_context2(&raw, nullptr, "nut", path.c_str()), 0);
  OutputFormatPtr out(raw);
  AVStream* video = avformat_new_stream(out.get(), nullptr);
  AVStream* audio = avformat_new_stream(out.get(), nullptr);
  video->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
  video->codecpar->codec_id = AV_CODEC_ID_RAWVIDEO;
  video->codecpar->format = AV_PIX_FMT_BGR0;
  video->codecpar->width = width;
  video->codecpar->height = height;
  video->time_base = AVRational{1, 25};
  audio->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
  audio->codecpar->codec_id = AV_CODEC_ID_PCM_S16LE;
  audio->codecpar->sample_rate = 48000;
  av_channel_layout_default(&audio->codecpar->ch_layout, 2);
  audio->time_base = AVRational{1, 48000};
  ASSERT_GE(avio_open(&out->pb, path.c_str(), AVIO_FLAG_WRITE), 0);
  ASSERT_GE(avformat_write_header(out.get(), nullptr), 0);
  PacketPtr packet = make_packet();
  auto write_frame = [&](int k) {
    ASSERT_GE(av_new_packet(packet.get(), width * height * 4), 0);
    for (int i = 0; i < packet->size; ++i) packet->data[i] = uint8_t((i * 7 + k * 13) >> 3);
    packet->stream_index = video->index;
    packet->pts = packet->dts = av_rescale_q(k, AVRational{1, 25}, video->time_base);
    packet->duration = av_rescale_q(1, AVRational{1, 25}, video->time_base);
    packet->flags |= AV_PKT_FLAG_KEY;
    ASSERT_GE(av_write_frame(out.get(), packet.get()), 0);
    av_packet_unref(packet.get());
  };
  for (int k = 0; k < 3; ++k) write_frame(k);
  constexpr int kSamples = 1024;
  for (int64_t at = 0; at < int64_t(audio_seconds) * 48000; at += kSamples) {
    ASSERT_GE(av_new_packet(packet.get(), kSamples * 4), 0);
    std::memset(packet->data, int(at / kSamples) & 0x7F, size_t(packet->size));
    packet->stream_index = audio->index;
    packet->pts = packet->dts = at;
    packet->duration = kSamples;
    ASSERT_GE(av_write_frame(out.get(), packet.get()), 0);
    av_packet_unref(packet.get());
  }
  for (int k = 3; k < frames; ++k) write_frame(k);
  ASSERT_GE(av_write_trailer(out.get()), 0);
  avio_closep(&out->pb);
}

TEST(PipelineHazards, AudioFarFromItsVideoIsQueuedWithinBounds) {
  ScratchDir dir;
  write_audio_far_from_video(dir / "far.nut", 1280, 720, 8, 60);
  const RunResult r = run_velbrin({"--verbose", "--threads", "1", "--lossless", dir / "far.nut", dir / "out.mkv"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::string key = "audio waiting for its frames: at most ";
  const size_t at = r.err.find(key);
  ASSERT_NE(at, std::string::npos) << r.err;
  EXPECT_LE(std::stol(r.err.substr(at + key.size())), 8 * 1024 + 8) << "kB";
  // Nothing was dropped to stay within the bound: every audio packet is there.
  const auto packets = [](const std::string& file) {
    return run_program({"ffprobe", "-v", "error", "-select_streams", "a", "-count_packets", "-show_entries",
                        "stream=nb_read_packets", "-of", "csv=p=0", file})
        .out;
  };
  EXPECT_EQ(packets(dir / "out.mkv"), packets(dir / "far.nut"));
}

}  // namespace
}  // namespace velbrin_cli_test
