// Projects that the editors saved with Velbrin applied from the descriptions
// installed with the plug-in (tests/frei0r/projects/, made by
// scripts/editors-screenshot.sh): Shotcut's panel and Kdenlive's effect
// stack set to Level 150, Dynamic 4 and Show noise. Each is rendered with
// melt, as the editors render, on a clip of the project's size, under an
// Xvfb display as the editors have one (Kdenlive's compositing transitions
// need it), and every frame must equal what
// velbrin --lossless --level 150 --dynamic 4 --show-noise makes of the clip.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/cli/cli_test_support.h"

namespace {

using namespace velbrin_cli_test;

struct EditorProject {
  const char* name;
  const char* file;  // in tests/frei0r/projects/, naming its clip "clip.mkv"
  int frames;        // the length of its timeline
};

// Both projects are 640x360 at 25 frames per second: their clip must be too,
// or MLT would scale it.
const EditorProject kProjects[] = {
    {"shotcut", "shotcut-velbrin.mlt", 50},
    {"kdenlive", "kdenlive-velbrin.kdenlive", 50},
};
constexpr int kWidth = 640, kHeight = 360;

void PrintTo(const EditorProject& p, std::ostream* os) { *os << p.name; }

class Frei0rEditorProjects : public testing::TestWithParam<EditorProject> {};

TEST_P(Frei0rEditorProjects, RenderAsVelbrinDoes) {
  const EditorProject& project = GetParam();
  if (*VELBRIN_MELT == '\0' || *VELBRIN_XVFB_RUN == '\0')
    GTEST_SKIP() << "melt or xvfb-run is not installed; scripts/install-deps.sh installs them";
  ScratchDir dir;
  make_noisy_clip(dir / "clip.mkv", kWidth, kHeight, 50, false);

  // The project beside its clip. Kdenlive names the folder it resolves
  // clips from (root="..."): here, the scratch folder.
  std::string xml = read_file(std::string(VELBRIN_PROJECTS_DIR) + "/" + project.file);
  ASSERT_FALSE(xml.empty()) << project.file;
  xml = std::regex_replace(xml, std::regex(" root=\"[^\"]*\""), " root=\"" + dir.path() + "\"");
  std::ofstream(dir / project.file) << xml;

  setenv("FREI0R_PATH", VELBRIN_FREI0R_DIR, 1);
  const RunResult melt = run_program({VELBRIN_XVFB_RUN, "-a", VELBRIN_MELT, "-silent", dir / project.file, "in=0",
                                      "out=" + std::to_string(project.frames - 1), "-consumer",
                                      "avformat:" + dir / "melt.mkv", "vcodec=ffv1", "pix_fmt=bgra", "an=1",
                                      "real_time=0"});
  ASSERT_EQ(melt.exit_code, 0) << melt.err;
  const RunResult velbrin = run_velbrin(
      {"-q", "--lossless", "--level", "150", "--dynamic", "4", "--show-noise", dir / "clip.mkv", dir / "velbrin.mkv"});
  ASSERT_EQ(velbrin.exit_code, 0) << velbrin.err;

  const std::vector<Picture> rendered = decode_frames(dir / "melt.mkv", kWidth, kHeight);
  std::vector<Picture> expected = decode_frames(dir / "velbrin.mkv", kWidth, kHeight);
  ASSERT_EQ(rendered.size(), size_t(project.frames));
  ASSERT_GE(expected.size(), rendered.size());
  expected.resize(rendered.size());
  EXPECT_EQ(first_difference(expected, rendered), "");
  // Show noise: grey where the filter changed nothing, so not the clip itself.
  std::vector<Picture> clip = decode_frames(dir / "clip.mkv", kWidth, kHeight);
  clip.resize(rendered.size());
  EXPECT_NE(first_difference(clip, expected), "");
}

INSTANTIATE_TEST_SUITE_P(SavedByTheEditors, Frei0rEditorProjects, testing::ValuesIn(kProjects),
                         [](const testing::TestParamInfo<EditorProject>& i) { return std::string(i.param.name); });

}  // namespace
