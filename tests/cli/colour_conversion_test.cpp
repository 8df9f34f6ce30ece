// The quick colour conversions of lossy outputs: their plain statements
// within rounding of the standards' formulas in floating point (with the
// standards' weights written out here, not taken from the code under test,
// so that a constant the vector and the plain code share cannot hide), and
// the quick code equal to them bit for bit; the way back undoing the way
// in; the same bytes with the plain code paths forced; and a round trip at
// least as close to the source as swscale's exact flags give.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>

#include "cli/media/rgb_to_yuv.h"
#include "cli/media/yuv_to_rgb.h"
#include "tests/cli/cli_test_support.h"

namespace velbrin_cli_test {
namespace {

// The standards' luma weights of red and blue, and 8-bit video's ranges:
// limited range puts luma on 16..235 and chroma on 16..240 around 128, full
// range both on 0..255 (offset of luma, span of luma, span of chroma).
struct Standard {
  const char* name;
  AVColorSpace space;
  double kr, kb;
};
const Standard kStandards[] = {
    {"BT.601", AVCOL_SPC_BT470BG, 0.299, 0.114},    {"SMPTE 170M", AVCOL_SPC_SMPTE170M, 0.299, 0.114},
    {"unspecified", AVCOL_SPC_UNSPECIFIED, 0.299, 0.114}, {"BT.709", AVCOL_SPC_BT709, 0.2126, 0.0722},
    {"BT.2020", AVCOL_SPC_BT2020_NCL, 0.2627, 0.0593}, {"FCC", AVCOL_SPC_FCC, 0.30, 0.11},
    {"SMPTE 240M", AVCOL_SPC_SMPTE240M, 0.212, 0.087}};
const double kRanges[2][3] = {{16, 219, 224}, {0, 255, 255}};  // [full]
const std::pair<int, int> kLayouts[] = {{1, 1}, {1, 0}, {0, 0}};  // 4:2:0, 4:2:2, 4:4:4

// Both ways round the matrix's sum to nearest; the weights' own rounding to
// 13 (in) or 15 (back) fractional bits moves a result by less than 0.04 of a
// step, a wrong rounding constant by a quarter step or more. Keeps the
// farthest byte from the formula's unrounded value, clamped to a byte.
constexpr double kTolerance = 0.54;
struct Farthest {
  double off = 0;
  std::string where;
  void take(double exact, int got, const std::string& what) {
    const double off_now = std::abs(std::clamp(exact, 0.0, 255.0) - got);
    if (off_now <= off) return;
    off = off_now;
    where = what + ": " + std::to_string(got) + " for " + std::to_string(exact);
  }
};

struct Yuv {
  std::vector<uint8_t> plane[3];
  YuvPlanes planes(int w, int h, int sx, int sy) {
    const int cw = (w + (1 << sx) - 1) >> sx, ch = (h + (1 << sy) - 1) >> sy;
    plane[0].assign(size_t(w) * h, 0xEE);
    plane[1].assign(size_t(cw) * ch, 0xEE);
    plane[2].assign(size_t(cw) * ch, 0xEE);
    return {{plane[0].data(), plane[1].data(), plane[2].data()}, {w, cw, cw}, sx, sy};
  }
};

// Bottom-up host words (as the filter leaves them) with random colours and
// the extremes that clamping and rounding meet.
std::vector<uint32_t> random_host_picture(int w, int h, std::mt19937& rng) {
  const uint32_t extremes[] = {0x000000, 0xFFFFFF, 0x0000FF, 0xFF0000, 0x00FF00, 0xFF00FF};
  std::vector<uint32_t> words(size_t(w) * h);
  for (uint32_t& p : words) p = (rng() % 4 == 0 ? extremes[rng() % 6] : rng() & 0xFFFFFF) | (rng() & 0xFF000000u);
  return words;
}

// Each chroma sample is the formula's value for the average colour of the
// pixels it covers (at an odd edge the last column or row counts twice).
TEST(RgbToYuv, PlainStatementFollowsTheFormulaAndQuickCodeMatchesIt) {
  // Widths below, at and past the vector code's 16 columns, odd heights.
  const std::pair<int, int> sizes[] = {{1, 1}, {2, 2}, {3, 5}, {17, 9}, {64, 3}, {33, 34}, {1, 7}, {47, 7}, {32, 2}};
  std::mt19937 rng(17);
  RgbToYuv quick;  // one object for all: its scratch rows are reused across sizes
  for (const Standard& s : kStandards)
    for (bool full : {false, true})
      for (const auto& [sx, sy] : kLayouts)
        for (const auto& [w, h] : sizes) {
          SCOPED_TRACE(testing::Message() << s.name << " full " << full << " layout " << sx << sy << " " << w << "x" << h);
          const std::vector<uint32_t> host = random_host_picture(w, h, rng);  // picture row y is host row h - 1 - y
          const uint32_t* top = host.data() + size_t(h - 1) * w;
          const RgbToYuvMatrix m = *rgb_to_yuv_matrix(s.space, full);
          Yuv want;
          rgb_to_yuv_reference(top, -w, w, h, m, want.planes(w, h, sx, sy));
          const double* q = kRanges[full];
          // Luma, Cb, Cr of the average of the pixels from (x, y), 2^lw by 2^lh.
          auto exact = [&](int x, int y, int lw, int lh) {
            double bgr[3] = {0, 0, 0};
            for (int dy = 0; dy < (1 << lh); ++dy)
              for (int dx = 0; dx < (1 << lw); ++dx)
                for (int c = 0; c < 3; ++c)
                  bgr[c] += double(top[-ptrdiff_t(std::min(y + dy, h - 1)) * w + std::min(x + dx, w - 1)] >> (8 * c) &
                                   0xFF) / double(255 << (lw + lh));
            const double ey = s.kr * bgr[2] + (1 - s.kr - s.kb) * bgr[1] + s.kb * bgr[0];
            return std::array<double, 3>{q[0] + q[1] * ey, 128 + q[2] * (bgr[0] - ey) / (2 * (1 - s.kb)),
                                         128 + q[2] * (bgr[2] - ey) / (2 * (1 - s.kr))};
          };
          Farthest worst;
          for (int p = 0; p < 3; ++p) {
            const int ls = p ? sx : 0, lh = p ? sy : 0, pw = (w + (1 << ls) - 1) >> ls, ph = (h + (1 << lh) - 1) >> lh;
            for (int y = 0; y < ph; ++y)
              for (int x = 0; x < pw; ++x)
                worst.take(exact(x << ls, y << lh, ls, lh)[size_t(p)], want.plane[p][size_t(y) * pw + size_t(x)],
                           "plane " + std::to_string(p) + " at " + std::to_string(x) + "," + std::to_string(y));
          }
          EXPECT_LE(worst.off, kTolerance) << worst.where;
          for (bool plain : {false, true}) {  // the vector code where the processor has it, and without
            RgbToYuv::use_plain_code(plain);
            Yuv got;
            quick.convert(top, -w, w, h, m, got.planes(w, h, sx, sy));
            for (int p = 0; p < 3; ++p) EXPECT_EQ(want.plane[p], got.plane[p]) << "plane " << p << " plain " << plain;
          }
          RgbToYuv::use_plain_code(false);
        }
  EXPECT_FALSE(rgb_to_yuv_matrix(AVCOL_SPC_YCGCO, false).has_value());
}

// Random planes of a w x h picture with its chroma subsampling, rows padded.
struct YuvPicture {
  std::vector<uint8_t> plane[3];
  YuvSource source;
  YuvPicture(int w, int h, int sx, int sy, std::mt19937& rng) {
    const int cw = (w + (1 << sx) - 1) >> sx, ch = (h + (1 << sy) - 1) >> sy;
    const int widths[3] = {w + 5, cw + 3, cw + 7}, heights[3] = {h, ch, ch};
    for (int p = 0; p < 3; ++p) {
      plane[p].resize(size_t(widths[p]) * heights[p]);
      for (uint8_t& b : plane[p]) b = uint8_t(rng() % 5 == 0 ? (rng() % 2 ? 255 : 0) : rng());
      source.data[p] = plane[p].data();
      source.pitch[p] = widths[p];
    }
    source.log2_chroma_w = sx;
    source.log2_chroma_h = sy;
  }
};

TEST(YuvToRgb, PlainStatementFollowsTheFormulaAndQuickCodeMatchesIt) {
  // Widths below, at and past the vector code's 16 columns, odd sizes.
  const std::pair<int, int> sizes[] = {{1, 1}, {2, 2}, {3, 5}, {15, 3}, {16, 2}, {17, 9}, {33, 4}, {64, 3}, {47, 7}};
  std::mt19937 rng(29);
  for (const Standard& s : kStandards)
    for (bool full : {false, true})
      for (const auto& [sx, sy] : kLayouts)
        for (const auto& [w, h] : sizes) {
          SCOPED_TRACE(testing::Message() << s.name << " full " << full << " layout " << sx << sy << " " << w << "x" << h);
          const YuvPicture in(w, h, sx, sy, rng);
          const YuvToRgbMatrix m = *yuv_to_rgb_matrix(s.space, full);
          std::vector<uint32_t> want(size_t(w) * h), got(size_t(w) * h);
          yuv_to_rgb_reference(in.source, w, h, m, want.data() + size_t(h - 1) * w, -w);
          const double* q = kRanges[full];
          Farthest worst;
          for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
              auto at = [&](int p, int row, int col) { return int(in.plane[p][size_t(row * in.source.pitch[p] + col)]); };
              const int l = at(0, y, x), u = at(1, y >> sy, x >> sx), v = at(2, y >> sy, x >> sx);
              const double ey = (l - q[0]) / q[1], pb = (u - 128) / q[2], pr = (v - 128) / q[2];
              const double r = ey + 2 * (1 - s.kr) * pr, b = ey + 2 * (1 - s.kb) * pb;
              const double bgr[3] = {b, (ey - s.kr * r - s.kb * b) / (1 - s.kr - s.kb), r};
              for (int c = 0; c < 3; ++c)
                worst.take(255 * bgr[c], int(want[size_t(h - 1 - y) * w + size_t(x)] >> (8 * c) & 0xFF),
                           "yuv " + std::to_string(l) + " " + std::to_string(u) + " " + std::to_string(v) + " byte " +
                               std::to_string(c));
            }
          EXPECT_LE(worst.off, kTolerance) << worst.where;
          for (bool plain : {false, true}) {
            YuvToRgb::use_plain_code(plain);
            std::fill(got.begin(), got.end(), 0xEEEEEEEEu);
            YuvToRgb::convert(in.source, w, h, m, got.data() + size_t(h - 1) * w, -w);
            EXPECT_EQ(want, got) << "plain " << plain;
          }
          YuvToRgb::use_plain_code(false);
        }
  EXPECT_FALSE(yuv_to_rgb_matrix(AVCOL_SPC_YCGCO, false).has_value());
}

// The way back undoes the way in: a 4:4:4 sample whose colour lies inside
// the RGB cube (no channel clamped) comes back exactly, in every matrix and
// range.
TEST(YuvToRgb, UndoneExactlyByTheWayBack) {
  std::mt19937 rng(31);
  for (const Standard& s : kStandards)
    for (bool full : {false, true}) {
      SCOPED_TRACE(testing::Message() << s.name << " full " << full);
      const YuvToRgbMatrix in = *yuv_to_rgb_matrix(s.space, full);
      const RgbToYuvMatrix back = *rgb_to_yuv_matrix(s.space, full);
      int tried = 0, differ = 0;
      for (int k = 0; k < 20000; ++k) {
        const uint8_t y = uint8_t(full ? rng() % 256 : 16 + rng() % 220);
        const uint8_t u = uint8_t(64 + rng() % 128), v = uint8_t(64 + rng() % 128);
        const YuvSource one{{&y, &u, &v}, {1, 1, 1}, 0, 0};
        uint32_t word = 0;
        yuv_to_rgb_reference(one, 1, 1, in, &word, 1);
        const int b = int(word & 0xFF), g = int(word >> 8 & 0xFF), r = int(word >> 16 & 0xFF);
        if (std::min({b, g, r}) == 0 || std::max({b, g, r}) == 255) continue;  // clamped: not invertible
        ++tried;
        Yuv out;
        RgbToYuv().convert(&word, 1, 1, 1, back, out.planes(1, 1, 0, 0));
        differ += out.plane[0][0] != y || out.plane[1][0] != u || out.plane[2][0] != v;
      }
      EXPECT_GT(tried, 5000);
      EXPECT_EQ(differ, 0) << "of " << tried;
    }
}

// Real-ish clips of the kinds cameras give (the last one full range, as
// JPEG), with what swscale needs to be told to go back as velbrin does.
struct ClipKind {
  const char* name;
  std::vector<std::string> encode;  // ffmpeg output options
  const char* back;                 // scale filter for the way back
  int chroma_samples;               // per 4 pixels
  const char* source = nullptr;     // scale filter that gives the source in the output's range
};
const ClipKind kKinds[] = {
    {"601.mp4", {"-c:v", "libx264", "-crf", "12", "-pix_fmt", "yuv420p"},
     "scale=out_color_matrix=bt601:out_range=tv,format=yuv420p", 2},
    {"709.mp4", {"-c:v", "libx264", "-crf", "12", "-pix_fmt", "yuv420p", "-colorspace", "bt709", "-color_range", "tv"},
     "scale=out_color_matrix=bt709:out_range=tv,format=yuv420p", 2},
    {"422.mkv", {"-c:v", "libx264", "-crf", "12", "-pix_fmt", "yuv422p"},
     "scale=out_color_matrix=bt601:out_range=tv,format=yuv422p", 4},
    // Decoded as yuvj420p, which velbrin writes in limited range for players;
    // the closest it can come is the source taken to limited range directly.
    {"full.mp4", {"-c:v", "libx264", "-crf", "12", "-pix_fmt", "yuv420p", "-color_range", "pc"},
     "scale=out_color_matrix=bt601:out_range=tv,format=yuv420p", 2, "scale=out_range=tv,format=yuv420p"},
};

class QuickConversions : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new ScratchDir();
    for (const ClipKind& k : kKinds) {
      std::vector<std::string> args = {"-f", "lavfi", "-i", "testsrc2=size=160x96:rate=25,noise=alls=6:allf=t",
                                       "-frames:v", "4"};
      args.insert(args.end(), k.encode.begin(), k.encode.end());
      args.push_back(*dir_ / k.name);
      ffmpeg(args);
    }
  }
  static void TearDownTestSuite() { delete dir_; }
  static inline ScratchDir* dir_ = nullptr;
};

