// velbrin's output frames against the reference: the plain kernel applied to
// the decoded input laid out as the host lays it out, for videos and
// pictures, for several settings, thread counts and frame ranges.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <memory>

#include "tests/cli/cli_test_support.h"

namespace velbrin_cli_test {
namespace {

constexpr int kW = 64, kH = 48, kFrames = 8;

class FilterResults : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new ScratchDir();
    make_noisy_clip(*dir_ / "clip.mkv", kW, kH, kFrames, true);
    input_ = new std::vector<Picture>(decode_frames(*dir_ / "clip.mkv", kW, kH));
  }
  static void TearDownTestSuite() {
    delete input_;
    delete dir_;
  }
  static ScratchDir* dir_;
  static std::vector<Picture>* input_;
};
ScratchDir* FilterResults::dir_ = nullptr;
std::vector<Picture>* FilterResults::input_ = nullptr;

TEST_F(FilterResults, LosslessVideoEqualsTheReference) {
  ASSERT_EQ(input_->size(), size_t(kFrames));
  struct Case {
    const char* name;
    std::vector<std::string> options;
    FilterSettings settings;
  };
  const Case cases[] = {
      {"defaults", {}, settings_of(100, 5)},
      {"level 400 dynamic 10", {"--level", "400", "--dynamic", "10"}, settings_of(400, 10)},
      {"level 37 dynamic 0", {"--level", "37", "--dynamic", "0"}, settings_of(37, 0)},
      {"dynamic 12 past the dialog", {"--config", "Config(20, 12)"}, settings_of(20, 12)},
      {"level -5 past the dialog", {"--config", "Config(-5, 3)"}, settings_of(-5, 3)},
      {"show noise", {"--show-noise", "--level", "150"}, settings_of(150, 5, true)},
      {"disable wins over show noise", {"--show-noise", "--disable"}, settings_of(100, 5, true, true)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string out = *dir_ / "out.mkv";
    std::vector<std::string> args = c.options;
    args.insert(args.end(), {"-q", "-y", *dir_ / "clip.mkv", out});
    const RunResult r = run_velbrin(args);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(first_difference(reference_filter_each(*input_, c.settings), decode_frames(out, kW, kH)), "");
  }
  // Every video container gets a lossless codec that keeps the pixels exactly.
  for (const char* name : {"out.mp4", "out.avi", "out.webm"}) {
    SCOPED_TRACE(name);
    const RunResult r = run_velbrin({"-q", "-y", *dir_ / "clip.mkv", *dir_ / name});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(first_difference(reference_filter_each(*input_, settings_of(100, 5)), decode_frames(*dir_ / name, kW, kH)), "");
  }
}

TEST_F(FilterResults, ConfigLineAndOptionsAgree) {
  struct Case {
    std::vector<std::string> options;
    std::string config;
    std::string caption;
  };
  const Case cases[] = {
      {{"--level", "200", "--dynamic", "3"}, "Config(200, 3)", "Velbrin ( 200, 3 )"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.config);
    std::vector<std::string> by_options = c.options;
    by_options.insert(by_options.end(), {"-y", *dir_ / "clip.mkv", *dir_ / "a.mkv"});
    const RunResult a = run_velbrin(by_options);
    const RunResult b = run_velbrin({"--config", c.config, "-y", *dir_ / "clip.mkv", *dir_ / "b.mkv"});
    ASSERT_EQ(a.exit_code, 0) << a.err;
    ASSERT_EQ(b.exit_code, 0) << b.err;
    // Both end their closing lines on standard error with the caption and
    // the script line as the host shows them; standard output stays free.
    const std::string tail = c.caption + "\n" + c.config + "\n";
    EXPECT_EQ(a.out, "");
    EXPECT_EQ(b.out, "");
    EXPECT_TRUE(a.err.size() >= tail.size() && a.err.compare(a.err.size() - tail.size(), tail.size(), tail) == 0) << a.err;
    EXPECT_TRUE(b.err.size() >= tail.size() && b.err.compare(b.err.size() - tail.size(), tail.size(), tail) == 0) << b.err;
    EXPECT_EQ(first_difference(decode_frames(*dir_ / "a.mkv", kW, kH), decode_frames(*dir_ / "b.mkv", kW, kH)), "");
  }
  // Later options override earlier ones, field by field.
  const RunResult r = run_velbrin({"--config", "Config(300, 2)", "--level", "7", "-y", *dir_ / "clip.mkv", *dir_ / "c.mkv"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.err.find("\nVelbrin ( 7, 2 )\nConfig(7, 2)\n"), std::string::npos) << r.err;
}

TEST_F(FilterResults, FrameRangeKeepsTheChosenFrames) {
  const RunResult r = run_velbrin({"-q", "-y", "--frames", "2-5", *dir_ / "clip.mkv", *dir_ / "part.mkv"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::vector<Picture> chosen(input_->begin() + 2, input_->begin() + 6);
  EXPECT_EQ(first_difference(reference_filter_each(chosen, settings_of(100, 5)), decode_frames(*dir_ / "part.mkv", kW, kH)), "");
  // A range past the end writes what there is, and says it was cut short.
  const RunResult tail = run_velbrin({"-y", "--frames", "5-12", *dir_ / "clip.mkv", *dir_ / "tail.mkv"});
  ASSERT_EQ(tail.exit_code, 0) << tail.err;
  EXPECT_NE(tail.err.find("velbrin: note: --frames 5-12: the input ends at frame 7; wrote 3 frames\n"), std::string::npos)
      << tail.err;
  const std::vector<Picture> last(input_->begin() + 5, input_->end());
  EXPECT_EQ(first_difference(reference_filter_each(last, settings_of(100, 5)), decode_frames(*dir_ / "tail.mkv", kW, kH)), "");
  const RunResult one = run_velbrin({"-q", "-y", "--frames", "6", *dir_ / "clip.mkv", *dir_ / "six.png"});
  ASSERT_EQ(one.exit_code, 0) << one.err;
  EXPECT_EQ(first_difference(reference_filter_each({(*input_)[6]}, settings_of(100, 5)), decode_frames(*dir_ / "six.png", kW, kH)),
            "");
}

// The input's timecode goes along; a range's is the input's at its first
// frame (drop-frame counting kept), whichever container stores it.
TEST_F(FilterResults, ARangesTimecodeIsItsFirstFrames) {
  ScratchDir dir;
  ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=64x48:rate=25", "-t", "3", "-c:v", "ffv1", "-timecode", "01:00:00:00",
          dir / "pal.mov"});
  ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=64x48:rate=30000/1001", "-t", "3", "-c:v", "ffv1", "-timecode",
          "00:59:59;28", dir / "ntsc.mov"});
  const struct {
    const char* input;
    std::vector<std::string> range;
    const char* output;
    const char* timecode;  // as ffprobe reads the output's video stream
  } cases[] = {
      {"pal.mov", {}, "whole.mov", "01:00:00:00"},
      {"pal.mov", {"--frames", "25-49"}, "second.mov", "01:00:01:00"},
      {"pal.mov", {"--frames", "60-70"}, "later.mkv", "01:00:02:10"},
      {"ntsc.mov", {"--frames", "25-49"}, "dropped.mp4", "01:00:00;23"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.output);
    std::vector<std::string> args = {"-q"};
    args.insert(args.end(), c.range.begin(), c.range.end());
    args.push_back(dir / c.input);
    args.push_back(dir / c.output);
    const RunResult r = run_velbrin(args);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const RunResult probe = run_program({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                                         "stream_tags=timecode", "-of", "csv=p=0", dir / c.output});
    EXPECT_EQ(probe.out, std::string(c.timecode) + "\n");
  }
}

