// The editors' descriptions of the plug-in (Shotcut's panel, Kdenlive's
// effect) repeat the settings' scales and defaults, and the plug-in and the
// descriptions tell users the rule's factor: each must match
// engine/setting_ranges.h, and the Auto switch must sit at the plug-in's
// index for it. Fails when one of them drifts from the header.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "engine/setting_ranges.h"

namespace {

std::string read_source(const std::string& relative) {
  std::ifstream in(std::string(VELBRIN_SOURCE_DIR) + "/" + relative);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_FALSE(text.str().empty()) << relative;
  return text.str();
}

// The first capture of `pattern` in `text`, or "" when it does not occur.
std::string find(const std::string& text, const std::string& pattern) {
  std::smatch m;
  return std::regex_search(text, m, std::regex(pattern)) ? m[1].str() : "";
}

std::string number(double v) {
  std::ostringstream s;
  s << v;
  return s.str();
}

const std::string kRuleFactor = "About " + std::to_string(kLevelPerSigma) + " x the noise's standard deviation";

TEST(EditorDescriptions, ShotcutPanelMatchesTheSettingsHeader) {
  const std::string qml = read_source("frei0r/shotcut/velbrin/ui.qml");
  const struct {
    const char* pattern;
    std::string want;
  } kRows[] = {
      {R"x(property int levelScale: (\d+))x", std::to_string(kLevelMax)},
      {R"x(property int dynamicScale: (\d+))x", std::to_string(kDynamicMax)},
      {R"x(property int levelDefault: (\d+))x", std::to_string(kDefaultLevel)},
      {R"x(property int dynamicDefault: (\d+))x", std::to_string(kDefaultDynamic)},
      {R"x(id: levelSlider\s+minimumValue: (\d+))x", std::to_string(kLevelMin)},
      {R"x(id: dynamicSlider\s+minimumValue: (\d+))x", std::to_string(kDynamicMin)},
      {R"x(property string autoStrength: '(\d+)')x", "4"},
      {R"x((About \d+ x the noise\\'s standard deviation))x", "About " + std::to_string(kLevelPerSigma) +
                                                                 " x the noise\\'s standard deviation"},
      {R"x(Auto uses (\d+))x", std::to_string(kAutoDynamic)},
  };
  for (const auto& row : kRows) EXPECT_EQ(find(qml, row.pattern), row.want) << row.pattern;
}

TEST(EditorDescriptions, KdenliveEffectMatchesTheSettingsHeader) {
  const std::string xml = read_source("frei0r/kdenlive/frei0r_velbrin.xml");
  const struct {
    const char* name;
    int min, max, standard;
  } kRows[] = {{"Level", kLevelMin, kLevelMax, kDefaultLevel}, {"Dynamic", kDynamicMin, kDynamicMax, kDefaultDynamic}};
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.name);
    const std::string tag = find(xml, std::string("(<parameter [^>]*name=\"") + row.name + "\"[^>]*>)");
    ASSERT_FALSE(tag.empty());
    // Kdenlive shows value x factor; the default is the plug-in's 0..1 value.
    EXPECT_EQ(find(tag, R"x( min="([^"]*)")x"), std::to_string(row.min));
    EXPECT_EQ(find(tag, R"x( max="([^"]*)")x"), std::to_string(row.max));
    EXPECT_EQ(find(tag, R"x( factor="([^"]*)")x"), std::to_string(row.max));
    EXPECT_EQ(find(tag, R"x( default="([^"]*)")x"), number(double(row.standard) / row.max));
  }
  EXPECT_EQ(find(xml, R"x(<parameter type="(\w+)" name="Auto" default="0">)x"), "bool");
  EXPECT_NE(xml.find(kRuleFactor), std::string::npos);
}

TEST(EditorDescriptions, PluginTellsTheRule) {
  const std::string plugin = read_source("frei0r/velbrin_frei0r.cpp");
  EXPECT_NE(plugin.find("about " + std::to_string(kLevelPerSigma) + " x the noise's"), std::string::npos);
}

}  // namespace
