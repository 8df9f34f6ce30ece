// The settings dialog under Wine's real USER32 and common controls: the
// dialog as it opens, and scripted user actions (trackbar keys and thumb
// drags, button clicks) with a recording preview whose frames are checked
// against the reference kernel; the template's own cases and the failure
// case in a separate process are started from here too.
#include "tests/win/dialog_cases.h"

#include <windows.h>
#include <commctrl.h>

#include <random>

#include "dialog/dialog_ids.h"
#include "tests/win/dialog_driver.h"
#include "tests/win/dialog_layout.h"
#include "tests/win/dialog_template_cases.h"
#include "tests/support/harness.h"

namespace wintest {
namespace {

// One dialog session: a new instance of the registered filter (its record
// filled with garbage before InitProc), a test frame for the preview and the
// recording preview itself.
struct Session {
  explicit Session(RegisteredFilter& f) : filter(f), instance(f.def, 0x6B),
                                          source(24, 16, 26, Placement::kHighGuard),
                                          preview(instance, f.ff, source) {
    fill_picture(source, 20240611u);
    filter.def->initProc(&instance.fa, &filter.ff);
  }
  DialogRun run(const DialogScript& script) {
    return run_dialog(instance, filter.ff, preview, [&](OpenDialog& d) {
      // Whatever else the script does: the dialog handed the Preview
      // button's window to InitButton before anything else.
      CHECK(!preview.events.empty() && preview.events[0].kind == PreviewEvent::kInitButton);
      if (!preview.events.empty()) CHECK(preview.events[0].window == d.item(IDC_PREVIEW));
      script(d);
    });
  }
  FilterSettings& record() { return *instance.settings(); }
  size_t count(PreviewEvent::Kind kind, size_t from = 0) const {
    size_t n = 0;
    for (size_t k = from; k < preview.events.size(); ++k) n += preview.events[k].kind == kind;
    return n;
  }
  const PreviewEvent* last_redo() const {
    for (size_t k = preview.events.size(); k > 0; --k)
      if (preview.events[k - 1].kind == PreviewEvent::kRedoFrame) return &preview.events[k - 1];
    return nullptr;
  }
  // Every frame the preview showed is what the reference kernel makes of the
  // test frame under the record as it was at that moment.
  void check_preview_frames() {
    for (const PreviewEvent& e : preview.events) {
      if (e.kind != PreviewEvent::kRedoFrame) continue;
      CHECK(first_difference(e.frame, reference_output(source, e.record)) < 0);
    }
    CHECK_EQ(count(PreviewEvent::kOtherMethod), size_t{0});
  }

