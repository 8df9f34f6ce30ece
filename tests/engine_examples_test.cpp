// Worked examples of the smoothing filter with exact pixel values: small
// frames whose outputs follow by hand from the algorithm.
#include <gtest/gtest.h>

#include <vector>

#include "tests/support/frame_support.h"

using namespace velbrin_test;

namespace {

using Rows = std::vector<std::vector<uint32_t>>;

Rows greys(const std::vector<std::vector<int>>& v) {
  Rows r;
  for (const auto& row : v) {
    r.emplace_back();
    for (int x : row) r.back().push_back(grey(x));
  }
  return r;
}

struct Example {
  const char* name;
  Rows input;
  int level, dynamic;
  bool show_noise, disable;
  Rows expected;
};

Rows five_by_five_edge(int centre_right) {
  Rows r = greys({{40, 40, 80, 80, 80}, {40, 40, 80, 80, 80}, {40, 40, 80, 80, 80},
                  {40, 40, 80, 80, 80}, {40, 40, 80, 80, 80}});
  r[2][3] = grey(centre_right);
  return r;
}

Rows outlier() {
  Rows r(5, std::vector<uint32_t>(5, grey(100)));
  r[2][2] = grey(200);
  return r;
}

Rows noise_view_of_edge() {
  Rows r(5, std::vector<uint32_t>(5, grey(127)));
  r[2][3] = grey(77);
  return r;
}

const Example kExamples[] = {
    {"one pixel keeps its value", {{bgr(12, 34, 56)}}, 100, 5, false, false, {{bgr(12, 34, 56)}}},
    {"one pixel noise view", {{bgr(12, 34, 56)}}, 100, 5, true, false, {{grey(127)}}},
    {"level 0 takes nothing at D=10",
     greys({{0, 10, 20, 40, 40}}), 0, 10, false, false, greys({{0, 10, 20, 40, 40}})},
    {"negative divisor raises the tolerance", greys({{0, 10, 20, 40, 40}}), 0, 12, false, false,
     greys({{0, 10, 23, 40, 40}})},
    {"strict test at L=200 D=10", greys({{10, 20}}), 200, 10, false, false, greys({{10, 20}})},
    {"passes at L=201 D=10", greys({{10, 20}}), 201, 10, false, false, greys({{12, 20}})},
    // Black beside white, keys 0 and 2550: the black pixel's five pairs that
    // reach column 1 join a white and a black member, so their tolerance is
    // L - 2550 and the white one is 2550 away; the white pixel's window, at
    // the right edge, holds only itself.
    {"strict test across the key range at L=5100 D=10", greys({{0, 255}}), 5100, 10, false, false, greys({{0, 255}})},
    {"passes at L=5101 D=10: 5 of 25 white", greys({{0, 255}}), 5101, 10, false, false, greys({{51, 255}})},
    {"truncating division at L=116 D=5", greys({{10, 20}}), 116, 5, false, false, greys({{10, 20}})},
    {"truncating division at L=117 D=5", greys({{10, 20}}), 117, 5, false, false, greys({{12, 20}})},
    {"near edge", greys({{0, 10, 40}}), 400, 10, false, false, greys({{3, 10, 40}})},
    {"ramp", greys({{10, 20, 30, 40, 50}}), 400, 10, false, false, greys({{12, 22, 30, 40, 47}})},
    {"mirrored ramp is not mirrored", greys({{50, 40, 30, 20, 10}}), 400, 10, false, false,
     greys({{47, 37, 30, 20, 12}})},
    {"two by two", greys({{100, 110}, {120, 130}}), 400, 10, false, false, greys({{102, 110}, {122, 130}})},
    {"edge kept, noise smoothed", five_by_five_edge(86), 100, 5, false, false, five_by_five_edge(81)},
    {"edge noise view", five_by_five_edge(86), 100, 5, true, false, noise_view_of_edge()},
    {"outlier kept", outlier(), 100, 5, false, false, outlier()},
    {"blue step", {{bgr(0, 0, 0), bgr(65, 0, 0)}}, 100, 5, false, false, {{bgr(13, 0, 0), bgr(65, 0, 0)}}},
    {"blue step noise view saturates high", {{bgr(0, 0, 0), bgr(65, 0, 0)}}, 100, 5, true, false,
     {{bgr(255, 127, 127), grey(127)}}},
    {"mirrored blue step", {{bgr(65, 0, 0), bgr(0, 0, 0)}}, 100, 5, false, false, {{bgr(52, 0, 0), bgr(0, 0, 0)}}},
    {"mirrored blue step noise view saturates low", {{bgr(65, 0, 0), bgr(0, 0, 0)}}, 100, 5, true, false,
     {{bgr(0, 127, 127), grey(127)}}},
    {"disable wins over the noise view", greys({{10, 20}, {200, 0}}), 400, 10, true, true,
     greys({{10, 20}, {200, 0}})},
    {"three by two", greys({{10, 20, 30}, {40, 50, 60}}), 400, 10, false, false, greys({{14, 22, 28}, {42, 52, 58}})},
    // Dynamic 11 (divisor 0): a pair of equal keys keeps the full tolerance,
    // any other pair takes nothing, however large the Level. At column 0 the
    // pairs reaching columns 0 and 2 have equal keys (6 and 6) though not
    // equal colours, so column 2 is averaged in; column 1 (key 1000) never is.
    {"dynamic 11 takes only pairs of equal keys", {{bgr(6, 0, 0), grey(100), bgr(0, 1, 0)}}, 1000000, 11, false,
     false, {{bgr(4, 0, 0), grey(100), bgr(0, 1, 0)}}},
};

TEST(EngineExamples, ExactPixels) {
  for (const Example& ex : kExamples) {
    for (int pad : {0, 2}) {
      for (bool bottom_up : {false, true}) {
        SCOPED_TRACE(testing::Message() << ex.name << " (pad " << pad << (bottom_up ? ", bottom-up)" : ")"));
        TestFrame src = TestFrame::from_rows(ex.input, pad, bottom_up);
        // Byte 3 of the input plays no part: set it, and expect it cleared.
        for (int i = 0; i < src.h; ++i)
          for (int j = 0; j < src.w; ++j) src.at(i, j) |= 0x7F000000u;
        TestFrame dst = run_filter(src, make_settings(ex.level, ex.dynamic, ex.show_noise, ex.disable));
        TestFrame want = TestFrame::from_rows(ex.expected);
        EXPECT_EQ(hex_words(dst.pixels()), hex_words(want.pixels()));
        EXPECT_TRUE(dst.padding_untouched());
      }
    }
  }
}

}  // namespace
