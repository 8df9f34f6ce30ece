// The host's side of registration as the tests play it: an addFilter that
// records what the module hands over and answers as the test chooses (null,
// the module's own record, or a host-owned copy as some hosts return), and a
// removeFilter that records the handle it is given. Shared by the native
// registration tests and the Windows test host; needs no test framework.
#pragma once

#include <cstring>
#include <vector>

#include "host/vd_filter.h"

struct FakeRegistrationHost {
  enum class Answer { kNull, kModuleRecord, kHostCopy };
  Answer answer = Answer::kModuleRecord;
  std::vector<FilterModule*> modules;
  std::vector<FilterDefinition*> added;
  std::vector<int> added_sizes;
  std::vector<FilterDefinition*> removed;
  FilterDefinition host_copy{};
};

// One host per test program, as there is one per process in a real host.
inline FakeRegistrationHost g_fake_host;

inline FilterDefinition* VDCALL fake_add_filter(FilterModule* fm, FilterDefinition* def, int size) {
  g_fake_host.modules.push_back(fm);
  g_fake_host.added.push_back(def);
  g_fake_host.added_sizes.push_back(size);
  def->module = fm;  // the host fills the module link
  switch (g_fake_host.answer) {
    case FakeRegistrationHost::Answer::kNull:
      return nullptr;
    case FakeRegistrationHost::Answer::kModuleRecord:
      return def;
    case FakeRegistrationHost::Answer::kHostCopy:
      std::memcpy(&g_fake_host.host_copy, def, sizeof g_fake_host.host_copy);
      return &g_fake_host.host_copy;
  }
  return nullptr;
}

inline void VDCALL fake_remove_filter(FilterDefinition* handle) { g_fake_host.removed.push_back(handle); }
