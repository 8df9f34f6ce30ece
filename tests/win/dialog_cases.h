// Cases that open the module's settings dialog with Wine's real USER32 and
// common controls and drive it as a user would.
#pragma once

#include <string>

namespace wintest {

// All dialog cases; `self` is this program's path, used to run the
// failure case in a separate process.
void dialog_cases(const std::string& vdf, const std::string& self);

// ConfigProc on a module record whose instance handle holds no template 101
// (`variant` "host-program": this program's handle; "null-handle": none);
// returns what ConfigProc returned, as the process exit code.
int config_without_template(const std::string& vdf, const std::string& variant);

// Opens the dialog on a new instance, prints its screen rectangle once it is
// shown, and presses Cancel after `ms` milliseconds.
int show_dialog(const std::string& vdf, int ms);

}  // namespace wintest