// VELBRIN_CPU_MASK=c puts the module, FFmpeg and velbrin's conversions on their plain
// code: a lossy output's frames and a lossless output are the same bytes.
TEST_F(QuickConversions, PlainCodePathsGiveTheSameBytes) {
  for (const ClipKind& k : kKinds)
    for (const char* out : {"y4m", "mkv"}) {
      SCOPED_TRACE(std::string(k.name) + " to " + out);
      std::string files[2];
      for (int plain = 0; plain < 2; ++plain) {
        files[plain] = *dir_ / (std::string("o") + char('0' + plain) + "." + out);
        std::vector<std::string> argv = {"env", plain ? "VELBRIN_CPU_MASK=c" : "VELBRIN_CPU_MASK=", VELBRIN_EXECUTABLE,
                                         "-q", "-y"};
        if (std::string(out) == "mkv") argv.push_back("--lossless");
        argv.insert(argv.end(), {*dir_ / k.name, files[plain]});
        const RunResult r = run_program(argv);
        ASSERT_EQ(r.exit_code, 0) << r.err;
      }
      const std::string a = read_file(files[0]);
      EXPECT_GT(a.size(), 160u * 96u);
      // Matroska carries the writing library's name and a random UID: compare frames.
      if (std::string(out) == "y4m")
        EXPECT_TRUE(a == read_file(files[1]));
      else
        EXPECT_EQ(first_difference(decode_frames(files[0], 160, 96), decode_frames(files[1], 160, 96)), "");
    }
}

