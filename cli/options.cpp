// Reads velbrin's command line. Every value is checked here, so the rest of
// the tool sees only well-formed settings; each mistake gets one line that
// names the option and what was expected.
#include "cli/options.h"

#include <sys/stat.h>

#include <climits>
#include <functional>
#include <map>

#include "cli/cli_error.h"
#include "cli/host/config_line.h"
#include "engine/setting_ranges.h"

namespace {

int int_value(const std::string& option, const std::string& text, int min, int max) {
  const std::optional<int> v = parse_int32(text);
  if (!v || *v < min || *v > max) {
    std::string range = min == INT32_MIN ? "an integer" : "an integer from " + std::to_string(min) + " to " +
                                                              std::to_string(max);
    throw usage_error(option + ": expected " + range + ", got '" + text + "'");
  }
  return *v;
}

// Level and Dynamic on their own take the ranges the host's dialog offers;
// any other value the script command takes goes through --config.
int setting_value(const std::string& option, const std::string& text, int min, int max) {
  const std::optional<int> v = parse_int32(text);
  if (!v || *v < min || *v > max)
    throw usage_error(option + ": expected an integer from " + std::to_string(min) + " to " + std::to_string(max) +
                      ", got '" + text + "' (--config 'Config(L, D)' takes any value a saved script can hold)");
  return *v;
}

int64_t frame_number(const std::string& option, const std::string& whole, const std::string& text) {
  const std::optional<int> v = parse_int32(text);
  if (!v || *v < 0) throw usage_error(option + ": expected a frame number (0 or more), got '" + whole + "'");
  return *v;
}

// "A-B" (inclusive), "A-" (to the end) or "N" (that frame alone).
FrameRange frame_range(const std::string& option, const std::string& text) {
  FrameRange range;
  const size_t dash = text.find('-');
  if (dash == std::string::npos) {
    range.first = range.last = frame_number(option, text, text);
    return range;
  }
  range.first = frame_number(option, text, text.substr(0, dash));
  const std::string rest = text.substr(dash + 1);
  if (!rest.empty()) range.last = frame_number(option, text, rest);
  if (range.last < range.first)
    throw usage_error(option + ": the range '" + text + "' ends before it starts");
  return range;
}

}  // namespace

