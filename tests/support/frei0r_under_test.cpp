// Loading the frei0r plug-in and the system calls the frei0r cases need,
// natively and on Windows.
#include "tests/support/frei0r_under_test.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <sched.h>
#include <stdlib.h>

#include <thread>
#endif

#include "tests/support/module_under_test.h"

namespace frei0r_test {

namespace {

#if defined(_WIN32)
void* open_library(const std::string& path, std::string* error) {
  HMODULE h = LoadLibraryA(hosttest::native_path(path).c_str());
  if (h == nullptr) *error = "LoadLibrary(" + path + ") failed, error " + std::to_string(GetLastError());
  return h;
}
void* entry(void* handle, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}
void close_library(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }
#else
void* open_library(const std::string& path, std::string* error) {
  void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (h == nullptr) {
    const char* why = dlerror();
    *error = "dlopen(" + path + ") failed: " + (why ? why : "?");
  }
  return h;
}
void* entry(void* handle, const char* name) { return dlsym(handle, name); }
void close_library(void* handle) { dlclose(handle); }
#endif

template <typename F>
void look_up(void* handle, const char* name, F* out, std::string* error) {
  *out = reinterpret_cast<F>(entry(handle, name));
  if (*out == nullptr && error->empty()) *error = std::string("entry ") + name + " not found";
}

}  // namespace

Frei0rPlugin::Frei0rPlugin(const std::string& path, bool init_now) {
  handle_ = open_library(path, &error);
  if (handle_ == nullptr) return;
  look_up(handle_, "f0r_init", &init_entry, &error);
  look_up(handle_, "f0r_deinit", &deinit_entry, &error);
  look_up(handle_, "f0r_get_plugin_info", &get_plugin_info, &error);
  look_up(handle_, "f0r_get_param_info", &get_param_info, &error);
  look_up(handle_, "f0r_construct", &construct, &error);
  look_up(handle_, "f0r_destruct", &destruct, &error);
  look_up(handle_, "f0r_set_param_value", &set_param_value, &error);
  look_up(handle_, "f0r_get_param_value", &get_param_value, &error);
  look_up(handle_, "f0r_update", &update, &error);
  look_up(handle_, "f0r_update2", &update2, &error);
  if (error.empty() && init_now && init() != 1) error = "f0r_init failed";
}

Frei0rPlugin::~Frei0rPlugin() {
  if (handle_ == nullptr) return;
  while (inits_ > 0) deinit();
  unload();
}

int Frei0rPlugin::init() {
  const int r = init_entry();
  if (r == 1) ++inits_;
  return r;
}

void Frei0rPlugin::deinit() {
  deinit_entry();
  if (inits_ > 0) --inits_;
}

void Frei0rPlugin::unload_without_deinit() {
  inits_ = 0;
  unload();
}

void Frei0rPlugin::unload() {
  if (handle_ != nullptr) close_library(handle_);
  handle_ = nullptr;
}

void Frei0rPlugin::set(f0r_instance_t inst, int index, double value) { set_param_value(inst, &value, index); }

double Frei0rPlugin::get(f0r_instance_t inst, int index) {
  double v = -7;
  get_param_value(inst, &v, index);
  return v;
}

std::vector<uint32_t> Frei0rPlugin::run(f0r_instance_t inst, const std::vector<uint32_t>& in) {
  std::vector<uint32_t> out(in.size(), 0x5A5A5A5Au);
  update(inst, 0.0, in.data(), out.data());
  return out;
}

#if defined(_WIN32)

bool plugin_mapped(const std::string& path) {
  const std::string native = hosttest::native_path(path);
  const size_t slash = native.find_last_of("\\/");
  return GetModuleHandleA(native.substr(slash == std::string::npos ? 0 : slash + 1).c_str()) != nullptr;
}

int processors_available() {
  DWORD_PTR process_mask = 0, system_mask = 0;
  int n = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process_mask, &system_mask))
    for (; process_mask != 0; process_mask &= process_mask - 1) ++n;
  return n > 0 ? n : 1;
}

void clear_thread_cap() { SetEnvironmentVariableA("VELBRIN_THREADS", nullptr); }

namespace {
struct HostThreadArg {
  const std::function<void(int)>* body;
  int index;
};
DWORD WINAPI host_thread(LPVOID p) {
  const HostThreadArg& a = *static_cast<const HostThreadArg*>(p);
  (*a.body)(a.index);
  return 0;
}
}  // namespace

void yield_thread() { SwitchToThread(); }

void run_host_threads(int n, const std::function<void(int)>& body) {
  std::vector<HostThreadArg> args;
  for (int k = 0; k < n; ++k) args.push_back({&body, k});
  std::vector<HANDLE> threads;
  for (int k = 0; k < n; ++k) threads.push_back(CreateThread(nullptr, 0, host_thread, &args[size_t(k)], 0, nullptr));
  for (HANDLE h : threads)
    if (h != nullptr) {
      WaitForSingleObject(h, INFINITE);
      CloseHandle(h);
    }
}

#else

bool plugin_mapped(const std::string& path) {
  void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (h != nullptr) dlclose(h);
  return h != nullptr;
}

int processors_available() {
  cpu_set_t cpus;
  return sched_getaffinity(0, sizeof cpus, &cpus) == 0 && CPU_COUNT(&cpus) > 0 ? CPU_COUNT(&cpus) : 1;
}

void clear_thread_cap() { unsetenv("VELBRIN_THREADS"); }

void yield_thread() { sched_yield(); }

void run_host_threads(int n, const std::function<void(int)>& body) {
  std::vector<std::thread> threads;
  for (int k = 0; k < n; ++k) threads.emplace_back(body, k);
  for (std::thread& t : threads) t.join();
}

#endif

}  // namespace frei0r_test
