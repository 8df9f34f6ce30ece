// The host-interface conformance cases: the built module loaded as a host
// loads it and driven through registration, instances, the script command,
// the run procedure and the text procedures. Written once; run natively
// under GoogleTest (run_with_gtest.cpp) and under Wine by the Windows test
// host (tests/win/main.cpp), with the check macros of tests/support/check.h.
#pragma once

#include <string>

struct ConformanceCase {
  const char* id;     // a name usable as a GoogleTest parameter name
  const char* title;  // what the case shows, for the Windows host's report
  void (*run)(const std::string& module_path);
};

// The cases, in the order they run; `count` receives how many there are.
const ConformanceCase* conformance_cases(int* count);
