// The settings record of one filter instance. The host allocates it (its size
// is declared in the filter definition), copies it byte for byte when it
// duplicates an instance, and frees it; the dialog, the script command and
// the run procedure all read and write this one record.
#pragma once

#include "host/vd_filter.h"

struct FilterSettings {
  IFilterPreview* preview;  // set while the dialog is open; only the dialog uses it
  int level;                // base brightness tolerance L
  int dynamic;              // D; the pair divisor is 11 - D
  int showNoise;            // non-zero: output 10 x the change, centred on 127
  int disable;              // non-zero: pass the frame through, byte 3 cleared
};

static_assert(sizeof(FilterSettings) == (sizeof(void*) == 4 ? 20 : 24), "settings record size seen by the host");
static_assert(offsetof(FilterSettings, level) == sizeof(void*), "level follows the preview pointer");
static_assert(offsetof(FilterSettings, disable) == sizeof(void*) + 12, "disable is the last field");

constexpr int kDefaultLevel = 100;
constexpr int kDefaultDynamic = 5;
