// One run of the filter over files, as the command line asked: INPUT into
// OUTPUT (and the --compare picture), or several inputs into a folder. The
// options are read here once and go down as plain values: the output's
// request, the pipeline's settings, the frame range.
#include "cli/file_run.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli_error.h"
#include "cli/compare/compare_picture.h"
#include "cli/files/folder_outputs.h"
#include "cli/files/sequence_pattern.h"
#include "cli/files/write_plan.h"
#include "cli/files/temp_output.h"
#include "cli/input/media_input.h"
#include "cli/media/host_frame.h"
#include "cli/output/media_output.h"
#include "cli/output/output_choice.h"
#include "cli/run/auto_strength.h"
#include "cli/run/frame_budget.h"
#include "cli/run/input_damage.h"
#include "cli/run/pipeline.h"
#include "cli/run/progress_line.h"
#include "cli/run/progress_report.h"
#include "cli/run/range_messages.h"

namespace {

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
  const int w = decoded.width, h = decoded.height;
  HostFrame panels[3] = {HostFrame(w, h), HostFrame(w, h), HostFrame(w, h)};
  ToHostConverter().convert(decoded, panels[0]);
  InstanceSettings as_asked{o.level, o.dynamic, o.show_noise, o.disable};
  std::string shown = caption;
  if (o.auto_strength) {
    // The settings --auto gives this frame (as the exact conversion shows it).
    const StrengthSettings s = strength_of_frame(panels[0].words(), w, h, ptrdiff_t{w} * 4).settings;
    as_asked.level = s.level;
    as_asked.dynamic = s.dynamic;
    shown = FilterInstance(module, as_asked).caption() + " auto";
  }
  InstanceSettings noise_view{as_asked.level, as_asked.dynamic, true, false};
  FilterInstance(module, as_asked).run(panels[0].words(), panels[1].words(), w, h);
  FilterInstance(module, noise_view).run(panels[0].words(), panels[2].words(), w, h);
  std::string output_label = "Output: " + shown;
  if (o.show_noise && !o.disable) output_label += " show noise";
  if (o.disable) output_label += " disabled";
  const std::string labels[3] = {"Input, frame " + std::to_string(o.compare_at), output_label,
                                 "Show noise: " + shown};
  return compose_comparison(panels, labels);
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
  const bool sequence = out.choice->writes_pictures && !out.choice->writes_one_picture;
  out.file.emplace(o.output, o.overwrite, sequence ? TempOutput::Kind::kSequence : TempOutput::Kind::kFile);
  out.writer.emplace(&*out.file, o.output, *out.choice, input);
}

PipelineSettings pipeline_settings(const Options& o, const FramePlan& plan) {
  PipelineSettings ps;
  ps.plan = plan;
  ps.range_given = o.frames.has_value();
  if (o.frames) ps.range = *o.frames;
  ps.instance = InstanceSettings{o.level, o.dynamic, o.show_noise, o.disable};
  ps.bypass = o.bypass;
  ps.auto_strength = o.auto_strength;
  ps.capture_at = o.compare_path.empty() ? -1 : o.compare_at;
  return ps;
}

// Frames the run is expected to write, or -1 when unknown (the progress
// line's total).
int64_t expected_frames(const MediaInput& input, const FrameRange& range) {
  int64_t expected = input.frames_announced();
  if (expected < 0) return -1;
  if (range.last < expected - 1) expected = range.last + 1;
  return expected > range.first ? expected - range.first : 0;
}