// The decoded planes of a file as stored (no conversion), and the PSNR of
// its luma and of its chroma against another's.
std::string raw_planes(const std::string& file, const std::string& to) {
  ffmpeg({"-i", file, "-map", "0:v:0", "-f", "rawvideo", to});
  return read_file(to);
}
std::pair<double, double> psnr(const std::string& a, const std::string& b, size_t luma, size_t frame) {
  double sum[2] = {0, 0};
  size_t count[2] = {0, 0};
  for (size_t k = 0; k < a.size() && k < b.size(); ++k) {
    const int part = k % frame < luma ? 0 : 1;
    const double d = double(uint8_t(a[k])) - double(uint8_t(b[k]));
    sum[part] += d * d;
    ++count[part];
  }
  auto db = [&](int p) { return 10 * std::log10(255.0 * 255.0 * double(count[p]) / std::max(sum[p], 1e-9)); };
  return {db(0), db(1)};
}

// With --disable the output is the input through the two conversions: at
// least as close to it as the round trip through swscale's exact flags
// (the conversion velbrin used for every output before), luma and chroma
// alike, and close enough that a wrong matrix or range would show.
TEST_F(QuickConversions, RoundTripAtLeastAsCloseAsSwscaleExact) {
  for (const ClipKind& k : kKinds) {
    SCOPED_TRACE(k.name);
    const std::string in = *dir_ / k.name, ours = *dir_ / "ours.y4m", exact_rgb = *dir_ / "exact.mkv",
                      theirs = *dir_ / "theirs.mkv";
    const RunResult r = run_velbrin({"-q", "-y", "--disable", in, ours});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::string flags = "bicubic+accurate_rnd+bitexact";
    ffmpeg({"-i", in, "-sws_flags", flags, "-pix_fmt", "bgra", "-c:v", "ffv1", exact_rgb});
    ffmpeg({"-i", exact_rgb, "-sws_flags", flags, "-vf", k.back, "-c:v", "ffv1", theirs});
    const size_t luma = 160 * 96, frame = luma + luma * size_t(k.chroma_samples) / 4;
    std::string source = raw_planes(in, *dir_ / "in.raw");
    if (k.source != nullptr) {
      ffmpeg({"-i", in, "-sws_flags", "accurate_rnd+bitexact", "-vf", k.source, "-c:v", "ffv1", *dir_ / "source.mkv"});
      source = raw_planes(*dir_ / "source.mkv", *dir_ / "source.raw");
    }
    ASSERT_EQ(source.size(), 4 * frame);
    const auto quick = psnr(source, raw_planes(ours, *dir_ / "ours.raw"), luma, frame);
    const auto exact = psnr(source, raw_planes(theirs, *dir_ / "theirs.raw"), luma, frame);
    EXPECT_GE(quick.first, exact.first - 0.05) << "luma; swscale's chroma " << exact.second;
    EXPECT_GE(quick.second, exact.second - 0.05) << "chroma; swscale's luma " << exact.first;
    std::printf("%s: luma %.2f dB (swscale %.2f), chroma %.2f dB (swscale %.2f)\n", k.name, quick.first, exact.first,
                quick.second, exact.second);
    EXPECT_GT(quick.first, 38.0);
    EXPECT_GT(quick.second, 30.0);
  }
}

}  // namespace
}  // namespace velbrin_cli_test
