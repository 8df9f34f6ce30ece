// The one place that keeps velbrin from writing over what it reads. Before
// anything is opened for writing, the whole run is planned: every file it
// will read (each input, each picture of an input sequence, the file behind
// standard input) and every file it will write (each output, the pictures
// of an output sequence, the --compare picture, the --progress file, the
// file behind standard output), resolved through links to the files and
// entries behind the names (file_identity.h). A write that meets a read, or
// two writes that meet, are refused with both names; -y never relaxes this.
#pragma once

#include <string>
#include <vector>

struct PlannedJob {
  std::string input;    // a file, a sequence pattern, or "-" (standard input)
  std::string output;   // a file, a sequence pattern, "-" (standard output), or "" (none)
  std::string refusal;  // why this job is not run; set by check_write_plan in a folder run
};

struct WritePlan {
  std::vector<PlannedJob> jobs;  // one, or one per input of a folder run
  bool folder_run = false;
  std::string compare;           // the --compare picture, or ""
  std::string progress;          // the --progress file, "-" (standard error), or ""
  bool overwrite = false;        // -y: a file output is written where its link points
};

// Checks the plan. A meeting of a single run's names, or one that involves
// the --progress file, throws a usage error naming both. In a folder run an
// output that meets a read or an earlier job's output gives its job a
// refusal naming both (and nothing of that job is written); the other jobs
// run.
void check_write_plan(WritePlan& plan);

// The plan checked again for one of its jobs as the names stand now (a
// link or a file made in a folder since the start): the line refusing it,
// or "" when its writes still meet nothing. The run checks each output
// when it creates it and again when it puts it in place.
std::string recheck_job(const WritePlan& plan, size_t job);
