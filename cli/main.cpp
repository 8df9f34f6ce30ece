// velbrin: runs the Velbrin filter module on pictures and videos from the
// command line, as the VirtualDub host would run it.
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
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
#include "cli/folder_outputs.h"
#include "cli/frame_budget.h"
#include "cli/host_frame.h"
#include "cli/media_input.h"
#include "cli/media_output.h"
#include "cli/options.h"
#include "cli/output_choice.h"
#include "cli/pipeline.h"
#include "cli/progress.h"
#include "cli/progress_report.h"
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

// --threads N: the whole run (decoder, workers, encoder threads) is kept on
// N of the processors the process may use, so N is what it costs the
// machine; the encoder's own thread count never follows N, so the output
// does not change with N.
void keep_to_processors(int n) {
  cpu_set_t allowed, chosen;
  CPU_ZERO(&allowed);
  CPU_ZERO(&chosen);
  if (sched_getaffinity(0, sizeof allowed, &allowed) != 0 || CPU_COUNT(&allowed) <= n) return;
  for (int cpu = 0, taken = 0; cpu < CPU_SETSIZE && taken < n; ++cpu)
    if (CPU_ISSET(cpu, &allowed)) {
      CPU_SET(cpu, &chosen);
      ++taken;
    }
  sched_setaffinity(0, sizeof chosen, &chosen);  // threads made from here on inherit it
}

void check_names(const Options& o) {
  if (!o.compare_path.empty() && !is_picture_name(o.compare_path))
    throw usage_error("--compare: '" + o.compare_path + "' is not a picture name (use .png, .jpg, .bmp or .tif)");
  if (!o.output.empty() && o.output == o.compare_path) throw usage_error("OUTPUT and --compare name the same file");
  // With -y the input would be read while its own replacement is written.
  for (const std::string& out : {o.output, o.compare_path})
    if (!out.empty() && is_same_file(o.input, out))
      throw usage_error("'" + out + "' is the input itself; name another file");
}

// The output's choice, its temporary file and the writer, made in that
// order: the temporary file checks the target before anything is written.
struct OutputSide {
  std::optional<OutputChoice> choice;
  std::optional<TempOutput> file;
  std::optional<MediaOutput> writer;
};

void open_output(const Options& o, const MediaInput& input, OutputSide& out) {
  if (o.output == "-") {  // a stream, written as it goes: no temporary file
    out.writer.emplace(nullptr, o.output, *out.choice, input);
    return;
  }
  const bool sequence = out.choice->picture && !out.choice->single_picture;
  out.file.emplace(o.output, o.overwrite, sequence ? TempOutput::Kind::kSequence : TempOutput::Kind::kFile);
  out.writer.emplace(&*out.file, o.output, *out.choice, input);
  out.writer->on_frame([f = &*out.file](int64_t number) { f->add_picture(number); });
}

PipelineSettings pipeline_settings(const Options& o, const FramePlan& plan) {
  PipelineSettings ps;
  ps.plan = plan;
  ps.range_given = o.frames.has_value();
  if (o.frames) ps.range = *o.frames;
  ps.instance = InstanceSettings{o.level, o.dynamic, o.show_noise, o.disable};
  ps.bypass = o.bypass;
  ps.capture_at = o.compare_path.empty() ? -1 : o.compare_at;
  return ps;
}

// Frames the run is expected to write, or -1 when unknown.
int64_t expected_frames(const MediaInput& input, const FrameRange& range) {
  int64_t expected = input.expected_frames();
  if (expected < 0) return -1;
  if (range.last < expected - 1) expected = range.last + 1;
  return expected > range.first ? expected - range.first : 0;
}

