// Loading the module and playing the host's side of registration.
#include "tests/support/module_under_test.h"

#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace hosttest {

namespace {

int g_unexpected_calls = 0;

bool VDCALL unexpected_bool() { return ++g_unexpected_calls, false; }
void VDCALL unexpected_vtables(void*) { ++g_unexpected_calls; }
void VDCALL unexpected_void() { ++g_unexpected_calls; }
void VDCALL unexpected_except(const char*, ...) { ++g_unexpected_calls; }
long VDCALL unexpected_flags() { return ++g_unexpected_calls, 0; }
long VDCALL unexpected_version(char*, int) { return ++g_unexpected_calls, 0; }

}  // namespace

FilterFunctions host_functions() {
  FilterFunctions ff{};
  ff.addFilter = fake_add_filter;
  ff.removeFilter = fake_remove_filter;
  ff.isFPUEnabled = unexpected_bool;
  ff.isMMXEnabled = unexpected_bool;
  ff.InitVTables = unexpected_vtables;
  ff.ExceptOutOfMemory = unexpected_void;
  ff.Except = unexpected_except;
  ff.getCPUFlags = unexpected_flags;
  ff.getHostVersionInfo = unexpected_version;
  return ff;
}

int unexpected_host_calls() { return g_unexpected_calls; }

std::string native_path(const std::string& path) {
#if defined(_WIN32)
  if (path.empty() || path[0] != '/') return path;
  std::string out = "Z:" + path;
  for (char& c : out)
    if (c == '/') c = '\\';
  return out;
#else
  return path;
#endif
}

#if defined(_WIN32)

LoadedModule::LoadedModule(const std::string& path) {
  HMODULE h = LoadLibraryA(native_path(path).c_str());
  if (h == nullptr) {
    error = "LoadLibrary(" + path + ") failed, error " + std::to_string(GetLastError());
    return;
  }
  handle = h;
  init = reinterpret_cast<FilterModuleInitProc>(reinterpret_cast<void*>(GetProcAddress(h, "VirtualdubFilterModuleInit2")));
  deinit =
      reinterpret_cast<FilterModuleDeinitProc>(reinterpret_cast<void*>(GetProcAddress(h, "VirtualdubFilterModuleDeinit")));
  if (!init || !deinit) error = "entries not found in " + path;
}

LoadedModule::~LoadedModule() {
  if (handle) FreeLibrary(static_cast<HMODULE>(handle));
}

HINSTANCE LoadedModule::instance_handle() const { return static_cast<HINSTANCE>(handle); }

#else

LoadedModule::LoadedModule(const std::string& path) {
  handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    error = "dlopen(" + path + ") failed: " + (why ? why : "?");
    return;
  }
  init = reinterpret_cast<FilterModuleInitProc>(dlsym(handle, "VirtualdubFilterModuleInit2"));
  deinit = reinterpret_cast<FilterModuleDeinitProc>(dlsym(handle, "VirtualdubFilterModuleDeinit"));
  if (!init || !deinit) error = "entries not found in " + path;
}

LoadedModule::~LoadedModule() {
  if (handle) dlclose(handle);
}

HINSTANCE LoadedModule::instance_handle() const { return nullptr; }

#endif

RegisteredFilter::RegisteredFilter(const std::string& path) : module(path), ff(host_functions()) {
  if (!module.ok()) return;
  fm.hInstModule = module.instance_handle();
  fm.initProc = module.init;
  fm.deinitProc = module.deinit;
  g_host = FakeHost{};
  int version = 0, compatible = 0;
  if (module.init(&fm, &ff, version, compatible) == 0 && g_host.added.size() == 1) def = g_host.added[0];
}

RegisteredFilter::~RegisteredFilter() {
  if (def) module.deinit(&fm, &ff);
}

Instance::Instance(FilterDefinition* def, unsigned char garbage)
    : storage_(size_t(def->inst_data_size) + kGuardBytes, kGuard), size_(def->inst_data_size) {
  std::memset(storage_.data(), garbage, size_t(size_));
  fa.filter = def;
  fa.filter_data = storage_.data();
}

bool Instance::guard_intact() const {
  for (size_t k = size_t(size_); k < storage_.size(); ++k)
    if (storage_[k] != kGuard) return false;
  return true;
}

void Instance::replay_config(int level, int dynamic, int value_type) {
  CScriptValue argv[2];
  std::memset(argv, 0xC5, sizeof argv);  // an interpreter's array is not zeroed either
  for (CScriptValue& v : argv) v.type = value_type;
  if (value_type == kScriptLong) {
    argv[0].value.l = level;  // sign-extended, low 32 bits at the union's start
    argv[1].value.l = dynamic;
  } else {
    argv[0].value.i = level;
    argv[1].value.i = dynamic;
  }
  fa.filter->script_obj->functions[0].func(nullptr, &fa, argv, 2);
}

}  // namespace hosttest
