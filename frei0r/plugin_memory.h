// Memory for the plug-in's instances and in-place copies, from the system's
// own allocator: the C library natively (plugin_memory_std.cpp), the process
// heap in the Windows DLL, which links no C runtime (plugin_memory_win32.cpp).
#pragma once

#include <cstddef>

// `bytes` of memory aligned for any object, or nullptr when there is none.
void* plugin_allocate(size_t bytes);
// Gives back what plugin_allocate gave; nullptr is ignored.
void plugin_release(void* memory);
