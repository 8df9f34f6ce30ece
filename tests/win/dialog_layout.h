// The settings dialog's expected layout, and a reader for the extended
// dialog template stored in the module's resources.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace wintest {

struct ControlLayout {
  std::string text;
  int id;
  std::string window_class;  // as registered: "Button", "Static", "msctls_trackbar32"
  uint32_t style;
  int x, y, cx, cy;  // dialog units
};

struct DialogLayout {
  uint16_t version = 0;
  uint16_t signature = 0;
  uint32_t ex_style = 0;
  uint32_t style = 0;
  int x = 0, y = 0, cx = 0, cy = 0;
  bool has_menu = false;
  bool has_class = false;
  std::string caption;
  int point_size = 0;
  std::string typeface;
  std::vector<ControlLayout> controls;
};

// The ten controls, in template (and tab) order.
const std::vector<ControlLayout>& expected_controls();
constexpr uint32_t kExpectedDialogStyle = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT;
constexpr WORD kRussian = MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT);  // 1049

// Parses an extended dialog template (DLGTEMPLATEEX); false if the bytes are
// not one or end too early.
bool parse_dialog_template(const void* data, size_t size, DialogLayout& out);

// Lower-cased, for comparing window class names (Windows ignores their case).
std::string lower(std::string s);

}  // namespace wintest
