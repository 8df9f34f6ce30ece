// The command line read by velbrin: the strict reader of the host's script
// line, and how options combine.
#include <gtest/gtest.h>

#include "cli/cli_error.h"
#include "cli/host/config_line.h"
#include "cli/options.h"
#include "engine/setting_ranges.h"

namespace {

TEST(ConfigLine, AcceptsWhatTheHostWrites) {
  struct Case {
    const char* line;
    int level, dynamic;
  };
  const Case cases[] = {
      {"Config(100, 5)", 100, 5},
      {"Config(0, 0)", 0, 0},
      {"Config(-1, 5)", -1, 5},
      {"Config(-2147483648, 2147483647)", INT32_MIN, INT32_MAX},
      {"Config(1,2)", 1, 2},
      {" Config ( 1 ,\t2 ) ", 1, 2},
      {"Config(100, 5);", 100, 5},
      {"Config(100, 5)\n", 100, 5},
      {"VirtualDub.video.filters.instance[0].Config(100, 5);", 100, 5},
      {"VirtualDub.video.filters.instance[12].Config(400, 10)", 400, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const ConfigLine a = parse_config_line(c.line);
    ASSERT_TRUE(a.arguments.has_value()) << a.why;
    EXPECT_EQ(a.arguments->level, c.level);
    EXPECT_EQ(a.arguments->dynamic, c.dynamic);
  }
}

TEST(ConfigLine, RefusesEverythingElseWithTheReason) {
  const struct {
    const char* line;
    const char* why;
  } cases[] = {
      {"", "expected the script line as the host saves it"},
      {"CONFIG(100, 5)", "expected the script line as the host saves it"},
      {"Config 100, 5", "expected '(' after Config"},
      {"Config(1e2, 5)", "'1e2' is not a whole number"},
      {"Config(+1, 5)", "'+1' is not a whole number"},
      {"Config(2147483648, 0)", "'2147483648' is not a whole number"},
      {"Config(0, -2147483649)", "'-2147483649' is not a whole number"},
      {"Config((100), 5)", "'(100' is not a whole number"},
      {"Config(100 5)", "'100 5' is not a whole number"},
      {"Config(100)", "separated by a comma"},
      {"Config(100, 5, 6)", "and then ')'"},
      {"Config(100, )", "Config takes two numbers"},
      {"Config(100, 5)(", "unexpected '('"},
      {"Config(100, 5);;", "unexpected ';'"},
      {"VirtualDub.video.filters.instance[a].Config(1, 2)", "instance prefix"},
      {"filters.Config(1, 2)", "expected the script line as the host saves it"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const ConfigLine a = parse_config_line(c.line);
    EXPECT_FALSE(a.arguments.has_value());
    EXPECT_NE(a.why.find(c.why), std::string::npos) << a.why;
  }
}

TEST(Options, ReadInOrder) {
  const Options o = parse_options({"--config", "Config(1, 2)", "--dynamic=7", "--show-noise", "--threads", "3",
                                   "--frames", "4-", "-y", "in.mkv", "out.mkv"});
  EXPECT_EQ(o.level, 1);
  EXPECT_EQ(o.dynamic, 7);
  EXPECT_TRUE(o.show_noise);
  EXPECT_FALSE(o.disable);
  EXPECT_EQ(o.threads, 3);
  ASSERT_TRUE(o.frames.has_value());
  EXPECT_EQ(o.frames->first, 4);
  EXPECT_EQ(o.frames->last, INT64_MAX);
  EXPECT_TRUE(o.overwrite);
  EXPECT_EQ(o.input, "in.mkv");
  EXPECT_EQ(o.output, "out.mkv");
  EXPECT_FALSE(o.lossless);
  EXPECT_TRUE(parse_options({"--lossless", "in.mkv", "out.mkv"}).lossless);
  // "--" ends the options, so a file may start with a dash.
  const Options dash = parse_options({"--", "-in.mkv", "-out.mkv"});
  EXPECT_EQ(dash.input, "-in.mkv");
  EXPECT_EQ(dash.output, "-out.mkv");
}

TEST(Options, MistakesAreUsageErrors) {
  const std::vector<std::vector<std::string>> cases = {
      {"in.mkv"},
      {"in.mkv", "out.mkv", "more.mkv"},
      {"--level", "in.mkv", "out.mkv"},
      {"--level"},
      {"--show-noise=1", "in.mkv", "out.mkv"},
      {"--frames", "-3", "in.mkv", "out.mkv"},
      {"--frames", "a-b", "in.mkv", "out.mkv"},
      {"--crf", "1.5", "in.mkv", "out.mkv"},
      {"--at", "2", "in.mkv", "out.mkv"},
      {"--bypass", "--level", "3", "in.mkv", "out.mkv"},
      // Level and Dynamic alone take the dialog's ranges.
      {"--level", "401", "in.mkv", "out.mkv"},
      {"--level", "-1", "in.mkv", "out.mkv"},
      {"--dynamic", "11", "in.mkv", "out.mkv"},
      {"--dynamic", "-1", "in.mkv", "out.mkv"},
      // Combined switches: each letter must be a switch.
      {"-qx", "in.mkv", "out.mkv"},
      {"-q5", "in.mkv", "out.mkv"},
      {"-yq-", "in.mkv", "out.mkv"},
      {"--lossless", "--crf", "3", "in.mkv", "out.mkv"},
      {"--lossless=1", "in.mkv", "out.mkv"},
      // --auto chooses Level and Dynamic itself; --measure only reads.
      {"--auto", "--level", "3", "in.mkv", "out.mkv"},
      {"--dynamic", "3", "--auto", "in.mkv", "out.mkv"},
      {"--auto", "--config", "Config(1, 2)", "in.mkv", "out.mkv"},
      {"--bypass", "--auto", "in.mkv", "out.mkv"},
      {"--measure"},
      {"--measure", "--auto", "in.mkv"},
      {"--measure", "--lossless", "in.mkv"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(testing::PrintToString(args));
    try {
      parse_options(args);
      ADD_FAILURE() << "accepted";
    } catch (const CliError& e) {
      EXPECT_EQ(e.exit_code(), kExitUsage);
    }
  }
}

// Level and Dynamic outside the dialog's ranges: the message names the
// range and points at --config, which takes any value a script can hold.
TEST(Options, SettingsOutsideTheDialogsRanges) {
  const std::string hint = " (--config 'Config(L, D)' takes any value a saved script can hold)";
  const struct {
    const char *option, *value, *message;
  } cases[] = {
      {"--level", "401", "--level: expected an integer from 0 to 400, got '401'"},
      {"--level", "-1", "--level: expected an integer from 0 to 400, got '-1'"},
      {"--level", "1O0", "--level: expected an integer"},
      {"--level", "2147483648", "--level: expected an integer"},
      {"--dynamic", "11", "--dynamic: expected an integer from 0 to 10, got '11'"},
      {"--dynamic", "-2147483648", "--dynamic: expected an integer from 0 to 10, got '-2147483648'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.option) + " " + c.value);
    try {
      parse_options({c.option, c.value, "in.mkv", "out.mkv"});
      ADD_FAILURE() << "accepted";
    } catch (const CliError& e) {
      EXPECT_EQ(e.exit_code(), kExitUsage);
      const std::string what = e.what();
      EXPECT_EQ(what.rfind(c.message, 0), 0u) << what;
      if (std::string(c.message).find("got") != std::string::npos) {
        EXPECT_EQ(what, c.message + hint);
      }
    }
  }
  const Options o = parse_options({"--config", "Config(401, -1)", "in.mkv", "out.mkv"});
  EXPECT_EQ(o.level, 401);
  EXPECT_EQ(o.dynamic, -1);
}

TEST(Options, RangesAndSwitches) {
  struct Case {
    std::vector<std::string> args;
    int level, dynamic;
    bool overwrite, quiet;
  };
  const Case cases[] = {
      {{"--level", "0", "--dynamic", "0"}, 0, 0, false, false},
      {{"--level", "400", "--dynamic", "10"}, 400, 10, false, false},
      {{"--config", "Config(-2147483648, 2147483647)"}, INT32_MIN, INT32_MAX, false, false},
      {{"--config", "Config(1000, -3)", "--level", "4"}, 4, -3, false, false},
      {{"-qy"}, 100, 5, true, true},
      {{"-yq"}, 100, 5, true, true},
      {{"-y", "-n"}, 100, 5, false, false},
      {{"-n", "-y"}, 100, 5, true, false},
      {{"-qyn"}, 100, 5, false, true},
      {{"-n", "--overwrite"}, 100, 5, true, false},
      {{"-y", "--no-overwrite"}, 100, 5, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"in.mkv", "out.mkv"});
    const Options o = parse_options(args);
    EXPECT_EQ(o.level.value_or(100), c.level);
    EXPECT_EQ(o.dynamic.value_or(5), c.dynamic);
    EXPECT_EQ(o.overwrite, c.overwrite);
    EXPECT_EQ(o.quiet, c.quiet);
    EXPECT_EQ(o.input, "in.mkv");
  }
}

}  // namespace

// The help text repeats the settings' ranges, defaults and the rule's
// factor: they must be engine/setting_ranges.h's.
TEST(Options, HelpTellsTheSettingsHeadersRangesAndRule) {
  const auto range = [](int low, int high, int standard) {
    std::string text = "(";
    text.append(std::to_string(low)).append("..").append(std::to_string(high));
    return text.append(", default ").append(std::to_string(standard)).append(")");
  };
  const std::string help = usage_text();
  const std::string texts[] = {
      range(kLevelMin, kLevelMax, kDefaultLevel),
      range(kDynamicMin, kDynamicMax, kDefaultDynamic),
      std::string("about\n                     ").append(std::to_string(kLevelPerSigma)).append(" x the noise's"),
      std::string("Dynamic ").append(std::to_string(kAutoDynamic)).append(";"),
  };
  for (const std::string& text : texts) EXPECT_NE(help.find(text), std::string::npos) << text;
}
