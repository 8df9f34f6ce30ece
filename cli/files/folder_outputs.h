// Several inputs into one folder: each input's output name there, and the
// inputs that must not be written (their output would be the input itself,
// or an earlier input's output).
#pragma once

#include <string>
#include <vector>

struct FolderJob {
  std::string input;
  std::string output;   // FOLDER/NAME, the input's own file name
  std::string refusal;  // why this input is not written, or empty
};

std::vector<FolderJob> plan_folder_outputs(const std::vector<std::string>& inputs, const std::string& folder);
