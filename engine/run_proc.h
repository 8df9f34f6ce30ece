// The filter's run procedure, as the host calls it for every frame.
#pragma once

#include "host/vd_filter.h"

int VDCALL RunProc(const FilterActivation* fa, const FilterFunctions* ff);
