// Loads the DLL built from stack_probe_module.cpp (linked like the module)
// and calls its function that keeps 16 KiB of scratch on the stack.
#pragma once

#include <string>

namespace wintest {

void stack_probe_case(const std::string& dll);

}  // namespace wintest
