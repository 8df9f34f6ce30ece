// The host side of the filter interface: loads the module with dlopen,
// registers its filter through our own FilterFunctions, and makes instances
// that are set up and run exactly as the VirtualDub host does it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "host/vd_filter.h"

// What the user asked of one instance. Level and Dynamic go through the
// module's Config script command; unset ones keep what InitProc chose.
struct InstanceSettings {
  std::optional<int> level;
  std::optional<int> dynamic;
  bool show_noise = false;
  bool disable = false;
};

// Finds the module: an explicit path, else $VELBRIN_MODULE, else noname.so
// beside the executable, else ../lib/velbrin/noname.so from the executable's
// folder (an installed tree), else the one the build made. Throws CliError.
std::string locate_filter_module(const std::string& explicit_path);

class LoadedFilterModule {
 public:
  // dlopen, VirtualdubFilterModuleInit2, and checks of what was registered.
  explicit LoadedFilterModule(const std::string& path);
  // VirtualdubFilterModuleDeinit, then dlclose.
  ~LoadedFilterModule();
  LoadedFilterModule(const LoadedFilterModule&) = delete;
  LoadedFilterModule& operator=(const LoadedFilterModule&) = delete;

  FilterDefinition& definition() const { return *definition_; }
  const FilterFunctions* functions() const { return &functions_; }
  ScriptFunctionPtr config_function() const { return config_; }

 private:
  void* handle_ = nullptr;
  FilterModuleDeinitProc deinit_ = nullptr;
  FilterModule module_record_{};
  FilterFunctions functions_{};
  FilterDefinition* definition_ = nullptr;
  ScriptFunctionPtr config_ = nullptr;
};

// One instance of the filter: its settings record (allocated at the size
// the definition declares), its activation record and its two bitmaps.
// Instances are independent, so each worker thread owns one.
class FilterInstance {
 public:
  FilterInstance(const LoadedFilterModule& module, const InstanceSettings& settings);
  FilterInstance(const FilterInstance&) = delete;
  FilterInstance& operator=(const FilterInstance&) = delete;

  // Runs the filter on one frame of width x height 32-bit pixels, stored as
  // the host stores them: row 0 in memory is the bottom row of the picture,
  // rows follow each other with no gap (pitch 4 x width).
  void run(const uint32_t* src, uint32_t* dst, int width, int height);

  // Sets Level and Dynamic through the module's Config script command, as
  // a host replaying a script line does (--auto, before each frame).
  void configure(int level, int dynamic);

  // What the host shows: "Velbrin ( 100, 5 )" and "Config(100, 5)".
  std::string caption() const;
  std::string script_line() const;

 private:
  const LoadedFilterModule& module_;
  std::unique_ptr<std::max_align_t[]> record_;
  FilterActivation activation_{};
  VFBitmap src_{};
  VFBitmap dst_{};
};
