// Output names of several inputs written into one folder.
#include "cli/files/folder_outputs.h"

#include <map>

#include "cli/files/overwrite_guard.h"
#include "cli/files/path_parts.h"

std::vector<FolderJob> plan_folder_outputs(const std::vector<std::string>& inputs, const std::string& folder) {
  std::string prefix = folder;
  while (prefix.size() > 1 && prefix.back() == '/') prefix.pop_back();
  if (prefix != "/") prefix += '/';
  std::vector<FolderJob> jobs;
  std::map<std::string, std::string> first_with_name;  // output name -> the input that takes it
  for (const std::string& in : inputs) {
    FolderJob job{in, "", ""};
    const std::string name = base_part(in);
    if (name.empty() || name == "." || name == "..") {
      job.refusal = "'" + in + "' has no file name to be written under in '" + folder + "'";
    } else {
      job.output = prefix + name;
      if (auto [it, fresh] = first_with_name.emplace(name, in); !fresh)
        job.refusal = "'" + in + "' would be written to '" + job.output + "' as '" + it->second +
                      "' is; not written (filter inputs of the same name into different folders)";
      else if (!input_written_over(job.output, {in}).empty())
        job.refusal = "'" + in + "' would be written over itself; not written (choose another folder)";
    }
    jobs.push_back(job);
  }
  return jobs;
}
