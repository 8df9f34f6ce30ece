// The DLL entry of velbrin.dll. The file links no C runtime, so there is no
// runtime start-up to run; on loading it pins itself, so that it stays
// mapped until the process ends, whatever FreeLibrary calls follow. That is
// what -z nodelete does for velbrin.so, for the same reason: MLT unloads
// frei0r plug-ins without calling f0r_deinit, and the band pool's idle
// workers would then wake in unmapped code. A later LoadLibrary finds the
// same copy, pool and all. A copy that cannot be pinned refuses to load.
#include <windows.h>

#include "engine/band_pool.h"

extern "C" BOOL WINAPI DllEntry(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  HMODULE pinned = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                          reinterpret_cast<LPCWSTR>(instance), &pinned))
    return FALSE;
  // Never unloaded, the pool's lock need never be freed: a host thread
  // racing f0r_deinit then always finds it whole.
  band_pool_keep_lock();
  // The pool's workers are not announced to this entry: nothing here needs them.
  DisableThreadLibraryCalls(instance);
  return TRUE;
}
