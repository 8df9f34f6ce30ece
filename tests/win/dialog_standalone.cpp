// The settings dialog opened on its own rather than by the test cases: in a
// child process whose module record names an instance without template 101
// (ConfigProc's result becomes the exit code), and for a screenshot.
#include "tests/win/dialog_cases.h"

#include <windows.h>

#include <cstdio>

#include "tests/win/dialog_driver.h"

namespace wintest {

int config_without_template(const std::string& vdf, const std::string& variant) {
  register_common_controls();
  RegisteredFilter filter(vdf);
  if (!filter.ok()) {
    std::printf("module not registered: %s\n", filter.module.error.c_str());
    return 2;
  }
  // The module record names an instance that holds no template 101: this
  // program's own, or none at all.
  filter.fm.hInstModule = variant == "null-handle" ? nullptr : GetModuleHandleA(nullptr);
  Instance instance(filter.def, 0);
  filter.def->initProc(&instance.fa, &filter.ff);
  GuardedFrame source(8, 8, 8, Placement::kLowGuard);
  RecordingPreview preview(instance, filter.ff, source);
  const DialogRun run = run_dialog(instance, filter.ff, preview, [](OpenDialog& d) { d.cancel(); });
  std::printf("ConfigProc returned %d; the dialog %s; %u preview calls\n", run.result,
              run.script_ran ? "opened" : "did not open", unsigned(preview.events.size()));
  return run.result;
}

int show_dialog(const std::string& vdf, int ms) {
  register_common_controls();
  RegisteredFilter filter(vdf);
  if (!filter.ok()) {
    std::printf("module not registered: %s\n", filter.module.error.c_str());
    return 2;
  }
  Instance instance(filter.def, 0);
  filter.def->initProc(&instance.fa, &filter.ff);
  GuardedFrame source(8, 8, 8, Placement::kLowGuard);
  RecordingPreview preview(instance, filter.ff, source);
  const DialogRun run = run_dialog(instance, filter.ff, preview, [&](OpenDialog& d) {
    // Let the dialog paint, report where it is, then keep it open.
    auto pump = [](DWORD duration) {
      const DWORD start = GetTickCount();
      MSG msg;
      while (GetTickCount() - start < duration) {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
          TranslateMessage(&msg);
          DispatchMessageA(&msg);
        }
        Sleep(10);
      }
    };
    for (int k = 0; k < 100 && !IsWindowVisible(d.hwnd); ++k) pump(50);
    RedrawWindow(d.hwnd, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    pump(500);
    RECT r{};
    GetWindowRect(d.hwnd, &r);
    std::printf("dialog at %ld %ld size %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
    std::fflush(stdout);
    pump(DWORD(ms));
    d.cancel();
  });
  return run.result == 1 ? 0 : 1;
}

}  // namespace wintest
