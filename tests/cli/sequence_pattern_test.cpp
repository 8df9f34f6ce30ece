// Image sequence names: which names are patterns, which files belong to
// one, and which outputs the write plan finds writing over an input's files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "cli/cli_error.h"
#include "cli/files/sequence_pattern.h"
#include "cli/files/write_plan.h"
#include "tests/cli/cli_test_support.h"

namespace velbrin_cli_test {
namespace {

TEST(SequencePattern, ReadsFFmpegsNumberConversions) {
  const struct {
    const char* name;
    bool pattern;
    const char* picture_7;  // name_of(7)
  } cases[] = {
      {"f%d.png", true, "f7.png"},
      {"dir/%04d.png", true, "dir/0007.png"},
      {"100%%/f%02d.png", true, "100%/f07.png"},
      {"f%d-%d.png", false, ""},
      {"f%x.png", false, ""},
      {"f%%.png", false, ""},
      {"plain.png", false, ""},
      {"f%123d.png", false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto p = SequencePattern::parse(c.name);
    ASSERT_EQ(p.has_value(), c.pattern);
    if (p) {
      EXPECT_EQ(p->name_of(7), c.picture_7);
    }
  }
}

TEST(SequencePattern, FindsItsPicturesAndTheInputsItWouldReplace) {
  ScratchDir dir;
  for (const char* name : {"0001.png", "0002.png", "0004.png", "01.png", "00003.png", "0005.jpg"})
    std::ofstream(dir / name) << "x";
  mkdir((dir / "sub").c_str(), 0755);
  const auto p = SequencePattern::parse(dir / "%04d.png");
  ASSERT_TRUE(p);
  // "01.png" and "00003.png" are not what "%04d" writes; the gap stays a gap.
  EXPECT_EQ(p->existing_numbers(), (std::vector<int64_t>{1, 2, 4}));
  EXPECT_EQ(p->number_in_file_name("0002.png"), 2);
  EXPECT_EQ(p->number_in_file_name("2.png"), std::nullopt);

  const struct {
    std::string output;
    std::string input;
    std::string written_over;  // "" when the input is safe
  } cases[] = {
      {dir / "00%02d.png", dir / "%04d.png", dir / "0001.png"},
      {dir / "sub/../%04d.png", dir / "%04d.png", dir / "0001.png"},
      {dir / "%d.png", dir / "%04d.png", ""},  // writes 1.png, 2.png, ...
      {dir / "0004.png", dir / "%04d.png", dir / "0004.png"},
      {dir / "%04d.png", dir / "0002.png", dir / "0002.png"},
      {dir / "%04d.png", dir / "01.png", ""},
      {dir / "other.mkv", dir / "%04d.png", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.output + " from " + c.input);
    WritePlan plan;
    plan.jobs = {PlannedJob{c.input, c.output, ""}};
    std::string refusal;
    try {
      check_write_plan(plan);
    } catch (const CliError& e) {
      refusal = e.what();
    }
    EXPECT_EQ(refusal.empty(), c.written_over.empty()) << refusal;
    if (!c.written_over.empty()) {
      EXPECT_NE(refusal.find("'" + c.written_over + "'"), std::string::npos) << refusal;
    }
  }
}

}  // namespace
}  // namespace velbrin_cli_test
