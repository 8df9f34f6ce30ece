// The expected dialog layout and the template reader.
#include "tests/win/dialog_layout.h"

#include <commctrl.h>

#include <cstdio>

#include "dialog/dialog_ids.h"

namespace wintest {

const std::vector<ControlLayout>& expected_controls() {
  constexpr uint32_t kChild = WS_CHILD | WS_VISIBLE;
  constexpr uint32_t kSlider = kChild | TBS_AUTOTICKS | TBS_TOP | TBS_TOOLTIPS | WS_TABSTOP;
  static const std::vector<ControlLayout> controls = {
      {"OK", IDOK, "Button", kChild | BS_DEFPUSHBUTTON | WS_TABSTOP, 89, 96, 41, 16},
      {"Cancel", IDCANCEL, "Button", kChild | BS_PUSHBUTTON | WS_TABSTOP, 150, 96, 41, 16},
      {"", IDC_LEVEL, "msctls_trackbar32", kSlider, 61, 11, 122, 25},
      {"Show preview", IDC_PREVIEW, "Button", kChild | BS_PUSHBUTTON | WS_TABSTOP, 7, 96, 53, 16},
      {"", -1, "Button", kChild | BS_GROUPBOX, 7, 4, 184, 67},
      {"Show noise", IDC_SHOWNOISE, "Button", kChild | BS_AUTOCHECKBOX | WS_TABSTOP, 17, 77, 62, 14},
      {"", IDC_DYNAMIC, "msctls_trackbar32", kSlider, 61, 40, 122, 25},
      {"Level", -1, "Static", kChild | SS_LEFT | WS_GROUP, 20, 20, 34, 14},
      {"Dynamic", -1, "Static", kChild | SS_LEFT | WS_GROUP, 20, 48, 34, 14},
      {"Disable", IDC_DISABLE, "Button", kChild | BS_AUTOCHECKBOX | WS_TABSTOP, 105, 76, 57, 16},
  };
  return controls;
}

std::string lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

namespace {

// Reads the template's little-endian fields in order, with bounds checks.
class Reader {
 public:
  Reader(const void* data, size_t size) : p_(static_cast<const unsigned char*>(data)), size_(size) {}
  bool ok() const { return ok_; }
  uint16_t word() {
    if (at_ + 2 > size_) return fail();
    const uint16_t v = static_cast<uint16_t>(p_[at_] | p_[at_ + 1] << 8);
    at_ += 2;
    return v;
  }
  uint32_t dword() {
    const uint32_t lo = word();
    return lo | uint32_t{word()} << 16;
  }
  int16_t coordinate() { return static_cast<int16_t>(word()); }
  uint8_t byte() {
    if (at_ + 1 > size_) return static_cast<uint8_t>(fail());
    return p_[at_++];
  }
  std::string text() {
    std::string s;
    for (uint16_t c = word(); ok_ && c != 0; c = word()) s += c < 128 ? static_cast<char>(c) : '?';
    return s;
  }
  // A string or a 0xFFFF-prefixed ordinal; `ordinal` is set in the second case.
  std::string text_or_ordinal(int& ordinal) {
    ordinal = -1;
    if (at_ + 2 <= size_ && p_[at_] == 0xFF && p_[at_ + 1] == 0xFF) {
      word();
      ordinal = word();
      return {};
    }
    return text();
  }
  void align4() { at_ = (at_ + 3) & ~size_t{3}; }

 private:
  uint16_t fail() {
    ok_ = false;
    return 0;
  }
  const unsigned char* p_;
  size_t size_;
  size_t at_ = 0;
  bool ok_ = true;
};

// "#123", as resource tools write an ordinal where a name may stand.
std::string ordinal_text(int ordinal) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "#%d", ordinal);
  return buf;
}

std::string predefined_class(int ordinal) {
  switch (ordinal) {
    case 0x80: return "Button";
    case 0x81: return "Edit";
    case 0x82: return "Static";
    case 0x83: return "ListBox";
    case 0x84: return "ScrollBar";
    case 0x85: return "ComboBox";
    default: return ordinal_text(ordinal);
  }
}

}  // namespace

bool parse_dialog_template(const void* data, size_t size, DialogLayout& out) {
  Reader r(data, size);
  out.version = r.word();
  out.signature = r.word();
  if (out.version != 1 || out.signature != 0xFFFF) return false;
  r.dword();  // help id
  out.ex_style = r.dword();
  out.style = r.dword();
  const int count = r.word();
  out.x = r.coordinate();
  out.y = r.coordinate();
  out.cx = r.coordinate();
  out.cy = r.coordinate();
  int ordinal = -1;
  out.has_menu = !r.text_or_ordinal(ordinal).empty() || ordinal >= 0;
  out.has_class = !r.text_or_ordinal(ordinal).empty() || ordinal >= 0;
  out.caption = r.text();
  if (out.style & (DS_SETFONT | DS_SHELLFONT)) {
    out.point_size = r.word();
    r.word();  // weight
    r.byte();  // italic
    r.byte();  // character set
    out.typeface = r.text();
  }
  for (int k = 0; k < count && r.ok(); ++k) {
    r.align4();
    ControlLayout c;
    r.dword();  // help id
    r.dword();  // extended style
    c.style = r.dword();
    c.x = r.coordinate();
    c.y = r.coordinate();
    c.cx = r.coordinate();
    c.cy = r.coordinate();
    c.id = static_cast<int>(r.dword());
    c.window_class = r.text_or_ordinal(ordinal);
    if (ordinal >= 0) c.window_class = predefined_class(ordinal);
    c.text = r.text_or_ordinal(ordinal);
    if (ordinal >= 0) c.text = ordinal_text(ordinal);
    const int extra = r.word();
    for (int b = 0; b < extra; ++b) r.byte();
    out.controls.push_back(c);
  }
  return r.ok() && int(out.controls.size()) == count;
}

}  // namespace wintest
