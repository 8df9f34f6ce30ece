// Output names of several inputs written into one folder.
#include "cli/files/folder_outputs.h"

#include "cli/files/path_parts.h"

std::vector<PlannedJob> plan_folder_outputs(const std::vector<std::string>& inputs, const std::string& folder) {
  std::string prefix = folder;
  while (prefix.size() > 1 && prefix.back() == '/') prefix.pop_back();
  if (prefix != "/") prefix += '/';
  std::vector<PlannedJob> jobs;
  for (const std::string& in : inputs) {
    PlannedJob job{in, "", ""};
    const std::string name = base_part(in);
    if (name.empty() || name == "." || name == "..")
      job.refusal = "'" + in + "' has no file name to be written under in '" + folder + "'";
    else
      job.output = prefix + name;
    jobs.push_back(job);
  }
  return jobs;
}