  RegisteredFilter& filter;
  Instance instance;
  GuardedFrame source;
  RecordingPreview preview;
};

void new_instance_shows_defaults(RegisteredFilter& filter) {
  Session s(filter);
  const FilterSettings before = s.record();
  const DialogRun run = s.run([&](OpenDialog& d) {
    CHECK_EQ(d.position(IDC_LEVEL), 100);
    CHECK_EQ(d.position(IDC_DYNAMIC), 5);
    CHECK(!d.checked(IDC_SHOWNOISE));
    CHECK(!d.checked(IDC_DISABLE));
    CHECK_EQ(int(SendMessageA(d.item(IDC_LEVEL), TBM_GETRANGEMIN, 0, 0)), 0);
    CHECK_EQ(int(SendMessageA(d.item(IDC_LEVEL), TBM_GETRANGEMAX, 0, 0)), 400);
    CHECK_EQ(int(SendMessageA(d.item(IDC_DYNAMIC), TBM_GETRANGEMIN, 0, 0)), 0);
    CHECK_EQ(int(SendMessageA(d.item(IDC_DYNAMIC), TBM_GETRANGEMAX, 0, 0)), 10);
    // A tick every 20 on 0..400 and every 1 on 0..10, both ends included.
    CHECK_EQ(int(SendMessageA(d.item(IDC_LEVEL), TBM_GETNUMTICS, 0, 0)), 21);
    CHECK_EQ(int(SendMessageA(d.item(IDC_DYNAMIC), TBM_GETNUMTICS, 0, 0)), 11);
    CHECK_EQ(s.preview.events.size(), size_t{1});  // InitButton only: opening redoes no frame
    d.cancel();
  });
  CHECK(run.script_ran);
  CHECK_EQ(run.result, 1);
  CHECK_EQ(s.preview.events.size(), size_t{1});  // Cancel calls no preview method
  CHECK(s.record().preview == &s.preview);
  CHECK_EQ(s.record().level, before.level);
  CHECK_EQ(s.record().dynamic, before.dynamic);
  CHECK_EQ(s.record().showNoise, before.showNoise);
  CHECK_EQ(s.record().disable, before.disable);
}

void open_dialog_matches_template(RegisteredFilter& filter) {
  Session s(filter);
  const DialogRun run = s.run([&](OpenDialog& d) {
    char text[64] = {};
    GetWindowTextA(d.hwnd, text, sizeof text);
    CHECK_EQ(std::string(text), std::string("Setting"));
    const std::vector<ControlLayout>& want = expected_controls();
    size_t k = 0;
    for (HWND child = GetWindow(d.hwnd, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT), ++k) {
      if (k >= want.size()) continue;
      const ControlLayout& e = want[k];
      harness::Row row("window " + std::to_string(k + 1) + " (" + (e.text.empty() ? e.window_class : e.text) + ")");
      char cls[64] = {};
      GetClassNameA(child, cls, sizeof cls);
      CHECK_EQ(lower(cls), lower(e.window_class));
      CHECK_EQ(GetDlgCtrlID(child), e.id);
      GetWindowTextA(child, text, sizeof text);
      CHECK_EQ(std::string(text), e.text);
      // The dialog manager converts position and size each on its own, so
      // they are mapped as two points rather than as corners.
      RECT expected{e.x, e.y, e.cx, e.cy};
      MapDialogRect(d.hwnd, &expected);
      RECT actual{};
      GetWindowRect(child, &actual);
      MapWindowPoints(nullptr, d.hwnd, reinterpret_cast<POINT*>(&actual), 2);
      CHECK_EQ(actual.left, expected.left);
      CHECK_EQ(actual.top, expected.top);
      CHECK_EQ(actual.right - actual.left, expected.right);
      CHECK_EQ(actual.bottom - actual.top, expected.bottom);
    }
    CHECK_EQ(k, want.size());
    d.cancel();
  });
  CHECK_EQ(run.result, 1);
}

void preview_button(RegisteredFilter& filter) {
  Session s(filter);
  HWND dialog = nullptr;
  const DialogRun run = s.run([&](OpenDialog& d) {
    dialog = d.hwnd;
    for (int press = 0; press < 3; ++press) {
      harness::Row row("press " + std::to_string(press + 1));
      const size_t n = s.preview.events.size();
      d.click(IDC_PREVIEW);
      CHECK_EQ(s.preview.events.size(), n + 2);
      if (s.preview.events.size() != n + 2) continue;
      CHECK_EQ(int(s.preview.events[n].kind), int(PreviewEvent::kToggle));
      CHECK(s.preview.events[n].window == d.hwnd);
      CHECK_EQ(int(s.preview.events[n + 1].kind), int(PreviewEvent::kRedoFrame));
      CHECK_EQ(s.preview.events[n + 1].preview_open, press % 2 == 0);  // opened, closed, opened
    }
    d.ok();
  });
  CHECK_EQ(run.result, 0);
  s.check_preview_frames();
}

void level_zero_shows_input(RegisteredFilter& filter) {
  Session s(filter);
  const DialogRun run = s.run([&](OpenDialog& d) {
    d.click(IDC_PREVIEW);
    const PreviewEvent* opened = s.last_redo();
    CHECK(opened != nullptr && opened->preview_open);
    // At Level 100 the filter changes this frame, so showing the input below means something.
    if (opened) CHECK(first_difference(opened->frame, passed_through(s.source)) >= 0);
    d.press_key(IDC_LEVEL, VK_HOME);
    CHECK_EQ(d.position(IDC_LEVEL), 0);
    const PreviewEvent* shown = s.last_redo();
    CHECK(shown != nullptr && shown != opened);
    if (shown && shown != opened) {
      CHECK(shown->preview_open);
      CHECK_EQ(shown->record.level, 0);
      CHECK_EQ(shown->record.showNoise, 0);
      CHECK(first_difference(shown->frame, passed_through(s.source)) < 0);
    }
    d.ok();
  });
  CHECK_EQ(run.result, 0);
  CHECK_EQ(s.record().level, 0);
  CHECK_EQ(s.record().dynamic, 5);
  s.check_preview_frames();
}

void every_scroll_notification(RegisteredFilter& filter) {
  Session s(filter);
  HWND level = nullptr, dynamic = nullptr;
  int last_level = -1, last_dynamic = -1;
  size_t first_action = 0;
  const DialogRun run = s.run([&](OpenDialog& d) {
    level = d.item(IDC_LEVEL);
    dynamic = d.item(IDC_DYNAMIC);
    first_action = s.preview.events.size();
    struct KeyPress {
      const char* name;
      int slider;
      int key;
    };
    const KeyPress presses[] = {
        {"Level right", IDC_LEVEL, VK_RIGHT},     {"Level page down", IDC_LEVEL, VK_NEXT},
        {"Level left", IDC_LEVEL, VK_LEFT},       {"Level page up", IDC_LEVEL, VK_PRIOR},
        {"Level end", IDC_LEVEL, VK_END},         {"Level home", IDC_LEVEL, VK_HOME},
        {"Dynamic left", IDC_DYNAMIC, VK_LEFT},   {"Dynamic end", IDC_DYNAMIC, VK_END},
        {"Dynamic home", IDC_DYNAMIC, VK_HOME},   {"Dynamic right", IDC_DYNAMIC, VK_RIGHT},
    };
    for (const KeyPress& p : presses) {
      harness::Row row(p.name);
      const int before = d.position(p.slider);
      const size_t n = s.preview.events.size();
      d.press_key(p.slider, p.key);
      CHECK(d.position(p.slider) != before);
      // Key down moves the thumb, key up ends the movement: two notifications.
      CHECK(s.count(PreviewEvent::kScroll, n) >= 2);
    }
    {
      harness::Row row("Dynamic thumb dragged");
      const size_t n = s.preview.events.size();
      d.drag_thumb(IDC_DYNAMIC, 5, 8);
      bool tracked = false;
      for (size_t k = n; k < s.preview.events.size(); ++k)
        tracked |= s.preview.events[k].kind == PreviewEvent::kScroll &&
                   s.preview.events[k].scroll_code == TB_THUMBTRACK;
      CHECK(tracked);
      CHECK(d.position(IDC_DYNAMIC) > 1);
    }
    last_level = d.position(IDC_LEVEL);
    last_dynamic = d.position(IDC_DYNAMIC);
    d.ok();
  });
  CHECK_EQ(run.result, 0);
  // Each notification from a slider is followed by exactly one RedoFrame,
  // which finds that slider's position already in the record.
  const std::vector<PreviewEvent>& ev = s.preview.events;
  size_t pairs = 0;
  for (size_t k = first_action; k < ev.size(); ++k) {
    harness::Row row("event " + std::to_string(k));
    if (ev[k].kind == PreviewEvent::kScroll) {
      CHECK(ev[k].window == level || ev[k].window == dynamic);
      CHECK(k + 1 < ev.size() && ev[k + 1].kind == PreviewEvent::kRedoFrame);
      if (k + 1 < ev.size() && ev[k + 1].kind == PreviewEvent::kRedoFrame) {
        CHECK_EQ(ev[k + 1].record.level, ev[k + 1].level_position);
        CHECK_EQ(ev[k + 1].record.dynamic, ev[k + 1].dynamic_position);
        ++pairs;
        ++k;
      }
    } else {
      harness::fail(__FILE__, __LINE__, "preview call without a scroll notification before it");
    }
  }
  CHECK(pairs >= 21);
  CHECK_EQ(s.record().level, last_level);
  CHECK_EQ(s.record().dynamic, last_dynamic);
  s.check_preview_frames();
}

void switches(RegisteredFilter& filter) {
  Session s(filter);
  const DialogRun run = s.run([&](OpenDialog& d) {
    d.click(IDC_PREVIEW);
    struct Click {
      const char* name;
      int id;
      int show_noise, disable;  // the record afterwards
      enum Shows { kNoiseView, kInput, kSmoothed } shows;
    };
    const Click clicks[] = {
        {"Show noise on", IDC_SHOWNOISE, 1, 0, Click::kNoiseView},
        {"Disable on while Show noise is on", IDC_DISABLE, 1, 1, Click::kInput},
        {"Disable off again", IDC_DISABLE, 1, 0, Click::kNoiseView},
        {"Show noise off", IDC_SHOWNOISE, 0, 0, Click::kSmoothed},
        {"Disable on alone", IDC_DISABLE, 0, 1, Click::kInput},
    };
    FilterSettings noise = s.record(), smoothed = s.record();
    noise.showNoise = 1;
    noise.disable = smoothed.showNoise = smoothed.disable = 0;
    const std::vector<uint32_t> noise_view = reference_output(s.source, noise);
    const std::vector<uint32_t> smoothed_view = reference_output(s.source, smoothed);
    const std::vector<uint32_t> input = passed_through(s.source);
    CHECK(first_difference(noise_view, input) >= 0);
    for (const Click& c : clicks) {
      harness::Row row(c.name);
      const size_t n = s.preview.events.size();
      d.click(c.id);
      CHECK_EQ(d.checked(c.id), (c.id == IDC_SHOWNOISE ? c.show_noise : c.disable) != 0);
      CHECK_EQ(s.preview.events.size(), n + 1);  // exactly one RedoFrame per change
      const PreviewEvent* e = s.last_redo();
      if (s.preview.events.size() != n + 1 || !e) continue;
      CHECK_EQ(e->record.showNoise, c.show_noise);
      CHECK_EQ(e->record.disable, c.disable);
      const std::vector<uint32_t>& want =
          c.shows == Click::kNoiseView ? noise_view : (c.shows == Click::kInput ? input : smoothed_view);
      CHECK(first_difference(e->frame, want) < 0);
    }
    d.click(IDC_DISABLE);
    d.ok();
  });
  CHECK_EQ(run.result, 0);
  CHECK_EQ(s.record().showNoise, 0);
  CHECK_EQ(s.record().disable, 0);
  s.check_preview_frames();
}

void cancel_after_changes(RegisteredFilter& filter) {
  Session s(filter);
  size_t before_cancel = 0;
  const DialogRun run = s.run([&](OpenDialog& d) {
    d.press_key(IDC_LEVEL, VK_END);
    d.press_key(IDC_DYNAMIC, VK_HOME);
    d.click(IDC_DISABLE);
    d.click(IDC_SHOWNOISE);
    before_cancel = s.preview.events.size();
    d.cancel();
  });
  CHECK_EQ(run.result, 1);
  CHECK_EQ(s.preview.events.size(), before_cancel);  // Cancel calls no preview method
  // The live writes stay: putting the old settings back is the host's part.
  CHECK_EQ(s.record().level, 400);
  CHECK_EQ(s.record().dynamic, 0);
  CHECK_EQ(s.record().disable, 1);
  CHECK_EQ(s.record().showNoise, 1);
}

void ok_stores_positions(RegisteredFilter& filter) {
  Session s(filter);
  s.record().level = 150;
  s.record().showNoise = 7;  // any non-zero value is on
  s.record().disable = 3;
  size_t before_ok = 0;
  const DialogRun run = s.run([&](OpenDialog& d) {
    CHECK(d.checked(IDC_SHOWNOISE));
    CHECK(d.checked(IDC_DISABLE));
    CHECK_EQ(d.position(IDC_LEVEL), 150);
    d.press_key(IDC_DYNAMIC, VK_RIGHT);
    // Written behind the dialog's back: OK stores what the dialog shows.
    s.record().level = 9;
    s.record().showNoise = 0;
    s.record().disable = 0;
    before_ok = s.preview.events.size();
    d.ok();
  });
  CHECK_EQ(run.result, 0);
  CHECK_EQ(s.preview.events.size(), before_ok);  // OK calls no preview method
  CHECK_EQ(s.record().level, 150);
  CHECK_EQ(s.record().dynamic, 6);
  CHECK_EQ(s.record().showNoise, 1);
  CHECK_EQ(s.record().disable, 1);
}

void script_values_beyond_range(RegisteredFilter& filter) {
  struct Case {
    const char* name;
    int level, dynamic;
    bool press_ok;
    int shown_level, shown_dynamic;
    int stored_level, stored_dynamic;
  };
  const Case cases[] = {
      {"Config(1000, 50), OK", 1000, 50, true, 400, 10, 400, 10},
      {"Config(1000, 50), Cancel", 1000, 50, false, 400, 10, 1000, 50},
      {"Config(-20, -3), OK", -20, -3, true, 0, 0, 0, 0},
      {"Config(-20, -3), Cancel", -20, -3, false, 0, 0, -20, -3},
  };
  for (const Case& c : cases) {
    harness::Row row(c.name);
    Session s(filter);
    s.instance.replay_config(c.level, c.dynamic);
    const DialogRun run = s.run([&](OpenDialog& d) {
      CHECK_EQ(d.position(IDC_LEVEL), c.shown_level);
      CHECK_EQ(d.position(IDC_DYNAMIC), c.shown_dynamic);
      if (c.press_ok) d.ok();
      else d.cancel();
    });
    CHECK_EQ(run.result, c.press_ok ? 0 : 1);
    CHECK_EQ(s.record().level, c.stored_level);
    CHECK_EQ(s.record().dynamic, c.stored_dynamic);
  }
}


void no_preview_handed(RegisteredFilter& filter) {
  Session s(filter);
  const DialogRun run = run_dialog(
      s.instance, filter.ff, s.preview,
      [&](OpenDialog& d) {
        d.press_key(IDC_LEVEL, VK_END);
        d.press_key(IDC_DYNAMIC, VK_LEFT);
        d.click(IDC_PREVIEW);
        d.click(IDC_SHOWNOISE);
        d.click(IDC_DISABLE);
        d.ok();
      },
      false);
  CHECK(run.script_ran);
  CHECK_EQ(run.result, 0);
  CHECK(s.record().preview == nullptr);
  CHECK_EQ(s.record().level, 400);
  CHECK_EQ(s.record().dynamic, 4);
  CHECK_EQ(s.record().showNoise, 1);
  CHECK_EQ(s.record().disable, 1);
  CHECK_EQ(s.preview.events.size(), size_t{0});
}

// Runs this program again in "no-template" mode and returns its exit code.
DWORD run_child(const std::string& self, const std::string& vdf, const std::string& variant) {
  std::string command = "\"" + self + "\" no-template \"" + vdf + "\" " + variant;
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    harness::fail(__FILE__, __LINE__, "CreateProcess failed: " + std::to_string(GetLastError()));
    return 0;
  }
  DWORD code = 0;
  if (WaitForSingleObject(pi.hProcess, 60000) != WAIT_OBJECT_0) {
    harness::fail(__FILE__, __LINE__, "the child process did not finish");
    TerminateProcess(pi.hProcess, 99);
  }
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code;
}

}  // namespace