namespace {

using ValueHandler = std::function<void(Options& o, const std::string& name, const std::string& value)>;
using FlagHandler = std::function<void(Options& o)>;

// A value that names something (a file, an encoder, a format): any text but
// the empty one, which is always a slip.
ValueHandler text_into(std::string Options::*field, const char* expected) {
  return [field, expected](Options& o, const std::string& name, const std::string& value) {
    if (value.empty()) throw usage_error(name + ": " + expected);
    o.*field = value;
  };
}

// Options that take a value, each with the step that reads it.
const std::map<std::string, ValueHandler>& value_options() {
  static const std::map<std::string, ValueHandler> table = {
      {"--level", [](Options& o, auto& n, auto& v) { o.level = setting_value(n, v, kLevelMin, kLevelMax); }},
      {"--dynamic", [](Options& o, auto& n, auto& v) { o.dynamic = setting_value(n, v, kDynamicMin, kDynamicMax); }},
      {"--config",
       [](Options& o, auto& n, auto& v) {
         const ConfigLine c = parse_config_line(v);
         if (!c.arguments) throw usage_error(n + ": " + c.why + ", got '" + v + "'");
         o.level = c.arguments->level;
         o.dynamic = c.arguments->dynamic;
       }},
      {"--threads", [](Options& o, auto& n, auto& v) { o.threads = int_value(n, v, 0, 256); }},
      {"--frames", [](Options& o, auto& n, auto& v) { o.frames = frame_range(n, v); }},
      // The range is the encoder's, checked where the encoder is known.
      {"--crf", [](Options& o, auto& n, auto& v) { o.crf = int_value(n, v, INT_MIN, INT_MAX); }},
      {"--codec", text_into(&Options::codec, "expected an encoder name")},
      {"--compare", text_into(&Options::compare_path, "expected a file name")},
      {"--progress", text_into(&Options::progress_path, "expected a file name, or - for standard error")},
      {"--format", text_into(&Options::format, "expected a format name such as matroska, nut or yuv4mpegpipe")},
      {"--at", [](Options& o, auto& n, auto& v) { o.compare_at = frame_number(n, v, v); }},
      {"--module", text_into(&Options::module_path, "expected a file name")},
      {"--plan-segments",
       [](Options& o, auto& n, auto& v) {
         o.plan_segments = int_value(n, v, 1, 100000);
         o.action = Options::Action::kPlanSegments;
       }},
  };
  return table;
}

// Options that are switches.
const std::map<std::string, FlagHandler>& flag_options() {
  static const std::map<std::string, FlagHandler> table = {
      {"--show-noise", [](Options& o) { o.show_noise = true; }},
      {"--disable", [](Options& o) { o.disable = true; }},
      {"--bypass", [](Options& o) { o.bypass = true; }},
      {"--auto", [](Options& o) { o.auto_strength = true; }},
      {"--lossless", [](Options& o) { o.lossless = true; }},
      {"-an", [](Options& o) { o.no_audio = true; }},
      {"--no-audio", [](Options& o) { o.no_audio = true; }},
      {"-sn", [](Options& o) { o.no_subtitles = true; }},
      {"--no-subtitles", [](Options& o) { o.no_subtitles = true; }},
      {"-y", [](Options& o) { o.overwrite = true; }},
      {"--overwrite", [](Options& o) { o.overwrite = true; }},
      {"-n", [](Options& o) { o.overwrite = false; }},
      {"--no-overwrite", [](Options& o) { o.overwrite = false; }},
      {"-q", [](Options& o) { o.quiet = true; }},
      {"--quiet", [](Options& o) { o.quiet = true; }},
      {"--verbose", [](Options& o) { o.verbose = true; }},
      {"-h", [](Options& o) { o.action = Options::Action::kHelp; }},
      {"--help", [](Options& o) { o.action = Options::Action::kHelp; }},
      {"--version", [](Options& o) { o.action = Options::Action::kVersion; }},
      {"--measure", [](Options& o) { o.action = Options::Action::kMeasure; }},
  };
  return table;
}

// Reads every option into `o`; returns the file names in order.
std::vector<std::string> read_arguments(const std::vector<std::string>& args, Options& o, bool& at_given) {
  std::vector<std::string> positional;
  for (size_t k = 0; k < args.size(); ++k) {
    const std::string& arg = args[k];
    if (arg == "--") {
      positional.insert(positional.end(), args.begin() + ptrdiff_t(k) + 1, args.end());
      break;
    }
    if (arg.size() < 2 || arg[0] != '-') {
      positional.push_back(arg);
      continue;
    }
    // "-qy": several one-letter switches in one word ("-an", as ffmpeg
    // spells it, is a word of its own).
    if (arg[1] != '-' && arg.size() > 2 && flag_options().count(arg) == 0) {
      for (size_t c = 1; c < arg.size(); ++c) {
        const std::string letter = std::string("-") + arg[c];
        auto f = flag_options().find(letter);
        if (f == flag_options().end())
          throw usage_error("unknown option '" + letter + "' in '" + arg + "' (see velbrin --help)");
        f->second(o);
      }
      continue;
    }
    std::string name = arg, value;
    bool inline_value = false;
    if (const size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      inline_value = true;
    }
    if (auto f = flag_options().find(name); f != flag_options().end()) {
      if (inline_value) throw usage_error(name + " takes no value");
      f->second(o);
      continue;
    }
    if (name == "-f") name = "--format";
    auto h = value_options().find(name);
    if (h == value_options().end()) throw usage_error("unknown option '" + name + "' (see velbrin --help)");
    if (!inline_value) {
      if (k + 1 >= args.size()) throw usage_error(name + " needs a value");
      value = args[++k];
    }
    if (name == "--at") at_given = true;
    h->second(o, name, value);
  }
  return positional;
}

// The last of several names is a folder when it exists as one or ends
// with '/'.
bool names_a_folder(const std::string& name) {
  struct stat st {};
  return !name.empty() && (name.back() == '/' || (stat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode)));
}

// INPUT and OUTPUT: both, or INPUT alone with --compare; or INPUT... FOLDER/.
void take_file_names(const std::vector<std::string>& positional, Options& o) {
  for (const std::string& name : positional)
    if (name.empty()) throw usage_error("empty file name");
  if (positional.size() >= 2 && names_a_folder(positional.back())) {
    o.inputs.assign(positional.begin(), positional.end() - 1);
    o.output_folder = positional.back();
    if (o.inputs.size() > 1 && !o.compare_path.empty())
      throw usage_error("--compare takes one input; give it one INPUT at a time");
    for (const std::string& in : o.inputs)
      if (in == "-") throw usage_error("standard input has no name to be written under in '" + o.output_folder + "'");
    o.input = o.inputs.front();
    return;
  }
  const size_t wanted = o.compare_path.empty() ? 2 : 1;
  if (positional.size() < wanted || positional.size() > 2) {
    if (positional.empty()) throw usage_error("missing INPUT and OUTPUT (see velbrin --help)");
    if (positional.size() > 2)
      throw usage_error("several inputs need a folder as the last name (an existing one, or a name ending in '/'); '" +
                        positional.back() + "' is not one");
    throw usage_error("missing OUTPUT (see velbrin --help)");
  }
  o.input = positional[0];
  o.inputs = {o.input};
  if (positional.size() == 2) o.output = positional[1];
}

