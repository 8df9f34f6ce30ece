// The module's worker threads as a Windows host sees them: several host
// threads running frames at once, then Deinit and unload, in a loop.
#pragma once

#include <string>

namespace wintest {

void thread_cases(const std::string& vdf);

}  // namespace wintest
