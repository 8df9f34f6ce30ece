// The settings dialog's template as stored in the module: dialog 101 under
// the Russian language id only, and the caption, style, size, font and every
// control of the extended template, read from the resource bytes.
#include "tests/win/dialog_template_cases.h"

#include "dialog/dialog_ids.h"
#include "tests/win/dialog_layout.h"
#include "tests/support/harness.h"

namespace wintest {
namespace {


BOOL CALLBACK collect_language(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR out) {
  reinterpret_cast<std::vector<WORD>*>(out)->push_back(language);
  return TRUE;
}

void template_languages(HMODULE module) {
  std::vector<WORD> languages;
  EnumResourceLanguagesA(module, MAKEINTRESOURCEA(5) /* RT_DIALOG */, MAKEINTRESOURCEA(IDD_SETTINGS),
                         collect_language, reinterpret_cast<LONG_PTR>(&languages));
  CHECK_EQ(languages.size(), size_t{1});
  if (!languages.empty()) CHECK_EQ(int(languages[0]), 1049);
  CHECK(FindResourceExA(module, MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(IDD_SETTINGS), kRussian) != nullptr);
}

bool load_template(HMODULE module, DialogLayout& layout) {
  HRSRC res = FindResourceExA(module, MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(IDD_SETTINGS), kRussian);
  if (!res) return false;
  HGLOBAL loaded = LoadResource(module, res);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  return data && parse_dialog_template(data, SizeofResource(module, res), layout);
}

void template_dialog(HMODULE module) {
  DialogLayout t;
  CHECK(load_template(module, t));
  CHECK_EQ(t.version, uint16_t{1});  // an extended template
  CHECK_EQ(t.signature, uint16_t{0xFFFF});
  CHECK_EQ(t.caption, std::string("Setting"));
  CHECK_EQ(t.style, kExpectedDialogStyle);
  CHECK_EQ(t.ex_style, uint32_t{0});
  CHECK_EQ(t.x, 0);
  CHECK_EQ(t.y, 0);
  CHECK_EQ(t.cx, 198);
  CHECK_EQ(t.cy, 119);
  CHECK(!t.has_menu);
  CHECK(!t.has_class);
  CHECK_EQ(t.point_size, 8);
  CHECK_EQ(t.typeface, std::string("MS Sans Serif"));
  CHECK_EQ(t.controls.size(), expected_controls().size());
}

void template_controls(HMODULE module) {
  DialogLayout t;
  CHECK(load_template(module, t));
  const std::vector<ControlLayout>& want = expected_controls();
  for (size_t k = 0; k < want.size() && k < t.controls.size(); ++k) {
    const ControlLayout& e = want[k];
    const ControlLayout& c = t.controls[k];
    harness::Row row("control " + std::to_string(k + 1) + " (" + (e.text.empty() ? e.window_class : e.text) + ")");
    CHECK_EQ(c.id, e.id);
    CHECK_EQ(lower(c.window_class), lower(e.window_class));
    CHECK_EQ(c.style, e.style);
    CHECK_EQ(c.text, e.text);
    CHECK_EQ(c.x, e.x);
    CHECK_EQ(c.y, e.y);
    CHECK_EQ(c.cx, e.cx);
    CHECK_EQ(c.cy, e.cy);
  }
}

}  // namespace

void dialog_template_cases(HMODULE module) {
  harness::run_case("template: dialog 101 stored under language 1049 only", [&] { template_languages(module); });
  harness::run_case("template: caption, style, position, size and font", [&] { template_dialog(module); });
  harness::run_case("template: class, id, style, text and position of each control",
                    [&] { template_controls(module); });
}

}  // namespace wintest
