// The configuration procedure the host calls to show the settings dialog
// (Windows builds only).
#pragma once

#include <windows.h>

#include "host/vd_filter.h"

int VDCALL ConfigProc(FilterActivation* fa, const FilterFunctions* ff, HWND parent);