// Probes one field of every frame or packet of a stream: "frame" "pts_time"
// or "packet" "size", one value per element in order.
std::vector<std::string> probe_each(const std::string& file, const std::string& stream, const std::string& element,
                                    const std::string& field) {
  const std::string text = run_program({"ffprobe", "-v", "error", "-select_streams", stream, "-show_entries",
                                        element + "=" + field, "-of", "flat", file})
                               .out;
  // Lines such as: frames.frame.3.pts_time="0.120000"
  std::vector<std::string> values;
  const std::string tail = "." + field + "=";
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = text.find('\n', at);
    const std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
    at = end == std::string::npos ? text.size() : end + 1;
    const size_t k = line.find(tail);
    if (k != std::string::npos && std::count(line.begin(), line.begin() + ptrdiff_t(k), '.') == 2)
      values.push_back(line.substr(k + tail.size()));
  }
  return values;
}

// Frame times relative to the first frame, in milliseconds.
std::vector<long> relative_ms(const std::vector<std::string>& times) {
  std::vector<long> out;
  for (const std::string& t : times) {
    const double seconds = std::stod(t.substr(1, t.size() - 2));
    out.push_back(std::lround(seconds * 1000));
  }
  for (size_t k = out.size(); k-- > 0;) out[k] -= out[0];
  return out;
}

