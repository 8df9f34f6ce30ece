// Cases that drive the built module through registration, instances, the
// script command, the run procedure and the text procedures.
#pragma once

#include <string>

namespace wintest {

void module_cases(const std::string& vdf);

// Loads the DLL built from stack_probe_module.cpp (linked like the module)
// and calls its function that keeps 16 KiB of scratch on the stack.
void stack_probe_case(const std::string& dll);

}  // namespace wintest
