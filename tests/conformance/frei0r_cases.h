// The frei0r plug-in's contract as a host sees it: the built file loaded
// with dlopen or LoadLibrary and driven through its f0r_* entries alone, its
// frames compared with the reference kernel run as the VirtualDub host runs
// it (bottom row first) with the input's alpha kept. Written once; run
// natively under GoogleTest on velbrin.so (tests/frei0r/frei0r_contract_test.cpp)
// and under Wine on velbrin.dll by the Windows test host (tests/win/main.cpp),
// with the check macros of tests/support/check.h.
#pragma once

#include <string>

struct Frei0rCase {
  const char* id;     // a name usable as a GoogleTest parameter name
  const char* title;  // what the case shows, for the Windows host's report
  bool threads;       // the case is about threads (the native-tsan preset runs these)
  void (*run)(const std::string& plugin_path);
};

// The cases, in the order they run; `count` receives how many there are.
const Frei0rCase* frei0r_cases(int* count);