std::string plural(int64_t n, const char* word) {
  return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

// A run that wrote nothing, or never reached the --compare frame, failed.
void check_frames_reached(const Options& o, const PipelineResult& result) {
  const std::string count = "the input has only " + plural(result.frames_decoded, "frame") + " (counted from 0)";
  if (!o.output.empty() && result.frames_written == 0) {
    if (o.frames) throw CliError("--frames: " + count);
    throw CliError("cannot read " + (o.input == "-" ? std::string("standard input") : "'" + o.input + "'") +
                   ": no frame could be decoded");
  }
  if (!o.compare_path.empty() && !result.captured)
    throw CliError("--at " + std::to_string(o.compare_at) + ": " + count);
}

// "3.1 MB", "420 kB"; empty when the file cannot be measured (a sequence).
std::string file_size_text(const std::string& path) {
  struct stat st {};
  if (path == "-" || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return "";
  char text[32];
  if (st.st_size >= 1000000) std::snprintf(text, sizeof text, "%.1f MB", double(st.st_size) / 1e6);
  else std::snprintf(text, sizeof text, "%.0f kB", double(st.st_size) / 1e3);
  return text;
}

// The closing line on standard error: what was written.
void print_written(const Options& o, const OutputChoice& choice, const PipelineResult& result, double fps) {
  const std::string name = o.output == "-" ? "standard output" : o.output;
  std::string line = "wrote " + name + ": " + plural(result.frames_written, choice.picture ? "picture" : "frame") +
                     ", " + describe(choice);
  const std::string out_size = file_size_text(o.output), in_size = file_size_text(o.input);
  if (!out_size.empty()) line += ", " + out_size + (in_size.empty() ? "" : " (input " + in_size + ")");
  std::fprintf(stderr, "velbrin: %s; %.1f frames per second\n", line.c_str(), fps);
}

// The filter's caption and script line as the host shows them.
void print_caption(const FilterInstance& described) {
  std::fprintf(stderr, "%s\n%s\n", described.caption().c_str(), described.script_line().c_str());
}

// --verbose: where the processor time went, per frame.
void print_stage_times(const PipelineResult& result) {
  if (result.frames_written == 0) return;
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const double total = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
  const StageTimes& s = result.stages;
  const double ours = s.to_host + s.filter + s.from_host;
  const double per = 1000.0 / double(result.frames_written);
  std::fprintf(stderr,
               "velbrin: processor time per frame: convert %.1f ms, filter %.1f ms, convert back %.1f ms "
               "(%d workers, %lld frames in flight); decode, encode and the rest %.1f ms (FFmpeg's threads)\n",
               s.to_host * per, s.filter * per, s.from_host * per, result.workers,
               static_cast<long long>(result.in_flight), (total - ours) * per);
}

// Filters one input into o.output (and --compare). `report` is the
// --progress report, `last` whether this is the last input for it; `label`
// names the file in the progress line.
void run_file(const Options& o, const LoadedFilterModule& module, const FilterInstance& described,
              ProgressReport* report, bool last, const std::string& label) {
  check_names(o);
  MediaInput input(o.input);

  OutputSide out;
  FramePlan plan;
  if (!o.output.empty()) {
    if (o.output == "-" && isatty(STDOUT_FILENO))
      throw usage_error("OUTPUT - writes to standard output, which is a terminal; pipe it into a program or a file");
    out.choice = choose_output(o.output, OutputRequest{o.crf, o.codec, o.lossless, o.format}, input);
    // Too large a picture is refused here, before anything is decoded or written.
    const AVCodecContext* dec = input.decoder();
    plan = plan_frames(o.input, dec->width, dec->height, dec->pix_fmt, out.choice->pixel_format,
                       o.threads > 0 ? o.threads : default_threads());
    if (!o.quiet && !out.choice->note.empty()) std::fprintf(stderr, "velbrin: note: %s\n", out.choice->note.c_str());
  }
  std::optional<TempOutput> compare_file;
  if (!o.output.empty()) open_output(o, input, out);
  if (!o.compare_path.empty()) compare_file.emplace(o.compare_path, o.overwrite);
  if (out.writer && !o.quiet)
    for (const std::string& note : out.writer->notes()) std::fprintf(stderr, "velbrin: note: %s\n", note.c_str());

  const PipelineSettings ps = pipeline_settings(o, plan);
  Progress progress(!o.output.empty() && !o.quiet && isatty(STDERR_FILENO), expected_frames(input, ps.range), label);
  if (report != nullptr) {
    if (out.writer) report->set_clock([w = &*out.writer] { return w->written_time_us(); });
    else report->set_clock(nullptr);
    progress.report_to(report, last);
  }
  PipelineResult result = run_pipeline(input, out.writer ? &*out.writer : nullptr, out.choice ? &*out.choice : nullptr,
                                       module, ps, progress);
  progress.finish();
  if (report != nullptr) report->set_clock(nullptr);  // the writer goes before the report
  check_frames_reached(o, result);

  if (out.writer) out.writer->finish();
  if (compare_file)
    write_picture(*compare_file, o.compare_path, comparison_of(*result.captured, module, o, described.caption()));
  if (out.file) out.file->commit();
  if (compare_file) compare_file->commit();

  if (result.damaged_packets > 0)
    std::fprintf(stderr, "velbrin: warning: '%s' is damaged; %lld unreadable packet%s skipped\n", o.input.c_str(),
                 static_cast<long long>(result.damaged_packets), result.damaged_packets == 1 ? "" : "s");
  if (o.verbose) print_stage_times(result);
  if (!o.quiet && out.choice) print_written(o, *out.choice, result, progress.frames_per_second(result.frames_written));
  if (!o.quiet && !o.compare_path.empty()) std::fprintf(stderr, "velbrin: wrote %s\n", o.compare_path.c_str());
}

// One line for a failed input, naming it unless the message already does.
std::string failure_line(const std::string& input, const std::string& message) {
  if (message.find("'" + input + "'") != std::string::npos) return message;
  return "'" + input + "': " + message;
}

// INPUT... FOLDER/: each input in turn; a failing one does not stop the
// others, and each failure gets one line at the end.
int run_folder(const Options& o, const LoadedFilterModule& module, const FilterInstance& described,
               ProgressReport* report) {
  struct stat st {};
  if (stat(o.output_folder.c_str(), &st) != 0)
    throw CliError("cannot write into '" + o.output_folder + "': " + std::strerror(errno));
  if (!S_ISDIR(st.st_mode)) throw CliError("cannot write into '" + o.output_folder + "': it is not a folder");
  const std::vector<FolderJob> jobs = plan_folder_outputs(o.inputs, o.output_folder);
  std::vector<std::string> failures;
  for (size_t k = 0; k < jobs.size(); ++k) {
    const FolderJob& job = jobs[k];
    if (!job.refusal.empty()) {
      failures.push_back(job.refusal);
      continue;
    }
    Options one = o;
    one.input = job.input;
    one.output = job.output;
    // "[2/5] name": the counter, and the file name cut from the front when
    // long (its end tells the files apart), so the line fits a terminal.
    constexpr size_t kNameWidth = 40;
    std::string name = job.input.substr(job.input.rfind('/') + 1);
    if (name.size() > kNameWidth) name = "..." + name.substr(name.size() - (kNameWidth - 3));
    std::string label = "[";
    label.append(std::to_string(k + 1)).append("/").append(std::to_string(jobs.size())).append("] ").append(name);
    try {
      run_file(one, module, described, report, k + 1 == jobs.size(), label);
    } catch (const CliError& e) {
      failures.push_back(failure_line(job.input, e.what()));
    } catch (const std::bad_alloc&) {
      failures.push_back(failure_line(job.input, "out of memory"));
    }
    if (report != nullptr) report->set_clock(nullptr);  // that file's writer is gone
  }
  if (report != nullptr) report->end(0, 0);  // when the last input failed before its progress began
  if (!o.quiet) print_caption(described);
  for (const std::string& line : failures) std::fprintf(stderr, "velbrin: %s\n", line.c_str());
  return failures.empty() ? 0 : kExitFailure;
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
  // VELBRIN_CPU_MASK=c keeps the module on its plain kernel; FFmpeg's and
  // libyuv's code follow it, so that a run can be checked against the
  // vector code for the same bytes.
  if (const char* cap = std::getenv("VELBRIN_CPU_MASK"); cap != nullptr && std::strcmp(cap, "c") == 0)
    use_plain_conversions();
  if (o.threads > 0) keep_to_processors(o.threads);

  const std::string module_path = locate_filter_module(o.module_path);
  if (o.verbose) std::fprintf(stderr, "velbrin: filter module '%s'\n", module_path.c_str());
  LoadedFilterModule module(module_path);
  const FilterInstance described(module, InstanceSettings{o.level, o.dynamic, o.show_noise, o.disable});
  std::optional<ProgressReport> report;
  if (!o.progress_path.empty()) report.emplace(o.progress_path, o.overwrite);
  ProgressReport* report_ptr = report ? &*report : nullptr;

  if (!o.output_folder.empty()) return run_folder(o, module, described, report_ptr);
  run_file(o, module, described, report_ptr, true, "");
  if (!o.quiet) print_caption(described);
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
