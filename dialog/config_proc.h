// The configuration procedure the host calls to show the settings dialog,
// and the dialog procedure behind it (Windows builds only).
#pragma once

#include <windows.h>

#include "host/vd_filter.h"

int VDCALL ConfigProc(FilterActivation* fa, const FilterFunctions* ff, HWND parent);
INT_PTR CALLBACK ConfigDlgProc(HWND dlg, UINT msg, WPARAM wparam, LPARAM lparam);
