// Several inputs into one folder: each input's output name there (whether
// that name meets an input or another output is the write plan's to tell).
#pragma once

#include <string>
#include <vector>

#include "cli/files/write_plan.h"

// FOLDER/NAME for each input, NAME its own file name; an input without one
// ("a/", "..") gets a refusal instead.
std::vector<PlannedJob> plan_folder_outputs(const std::vector<std::string>& inputs, const std::string& folder);
