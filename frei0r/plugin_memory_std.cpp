// The plug-in's memory on Linux: the C library's allocator.
#include <cstdlib>

#include "frei0r/plugin_memory.h"

void* plugin_allocate(size_t bytes) { return std::malloc(bytes); }

void plugin_release(void* memory) { std::free(memory); }
