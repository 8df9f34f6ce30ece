// Defaults, script command, script line and caption of the settings record.
#include "settings/settings_procs.h"

#include "engine/filter_settings.h"
#include "settings/line_builder.h"

namespace {

FilterSettings* settings_of(const FilterActivation* fa) { return static_cast<FilterSettings*>(fa->filter_data); }

}  // namespace

int VDCALL InitProc(FilterActivation* fa, const FilterFunctions*) {
  FilterSettings* s = settings_of(fa);
  s->level = kDefaultLevel;
  s->dynamic = kDefaultDynamic;
  s->disable = 0;
  // Hosts may hand a record that was never zeroed; a new instance starts
  // with Show noise off rather than with whatever the memory held.
  s->showNoise = 0;
  return 0;
}

void VDCALL ScriptConfig(IScriptInterpreter*, FilterActivation* fa, const CScriptValue* argv, int) {
  // Hosts pass an integer argument as type int or as a 64-bit integer; both
  // keep the low 32 bits at the start of the value, so the type is not read.
  // Values are stored as given: the run procedure is defined for any int.
  FilterSettings* s = settings_of(fa);
  s->level = argv[0].value.i;
  s->dynamic = argv[1].value.i;
}

bool VDCALL FssProc(FilterActivation* fa, const FilterFunctions*, char* buf, int length) {
  const FilterSettings* s = settings_of(fa);
  LineBuilder line;
  line.text("Config(").number(s->level).text(", ").number(s->dynamic).text(")");
  // The host reads the buffer as a C string: a short buffer gets the line
  // cut to length - 1 characters plus a terminator; none at all if the
  // buffer has no room for even the terminator.
  if (length <= 0) return true;
  const int n = line.length() < length - 1 ? line.length() : length - 1;
  for (int k = 0; k < n; ++k) buf[k] = line.c_str()[k];
  buf[n] = '\0';
  return true;
}

void VDCALL StringProc(const FilterActivation* fa, const FilterFunctions*, char* buf) {
  const FilterSettings* s = settings_of(fa);
  LineBuilder line;
  line.text(" ( ").number(s->level).text(", ").number(s->dynamic).text(" )");
  // At most 29 characters and the terminator: the host's buffer holds that.
  for (int k = 0; k <= line.length(); ++k) buf[k] = line.c_str()[k];
}
