// Resolving every name of a run and refusing the writes that meet.
#include "cli/files/write_plan.h"

#include <unistd.h>

#include <optional>

#include "cli/cli_error.h"
#include "cli/files/file_identity.h"
#include "cli/files/sequence_pattern.h"

namespace {

constexpr int kWholeRun = -1;

// One name of the plan and what it stands for on disk.
struct Place {
  std::string shown;  // "the input 'a.mkv'", "OUTPUT 'b.mkv'", for messages
  int job = kWholeRun;
  bool write = false;
  std::optional<FileId> file;    // the file there now
  std::optional<EntryId> entry;  // the entry written or read
  // An output sequence: every picture its pattern names in its folder,
  // including those that do not exist yet.
  std::optional<SequencePattern> pattern;
  std::optional<FileId> pattern_folder;
};

std::string quoted(const std::string& s) { return "'" + s + "'"; }

bool pattern_names(const Place& seq, const EntryId& entry) {
  if (!seq.pattern_folder || !(*seq.pattern_folder == entry.folder)) return false;
  const std::optional<int64_t> number = seq.pattern->number_in_file_name(entry.name);
  return number && *number >= 1;  // written pictures are numbered from 1
}

// Two sequences in one folder meet when one's names could be the other's:
// the fixed parts of their names agree (checked loosely, which can only
// refuse too much, never too little).
bool patterns_overlap(const Place& a, const Place& b) {
  if (!a.pattern_folder || !b.pattern_folder || !(*a.pattern_folder == *b.pattern_folder)) return false;
  const std::string ha = a.pattern->file_name_head(), hb = b.pattern->file_name_head();
  const std::string& sa = a.pattern->suffix;
  const std::string& sb = b.pattern->suffix;
  const bool heads = ha.compare(0, hb.size(), hb) == 0 || hb.compare(0, ha.size(), ha) == 0;
  const auto ends_with = [](const std::string& s, const std::string& end) {
    return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
  };
  return heads && (ends_with(sa, sb) || ends_with(sb, sa));
}

bool meet(const Place& a, const Place& b) {
  if (a.file && b.file && *a.file == *b.file) return true;
  if (a.entry && b.entry && *a.entry == *b.entry) return true;
  if (a.pattern && b.entry && pattern_names(a, *b.entry)) return true;
  if (b.pattern && a.entry && pattern_names(b, *a.entry)) return true;
  return a.pattern && b.pattern && patterns_overlap(a, b);
}

class Planner {
 public:
  explicit Planner(const WritePlan& plan) : plan_(plan) {}

  std::vector<Place> places() {
    for (size_t k = 0; k < plan_.jobs.size(); ++k) add_input(plan_.jobs[k].input, int(k));
    for (size_t k = 0; k < plan_.jobs.size(); ++k) add_output(plan_.jobs[k], int(k));
    if (!plan_.compare.empty()) add_file_write("--compare " + quoted(plan_.compare), plan_.compare, kWholeRun, plan_.overwrite);
    if (plan_.progress == "-") {
      add_descriptor_write("--progress - (standard error)", STDERR_FILENO);
    } else if (!plan_.progress.empty()) {
      // An existing progress file is opened where its link points.
      add_file_write("--progress " + quoted(plan_.progress), plan_.progress, kWholeRun, true);
    }
    return std::move(places_);
  }

 private:
  void add_input(const std::string& input, int job) {
    if (input == "-") {
      places_.push_back(Place{"standard input (INPUT -)", job, false, file_behind_descriptor(STDIN_FILENO), {}, {}, {}});
      return;
    }
    if (const std::optional<SequencePattern> pattern = SequencePattern::parse(input)) {
      for (int64_t n : pattern->existing_numbers()) add_read("the input's picture", pattern->name_of(n), job);
      return;
    }
    add_read("the input", input, job);
  }

  void add_read(const std::string& what, const std::string& name, int job) {
    places_.push_back(Place{what + " " + quoted(name), job, false, file_behind(name), entry_of(follow_links(name)), {}, {}});
  }

  void add_output(const PlannedJob& job, int index) {
    const std::string& out = job.output;
    if (out.empty()) return;
    const std::string shown = plan_.folder_run ? "its output " + quoted(out) : "OUTPUT " + quoted(out);
    if (out == "-") {
      add_descriptor_write("OUTPUT - (standard output)", STDOUT_FILENO, index);
      return;
    }
    if (const std::optional<SequencePattern> pattern = SequencePattern::parse(out)) {
      // Pictures are renamed into place: the names in the folder, and the
      // files that are there now.
      places_.push_back(Place{shown, index, true, {}, {}, pattern, folder_of(pattern->prefix)});
      for (int64_t n : pattern->existing_numbers()) {
        const std::string name = pattern->name_of(n);
        places_.push_back(Place{shown, index, true, file_behind(name), entry_of(name), {}, {}});
      }
      return;
    }
    add_file_write(shown, out, index, plan_.overwrite);
  }

  void add_file_write(const std::string& shown, const std::string& name, int job, bool through_links) {
    places_.push_back(Place{shown, job, true, file_behind(name), entry_of(through_links ? follow_links(name) : name), {}, {}});
  }

  void add_descriptor_write(const std::string& shown, int fd, int job = kWholeRun) {
    places_.push_back(Place{shown, job, true, file_behind_descriptor(fd), {}, {}, {}});
  }

  const WritePlan& plan_;
  std::vector<Place> places_;
};

// The line for two names that meet; `write` is the later of two writes.
std::string meeting_line(const Place& write, const Place& other) {
  if (!other.write) return write.shown + " would write over " + other.shown;
  return write.shown + " and " + other.shown + " are one file";
}

bool refused(const WritePlan& plan, int job) { return job >= 0 && !plan.jobs[size_t(job)].refusal.empty(); }

}  // namespace

void check_write_plan(WritePlan& plan) {
  const std::vector<Place> places = Planner(plan).places();
  for (size_t w = 0; w < places.size(); ++w) {
    const Place& write = places[w];
    if (!write.write) continue;
    for (size_t p = 0; p < places.size(); ++p) {
      const Place& other = places[p];
      // Reads anywhere; writes only before this one (each pair once), and
      // not those of a job already refused, which writes nothing.
      if (p == w || (other.write && (p > w || refused(plan, other.job)))) continue;
      if (write.job >= 0 && other.job == write.job && other.write) continue;  // one job's own pieces
      if (!meet(write, other)) continue;
      const bool whole_run = !plan.folder_run || write.job == kWholeRun || (other.write && other.job == kWholeRun);
      if (whole_run) throw usage_error(meeting_line(write, other) + "; name another file");
      PlannedJob& job = plan.jobs[size_t(write.job)];
      if (!job.refusal.empty()) break;
      job.refusal = quoted(job.input) + ": " + write.shown;
      if (other.write)
        job.refusal += " is also the output of " + quoted(plan.jobs[size_t(other.job)].input) +
                       "; not written (filter inputs of the same name into different folders)";
      else
        job.refusal += " would write over " + other.shown + "; not written" +
                       (other.job == write.job ? " (choose another folder)" : "");
      break;
    }
  }
}

std::string recheck_job(const WritePlan& plan, size_t job) {
  WritePlan now = plan;
  now.jobs[job].refusal.clear();
  try {
    check_write_plan(now);
  } catch (const CliError& e) {
    return e.what();
  }
  return now.jobs[job].refusal;
}
