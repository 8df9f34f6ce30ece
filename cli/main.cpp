// velbrin: runs the Velbrin filter module on pictures and videos from the
// command line, as the VirtualDub host would run it.
#include <sched.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/av_helpers.h"
#include "cli/cli_error.h"
#include "cli/compare_picture.h"
#include "cli/filter_host.h"
#include "cli/host_frame.h"
#include "cli/media_input.h"
#include "cli/media_output.h"
#include "cli/options.h"
#include "cli/pipeline.h"
#include "cli/progress.h"
#include "cli/standard_streams.h"
#include "cli/temp_output.h"

extern "C" {
#include <libavutil/log.h>
}

namespace {

constexpr const char* kVersion = "1.0";

void print_version() {
  auto v = [](unsigned x) {
    return std::to_string(x >> 16) + "." + std::to_string((x >> 8) & 0xFF) + "." + std::to_string(x & 0xFF);
  };
  std::printf("velbrin %s (libavformat %s, libavcodec %s, libswscale %s)\n", kVersion, v(avformat_version()).c_str(),
              v(avcodec_version()).c_str(), v(swscale_version()).c_str());
}

// The processors this process may run on (a container or taskset may allow
// fewer than the machine has).
int default_threads() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : int(n);
}

// The comparison picture of one decoded frame: input, output with the
// user's settings, and the Show noise view of the same Level and Dynamic.
HostFrame comparison_of(const AVFrame& decoded, const LoadedFilterModule& module, const Options& o,
                        const std::string& caption) {
  InstanceSettings as_asked{o.level, o.dynamic, o.show_noise, o.disable};
  InstanceSettings noise_view{o.level, o.dynamic, true, false};
  const int w = decoded.width, h = decoded.height;
  HostFrame panels[3] = {HostFrame(w, h), HostFrame(w, h), HostFrame(w, h)};
  ToHostConverter().convert(decoded, panels[0]);
  FilterInstance(module, as_asked).run(panels[0].words(), panels[1].words(), w, h);
  FilterInstance(module, noise_view).run(panels[0].words(), panels[2].words(), w, h);
  std::string output_label = "Output: " + caption;
  if (o.show_noise && !o.disable) output_label += " show noise";
  if (o.disable) output_label += " disabled";
  const std::string labels[3] = {"Input, frame " + std::to_string(o.compare_at), output_label,
                                 "Show noise: " + caption};
  return compose_comparison(panels, labels);
}

int run(const Options& o) {
  if (o.action == Options::Action::kHelp) {
    std::fputs(usage_text().c_str(), stdout);
    return 0;
  }
  if (o.action == Options::Action::kVersion) {
    print_version();
    return 0;
  }
  av_log_set_level(o.verbose ? AV_LOG_INFO : AV_LOG_QUIET);
  const bool has_output = !o.output.empty();
  const bool has_compare = !o.compare_path.empty();
  if (has_compare && !is_picture_name(o.compare_path))
    throw usage_error("--compare: '" + o.compare_path + "' is not a picture name (use .png, .jpg, .bmp or .tif)");
  if (has_output && has_compare && o.output == o.compare_path)
    throw usage_error("OUTPUT and --compare name the same file");

  const std::string module_path = locate_filter_module(o.module_path);
  if (o.verbose) std::fprintf(stderr, "velbrin: filter module '%s'\n", module_path.c_str());
  LoadedFilterModule module(module_path);
  const InstanceSettings settings{o.level, o.dynamic, o.show_noise, o.disable};
  const FilterInstance described(module, settings);

  MediaInput input(o.input);
  std::optional<OutputChoice> choice;
  if (has_output) choice = choose_output(o.output, OutputRequest{o.crf, o.codec}, input);

  // Temporary files first (they check the targets), then the writer.
  std::optional<TempOutput> output_file, compare_file;
  if (has_output)
    output_file.emplace(o.output, o.overwrite,
                        choice->picture && !choice->single_picture ? TempOutput::Kind::kSequence
                                                                   : TempOutput::Kind::kFile);
  if (has_compare) compare_file.emplace(o.compare_path, o.overwrite);
  std::optional<MediaOutput> writer;
  if (has_output) {
    writer.emplace(*output_file, o.output, *choice, input);
    writer->on_frame([&](int64_t number) { output_file->add_picture(number); });
  }

  PipelineSettings ps;
  ps.threads = o.threads > 0 ? o.threads : default_threads();
  ps.range_given = o.frames.has_value();
  if (o.frames) ps.range = *o.frames;
  ps.instance = settings;
  ps.bypass = o.bypass;
  ps.capture_at = has_compare ? o.compare_at : -1;

  int64_t expected = input.expected_frames();
  if (expected >= 0) {
    if (ps.range.last < expected - 1) expected = ps.range.last + 1;
    expected = expected > ps.range.first ? expected - ps.range.first : 0;
  }
  Progress progress(has_output && !o.quiet && isatty(STDERR_FILENO), expected);
  PipelineResult result =
      run_pipeline(input, writer ? &*writer : nullptr, choice ? &*choice : nullptr, module, ps, progress);
  progress.finish();

  const std::string count = std::to_string(result.frames_decoded);
  if (has_output && result.frames_written == 0) {
    if (o.frames)
      throw CliError("--frames: the input has only " + count + " frame" + (count == "1" ? "" : "s") +
                     " (counted from 0)");
    throw CliError("cannot read '" + o.input + "': no frame could be decoded");
  }
  if (has_compare && !result.captured)
    throw CliError("--at " + std::to_string(o.compare_at) + ": the input has only " + count + " frame" +
                   (count == "1" ? "" : "s") + " (counted from 0)");

  if (writer) writer->finish();
  if (has_compare) write_picture(*compare_file, o.compare_path, comparison_of(*result.captured, module, o,
                                                                                     described.caption()));
  if (output_file) output_file->commit();
  if (compare_file) compare_file->commit();

  if (result.damaged_packets > 0)
    std::fprintf(stderr, "velbrin: warning: '%s' is damaged; %lld unreadable packet%s skipped\n", o.input.c_str(),
                 static_cast<long long>(result.damaged_packets), result.damaged_packets == 1 ? "" : "s");
  if (!o.quiet) {
    if (has_output)
      std::fprintf(stderr, "velbrin: wrote '%s': %lld frame%s (%s), %.1f frames per second\n", o.output.c_str(),
                   static_cast<long long>(result.frames_written), result.frames_written == 1 ? "" : "s",
                   choice->summary.c_str(), progress.frames_per_second(result.frames_written));
    if (has_compare) std::fprintf(stderr, "velbrin: wrote '%s'\n", o.compare_path.c_str());
    std::printf("%s\n%s\n", described.caption().c_str(), described.script_line().c_str());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  reserve_standard_descriptors();
  install_cleanup_on_signals();
  try {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const int code = run(parse_options(args));
    if (const int err = close_standard_output(); err != 0)
      throw CliError(std::string("cannot write to standard output: ") + std::strerror(err));
    return code;
  } catch (const CliError& e) {
    std::fprintf(stderr, "velbrin: %s\n", e.what());
    return e.exit_code();
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "velbrin: out of memory\n");
    return kExitFailure;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "velbrin: %s\n", e.what());
    return kExitFailure;
  }
}
