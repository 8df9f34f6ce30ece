// Cases that drive the built module through registration, instances, the
// script command, the run procedure and the text procedures.
#pragma once

#include <string>

namespace wintest {

void module_cases(const std::string& vdf);

}  // namespace wintest