// Frame timing, frame count and the audio packets come through unchanged.
TEST_F(FilterResults, TimingAndAudioAreKept) {
  // Uneven frame times (growing gaps) and an AAC track.
  const std::string in = *dir_ / "uneven.mp4";
  ffmpeg({"-f", "lavfi", "-i", "testsrc2=s=64x48:r=25,setpts='(N*N+N*4)/100/TB'", "-f", "lavfi", "-i",
          "sine=duration=2", "-frames:v", "10", "-c:v", "libx264rgb", "-qp", "0", "-c:a", "aac", "-fps_mode",
          "passthrough", in});
  for (const char* name : {"uneven.mkv", "uneven-out.mp4"}) {
    SCOPED_TRACE(name);
    const std::string out = *dir_ / name;
    const RunResult r = run_velbrin({"-q", "-y", in, out});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::vector<long> times = relative_ms(probe_each(in, "v", "frame", "pts_time"));
    ASSERT_EQ(times.size(), 10u);
    EXPECT_NE(times[2] - times[1], times[1] - times[0]);  // really uneven
    EXPECT_EQ(relative_ms(probe_each(out, "v", "frame", "pts_time")), times);
    EXPECT_EQ(probe_each(out, "a", "stream", "codec_name"), (std::vector<std::string>{"\"aac\""}));
    const std::vector<std::string> packets = probe_each(in, "a", "packet", "size");
    EXPECT_GT(packets.size(), 20u);
    EXPECT_EQ(probe_each(out, "a", "packet", "size"), packets);
  }
}

// Timestamps that start again (two transport streams joined with cat) keep
// the frames' spacing, with the audio in place; a container that shows one
// frame per interval gets as many frames as ffmpeg gives it for a variable
// rate, repeated to keep the timing.
TEST_F(FilterResults, TimingThroughJumpsAndConstantRates) {
  const std::string part = *dir_ / "part.ts", joined = *dir_ / "joined.ts";
  ffmpeg({"-f", "lavfi", "-i", "testsrc2=s=64x48:r=25", "-f", "lavfi", "-i", "sine=r=48000", "-t", "1", "-c:v",
          "libx264", "-g", "10", "-c:a", "aac", part});
  std::ofstream(joined, std::ios::binary) << read_file(part) << read_file(part);
  const RunResult r = run_velbrin({"-q", "-y", joined, *dir_ / "joined.mkv"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  std::vector<long> every_40ms;
  for (long k = 0; k < 50; ++k) every_40ms.push_back(40 * k);
  EXPECT_EQ(relative_ms(probe_each(*dir_ / "joined.mkv", "v", "frame", "pts_time")), every_40ms);
  const std::vector<std::string> audio = probe_each(*dir_ / "joined.mkv", "a", "packet", "pts_time");
  EXPECT_EQ(audio.size(), 2 * probe_each(part, "a", "packet", "pts_time").size());
  ASSERT_FALSE(audio.empty());
  EXPECT_NEAR(std::stod(audio.back().substr(1)), 2.0, 0.1);  // the second part's audio follows the first
  // A range across the jump ends where its next frame shows, audio too.
  ASSERT_EQ(run_velbrin({"-q", "-y", "--frames", "20-29", joined, *dir_ / "across.mkv"}).exit_code, 0);
  const std::string lasts = run_program({"ffprobe", "-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0",
                                         *dir_ / "across.mkv"}).out;
  EXPECT_NEAR(std::stod(lasts), 0.4, 0.005);

  const std::string vfr = *dir_ / "gaps.mkv";
  ffmpeg({"-f", "lavfi", "-i", "testsrc2=s=64x48:r=25,setpts='PTS+gt(N\\,30)*0.37/TB+gt(N\\,40)*0.11/TB'", "-t", "3",
          "-c:v", "libx264", "-fps_mode", "vfr", vfr});
  ffmpeg({"-i", vfr, *dir_ / "by-ffmpeg.y4m"});
  const RunResult y = run_velbrin({"-y", vfr, *dir_ / "gaps.y4m"});
  ASSERT_EQ(y.exit_code, 0) << y.err;
  const size_t frames_in = probe_each(vfr, "v", "frame", "pts_time").size();
  const size_t frames_out = probe_each(*dir_ / "gaps.y4m", "v", "frame", "pts_time").size();
  EXPECT_EQ(frames_out, probe_each(*dir_ / "by-ffmpeg.y4m", "v", "frame", "pts_time").size());
  EXPECT_NE(y.err.find("velbrin: note: .y4m holds a constant frame rate: " + std::to_string(frames_out - frames_in) +
                       " frames repeated to keep the timing\n"),
            std::string::npos)
      << y.err;
}

// Audio a container cannot hold is re-encoded to its usual codec, with a
// note, and lasts as long as the input's.
TEST_F(FilterResults, AudioTheContainerCannotHoldIsReencoded) {
  struct Case {
    const char* name;
    const char* codec;
    const char* note;
  };
  const Case cases[] = {
      {"pcm.mp4", "\"aac\"", "velbrin: note: .mp4 files cannot hold pcm_s16le audio; audio stream 1 re-encoded to AAC\n"},
      {"pcm.webm", "\"opus\"", "velbrin: note: .webm files cannot hold pcm_s16le audio; audio stream 1 re-encoded to Opus\n"},
  };
  const std::string in = *dir_ / "clip.mkv";
  const double in_seconds = std::stod(probe_each(in, "a", "packet", "pts_time").back().substr(1));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const RunResult r = run_velbrin({"-y", "--lossless", in, *dir_ / c.name});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err.rfind(c.note, 0), 0u) << r.err;
    EXPECT_EQ(probe_each(*dir_ / c.name, "a", "stream", "codec_name"), (std::vector<std::string>{c.codec}));
    const std::vector<std::string> times = probe_each(*dir_ / c.name, "a", "packet", "pts_time");
    ASSERT_FALSE(times.empty());
    EXPECT_NEAR(std::stod(times.back().substr(1)), in_seconds, 0.05);
    EXPECT_EQ(first_difference(reference_filter_each(*input_, settings_of(100, 5)), decode_frames(*dir_ / c.name, kW, kH)), "");
  }
}

