// Opening the module's settings dialog as a host does and driving it as a
// user would. The host's preview is a recording IFilterPreview whose
// RedoFrame runs the filter's run procedure on a test frame, as a host's
// preview window does; a thread hook records every scroll notification that
// reaches the dialog, into the same event log, so the order of
// notifications and preview calls can be checked.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/filter_settings.h"
#include "tests/support/host_frames.h"
#include "tests/support/module_under_test.h"

namespace wintest {

using namespace hosttest;

struct PreviewEvent {
  enum Kind { kInitButton, kToggle, kRedoFrame, kScroll, kOtherMethod };
  explicit PreviewEvent(Kind k) : kind(k) {}
  Kind kind;
  HWND window = nullptr;      // InitButton: the button; Toggle: the dialog; Scroll: the slider
  int scroll_code = 0;        // Scroll: the notification code (TB_LINEDOWN, TB_THUMBTRACK, ...)
  bool preview_open = false;  // RedoFrame: whether Toggle had opened the preview
  FilterSettings record{};    // RedoFrame: the settings record at that moment
  int level_position = -1;    // RedoFrame: the sliders at that moment
  int dynamic_position = -1;
  std::vector<uint32_t> frame;  // RedoFrame: what the run procedure produced
  std::string method;           // OtherMethod: which one was called
};

class RecordingPreview final : public IFilterPreview {
 public:
  RecordingPreview(Instance& instance, const FilterFunctions& ff, GuardedFrame& source);

  std::vector<PreviewEvent> events;
  HWND dialog = nullptr;  // the parent of the button InitButton received
  bool open = false;

  void SetButtonCallback(ButtonCallback, void*) override { other("SetButtonCallback"); }
  void SetSampleCallback(SampleCallback, void*) override { other("SetSampleCallback"); }
  bool isPreviewEnabled() override { return other("isPreviewEnabled"), open; }
  void Toggle(HWND dlg) override;
  void Display(HWND, bool) override { other("Display"); }
  void RedoFrame() override;
  void RedoSystem() override { other("RedoSystem"); }
  void UndoSystem() override { other("UndoSystem"); }
  void InitButton(HWND button) override;
  void Close() override { other("Close"); }
  bool SampleCurrentFrame() override { return other("SampleCurrentFrame"), false; }
  long SampleFrames() override { return other("SampleFrames"), 0; }

 private:
  void other(const char* method);
  Instance& instance_;
  const FilterFunctions& ff_;
  GuardedFrame& source_;
};

// The open dialog, as the driving script sees it.
class OpenDialog {
 public:
  explicit OpenDialog(HWND dlg) : hwnd(dlg) {}
  HWND item(int id) const { return GetDlgItem(hwnd, id); }
  int position(int slider_id) const;
  bool checked(int id) const;
  // A key press on a trackbar: key down, then key up.
  void press_key(int slider_id, int virtual_key) const;
  // Grabs the slider's thumb with the mouse and drags it `steps` times by
  // `dx` pixels before letting go.
  void drag_thumb(int slider_id, int dx, int steps) const;
  void click(int id) const;  // BM_CLICK
  void ok();
  void cancel();
  bool closed = false;
  HWND hwnd;
};

using DialogScript = std::function<void(OpenDialog&)>;

struct DialogRun {
  int result = 0;          // what ConfigProc returned
  bool script_ran = false;
  bool timed_out = false;  // the dialog had to be ended by the watchdog
  int faults = 0;          // access violations and the like while it was open
};

// Calls the definition's configuration procedure for `instance` with
// `preview` as the host's preview interface (or with none, if
// `hand_preview` is false), and runs `script` inside the dialog's modal loop
// once the dialog is up.
DialogRun run_dialog(Instance& instance, const FilterFunctions& ff, RecordingPreview& preview,
                     const DialogScript& script, bool hand_preview = true);

// A hidden top-level window that stands in for the host's main window.
HWND host_window();

// Registers the common controls' window classes (the trackbar among them),
// as a host does before it opens a filter's dialog.
void register_common_controls();

}  // namespace wintest
