// Registration: the one filter definition of this module, its script
// binding, and the entries that add it to and remove it from the host.
#include "module/filter_definition.h"

#include "engine/band_pool.h"
#include "engine/filter_settings.h"
#include "engine/run_proc.h"
#include "settings/settings_procs.h"

#if VELBRIN_HAS_DIALOG
#include "dialog/config_proc.h"
#define VELBRIN_CONFIG_PROC ConfigProc
#else
// Builds without a dialog (the native build) leave the configuration slot
// empty; hosts then offer no "Configure" for the filter.
#define VELBRIN_CONFIG_PROC nullptr
#endif

namespace {

ScriptFunctionDef g_script_functions[] = {
    {ScriptConfig, kScriptConfigName, kScriptConfigSignature},
    {nullptr, nullptr, nullptr},
};

CScriptObject g_script_object = {nullptr, g_script_functions, nullptr};

// Static and writable: the host fills the first three fields and may keep a
// pointer to this record for as long as the module is loaded.
FilterDefinition g_filter_definition = {
    nullptr,                 // next (host)
    nullptr,                 // prev (host)
    nullptr,                 // module (host)
    "Velbrin",               // name
    "Velbrin, version 1.0",  // description
    "Velbrin developers",    // maker
    nullptr,                 // private data
    sizeof(FilterSettings),  // instance data size
    InitProc,
    nullptr,  // deinitProc
    RunProc,
    nullptr,  // paramProc: the host's default of separate source and destination
    VELBRIN_CONFIG_PROC,
    StringProc,
    nullptr,  // startProc
    nullptr,  // endProc
    &g_script_object,
    FssProc,
    nullptr,  // stringProc2
    nullptr,  // serializeProc
    nullptr,  // deserializeProc
    nullptr,  // copyProc
};

// What addFilter returned. Hosts may return their own copy of the definition,
// so exactly this handle goes back to removeFilter.
FilterDefinition* g_registered = nullptr;

}  // namespace

VD_MODULE_EXPORT int VDCALL VirtualdubFilterModuleInit2(FilterModule* fm, const FilterFunctions* ff, int& version,
                                                        int& compatible) {
  g_registered = ff->addFilter(fm, &g_filter_definition, sizeof(FilterDefinition));
  if (g_registered == nullptr) return 1;
  // Frames may share their rows among the pool's threads from now until
  // Deinit closes the pool again.
  band_pool_start();
  version = kVirtualDubFilterApiVersion;
  compatible = kVirtualDubFilterApiCompatible;
  return 0;
}

VD_MODULE_EXPORT void VDCALL VirtualdubFilterModuleDeinit(FilterModule*, const FilterFunctions* ff) {
  // Every worker thread is joined here, while the host still holds the
  // module: after Deinit it may be unloaded, and no thread may outlive it;
  // the pool stays closed until the next Init. (Never from the DLL entry,
  // where waiting for a thread to end deadlocks.)
  band_pool_stop();
  // After a failed registration there is nothing to remove, and a host's
  // removeFilter is not required to accept a null handle.
  if (g_registered == nullptr) return;
  ff->removeFilter(g_registered);
  g_registered = nullptr;
}