// Options that contradict each other.
void check_combinations(const Options& o) {
  if (o.bypass && (o.show_noise || o.disable || o.level || o.dynamic || o.auto_strength))
    throw usage_error("--bypass skips the filter; it takes no filter settings");
  if (o.auto_strength && (o.level || o.dynamic))
    throw usage_error("--auto sets Level and Dynamic from each frame's noise; it takes no --level, --dynamic or "
                      "--config (velbrin --measure INPUT shows the fixed setting it would choose)");
  if (o.lossless && o.crf) throw usage_error("--lossless and --crf ask for opposite things; give one");
  if (!o.format.empty() && o.output != "-")
    throw usage_error("--format is for OUTPUT - (standard output); a file's format comes from its extension");
  // The comparison shows a frame the run writes.
  if (!o.compare_path.empty() && !o.output.empty() && o.frames &&
      (o.compare_at < o.frames->first || o.compare_at > o.frames->last))
    throw usage_error("--at " + std::to_string(o.compare_at) + " lies outside --frames " +
                      std::to_string(o.frames->first) + "-" +
                      (o.frames->last == INT64_MAX ? std::string() : std::to_string(o.frames->last)) +
                      "; choose a frame the run writes");
}

}  // namespace

Options parse_options(const std::vector<std::string>& args) {
  Options o;
  bool at_given = false;
  const std::vector<std::string> positional = read_arguments(args, o, at_given);
  if (o.action == Options::Action::kPlanSegments) {
    if (positional.size() != 1 || positional[0].empty())
      throw usage_error("--plan-segments N takes one INPUT and no OUTPUT");
    o.input = positional[0];
    return o;
  }
  if (o.action == Options::Action::kMeasure) {
    // Only inputs (and where the module is): nothing is filtered or written.
    if (positional.empty()) throw usage_error("--measure needs at least one INPUT");
    for (const std::string& name : positional)
      if (name.empty()) throw usage_error("empty file name");
    if (o.level || o.dynamic || o.auto_strength || o.show_noise || o.disable || o.bypass || !o.compare_path.empty() ||
        o.frames || o.lossless || o.crf || !o.codec.empty() || !o.format.empty())
      throw usage_error("--measure only reads its inputs; it takes no filter or output options");
    o.inputs = positional;
    o.input = positional.front();
    return o;
  }
  if (o.action != Options::Action::kRun) return o;
  if (at_given && o.compare_path.empty()) throw usage_error("--at needs --compare FILE");
  take_file_names(positional, o);
  check_combinations(o);
  return o;
}