// Audio keeps its place against the video in every container, as ffmpeg
// places it converting the same file: a start offset into AVI, which
// stores no times for its audio; a gap, which the re-encoded Opus of .webm
// keeps as silence; Opus into .mov, which only MP4 holds, re-encoded to AAC;
// audio that starts before the video, where the output then starts.
TEST_F(FilterResults, AudioKeepsItsPlace) {
  const std::string at5 = *dir_ / "at5.mkv", gap = *dir_ / "gap.mkv", opus = *dir_ / "opus.mkv",
                    early = *dir_ / "early.mkv";
  ffmpeg({"-f", "lavfi", "-i", "testsrc2=s=64x48:r=25", "-f", "lavfi", "-i", "sine=r=48000", "-t", "1", "-c:v",
          "libx264", "-c:a", "pcm_s16le", "-output_ts_offset", "5", at5});
  ffmpeg({"-f", "lavfi", "-i", "testsrc2=s=64x48:r=25", "-f", "lavfi", "-i",
          "sine=r=48000,aselect='not(between(t\\,1\\,2.5))',asetpts=PTS", "-t", "4", "-c:v", "libx264", "-c:a", "aac",
          gap});
  ffmpeg({"-f", "lavfi", "-i", "testsrc2=s=64x48:r=25", "-f", "lavfi", "-i", "sine=r=48000", "-t", "1", "-c:v",
          "libx264", "-c:a", "libopus", opus});
  // Audio half a second before the video: the output starts with the audio.
  ffmpeg({"-f", "lavfi", "-i", "sine=r=48000", "-itsoffset", "0.48", "-f", "lavfi", "-i", "testsrc2=s=64x48:r=25", "-t",
          "2", "-map", "1:v", "-map", "0:a", "-c:v", "libx264", "-c:a", "aac", early});
  auto seconds = [](const std::vector<std::string>& v, size_t k) { return std::stod(v.at(k).substr(1)); };
  // Times as decoded (AVI stores no presentation times in its packets).
  auto times = [&](const std::string& f, const char* stream) {
    return probe_each(f, stream, "frame", "best_effort_timestamp_time");
  };
  auto first_audio_after_video = [&](const std::string& f) {
    return seconds(times(f, "a"), 0) - seconds(times(f, "v"), 0);
  };
  auto last_audio = [&](const std::string& f) {
    const std::vector<std::string> t = times(f, "a");
    return seconds(t, t.size() - 1) - seconds(times(f, "v"), 0);
  };
  const struct {
    std::string in, out, codec;
    bool against_input = false;  // ffmpeg starts both streams at 0 there: the input is the reference
  } cases[] = {{at5, "at5.avi", "pcm_s16le"}, {gap, "gap.webm", "libopus"}, {opus, "opus.mov", "aac"},
               {early, "early.mp4", "aac", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.out);
    const RunResult r = run_velbrin({"-q", "-y", c.in, *dir_ / c.out});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::string ref = c.against_input ? c.in : *dir_ / ("ffmpeg-" + c.out);
    if (!c.against_input)
      ffmpeg({"-i", c.in, "-c:v", c.out.ends_with(".webm") ? "libvpx-vp9" : "libx264", "-c:a", c.codec, ref});
    EXPECT_EQ(probe_each(*dir_ / c.out, "a", "stream", "codec_name"), probe_each(ref, "a", "stream", "codec_name"));
    EXPECT_NEAR(first_audio_after_video(*dir_ / c.out), first_audio_after_video(ref), 0.03);
    EXPECT_NEAR(last_audio(*dir_ / c.out), last_audio(ref), 0.05);
  }
}

