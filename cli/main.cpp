// velbrin: runs the Velbrin filter module on pictures and videos from the
// command line, as the VirtualDub host would run it.
#include <sched.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_error.h"
#include "cli/file_run.h"
#include "cli/measure_run.h"
#include "cli/files/standard_streams.h"
#include "cli/files/temp_output.h"
#include "cli/host/filter_host.h"
#include "cli/media/host_frame.h"
#include "cli/options.h"
#include "cli/run/progress_report.h"
#include "engine/kernels/cpu_features.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

namespace {

constexpr const char* kVersion = "1.0";

void print_version() {
  auto v = [](unsigned x) {
    return std::to_string(x >> 16) + "." + std::to_string((x >> 8) & 0xFF) + "." + std::to_string(x & 0xFF);
  };
  write_standard_output("velbrin " + std::string(kVersion) + " (libavformat " + v(avformat_version()) +
                        ", libavcodec " + v(avcodec_version()) + ", libswscale " + v(swscale_version()) + ")\n");
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
  // Threads made from here on inherit it; a refusal (a seccomp filter, a
  // container) leaves the run on every processor it may use, and says so.
  if (sched_setaffinity(0, sizeof chosen, &chosen) != 0)
    std::fprintf(stderr, "velbrin: note: --threads %d: cannot keep the run on %d processors (%s); it may use all %d\n", n,
                 n, std::strerror(errno), CPU_COUNT(&allowed));
}

int run(const Options& o) {
  if (o.action == Options::Action::kHelp) {
    write_standard_output(usage_text());
    return 0;
  }
  if (o.action == Options::Action::kVersion) {
    print_version();
    return 0;
  }
  av_log_set_level(o.verbose ? AV_LOG_INFO : AV_LOG_QUIET);
  // VELBRIN_CPU_MASK=c keeps the module on its plain kernel; FFmpeg's and
  // velbrin's own conversions follow it, so that a run can be checked against the
  // vector code for the same bytes.
  if (cpu_cap_reference_only(cpu_cap_from_text(std::getenv("VELBRIN_CPU_MASK"))))
    use_plain_conversions();
  if (o.threads > 0) keep_to_processors(o.threads);

  const std::string module_path = locate_filter_module(o.module_path);
  if (o.verbose) std::fprintf(stderr, "velbrin: filter module '%s'\n", module_path.c_str());
  LoadedFilterModule module(module_path);
  if (o.action == Options::Action::kMeasure) return run_measure(o.inputs, module);
  const FilterInstance described(module, InstanceSettings{o.level, o.dynamic, o.show_noise, o.disable});
  const WritePlan plan = plan_run(o);
  std::optional<ProgressReport> report;
  if (!o.progress_path.empty()) report.emplace(o.progress_path, o.overwrite);
  ProgressReport* report_ptr = report ? &*report : nullptr;

  if (plan.folder_run) return run_folder(o, plan.jobs, module, described, report_ptr);
  return run_single(o, module, described, report_ptr);
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
