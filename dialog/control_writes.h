// What the settings dialog writes into the instance's record when one of
// its controls changes. Kept apart from the Windows code so that the native
// thread tests can play the dialog's thread with the very same writes: the
// band workers may be reading the record meanwhile, so each one is
// store_setting's relaxed atomic store.
#pragma once

#include "dialog/dialog_ids.h"
#include "engine/filter_settings.h"

// Stores a control's new state (a slider's position, a switch's 0 or 1) in
// its setting; does nothing for a control that has none.
inline void store_control(FilterSettings& s, int control, int value) {
  switch (control) {
    case IDC_LEVEL: store_setting(s.level, value); break;
    case IDC_DYNAMIC: store_setting(s.dynamic, value); break;
    case IDC_SHOWNOISE: store_setting(s.showNoise, value); break;
    case IDC_DISABLE: store_setting(s.disable, value); break;
    default: break;
  }
}
