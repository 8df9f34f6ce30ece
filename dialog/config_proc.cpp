// The settings dialog. ConfigProc shows it modally over the host's window;
// its dialog procedure writes every slider movement and switch change into
// the instance's settings record at once and asks the host's preview to redo
// its frame, so the user sees each change while the dialog is open. OK stores
// every control's state and returns 0; Cancel returns 1 and leaves restoring
// the earlier settings to the host.
#include "dialog/config_proc.h"

#include <commctrl.h>

#include "dialog/control_writes.h"
#include "dialog/dialog_ids.h"
#include "engine/filter_settings.h"

namespace {

struct SliderSetup {
  int id;
  int min;
  int max;
  int tick_every;
};
// The ranges of engine/setting_ranges.h.
constexpr SliderSetup kLevelSlider = {IDC_LEVEL, kLevelMin, kLevelMax, 20};
constexpr SliderSetup kDynamicSlider = {IDC_DYNAMIC, kDynamicMin, kDynamicMax, 1};

// The dialog keeps only the settings record's address, in its user slot
// (window data index 8, DWL_USER, on 32-bit Windows; DWLP_USER on 64-bit).
#if !defined(_WIN64)
static_assert(DWLP_USER == 8, "the user slot of a 32-bit dialog");
#endif

FilterSettings* settings_of(HWND dlg) { return reinterpret_cast<FilterSettings*>(GetWindowLongPtrA(dlg, DWLP_USER)); }

void set_up_slider(HWND dlg, const SliderSetup& slider, int position) {
  SendDlgItemMessageA(dlg, slider.id, TBM_SETTICFREQ, static_cast<WPARAM>(slider.tick_every), 0);
  SendDlgItemMessageA(dlg, slider.id, TBM_SETRANGE, FALSE, MAKELPARAM(slider.min, slider.max));
  // The trackbar clamps a position outside its range (a Level above 400 set
  // by the script command shows the slider at its end).
  SendDlgItemMessageA(dlg, slider.id, TBM_SETPOS, TRUE, static_cast<LPARAM>(position));
}

int slider_position(HWND dlg, int id) {
  return static_cast<int>(SendDlgItemMessageA(dlg, id, TBM_GETPOS, 0, 0));
}

int switch_state(HWND dlg, int id) { return IsDlgButtonChecked(dlg, id) != 0 ? 1 : 0; }

// Hosts hand a preview with every call of ConfigProc. One that hands none
// still gets a working dialog, only without preview, rather than a crash.
void redo_frame(const FilterSettings* s) {
  if (s->preview) s->preview->RedoFrame();
}

INT_PTR init_dialog(HWND dlg, FilterSettings* s) {
  SetWindowLongPtrA(dlg, DWLP_USER, reinterpret_cast<LONG_PTR>(s));
  set_up_slider(dlg, kLevelSlider, s->level);
  set_up_slider(dlg, kDynamicSlider, s->dynamic);
  if (s->showNoise != 0) CheckDlgButton(dlg, IDC_SHOWNOISE, BST_CHECKED);
  if (s->disable != 0) CheckDlgButton(dlg, IDC_DISABLE, BST_CHECKED);
  if (s->preview) s->preview->InitButton(GetDlgItem(dlg, IDC_PREVIEW));
  return TRUE;
}

INT_PTR command(HWND dlg, FilterSettings* s, int id) {
  switch (id) {
    case IDOK:
      // Every control's state once more, sliders and switches alike: each
      // change was written as it happened, and this leaves the record
      // matching the dialog even if something else wrote it meanwhile.
      store_control(*s, IDC_LEVEL, slider_position(dlg, IDC_LEVEL));
      store_control(*s, IDC_DYNAMIC, slider_position(dlg, IDC_DYNAMIC));
      store_control(*s, IDC_SHOWNOISE, switch_state(dlg, IDC_SHOWNOISE));
      store_control(*s, IDC_DISABLE, switch_state(dlg, IDC_DISABLE));
      EndDialog(dlg, 0);
      return TRUE;
    case IDCANCEL:
      EndDialog(dlg, 1);
      return FALSE;
    case IDC_PREVIEW:
      if (s->preview) s->preview->Toggle(dlg);
      redo_frame(s);
      return FALSE;
    case IDC_SHOWNOISE:
    case IDC_DISABLE:
      store_control(*s, id, switch_state(dlg, id));
      redo_frame(s);
      return TRUE;
    default:
      return FALSE;
  }
}

// Every scroll notification, thumb tracking included, stores the slider's
// new position and redoes the preview frame.
INT_PTR scroll(HWND dlg, FilterSettings* s, HWND slider) {
  if (slider == GetDlgItem(dlg, IDC_LEVEL)) {
    store_control(*s, IDC_LEVEL, slider_position(dlg, IDC_LEVEL));
    redo_frame(s);
  } else if (slider == GetDlgItem(dlg, IDC_DYNAMIC)) {
    store_control(*s, IDC_DYNAMIC, slider_position(dlg, IDC_DYNAMIC));
    redo_frame(s);
  }
  return FALSE;
}

INT_PTR CALLBACK ConfigDlgProc(HWND dlg, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_INITDIALOG) return init_dialog(dlg, reinterpret_cast<FilterSettings*>(lparam));

  // Messages that arrive before WM_INITDIALOG find the user slot still empty
  // and are left to the system.
  FilterSettings* s = settings_of(dlg);
  if (s == nullptr) return FALSE;
  switch (msg) {
    case WM_COMMAND:
      return command(dlg, s, LOWORD(wparam));
    case WM_HSCROLL:
      return scroll(dlg, s, reinterpret_cast<HWND>(lparam));
    default:
      return FALSE;
  }
}

}  // namespace

int VDCALL ConfigProc(FilterActivation* fa, const FilterFunctions*, HWND parent) {
  FilterSettings* s = static_cast<FilterSettings*>(fa->filter_data);
  s->preview = fa->ifp;
  // The template lives in the module's own DLL; the host's module record
  // carries its instance handle. The system's result is passed on as it is:
  // 0 after OK, 1 after Cancel, -1 if the dialog could not be created.
  const INT_PTR result = DialogBoxParamA(fa->filter->module->hInstModule, MAKEINTRESOURCEA(IDD_SETTINGS), parent,
                                         ConfigDlgProc, reinterpret_cast<LPARAM>(s));
  return static_cast<int>(result);
}
