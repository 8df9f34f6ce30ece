// The module under test as a host sees it: loaded as a shared library
// (dlopen natively, LoadLibrary on Windows), its two entries looked up by
// name, and a fake host function table that records what the module hands
// over. Nothing of the module is linked in.
#pragma once

#include <string>
#include <vector>

#include "engine/filter_settings.h"
#include "host/vd_filter.h"
#include "tests/support/fake_registration_host.h"

namespace hosttest {

using FakeHost = FakeRegistrationHost;
inline FakeHost& g_host = g_fake_host;

// The host's function table: addFilter and removeFilter record into g_host;
// the remaining slots hold procedures that count unexpected calls.
FilterFunctions host_functions();
int unexpected_host_calls();

// On Windows, Unix paths given on the command line are turned into paths on
// Wine's Z: drive (the whole Unix file system); other paths are kept.
std::string native_path(const std::string& path);

class LoadedModule {
 public:
  explicit LoadedModule(const std::string& path);
  ~LoadedModule();
  LoadedModule(const LoadedModule&) = delete;
  LoadedModule& operator=(const LoadedModule&) = delete;

  bool ok() const { return handle != nullptr && init != nullptr && deinit != nullptr; }
  // What the host keeps in FilterModule::hInstModule.
  HINSTANCE instance_handle() const;
  void* handle = nullptr;
  FilterModuleInitProc init = nullptr;
  FilterModuleDeinitProc deinit = nullptr;
  std::string error;
};

// A loaded and registered filter, removed and unloaded again at the end of
// its scope. The fake host answers addFilter with the module's own record.
class RegisteredFilter {
 public:
  explicit RegisteredFilter(const std::string& path);
  ~RegisteredFilter();
  RegisteredFilter(const RegisteredFilter&) = delete;
  RegisteredFilter& operator=(const RegisteredFilter&) = delete;

  bool ok() const { return def != nullptr; }
  LoadedModule module;
  FilterModule fm{};
  FilterFunctions ff{};
  FilterDefinition* def = nullptr;
};

// One instance as a host keeps it: a record of the definition's declared
// size, filled with `garbage` (hosts need not zero it), followed by guard
// bytes, and an activation record pointing at it.
class Instance {
 public:
  static constexpr int kGuardBytes = 32;
  static constexpr unsigned char kGuard = 0xE7;

  Instance(FilterDefinition* def, unsigned char garbage);
  FilterSettings* settings() { return reinterpret_cast<FilterSettings*>(storage_.data()); }
  bool guard_intact() const;
  // Replays the script line Config(level, dynamic) through the definition's
  // script table, with the integers of the given script value type.
  void replay_config(int level, int dynamic, int value_type = kScriptInt);

  FilterActivation fa{};

 private:
  std::vector<unsigned char> storage_;
  int size_ = 0;
};

}  // namespace hosttest