void dialog_cases(const std::string& vdf, const std::string& self) {
  register_common_controls();
  RegisteredFilter filter(vdf);
  harness::run_case("dialog: module loaded and filter registered", [&] {
    CHECK_EQ(filter.module.error, std::string());
    CHECK(filter.ok());
  });
  if (!filter.ok()) return;
  HMODULE module = filter.module.instance_handle();

  dialog_template_cases(module);
  harness::run_case("dialog: opens with the caption and controls where the template puts them",
                    [&] { open_dialog_matches_template(filter); });
  harness::run_case("dialog: a new instance shows Level 100, Dynamic 5, switches off; Cancel returns 1",
                    [&] { new_instance_shows_defaults(filter); });
  harness::run_case("dialog: each Preview press calls Toggle with the dialog, then RedoFrame",
                    [&] { preview_button(filter); });
  harness::run_case("dialog: Level at 0 with the preview open and Show noise off shows the input",
                    [&] { level_zero_shows_input(filter); });
  harness::run_case("dialog: every slider notification writes the record and redoes the frame once",
                    [&] { every_scroll_notification(filter); });
  harness::run_case("dialog: Show noise and Disable switches write the record and redo the frame",
                    [&] { switches(filter); });
  harness::run_case("dialog: Cancel after changes returns 1 and calls no preview",
                    [&] { cancel_after_changes(filter); });
  harness::run_case("dialog: OK returns 0 and stores the sliders and Show noise",
                    [&] { ok_stores_positions(filter); });
  harness::run_case("dialog: script values beyond the sliders' ranges", [&] { script_values_beyond_range(filter); });
  harness::run_case("dialog: a host that hands no preview still gets a working dialog",
                    [&] { no_preview_handed(filter); });
  harness::run_case("dialog: ConfigProc passes on -1 when the template cannot be found (separate process)", [&] {
    for (const char* variant : {"host-program", "null-handle"}) {
      harness::Row row(std::string("instance handle: ") + variant);
      CHECK_EQ(run_child(self, vdf, variant), DWORD(-1));
    }
  });
}

}  // namespace wintest
