// Filtering files as the command line asked. The options are read here and
// go down as plain values to the floors below (output, pipeline, files).
#pragma once

#include <vector>

#include "cli/files/write_plan.h"
#include "cli/host/filter_host.h"
#include "cli/options.h"

class ProgressReport;

// Every name the run reads and writes, checked (write_plan.h) before
// anything is opened for writing; a folder run's folder is made first.
// Throws CliError.
WritePlan plan_run(const Options& o);

// INPUT into OUTPUT (and --compare), as `plan` (plan_run's) has it; the
// plan is checked again as each output is created and put in place.
// Returns the exit status: 0, or kExitDamaged when the input was damaged;
// throws CliError.
int run_single(const Options& o, const WritePlan& plan, const LoadedFilterModule& module,
               const FilterInstance& described, ProgressReport* report);

// INPUT... FOLDER/: each input in turn; a failing one (also one refused by
// the plan's check as its output is created or put in place) does not stop
// the others. Returns the exit status.
int run_folder(const Options& o, const WritePlan& plan, const LoadedFilterModule& module,
               const FilterInstance& described, ProgressReport* report);
