// Filtering files as the command line asked. The options are read here and
// go down as plain values to the floors below (output, pipeline, files).
#pragma once

#include "cli/host/filter_host.h"
#include "cli/options.h"

class ProgressReport;

// A --progress FILE that names an input or an output is refused (a usage
// error) before the report is opened.
void check_progress_target(const Options& o);

// INPUT into OUTPUT (and --compare). Returns the exit status: 0, or
// kExitDamaged when the input was damaged; throws CliError.
int run_single(const Options& o, const LoadedFilterModule& module, const FilterInstance& described,
               ProgressReport* report);

// INPUT... FOLDER/: each input in turn; a failing one does not stop the
// others. Returns the exit status.
int run_folder(const Options& o, const LoadedFilterModule& module, const FilterInstance& described,
               ProgressReport* report);
