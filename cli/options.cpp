// Reads velbrin's command line. Every value is checked here, so the rest of
// the tool sees only well-formed settings; each mistake gets one line that
// names the option and what was expected.
#include "cli/options.h"

#include <functional>
#include <map>

#include "cli/cli_error.h"
#include "cli/config_line.h"

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

Options parse_options(const std::vector<std::string>& args) {
  Options o;
  std::vector<std::string> positional;

  using ValueHandler = std::function<void(const std::string& name, const std::string& value)>;
  const std::map<std::string, ValueHandler> with_value = {
      {"--level", [&](auto& n, auto& v) { o.level = setting_value(n, v, 0, 400); }},
      {"--dynamic", [&](auto& n, auto& v) { o.dynamic = setting_value(n, v, 0, 10); }},
      {"--config",
       [&](auto& n, auto& v) {
         const std::optional<ConfigArguments> c = parse_config_line(v);
         if (!c)
           throw usage_error(n + ": expected the script line as the host saves it, such as 'Config(100, 5)', got '" +
                             v + "'");
         o.level = c->level;
         o.dynamic = c->dynamic;
       }},
      {"--threads", [&](auto& n, auto& v) { o.threads = int_value(n, v, 1, 256); }},
      {"--frames", [&](auto& n, auto& v) { o.frames = frame_range(n, v); }},
      {"--crf", [&](auto& n, auto& v) { o.crf = int_value(n, v, 0, 63); }},
      {"--codec",
       [&](auto& n, auto& v) {
         if (v.empty()) throw usage_error(n + ": expected an encoder name");
         o.codec = v;
       }},
      {"--compare",
       [&](auto& n, auto& v) {
         if (v.empty()) throw usage_error(n + ": expected a file name");
         o.compare_path = v;
       }},
      {"--at", [&](auto& n, auto& v) { o.compare_at = frame_number(n, v, v); }},
      {"--module",
       [&](auto& n, auto& v) {
         if (v.empty()) throw usage_error(n + ": expected a file name");
         o.module_path = v;
       }},
  };
  const std::map<std::string, std::function<void()>> flags = {
      {"--show-noise", [&] { o.show_noise = true; }},
      {"--disable", [&] { o.disable = true; }},
      {"--bypass", [&] { o.bypass = true; }},
      {"-y", [&] { o.overwrite = true; }},
      {"--overwrite", [&] { o.overwrite = true; }},
      {"-n", [&] { o.overwrite = false; }},
      {"--no-overwrite", [&] { o.overwrite = false; }},
      {"-q", [&] { o.quiet = true; }},
      {"--quiet", [&] { o.quiet = true; }},
      {"--verbose", [&] { o.verbose = true; }},
      {"-h", [&] { o.action = Options::Action::kHelp; }},
      {"--help", [&] { o.action = Options::Action::kHelp; }},
      {"--version", [&] { o.action = Options::Action::kVersion; }},
  };

  bool at_given = false;
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
    // "-qy": several one-letter switches in one word.
    if (arg[1] != '-' && arg.size() > 2) {
      for (size_t c = 1; c < arg.size(); ++c) {
        const std::string letter = std::string("-") + arg[c];
        auto f = flags.find(letter);
        if (f == flags.end())
          throw usage_error("unknown option '" + letter + "' in '" + arg + "' (see velbrin --help)");
        f->second();
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
    if (auto f = flags.find(name); f != flags.end()) {
      if (inline_value) throw usage_error(name + " takes no value");
      f->second();
      continue;
    }
    auto h = with_value.find(name);
    if (h == with_value.end()) throw usage_error("unknown option '" + name + "' (see velbrin --help)");
    if (!inline_value) {
      if (k + 1 >= args.size()) throw usage_error(name + " needs a value");
      value = args[++k];
    }
    if (name == "--at") at_given = true;
    h->second(name, value);
  }

  if (o.action != Options::Action::kRun) return o;
  if (at_given && o.compare_path.empty()) throw usage_error("--at needs --compare FILE");
  const size_t wanted = o.compare_path.empty() ? 2 : 1;
  if (positional.size() < wanted || positional.size() > 2) {
    if (positional.empty()) throw usage_error("missing INPUT and OUTPUT (see velbrin --help)");
    if (positional.size() > 2) throw usage_error("too many file names: '" + positional[2] + "' (see velbrin --help)");
    throw usage_error("missing OUTPUT (see velbrin --help)");
  }
  o.input = positional[0];
  if (positional.size() == 2) o.output = positional[1];
  if (o.input.empty() || (positional.size() == 2 && o.output.empty())) throw usage_error("empty file name");
  if (o.bypass && (o.show_noise || o.disable || o.level || o.dynamic))
    throw usage_error("--bypass skips the filter; it takes no filter settings");
  return o;
}

std::string usage_text() {
  return R"USAGE(Usage: velbrin [options] INPUT OUTPUT
       velbrin [options] --compare PICTURE [--at N] INPUT [OUTPUT]

Runs the Velbrin edge-preserving smoothing filter on a picture, an image
sequence (a pattern such as frames/%04d.png) or a video, through the filter
module noname.so, exactly as the VirtualDub host runs it.

Filter settings:
  --level N          base brightness tolerance (0..400, default 100)
  --dynamic N        how strongly a pair's contrast lowers it (0..10, default 5)
  --config LINE      the script line the host saves, e.g. 'Config(100, 5)';
                     takes any 32-bit values, as the host's script command
                     does (later options override earlier ones)
  --show-noise       output ten times the change, centred on grey 127
  --disable          pass the frames through unchanged

Output:
  OUTPUT's extension chooses the format. Pictures keep their kind (.png,
  .jpg, .bmp, .tif, ...); a pattern such as out/%04d.png writes one picture
  per frame, numbered from 1. Videos are written lossless by default (FFV1
  in .mkv/.avi, lossless H.264 RGB in .mp4, ...). Audio streams are copied.
  --crf N            lossy video at constant quality N (0..63; H.264 or VP9)
  --codec NAME       use this FFmpeg encoder for the video
  --frames A-B       only frames A to B (counted from 0); 'A-' to the end,
                     'N' for one frame
  --compare PICTURE  write input, output and Show noise view side by side
  --at N             the frame for --compare, counted from 0 (default 0)
  -y, --overwrite    replace OUTPUT (and PICTURE) if they exist, keeping
                     their permissions; a link is followed to its file
  -n, --no-overwrite never replace a file (the default)

Running:
  --threads N        filter instances working side by side (default: one per
                     processor); the output is the same for every N
  --module PATH      the filter module (default: $VELBRIN_MODULE, else
                     noname.so beside velbrin, else ../lib/velbrin/noname.so
                     from velbrin's folder)
  --bypass           copy frames without the filter (to time decoding and
                     encoding alone)
  -q, --quiet        no progress bar and no closing lines
  --verbose          show FFmpeg's own messages and the module's path
  -h, --help         this text
  --version          the version
  --                 ends the options (for file names that start with '-')

One-letter switches combine: -qy is -q -y.

At the end velbrin prints the filter's caption and script line as the host
shows them, e.g. "Velbrin ( 100, 5 )" and "Config(100, 5)".
Exit codes: 0 success, 1 a file could not be read or written, 2 bad command line.
)USAGE";
}