std::string plural(int64_t n, const char* word) {
  return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

// A run that wrote nothing, or never reached the --compare frame, failed.
// `missing` names the picture a sequence stopped at, if any.
void check_frames_reached(const Options& o, const MediaInput& input, const PipelineResult& result,
                          const std::string& missing) {
  const std::string count = frames_short_reason(result.frames_decoded, missing);
  if (!o.output.empty() && result.frames_written == 0) {
    if (o.frames && result.frames_decoded > 0) throw CliError("--frames: " + count);
    // An MP4 keeps its index (moov) at the end unless it was made for
    // streaming; a pipe cannot seek back from there to the frames.
    if (o.input == "-" && std::strncmp(input.format()->iformat->name, "mov,", 4) == 0)
      throw CliError("cannot read standard input: this MP4/MOV keeps its index after the frames, which a pipe cannot "
                     "go back to; give its file name instead, or move the index to the front with "
                     "'ffmpeg -i IN -c copy -movflags +faststart OUT.mp4'");
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
  std::string line = "wrote " + name + ": " + plural(result.frames_written, choice.writes_pictures ? "picture" : "frame") +
                     ", " + describe(choice);
  const std::string out_size = file_size_text(o.output), in_size = file_size_text(o.input);
  if (!out_size.empty()) line += ", " + out_size + (in_size.empty() ? "" : " (input " + in_size + ")");
  std::fprintf(stderr, "velbrin: %s; %.1f frames per second\n", line.c_str(), fps);
}

// The filter's caption and script line as the host shows them.
void print_caption(const FilterInstance& described) {
  std::fprintf(stderr, "%s\n%s\n", described.caption().c_str(), described.script_line().c_str());
}

// --auto: what the frames measured and used, and a fixed setting close to
// it as velbrin's options and as the host's caption and script line.
void print_auto_summary(const LoadedFilterModule& module, const StrengthSummary& strength) {
  const StrengthSettings fixed = strength.fixed_setting();
  const FilterInstance close(module, InstanceSettings{fixed.level, fixed.dynamic, false, false});
  std::fprintf(stderr, "velbrin: --auto: %s\nvelbrin: a fixed setting close to it: %s\n%s\n%s\n",
               strength.measured_line().c_str(), setting_options(fixed).c_str(), close.caption().c_str(),
               close.script_line().c_str());
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
  if (result.most_audio_queued > 0)
    std::fprintf(stderr, "velbrin: audio waiting for its frames: at most %lld kB\n",
                 static_cast<long long>((result.most_audio_queued + 1023) / 1024));
}

// The input, opened; where its demuxer gave up, with the reason FFmpeg
// logged ("moov atom not found" for an MP4 cut short).
MediaInput open_input(const std::string& path, const InputDamage& damage) {
  try {
    return MediaInput(path);
  } catch (const CliError& e) {
    const std::string message = e.what(), general = kNotReadable;
    const std::string reason = damage.first_logged();
    if (reason.empty() || message.size() < general.size() ||
        message.compare(message.size() - general.size(), general.size(), general) != 0)
      throw;
    throw CliError(message + " (" + reason + ")", e.exit_code());
  }
}

// The write plan held at this moment for the job being run: a name made
// since the start that now meets a read, or another output, fails the job.
void hold_to_plan(const WritePlan& plan, size_t job) {
  const std::string refusal = recheck_job(plan, job);
  if (!refusal.empty()) throw CliError(refusal + (plan.folder_run ? "" : " (found as it was written)"));
}

// Filters one input into o.output (and --compare), job `job` of `plan`. `report` is the
// --progress report, `last` whether this is the last input for it; `label`
// names the file in the progress line. Returns whether the input was
// damaged (the output then holds what could be read).
bool run_file(const Options& o, const WritePlan& write_plan, size_t job, const LoadedFilterModule& module,
              const FilterInstance& described, ProgressReport* report, bool last, const std::string& label) {
  // Listening from the first byte read: errors of the demuxer and decoders
  // are what makes an input damaged.
  InputDamage damage(o.input == "-" ? std::string("standard input") : "'" + o.input + "'");
  MediaInput input = open_input(o.input, damage);
  // Every note of this input, one way; a folder run's name their input.
  const std::string about = label.empty() ? "" : "'" + o.input + "': ";
  const auto note = [&](const std::string& text) {
    if (!o.quiet && !text.empty()) std::fprintf(stderr, "velbrin: note: %s%s\n", about.c_str(), text.c_str());
  };

  OutputSide out;
  FramePlan plan;
  if (!o.output.empty()) {
    if (o.output == "-" && isatty(STDOUT_FILENO))
      throw usage_error("OUTPUT - writes to standard output, which is a terminal; pipe it into a program or a file");
    out.choice = choose_output(o.output, OutputRequest{o.crf, o.codec, o.lossless, o.format, !o.no_audio, !o.no_subtitles, !o.frames,
                                                      o.frames ? o.frames->first : 0}, input);
    // Too large a picture is refused here, before anything is decoded or written.
    const AVCodecContext* dec = input.decoder();
    plan = plan_frames(o.input, dec->width, dec->height, dec->pix_fmt, out.choice->pixel_format,
                       o.threads > 0 ? o.threads : default_threads());
    for (const std::string& text : out.choice->notes) note(text);
  }
  std::optional<TempOutput> compare_file;
  hold_to_plan(write_plan, job);
  if (!o.output.empty()) open_output(o, input, out);
  if (!o.compare_path.empty()) compare_file.emplace(o.compare_path, o.overwrite);
  if (!o.quiet) {
    for (const TempOutput* f : {out.file ? &*out.file : nullptr, compare_file ? &*compare_file : nullptr})
      if (f != nullptr && f->leftovers_removed() > 0)
        std::fprintf(stderr, "velbrin: removed %d temporary file%s left in '%s' by runs that were stopped\n",
                     f->leftovers_removed(), f->leftovers_removed() == 1 ? "" : "s", f->folder().c_str());
    if (out.writer)
      for (const std::string& text : out.writer->notes()) note(text);
  }

  const PipelineSettings ps = pipeline_settings(o, plan);
  ProgressLine progress(!o.output.empty() && !o.quiet && isatty(STDERR_FILENO), expected_frames(input, ps.range),
                        label);
  if (report != nullptr) progress.report_to(report, last);
  PipelineResult result = run_pipeline(input, out.writer ? &*out.writer : nullptr, out.choice ? &*out.choice : nullptr,
                                       module, ps, damage, progress);
  // A sequence whose numbering has a gap ends there, without a read error.
  const MediaInput::SequenceGap gap = input.sequence_gap();
  const bool stopped_at_gap = !gap.missing.empty() && result.frames_decoded <= gap.pictures_before;
  check_frames_reached(o, input, result, stopped_at_gap ? gap.missing : "");
  if (stopped_at_gap && ps.range.last >= gap.pictures_before) damage.missing_picture(gap.missing);

  if (out.writer) {
    // The frames the encoder held back, each shown as it is written.
    while (out.writer->drain_encoder()) progress.update(out.writer->frames_written(), out.writer->written_time_us());
    out.writer->finish();
  }
  if (compare_file)
    write_picture(*compare_file, o.compare_path, comparison_of(*result.captured, module, o, described.caption()));
  hold_to_plan(write_plan, job);
  if (out.file) out.file->commit();
  if (compare_file) compare_file->commit();
  // The output is in place: only now does the progress end.
  progress.finish(result.frames_written, out.writer ? out.writer->written_time_us() : 0);

  if (out.writer) note(out.writer->timing_note());
  note(range_cut_short_note(ps.range, result.frames_decoded, result.frames_written));
  const std::string warning = out.writer ? damage.warning(result.frames_written, is_sequence_pattern(o.input)) : "";
  if (!warning.empty()) std::fprintf(stderr, "velbrin: warning: %s\n", warning.c_str());
  if (o.verbose) print_stage_times(result);
  if (!o.quiet && out.choice) print_written(o, *out.choice, result, progress.frames_per_second());
  if (!o.quiet && o.auto_strength && out.choice) print_auto_summary(module, result.strength);
  if (!o.quiet && !o.compare_path.empty()) std::fprintf(stderr, "velbrin: wrote %s\n", o.compare_path.c_str());
  return !warning.empty();
}

// One line for a failed input, naming it unless the message already does.
std::string failure_line(const std::string& input, const std::string& message) {
  if (message.find("'" + input + "'") != std::string::npos) return message;
  return "'" + input + "': " + message;
}

}  // namespace

// A name ending in '/' says it is a folder: its last level is made (a
// deeper missing level is more likely a slip, and is reported).
void make_output_folder(const std::string& name) {
  const char* folder = name.c_str();
  auto refusal = [&] { return CliError("cannot write into '" + name + "': " + std::strerror(errno)); };
  struct stat st {};
  if (stat(folder, &st) != 0 && errno == ENOENT && name.back() == '/' && mkdir(folder, 0777) != 0 && errno != EEXIST)
    throw refusal();
  if (stat(folder, &st) != 0) throw refusal();
  if (!S_ISDIR(st.st_mode)) throw CliError("cannot write into '" + name + "': it is not a folder");
}

WritePlan plan_run(const Options& o) {
  if (!o.compare_path.empty() && !is_picture_name(o.compare_path))
    throw usage_error("--compare: '" + o.compare_path + "' is not a picture name (use .png, .jpg, .bmp or .tif)");
  WritePlan plan;
  plan.folder_run = !o.output_folder.empty();
  if (plan.folder_run) {
    // Made first, so that the outputs' names in it can be told apart.
    make_output_folder(o.output_folder);
    plan.jobs = plan_folder_outputs(o.inputs, o.output_folder);
  } else {
    plan.jobs = {PlannedJob{o.input, o.output, ""}};
    plan.compare = o.compare_path;
  }
  plan.progress = o.progress_path;
  plan.overwrite = o.overwrite;
  check_write_plan(plan);
  return plan;
}

// INPUT... FOLDER/: each input in turn; a failing one does not stop the
// others, and each failure gets one line at the end.
int run_folder(const Options& o, const WritePlan& plan, const LoadedFilterModule& module,
               const FilterInstance& described, ProgressReport* report) {
  const std::vector<PlannedJob>& jobs = plan.jobs;
  std::vector<std::string> failures;
  bool damaged = false;
  for (size_t k = 0; k < jobs.size(); ++k) {
    const PlannedJob& job = jobs[k];
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
      damaged = run_file(one, plan, k, module, described, report, k + 1 == jobs.size(), label) || damaged;
    } catch (const CliError& e) {
      failures.push_back(failure_line(job.input, e.what()));
    } catch (const std::bad_alloc&) {
      failures.push_back(failure_line(job.input, "out of memory"));
    } catch (const std::exception& e) {  // any other failure is this input's, not the batch's
      failures.push_back(failure_line(job.input, e.what()));
    }
  }
  for (const std::string& line : failures) std::fprintf(stderr, "velbrin: %s\n", line.c_str());
  if (!failures.empty()) return kExitFailure;
  if (!o.quiet && !o.auto_strength) print_caption(described);
  return damaged ? kExitDamaged : 0;
}

int run_single(const Options& o, const WritePlan& plan, const LoadedFilterModule& module,
               const FilterInstance& described, ProgressReport* report) {
  const bool damaged = run_file(o, plan, 0, module, described, report, true, "");
  if (!o.quiet && !o.auto_strength) print_caption(described);
  return damaged ? kExitDamaged : 0;
}