std::string usage_text() {
  return R"USAGE(Usage: velbrin [options] INPUT OUTPUT
       velbrin [options] INPUT... FOLDER/
       velbrin [options] --compare PICTURE [--at N] INPUT [OUTPUT]
       velbrin --measure INPUT...

Runs the Velbrin edge-preserving smoothing filter on a picture, an image
sequence (a pattern such as frames/%04d.png) or a video, through the filter
module noname.so, exactly as the VirtualDub host runs it.

INPUT - reads standard input (a picture, or a stream such as Matroska, NUT
or Y4M); OUTPUT - writes a stream to standard output. When the last name is
an existing folder or ends with '/', each INPUT is filtered into it under
its own file name; an input that fails, or whose output would write over
an input or an earlier input's output, is reported at the end (exit 1) and
the others are still written. Nothing velbrin reads is ever written: every
name is resolved through links before anything is opened for writing.

Filter settings:
  --level N          base brightness tolerance (0..400, default 100): about
                     21 x the noise's standard deviation on the 0..255
                     scale suits it (100 for light noise, sigma 5; 210 for
                     sigma 10; 400 from sigma 19); see --auto, --measure
  --dynamic N        how strongly a pair's contrast lowers it (0..10, default 5)
  --config LINE      the script line the host saves, e.g. 'Config(100, 5)'
                     (also with its instance prefix and ';', any spacing);
                     takes any 32-bit values, as the host's script command
                     does (later options override earlier ones)
  --auto             set Level and Dynamic for each frame from the noise
                     measured in it (Level about 21 x the noise's standard
                     deviation on the 0..255 scale, Dynamic 8; a clean frame
                     gets Level 0, and a frame whose fine texture smoothing
                     would take for noise a lower Level); the closing lines
                     say what was measured and a fixed setting close to it
  --measure          print, for each INPUT, the noise measured over up to 15
                     frames spread across it and a fixed setting close to
                     what --auto gives them, as options and as the host's
                     script line (for the dialog); writes nothing
  --show-noise       output ten times the change, centred on grey 127
  --disable          pass the frames through unchanged

Output:
  OUTPUT's extension chooses the format. Pictures keep their kind (.png,
  .jpg, .bmp, .tif, ...); a pattern such as out/%04d.png writes one picture
  per frame, numbered from 1. A lossy video (H.264, HEVC, VP9, ...) gives
  H.264 at CRF 16 (VP9 in .webm) in its own chroma format, yuv420p for
  most; a lossless one (FFV1, PNG, RGB, ...) gives a lossless video (FFV1
  in .mkv/.avi, lossless H.264 RGB in .mp4, ...). Every other stream the
  container can hold goes along: audio copied, or re-encoded (AAC in .mp4,
  Opus in .webm) where the container needs it; subtitles copied, or text
  subtitles converted (mov_text in .mp4, WebVTT in .webm); fonts and other
  attachments (.mkv), chapters, titles, languages and the timecode. Other
  video streams (a second angle, cover art) are copied unfiltered: velbrin
  filters one video. What the container cannot hold is named in one note.
  --lossless         store the filter's output exactly, whatever the input
  --crf N            lossy video at constant quality N (0..51 H.264, 0..63 VP9)
  --codec NAME       use this FFmpeg encoder for the video
  -an, --no-audio    leave the input's audio out (outputs that cannot hold
                     sound, such as pictures and .y4m, leave it out anyway,
                     with a note)
  -sn, --no-subtitles leave the input's subtitles out
  -f, --format NAME  the stream format of OUTPUT - (default matroska; nut,
                     yuv4mpegpipe, image2pipe with --codec png, mp4, ...)
  --frames A-B       only frames A to B (counted from 0 as a full decode
                     outputs them); 'A-' to the end, 'N' for one frame;
                     audio and subtitles that start in the range go along,
                     the chapters and other video streams do not
  --compare PICTURE  write input, output and Show noise view side by side
  --at N             the frame for --compare, counted from 0 (default 0)
  -y, --overwrite    replace OUTPUT (and PICTURE) if they exist, keeping
                     their permissions; a link is followed to its file
  -n, --no-overwrite never replace a file (the default)

Running:
  --threads N        processors to use: N filter instances side by side, and
                     the whole run kept on N processors (default and 0: all
                     the process may use); the output is the same for every N
  --module PATH      the filter module (default: $VELBRIN_MODULE, else
                     noname.so beside velbrin, else ../lib/velbrin/noname.so
                     from velbrin's folder)
  --bypass           copy frames without the filter (to time decoding and
                     encoding alone)
  --plan-segments N  print N ranges of INPUT for --frames, one 'A-B' a line,
                     each starting at a key frame (see docs/segments.md);
                     fewer when key frames are too sparse, with a note
  --progress FILE    key=value progress reports for scripts (frame=, fps=,
                     out_time_us=, progress=continue|end), as ffmpeg
                     -progress writes them; '-' for standard error
  -q, --quiet        no progress bar, notes or closing lines
  --verbose          show FFmpeg's own messages, the module's path, and where
                     the time went
  -h, --help         this text
  --version          the version
  --                 ends the options (for file names that start with '-')

One-letter switches combine: -qy is -q -y.

At the end velbrin prints on standard error what it wrote, and the filter's
caption and script line as the host shows them, e.g. "Velbrin ( 100, 5 )"
and "Config(100, 5)"; standard output stays free (it carries only the
stream of OUTPUT -).
Exit codes: 0 success, 1 a file could not be read or written, 2 bad command
line (also a write that would meet a read), 3 written from a damaged input:
reading it reported a fault (a read or decoding error, a corrupt frame, an
error FFmpeg logged for it, a picture missing from a sequence); the output
holds all that could be read.
)USAGE";
}
