// The settings record of one filter instance, and the one part of the
// module's inside that a host shipped with it may rely on.
//
// The host allocates the record (its size is declared in the filter
// definition), copies it byte for byte when it duplicates an instance, and
// frees it; the dialog, the script command and the run procedure all read and
// write this one record.
//
// Contract with velbrin, the command-line host built from this tree: it may
// include this header, write `showNoise` and `disable` into an instance's
// record after InitProc (the saved script line carries Level and Dynamic
// only, so those two switches have no other way in), and find the script
// command by kScriptConfigName and kScriptConfigSignature. Nothing else of the
// module is its business; a change to the layout below is a change to both.
#pragma once

#include <atomic>
#include <cstddef>

#include "engine/setting_ranges.h"
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

// The dialog writes all four settings from its own thread while a frame may
// be running: the run procedure reads Level and Dynamic when a frame starts,
// and the band workers follow the two switches as they go (the preview
// redoes its frame at once). Every one of these words is therefore written
// and read with relaxed atomic accesses on the record's own words, so the
// layout the host copies stays as it is: no ordering is needed, only whole
// values. load_live_switch in the kernels reads the switches the same way.
inline void store_setting(int& word, int value) { std::atomic_ref<int>(word).store(value, std::memory_order_relaxed); }
inline int load_setting(const int& word) {
  return std::atomic_ref<int>(const_cast<int&>(word)).load(std::memory_order_relaxed);
}

// The script command that sets Level and Dynamic, as the module registers it:
// Config(level, dynamic), no result ("0"), two ints ("ii").
constexpr const char* kScriptConfigName = "Config";
constexpr const char* kScriptConfigSignature = "0ii";