// Every stream goes along where the container holds it, converted where it
// can be (text subtitles into MP4's and WebM's own formats), and what is
// left out is named in one note; -an and -sn leave out on purpose, without
// one; a range takes the subtitles that start in it.
TEST_F(FilterResults, StreamsAreKeptOrNamed) {
  ScratchDir dir;
  std::ofstream(dir / "a.srt") << "1\n00:00:00,100 --> 00:00:00,500\nHello\n\n2\n00:00:00,600 --> 00:00:00,900\nWorld\n";
  std::ofstream(dir / "chapters.txt") << ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=500\ntitle=One\n"
                                         "[CHAPTER]\nTIMEBASE=1/1000\nSTART=500\nEND=1000\ntitle=Two\n";
  ffmpeg({"-i", dir / "a.srt", dir / "a.ass"});
  const std::string rich = dir / "rich.mkv", font = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
  ffmpeg({"-f", "lavfi", "-i", "testsrc2=s=64x48:r=25", "-f", "lavfi", "-i", "sine=r=48000", "-i", dir / "a.srt", "-i",
          dir / "a.ass", "-i", dir / "chapters.txt", "-t", "1", "-map", "0:v", "-map", "1:a", "-map", "2", "-map", "3",
          "-map_chapters", "4", "-c:v", "libx264", "-c:a", "aac", "-c:s", "copy", "-attach", font,
          "-metadata:s:t", "mimetype=application/x-truetype-font", "-metadata:s:v", "language=jpn",
          "-metadata:s:v", "title=Main", "-metadata:s:s:0", "language=eng", "-metadata:s:s:1", "language=fra", rich});
  const std::string clip = *dir_ / "clip.mkv";
  const struct {
    std::vector<std::string> options;
    std::string input;
    const char* output;
    const char* note;  // the start of standard error
    const char* streams;  // codec, language and title of each
    int chapters;
    int subtitles;  // lines of the first subtitle stream
  } cases[] = {
      {{}, rich, "all.mkv", "velbrin: wrote", "h264,jpn,Main aac subrip,eng ass,fra ttf", 2, 2},
      {{}, rich, "all.mp4", "velbrin: note: 1 attachment left out: .mp4 files cannot hold attachments; use .mkv\n",
       "h264,jpn aac,und mov_text,eng mov_text,fra bin_data,eng", 2, 2},
      {{"-an", "-sn"}, rich, "none.mp4", "velbrin: note: 1 attachment left out", "h264,jpn bin_data,eng", 2, 0},
      {{"--frames", "15-24"}, rich, "range.mkv", "velbrin: wrote", "h264,jpn,Main aac subrip,eng ass,fra ttf", 0, 1},
      {{}, rich, "all.avi",
       "velbrin: note: 2 subtitle streams, 1 attachment and 2 chapters left out: .avi files cannot hold subtitles, "
       "attachments or chapters; use .mkv\n",
       "h264,Main aac", 0, 0},
      {{}, clip, "noaudio.y4m", "velbrin: note: 1 audio stream left out: .y4m files cannot hold audio; use .mkv\n",
       "rawvideo", 0, 0},
      {{"--frames", "0-1"}, clip, "noaudio%d.png", "velbrin: note: 1 audio stream left out: pictures cannot hold audio\n",
       "png", 0, 0},
      {{"-an"}, clip, "noaudio.mkv", "velbrin: wrote", "ffv1", 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.output);
    std::vector<std::string> args = c.options;
    args.insert(args.end(), {"-y", c.input, dir / c.output});
    const RunResult r = run_velbrin(args);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err.rfind(c.note, 0), 0u) << r.err;
    const std::string out = std::string(c.output).find('%') == std::string::npos ? dir / c.output : dir / "noaudio1.png";
    std::string streams = run_program({"ffprobe", "-v", "error", "-show_entries",
                                       "stream=codec_name:stream_tags=language,title", "-of", "csv=p=0", out})
                              .out;
    std::replace(streams.begin(), streams.end(), '\n', ' ');
    EXPECT_EQ(streams, std::string(c.streams) + " ");
    EXPECT_EQ(probe_each(out, "v:0", "chapter", "id").size() + 0, size_t(c.chapters)) << out;
    const std::string lines =
        run_program({"ffmpeg", "-v", "error", "-i", out, "-map", "0:s:0?", "-f", "srt", "-"}).out;
    size_t cues = 0;
    for (size_t at = lines.find("-->"); at != std::string::npos; at = lines.find("-->", at + 1)) ++cues;
    EXPECT_EQ(cues, size_t(c.subtitles)) << lines;
  }
}

