// The command line of velbrin: what the user asked for, read strictly.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/run/frame_range.h"


struct Options {
  enum class Action { kRun, kMeasure, kHelp, kVersion };
  Action action = Action::kRun;

  std::string input;   // "-": standard input
  std::string output;  // may be empty when only --compare is asked for; "-": standard output

  // INPUT... FOLDER/: every input filtered into the folder under its own
  // name. Empty folder: one input, `input` and `output` as given.
  std::vector<std::string> inputs;
  std::string output_folder;

  std::string format;  // --format: the stream format for OUTPUT -

  // Filter settings. Level and Dynamic go to the module through its Config
  // script command; unset ones keep the instance's defaults.
  std::optional<int> level;
  std::optional<int> dynamic;
  bool show_noise = false;
  bool disable = false;
  bool bypass = false;  // copy frames without calling the filter (measuring)
  // --auto: each frame's Level and Dynamic from the noise measured in it.
  bool auto_strength = false;

  int threads = 0;  // 0: one per processor
  std::optional<FrameRange> frames;
  bool overwrite = false;
  bool quiet = false;
  bool verbose = false;

  std::optional<int> crf;
  std::string codec;
  bool lossless = false;  // store the filter's output exactly, whatever the input
  bool no_audio = false;  // -an, --no-audio: leave the input's audio out

  std::string compare_path;
  int64_t compare_at = 0;

  std::string progress_path;  // --progress: key=value reports there ("-": stderr)

  std::string module_path;  // empty: $VELBRIN_MODULE, then beside the executable
};

// Reads argv; throws CliError (exit code 2) for anything malformed.
Options parse_options(const std::vector<std::string>& args);

std::string usage_text();
