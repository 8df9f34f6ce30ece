// Properties of the run procedure checked on random frames and settings:
// what must hold whatever the content, the size or the stride.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>

#include "tests/support/frame_support.h"

using namespace velbrin_test;

namespace {

struct Geometry {
  int w, h, pad;
  bool bottom_up;
};

const Geometry kGeometries[] = {
    {1, 1, 0, false}, {2, 1, 1, false}, {1, 7, 0, true},  {3, 3, 2, false},  {5, 5, 0, true},
    {7, 4, 3, true},  {16, 9, 0, false}, {33, 17, 5, true}, {64, 3, 1, false},
};

TestFrame random_frame(std::mt19937& rng, const Geometry& g) {
  TestFrame f(g.w, g.h, g.pad, g.bottom_up);
  // A mix of smooth areas and noise, so pairs both pass and fail.
  std::uniform_int_distribution<int> noise(-12, 12);
  const int base = int(rng() % 200);
  for (int i = 0; i < f.h; ++i)
    for (int j = 0; j < f.w; ++j) {
      auto ch = [&](int k) { return std::clamp(base + 3 * i + 2 * j + k * 7 + noise(rng), 0, 255); };
      f.at(i, j) = bgr(ch(0), ch(1), ch(2)) | (uint32_t(rng()) & 0xFF000000u);
    }
  return f;
}

std::vector<uint32_t> without_byte3(std::vector<uint32_t> v) {
  for (auto& x : v) x &= 0x00FFFFFFu;
  return v;
}

TEST(EngineProperties, UniformFramesStayUniform) {
  std::mt19937 rng(1);
  const int dynamics[] = {INT_MIN, -40, 0, 5, 10, 12, 1000, INT_MAX};
  for (const Geometry& g : kGeometries) {
    for (int d : dynamics) {
      const uint32_t colour = uint32_t(rng()) & 0xFFFFFFu;
      const int level = int(rng() % 1000) - 100;
      TestFrame src(g.w, g.h, g.pad, g.bottom_up);
      for (int i = 0; i < g.h; ++i)
        for (int j = 0; j < g.w; ++j) src.at(i, j) = colour | 0x5A000000u;
      SCOPED_TRACE(testing::Message() << g.w << "x" << g.h << " L=" << level << " D=" << d);
      for (uint32_t px : run_filter(src, make_settings(level, d)).pixels()) ASSERT_EQ(px, colour);
      for (uint32_t px : run_filter(src, make_settings(level, d, true)).pixels()) ASSERT_EQ(px, grey(127));
      for (uint32_t px : run_filter(src, make_settings(level, d, true, true)).pixels()) ASSERT_EQ(px, colour);
    }
  }
}

TEST(EngineProperties, IdentityCases) {
  // Settings under which no neighbour can pass, and Disable: the output is
  // the input with byte 3 cleared, and the noise view is flat grey 127
  // (except under Disable).
  struct Case {
    int level, dynamic;
    bool disable;
  };
  const Case cases[] = {
      {0, 0, false},          {0, 10, false},       {-1, 5, false},        {-100000, 3, false},
      {INT_MIN, 0, false},    {INT_MIN, 10, false}, {INT_MIN, 12, false},  {INT_MIN, INT_MAX, false},
      {INT_MIN, INT_MIN, false}, {0, INT_MIN, false}, {400, 10, true},     {INT_MAX, -7, true},
  };
  std::mt19937 rng(2);
  for (const Geometry& g : kGeometries) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << g.w << "x" << g.h << " L=" << c.level << " D=" << c.dynamic);
      TestFrame src = random_frame(rng, g);
      EXPECT_EQ(run_filter(src, make_settings(c.level, c.dynamic, false, c.disable)).pixels(),
                without_byte3(src.pixels()));
      TestFrame noise = run_filter(src, make_settings(c.level, c.dynamic, true, c.disable));
      if (c.disable)
        EXPECT_EQ(noise.pixels(), without_byte3(src.pixels()));
      else
        for (uint32_t px : noise.pixels()) ASSERT_EQ(px, grey(127));
    }
  }
}

TEST(EngineProperties, HugeToleranceTakesEveryNeighbour) {
  // Any tolerance above 2550 takes all 24 neighbours; computed exactly, a
  // Level of INT_MAX does so for every Dynamic but 11, with no overflow.
  // At D = 0 (K = 11) the widest pair, key difference 2550, lowers the
  // tolerance by 2550 / 11 = 231: the lowest Level that still takes every
  // neighbour (T > 2550 for every pair) is 2551 + 231.
  constexpr int kLowestLevelTakingAll = 2551 + 2550 / 11;
  std::mt19937 rng(3);
  for (const Geometry& g : kGeometries) {
    TestFrame src = random_frame(rng, g);
    const auto all_taken = run_filter(src, make_settings(kLowestLevelTakingAll, 0)).pixels();
    for (int d : {INT_MIN, -1, 0, 10, 12, INT_MAX}) {
      SCOPED_TRACE(testing::Message() << g.w << "x" << g.h << " D=" << d);
      EXPECT_EQ(run_filter(src, make_settings(INT_MAX, d)).pixels(), all_taken);
    }
  }
}