// Lossy output goes back to YUV with the right matrix and range: its
// colours sit where FFmpeg's tool puts them when it encodes the lossless
// result the same way. (4:2:0 chroma and clipping move each channel's mean
// by up to two levels for this noisy clip; a wrong range or matrix moves
// it by several more.)
TEST_F(FilterResults, LossyOutputStaysClose) {
  const RunResult r = run_velbrin({"-q", "-y", "--crf", "4", *dir_ / "clip.mkv", *dir_ / "lossy.mp4"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const RunResult exact = run_velbrin({"-q", "-y", *dir_ / "clip.mkv", *dir_ / "exact.mkv"});
  ASSERT_EQ(exact.exit_code, 0) << exact.err;
  ffmpeg({"-i", *dir_ / "exact.mkv", "-sws_flags", "bicubic+accurate_rnd+bitexact",
          "-c:v", "libx264", "-crf", "4", "-pix_fmt", "yuv420p", *dir_ / "by-ffmpeg.mp4"});
  EXPECT_EQ(probe_each(*dir_ / "lossy.mp4", "v", "stream", "pix_fmt"), (std::vector<std::string>{"\"yuv420p\""}));
  const std::vector<Picture> want = reference_filter_each(*input_, settings_of(100, 5));
  const std::vector<Picture> ours = decode_frames(*dir_ / "lossy.mp4", kW, kH);
  const std::vector<Picture> theirs = decode_frames(*dir_ / "by-ffmpeg.mp4", kW, kH);
  ASSERT_EQ(ours.size(), want.size());
  ASSERT_EQ(theirs.size(), want.size());
  auto mean_shift = [&](const Picture& got, const Picture& ref, int c) {
    double total = 0;
    for (size_t k = 0; k < ref.words.size(); ++k) total += int(got.words[k] >> (8 * c) & 0xFF) - int(ref.words[k] >> (8 * c) & 0xFF);
    return total / double(ref.words.size());
  };
  for (size_t f = 0; f < want.size(); ++f)
    for (int c = 0; c < 3; ++c)
      EXPECT_NEAR(mean_shift(ours[f], want[f], c), mean_shift(theirs[f], want[f], c), 0.3) << "frame " << f << " channel " << c;
}

// A YUV video is converted to RGB exactly as FFmpeg's tool converts it with
// the same swscale flags, then filtered.
TEST_F(FilterResults, YuvVideoUsesTheDocumentedConversion) {
  const std::string in = *dir_ / "yuv.mp4";
  ffmpeg({"-i", *dir_ / "clip.mkv", "-c:v", "libx264", "-pix_fmt", "yuv420p", "-crf", "18", in});
  const RunResult r = run_velbrin({"-q", "-y", "--lossless", "--level", "250", in, *dir_ / "yuv.mkv"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(first_difference(reference_filter_each(decode_frames(in, kW, kH), settings_of(250, 5)), decode_frames(*dir_ / "yuv.mkv", kW, kH)),
            "");
}

TEST_F(FilterResults, PicturesKeepTheirKind) {
  struct Case {
    const char* pix_fmt;
    const char* out_name;
    const char* out_pix_fmt;
  };
  const Case cases[] = {
      {"rgb24", "rgb.png", "rgb24"},
      {"gray", "grey.png", "gray"},
      {"rgba", "alpha.png", "rgba"},
      {"ya8", "grey-alpha.png", "ya8"},
      {"bgr24", "bgr.bmp", "bgr24"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.out_name);
    const std::string in = *dir_ / (std::string("in-") + c.out_name);
    ffmpeg({"-i", *dir_ / "clip.mkv", "-frames:v", "1", "-vf", "geq=r='r(X,Y)':g='g(X,Y)':b='b(X,Y)':a='X*4'", "-pix_fmt", c.pix_fmt, in});
    const std::string out = *dir_ / c.out_name;
    const RunResult r = run_velbrin({"-q", "-y", "--level", "180", in, out});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::string fmt =
        run_program({"ffprobe", "-v", "error", "-show_entries", "stream=pix_fmt", "-of", "csv=p=0", out}).out;
    EXPECT_EQ(fmt, std::string(c.out_pix_fmt) + "\n");
    const std::vector<Picture> source = decode_frames(in, kW, kH), result = decode_frames(out, kW, kH);
    EXPECT_EQ(first_difference(reference_filter_each(source, settings_of(180, 5)), result), "");
    if (std::string(c.pix_fmt) == "rgba" || std::string(c.pix_fmt) == "ya8") {
      // The filter leaves alpha alone; the picture keeps the input's.
      for (size_t k = 0; k < source[0].words.size(); ++k)
        ASSERT_EQ(result[0].words[k] >> 24, source[0].words[k] >> 24) << "pixel " << k;
    }
  }
}

// An image sequence pattern as output: one picture per frame, numbered from 1.
TEST_F(FilterResults, ImageSequenceOutput) {
  ScratchDir out;
  const RunResult r = run_velbrin({"-q", "--frames", "1-", "--dynamic", "7", *dir_ / "clip.mkv", out / "f%03d.png"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  std::vector<std::string> names;
  for (int k = 1; k < kFrames; ++k) names.push_back("f00" + std::to_string(k) + ".png");
  EXPECT_EQ(out.entries(), names);
  // Read back as FFmpeg reads a sequence.
  EXPECT_EQ(first_difference(reference_filter_each(std::vector<Picture>(input_->begin() + 1, input_->end()), settings_of(100, 7)),
                             decode_frames(out / "f%03d.png", kW, kH)),
            "");
}

// Pictures as small as one pixel, and odd sizes, in RGB and YUV.
TEST_F(FilterResults, TinyAndOddSizes) {
  struct Case {
    int w, h;
    const char* pix_fmt;
  };
  const Case cases[] = {{1, 1, "rgb24"}, {2, 1, "rgb24"}, {5, 3, "rgb24"},
                        {63, 47, "yuv420p"}};
  for (const Case& c : cases) {
    const std::string size = std::to_string(c.w) + "x" + std::to_string(c.h);
    SCOPED_TRACE(size + " " + c.pix_fmt);
    const std::string in = *dir_ / (size + c.pix_fmt + ".mkv"), out = *dir_ / (size + "-out.mkv");
    ffmpeg({"-f", "lavfi", "-i", "testsrc2=s=64x48,format=rgb24,noise=alls=40:allf=u,crop=" + std::to_string(c.w) + ":" + std::to_string(c.h) + ":3:5", "-frames:v", "2", "-c:v", "ffv1",
            "-pix_fmt", c.pix_fmt, in});
    const RunResult r = run_velbrin({"-q", "-y", "--level", "300", "--dynamic", "9", in, out});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(first_difference(reference_filter_each(decode_frames(in, c.w, c.h), settings_of(300, 9)), decode_frames(out, c.w, c.h)),
              "");
  }
}

}  // namespace
}  // namespace velbrin_cli_test
