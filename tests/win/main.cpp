// The Windows test host: one program, run under Wine, that loads the built
// noname.vdf and plays the host. One process runs many cases, because
// starting a Windows program under Wine is slow.
//
//   velbrin_win_host module <vdf> [stack-probe.dll]
//                                       registration, instances, script, run, text
//   velbrin_win_host dialog <vdf>       the settings dialog (needs a display)
//   velbrin_win_host no-template <vdf> host-program|null-handle
//                                       the dialog without its template; the
//                                       exit code is what ConfigProc returned
//   velbrin_win_host show <vdf> <ms>    open the dialog for a screenshot
//   velbrin_win_host frei0r <velbrin.dll>
//                                       the frei0r plug-in's contract (64-bit build)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/win/dialog_cases.h"
#include "tests/support/harness.h"
#include "tests/conformance/module_cases.h"
#include "tests/win/thread_cases.h"
#include "tests/win/stack_probe_case.h"
#if VELBRIN_WIN_HOST_FREI0R
#include "tests/conformance/frei0r_cases.h"
#endif

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (argc < 3) {
    std::printf("usage: %s module|dialog|no-template|show <noname.vdf> [ms]\n       %s frei0r <velbrin.dll>\n", argv[0],
                argv[0]);
    return 2;
  }
  const std::string vdf = argv[2];
  if (mode == "module") {
    // The conformance cases the native build runs under GoogleTest.
    int n = 0;
    const ConformanceCase* cases = conformance_cases(&n);
    for (int k = 0; k < n; ++k) harness::run_case(cases[k].title, [&] { cases[k].run(vdf); });
    wintest::thread_cases(vdf);
    if (argc > 3) wintest::stack_probe_case(argv[3]);
    return harness::summary();
  }
  if (mode == "dialog") {
    wintest::dialog_cases(vdf, argv[0]);
    return harness::summary();
  }
#if VELBRIN_WIN_HOST_FREI0R
  if (mode == "frei0r") {
    // The frei0r cases the native build runs under GoogleTest on velbrin.so.
    int n = 0;
    const Frei0rCase* cases = frei0r_cases(&n);
    for (int k = 0; k < n; ++k) harness::run_case(cases[k].title, [&] { cases[k].run(vdf); });
    return harness::summary();
  }
#endif
  if (mode == "no-template") return wintest::config_without_template(vdf, argc > 3 ? argv[3] : "");
  if (mode == "show") return wintest::show_dialog(vdf, argc > 3 ? std::atoi(argv[3]) : 5000);
  std::printf("unknown mode %s\n", mode.c_str());
  return 2;
}
