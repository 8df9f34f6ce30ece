// The settings procedures: defaults, the script command, the saved line and
// the caption, including buffers too short for the line.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "engine/filter_settings.h"
#include "settings/settings_procs.h"

namespace {

struct Instance {
  FilterSettings settings;
  FilterActivation fa{};
  explicit Instance(unsigned char fill = 0xCD) {
    std::memset(&settings, fill, sizeof settings);  // hosts may not zero the record
    fa.filter_data = &settings;
  }
};

std::string script_line(Instance& in) {
  char buf[64];
  EXPECT_TRUE(FssProc(&in.fa, nullptr, buf, sizeof buf));
  return buf;
}

std::string caption(Instance& in) {
  char buf[64];
  StringProc(&in.fa, nullptr, buf);
  return buf;
}

void replay(Instance& in, int level, int dynamic, int type = kScriptInt) {
  CScriptValue argv[2] = {};
  for (CScriptValue& v : argv) v.type = type;
  if (type == kScriptLong) {
    argv[0].value.l = level;  // sign-extended, low 32 bits first
    argv[1].value.l = dynamic;
  } else {
    argv[0].value.i = level;
    argv[1].value.i = dynamic;
  }
  ScriptConfig(nullptr, &in.fa, argv, 2);
}

TEST(SettingsProcs, NewInstanceDefaults) {
  Instance in;
  IFilterPreview* const preview_before = in.settings.preview;
  EXPECT_EQ(InitProc(&in.fa, nullptr), 0);
  EXPECT_EQ(in.settings.level, 100);
  EXPECT_EQ(in.settings.dynamic, 5);
  EXPECT_EQ(in.settings.disable, 0);
  EXPECT_EQ(in.settings.showNoise, 0);
  EXPECT_EQ(in.settings.preview, preview_before);  // not the initialiser's to touch
  EXPECT_EQ(caption(in), " ( 100, 5 )");
  EXPECT_EQ(script_line(in), "Config(100, 5)");
}

TEST(SettingsProcs, ReplayedLines) {
  struct Case {
    int level, dynamic;
    const char* line;
    const char* caption;
  };
  const Case cases[] = {
      {400, 0, "Config(400, 0)", " ( 400, 0 )"},
      {-1, 5, "Config(-1, 5)", " ( -1, 5 )"},
      {0, 11, "Config(0, 11)", " ( 0, 11 )"},
      {INT_MAX, INT_MIN, "Config(2147483647, -2147483648)", " ( 2147483647, -2147483648 )"},
      {INT_MIN, INT_MIN, "Config(-2147483648, -2147483648)", " ( -2147483648, -2147483648 )"},
  };
  for (const Case& c : cases) {
    for (int type : {int(kScriptInt), int(kScriptLong)}) {
      SCOPED_TRACE(c.line);
      Instance in;
      InitProc(&in.fa, nullptr);
      in.settings.showNoise = 1;
      in.settings.disable = 1;
      replay(in, c.level, c.dynamic, type);
      EXPECT_EQ(in.settings.level, c.level);
      EXPECT_EQ(in.settings.dynamic, c.dynamic);
      EXPECT_EQ(in.settings.showNoise, 1);  // the script command sets only Level and Dynamic
      EXPECT_EQ(in.settings.disable, 1);
      EXPECT_EQ(script_line(in), c.line);
      EXPECT_EQ(caption(in), c.caption);
    }
  }
}

TEST(SettingsProcs, SwitchesAreNotSaved) {
  // Save an instance with both switches on, replay its line into a new one.
  Instance saved;
  InitProc(&saved.fa, nullptr);
  replay(saved, 250, 7);
  saved.settings.showNoise = 1;
  saved.settings.disable = 1;
  const std::string line = script_line(saved);
  ASSERT_EQ(line, "Config(250, 7)");

  Instance restored(0x00);
  InitProc(&restored.fa, nullptr);
  replay(restored, 250, 7);
  EXPECT_EQ(restored.settings.disable, 0);
  EXPECT_EQ(restored.settings.showNoise, 0);
  EXPECT_EQ(script_line(restored), line);
}

TEST(SettingsProcs, ShortBuffersAreNeverOverrun) {
  // Guard bytes on both sides of a buffer of each length: the procedure
  // writes at most length - 1 characters and a terminator, nothing at all
  // for a length of 0 or less, and always returns true.
  const std::string full = "Config(-2147483648, -2147483648)";
  Instance in;
  InitProc(&in.fa, nullptr);
  replay(in, INT_MIN, INT_MIN);
  constexpr int kGuard = 16;
  for (int length : {INT_MIN, -5, -1, 0, 1, 2, 7, 31, 32, 33, 34, 100}) {
    SCOPED_TRACE(length);
    const int room = length > 0 ? length : 0;
    std::vector<unsigned char> mem(size_t(room + 2 * kGuard), 0xEE);
    char* buf = reinterpret_cast<char*>(mem.data() + kGuard);
    EXPECT_TRUE(FssProc(&in.fa, nullptr, buf, length));
    for (int k = 0; k < kGuard; ++k) {
      ASSERT_EQ(mem[size_t(k)], 0xEE) << "before the buffer";
      ASSERT_EQ(mem[size_t(kGuard + room + k)], 0xEE) << "after the buffer";
    }
    if (length <= 0) {
      continue;
    }
    const size_t expected_len = std::min(full.size(), size_t(length - 1));
    EXPECT_EQ(std::string(buf), full.substr(0, expected_len));
  }
}

TEST(SettingsProcs, CaptionFitsThirtyBytes) {
  Instance in;
  replay(in, INT_MIN, INT_MIN);
  std::vector<unsigned char> mem(30 + 8, 0xEE);
  StringProc(&in.fa, nullptr, reinterpret_cast<char*>(mem.data()));
  EXPECT_EQ(mem[29], 0);
  for (size_t k = 30; k < mem.size(); ++k) EXPECT_EQ(mem[k], 0xEE);
}

}  // namespace
