// The procedures that give the settings record its life outside the dialog:
// defaults of a new instance, the script command, the saved script line and
// the caption in the host's filter list. ScriptConfig is registered under
// the name and signature in engine/filter_settings.h.
#pragma once

#include "host/vd_filter.h"

int VDCALL InitProc(FilterActivation* fa, const FilterFunctions* ff);
void VDCALL ScriptConfig(IScriptInterpreter* isi, FilterActivation* fa, const CScriptValue* argv, int argc);
bool VDCALL FssProc(FilterActivation* fa, const FilterFunctions* ff, char* buf, int length);
void VDCALL StringProc(const FilterActivation* fa, const FilterFunctions* ff, char* buf);