TEST(EngineProperties, NoiseViewIsTenTimesTheChange) {
  std::mt19937 rng(4);
  for (const Geometry& g : kGeometries) {
    for (int level : {30, 100, 400}) {
      TestFrame src = random_frame(rng, g);
      const int d = int(rng() % 11);
      const auto in = src.pixels();
      const auto out = run_filter(src, make_settings(level, d)).pixels();
      const auto noise = run_filter(src, make_settings(level, d, true)).pixels();
      for (size_t k = 0; k < in.size(); ++k)
        for (int c = 0; c < 3; ++c) {
          const int own = int(in[k] >> (8 * c) & 0xFF), avg = int(out[k] >> (8 * c) & 0xFF);
          ASSERT_EQ(int(noise[k] >> (8 * c) & 0xFF), std::clamp(10 * (avg - own) + 127, 0, 255));
        }
    }
  }
}

TEST(EngineProperties, BorderRowsAndColumnsReachOnlyTheirNeighbours) {
  // Changing row 0 changes only row 0's outputs (rows 1 and 2 clamp onto
  // themselves); changing the last row changes only the last three rows.
  // The same holds for columns.
  std::mt19937 rng(5);
  for (const Geometry& g : kGeometries) {
    TestFrame src = random_frame(rng, g);
    const auto before = run_filter(src, make_settings(400, 3)).pixels();
    struct Edit {
      bool row;
      int index, first_affected, last_affected;
    };
    const Edit edits[] = {{true, 0, 0, 0}, {true, g.h - 1, g.h - 3, g.h - 1},
                          {false, 0, 0, 0}, {false, g.w - 1, g.w - 3, g.w - 1}};
    for (const Edit& e : edits) {
      TestFrame changed = src;
      const int n = e.row ? g.w : g.h;
      for (int k = 0; k < n; ++k) {
        uint32_t& px = e.row ? changed.at(e.index, k) : changed.at(k, e.index);
        px ^= 0x3F5A27u;
      }
      const auto after = run_filter(changed, make_settings(400, 3)).pixels();
      for (int i = 0; i < g.h; ++i)
        for (int j = 0; j < g.w; ++j) {
          const int pos = e.row ? i : j;
          if (pos >= e.first_affected && pos <= e.last_affected) continue;
          ASSERT_EQ(after[size_t(i * g.w + j)], before[size_t(i * g.w + j)])
              << g.w << "x" << g.h << (e.row ? " row " : " column ") << e.index << " changed output " << i << ","
              << j;
        }
    }
  }
}

TEST(EngineProperties, RowPaddingIsNeitherReadNorWritten) {
  std::mt19937 rng(6);
  for (const Geometry& g : kGeometries) {
    if (g.pad == 0) continue;
    TestFrame src = random_frame(rng, g);
    const auto settings = make_settings(int(rng() % 500), int(rng() % 11), rng() % 2 == 0);
    TestFrame first = run_filter(src, settings);
    for (size_t k = 0; k < src.words.size(); ++k)
      if (int(k % size_t(g.w + g.pad)) >= g.w) src.words[k] = uint32_t(rng());
    TestFrame second = run_filter(src, settings);
    EXPECT_EQ(first.pixels(), second.pixels());
    EXPECT_TRUE(first.padding_untouched());
    EXPECT_TRUE(second.padding_untouched());
  }
}

TEST(EngineProperties, NothingHappensWithoutPixels) {
  // Zero or negative sizes: nothing is read or written (null pixel pointers
  // would crash otherwise).
  for (auto [w, h] : {std::pair{0, 0}, {0, 5}, {5, 0}, {-3, 4}, {4, -3}, {INT_MIN, INT_MIN}}) {
    VFBitmap src{}, dst{};
    src.w = w;
    src.h = h;
    src.modulo = -64;
    EXPECT_EQ(run_proc_on(src, dst, make_settings(100, 5)), 0);
  }
}

TEST(EngineProperties, SameBufferReadsEarlierOutputs) {
  // Handed one buffer as both frames, each pixel reads its 25 neighbours
  // before its store, so earlier rows and the left neighbours are read as
  // already filtered. Row 0 column 0 is the first pixel: it sees only inputs.
  std::mt19937 rng(7);
  TestFrame src = random_frame(rng, {9, 6, 0, false});
  const auto separate = run_filter(src, make_settings(400, 4)).pixels();
  VFBitmap b = bitmap_of(src);
  EXPECT_EQ(run_proc_on(b, b, make_settings(400, 4)), 0);
  EXPECT_EQ(src.at(0, 0), separate[0]);
  EXPECT_NE(src.pixels(), separate);
}

}  // namespace
