// The plug-in's memory in the Windows DLL: the process heap, through
// KERNEL32 (the DLL links no C runtime). The heap's blocks are aligned to
// 16 bytes on 64-bit Windows, enough for any object here.
#include <windows.h>

#include "frei0r/plugin_memory.h"

void* plugin_allocate(size_t bytes) { return HeapAlloc(GetProcessHeap(), 0, bytes); }

void plugin_release(void* memory) {
  if (memory != nullptr) HeapFree(GetProcessHeap(), 0, memory);
}
