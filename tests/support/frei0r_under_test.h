// The frei0r plug-in as a host sees it: the built file (velbrin.so, or
// velbrin.dll under Wine) loaded with dlopen or LoadLibrary and driven
// through its f0r_* entries alone, nothing of it linked in. Also what the
// frei0r cases need of the system: the process's threads, the processors it
// may use, host threads of its own.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/process_threads.h"

extern "C" {
#include <frei0r.h>
}

namespace frei0r_test {

// One load of the plug-in: loaded and, unless `init` is false, f0r_init
// called; at the end of its scope f0r_deinit (when f0r_init was called and
// not yet undone) and the unload.
class Frei0rPlugin {
 public:
  explicit Frei0rPlugin(const std::string& path, bool init = true);
  ~Frei0rPlugin();
  Frei0rPlugin(const Frei0rPlugin&) = delete;
  Frei0rPlugin& operator=(const Frei0rPlugin&) = delete;

  bool ok() const { return handle_ != nullptr && update2 != nullptr && error.empty(); }
  // f0r_init and f0r_deinit, counted, so that the destructor undoes what is left.
  int init();
  void deinit();
  // Unloads without f0r_deinit, as MLT does; the destructor then does nothing.
  void unload_without_deinit();

  void set(f0r_instance_t inst, int index, double value);
  double get(f0r_instance_t inst, int index);  // -7 when the plug-in writes nothing
  // One frame through f0r_update, into a fresh buffer.
  std::vector<uint32_t> run(f0r_instance_t inst, const std::vector<uint32_t>& in);

  decltype(&::f0r_init) init_entry = nullptr;
  decltype(&::f0r_deinit) deinit_entry = nullptr;
  decltype(&::f0r_get_plugin_info) get_plugin_info = nullptr;
  decltype(&::f0r_get_param_info) get_param_info = nullptr;
  decltype(&::f0r_construct) construct = nullptr;
  decltype(&::f0r_destruct) destruct = nullptr;
  decltype(&::f0r_set_param_value) set_param_value = nullptr;
  decltype(&::f0r_get_param_value) get_param_value = nullptr;
  decltype(&::f0r_update) update = nullptr;
  decltype(&::f0r_update2) update2 = nullptr;
  std::string error;

 private:
  void unload();
  void* handle_ = nullptr;
  int inits_ = 0;
};

// Whether the file is still mapped into this process (it is meant to stay
// once loaded: linked with -z nodelete, pinned on Windows).
bool plugin_mapped(const std::string& path);

// Threads of this process (the pool's workers among them).
using hosttest::process_threads;
using hosttest::settled_threads;
using hosttest::pause_ms;
// Processors this process may run on.
int processors_available();
// Removes VELBRIN_THREADS from the environment, so that the pool takes
// every processor.
void clear_thread_cap();
// Giving up the processor, on either system.
void yield_thread();
// Runs body(0) .. body(n - 1) on n new threads at once and waits for them.
void run_host_threads(int n, const std::function<void(int)>& body);

}  // namespace frei0r_test
