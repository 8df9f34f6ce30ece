// Cases that read the settings dialog's template from the module's resources.
#pragma once

#include <windows.h>

namespace wintest {

void dialog_template_cases(HMODULE module);

}  // namespace wintest
