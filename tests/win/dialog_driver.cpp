// The recording preview, the user's actions on the dialog, and the modal
// run with a timer that plays the script and a watchdog that ends a dialog
// the script failed to close.
#include "tests/win/dialog_driver.h"

#include <commctrl.h>

#include "dialog/dialog_ids.h"
#include "tests/support/harness.h"

namespace wintest {

RecordingPreview::RecordingPreview(Instance& instance, const FilterFunctions& ff, GuardedFrame& source)
    : instance_(instance), ff_(ff), source_(source) {}

void RecordingPreview::other(const char* method) {
  PreviewEvent e(PreviewEvent::kOtherMethod);
  e.method = method;
  events.push_back(e);
}

void RecordingPreview::Toggle(HWND dlg) {
  open = !open;
  PreviewEvent e(PreviewEvent::kToggle);
  e.window = dlg;
  events.push_back(e);
}

void RecordingPreview::InitButton(HWND button) {
  dialog = GetParent(button);
  PreviewEvent e(PreviewEvent::kInitButton);
  e.window = button;
  events.push_back(e);
}

void RecordingPreview::RedoFrame() {
  PreviewEvent e(PreviewEvent::kRedoFrame);
  e.preview_open = open;
  e.record = *instance_.settings();
  if (dialog) {
    e.level_position = static_cast<int>(SendDlgItemMessageA(dialog, IDC_LEVEL, TBM_GETPOS, 0, 0));
    e.dynamic_position = static_cast<int>(SendDlgItemMessageA(dialog, IDC_DYNAMIC, TBM_GETPOS, 0, 0));
  }
  // As the host's preview does: run the filter on the previewed frame into
  // a destination that holds the previous output or garbage.
  const int w = source_.width(), h = source_.height();
  GuardedFrame dst(w, h, w + 2, Placement::kHighGuard), padding(w, h, w + 2, Placement::kHighGuard);
  dst.fill_all(0xBADF00D5u);
  padding.fill_all(0xBADF00D5u);
  VFBitmap sb = bitmap_of(source_), db = bitmap_of(dst);
  instance_.fa.src = &sb;
  instance_.fa.dst = &db;
  instance_.fa.filter->runProc(&instance_.fa, &ff_);
  instance_.fa.src = instance_.fa.dst = nullptr;
  // Beyond the frame the guard pages fault; the row padding must still hold
  // what it held.
  for (int i = 0; i < h; ++i)
    for (int j = 0; j < w; ++j) padding.at(i, j) = dst.at(i, j);
  ptrdiff_t word = 0;
  if (!dst.same_bytes(padding, &word)) harness::fail(__FILE__, __LINE__, "preview run wrote into the row padding");
  e.frame = dst.pixels();
  events.push_back(e);
}

int OpenDialog::position(int slider_id) const {
  return static_cast<int>(SendMessageA(item(slider_id), TBM_GETPOS, 0, 0));
}

bool OpenDialog::checked(int id) const { return IsDlgButtonChecked(hwnd, id) == BST_CHECKED; }

void OpenDialog::press_key(int slider_id, int virtual_key) const {
  SendMessageA(item(slider_id), WM_KEYDOWN, static_cast<WPARAM>(virtual_key), 1);
  SendMessageA(item(slider_id), WM_KEYUP, static_cast<WPARAM>(virtual_key), 0xC0000001);
}

void OpenDialog::drag_thumb(int slider_id, int dx, int steps) const {
  HWND slider = item(slider_id);
  RECT thumb{};
  SendMessageA(slider, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
  int x = (thumb.left + thumb.right) / 2;
  const int y = (thumb.top + thumb.bottom) / 2;
  SendMessageA(slider, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
  for (int k = 0; k < steps; ++k) {
    x += dx;
    SendMessageA(slider, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x, y));
  }
  SendMessageA(slider, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}

void OpenDialog::click(int id) const { SendMessageA(item(id), BM_CLICK, 0, 0); }

void OpenDialog::ok() {
  click(IDOK);
  closed = true;
}

void OpenDialog::cancel() {
  click(IDCANCEL);
  closed = true;
}

namespace {

constexpr UINT kWatchdogMs = 15000;

struct ActiveRun {
  RecordingPreview* preview = nullptr;
  const DialogScript* script = nullptr;
  DialogRun* run = nullptr;
  UINT_PTR script_timer = 0;
  UINT_PTR watchdog_timer = 0;
  HHOOK hook = nullptr;
};
ActiveRun g_active;

BOOL CALLBACK take_dialog_window(HWND w, LPARAM out) {
  char cls[16] = {};
  GetClassNameA(w, cls, sizeof cls);
  if (std::string(cls) != "#32770") return TRUE;
  *reinterpret_cast<HWND*>(out) = w;
  return FALSE;
}

HWND find_dialog() {
  if (g_active.preview->dialog) return g_active.preview->dialog;
  // InitButton was never called: find the dialog among this thread's windows.
  HWND found = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), take_dialog_window, reinterpret_cast<LPARAM>(&found));
  return found;
}

// A fault inside a dialog procedure does not end the program: the system
// catches it around the window procedure and the dialog carries on. A
// vectored handler sees it first, so such a fault still fails the case.
LONG CALLBACK count_faults(EXCEPTION_POINTERS* info) {
  switch (info->ExceptionRecord->ExceptionCode) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW:
    case EXCEPTION_STACK_OVERFLOW:
    case EXCEPTION_DATATYPE_MISALIGNMENT:
      if (g_active.run) ++g_active.run->faults;
      break;
    default:
      break;
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

LRESULT CALLBACK record_scrolls(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HC_ACTION && g_active.preview) {
    const CWPSTRUCT* m = reinterpret_cast<const CWPSTRUCT*>(lparam);
    if (m->message == WM_HSCROLL && m->hwnd == g_active.preview->dialog) {
      PreviewEvent e(PreviewEvent::kScroll);
      e.window = reinterpret_cast<HWND>(m->lParam);
      e.scroll_code = LOWORD(m->wParam);
      g_active.preview->events.push_back(e);
    }
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

void CALLBACK play_script(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  HWND dlg = find_dialog();
  if (!dlg) return;
  g_active.run->script_ran = true;
  OpenDialog open(dlg);
  (*g_active.script)(open);
  if (!open.closed) {
    harness::fail(__FILE__, __LINE__, "the script left the dialog open");
    EndDialog(dlg, 77);
  }
}

void CALLBACK watchdog(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  g_active.run->timed_out = true;
  if (HWND dlg = find_dialog()) EndDialog(dlg, 78);
}

}  // namespace

DialogRun run_dialog(Instance& instance, const FilterFunctions& ff, RecordingPreview& preview,
                     const DialogScript& script, bool hand_preview) {
  DialogRun run;
  g_active.preview = &preview;
  g_active.script = &script;
  g_active.run = &run;
  g_active.hook = SetWindowsHookExA(WH_CALLWNDPROC, record_scrolls, nullptr, GetCurrentThreadId());
  void* fault_handler = AddVectoredExceptionHandler(1, count_faults);
  g_active.script_timer = SetTimer(nullptr, 0, 50, play_script);
  g_active.watchdog_timer = SetTimer(nullptr, 0, kWatchdogMs, watchdog);
  instance.fa.ifp = hand_preview ? &preview : nullptr;
  run.result = instance.fa.filter->configProc(&instance.fa, &ff, host_window());
  KillTimer(nullptr, g_active.script_timer);
  KillTimer(nullptr, g_active.watchdog_timer);
  RemoveVectoredExceptionHandler(fault_handler);
  UnhookWindowsHookEx(g_active.hook);
  g_active = ActiveRun{};
  if (run.timed_out) harness::fail(__FILE__, __LINE__, "the dialog did not close; the watchdog ended it");
  if (run.faults != 0)
    harness::fail(__FILE__, __LINE__, std::to_string(run.faults) + " faults while the dialog was open");
  return run;
}

HWND host_window() {
  static HWND window = CreateWindowExA(0, "STATIC", "Velbrin test host", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480,
                                       nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  return window;
}

void register_common_controls() {
  // The host's part: the module registers no window class of its own.
  INITCOMMONCONTROLSEX icc{sizeof(INITCOMMONCONTROLSEX), ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&icc);
}

}  // namespace wintest
