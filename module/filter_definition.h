// The filter definition and script binding this module registers, and the
// two exported entries the host calls when it loads and unloads the module.
#pragma once

#include "host/vd_filter.h"

#if defined(_WIN32)
#define VD_MODULE_EXPORT extern "C" __declspec(dllexport)
#else
#define VD_MODULE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

VD_MODULE_EXPORT int VDCALL VirtualdubFilterModuleInit2(FilterModule* fm, const FilterFunctions* ff, int& version,
                                                        int& compatible);
VD_MODULE_EXPORT void VDCALL VirtualdubFilterModuleDeinit(FilterModule* fm, const FilterFunctions* ff);
