// Loading the filter module and driving its instances through the host
// interface: registration, InitProc, the Config script command, RunProc,
// StringProc, FssProc, and removal at the end.
#include "cli/host/filter_host.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "cli/cli_error.h"
#include "engine/filter_settings.h"

namespace {

constexpr const char* kModuleFileName = "noname.so";
// Where an installed tree keeps the module, relative to velbrin's folder's parent.
constexpr const char* kInstalledModuleDir = "lib/velbrin";

// addFilter has no context argument, so the module being registered is
// reached through this pointer while its entry runs (always on the main
// thread, one module at a time).
struct Registration {
  FilterDefinition* definition = nullptr;
  int definition_size = 0;
  int calls = 0;
};
Registration* g_registration = nullptr;

FilterDefinition* VDCALL host_add_filter(FilterModule* fm, FilterDefinition* def, int size) {
  if (g_registration == nullptr || def == nullptr) return nullptr;
  ++g_registration->calls;
  def->module = fm;  // the host fills the module link
  g_registration->definition = def;
  g_registration->definition_size = size;
  return def;
}

void VDCALL host_remove_filter(FilterDefinition*) {}

bool is_file(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string executable_directory() {
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  std::string path(buf, size_t(n));
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

std::string locate_filter_module(const std::string& explicit_path) {
  if (!explicit_path.empty()) return explicit_path;
  if (const char* env = std::getenv("VELBRIN_MODULE"); env != nullptr && *env != '\0') return env;
  const std::string beside = executable_directory() + "/" + kModuleFileName;
  if (is_file(beside)) return beside;
  // An installed tree (bin/velbrin, lib/velbrin/noname.so) wherever it was moved.
  const std::string installed = executable_directory() + "/../" + kInstalledModuleDir + "/" + kModuleFileName;
  if (is_file(installed)) return installed;
#ifdef VELBRIN_BUILD_MODULE
  if (is_file(VELBRIN_BUILD_MODULE)) return VELBRIN_BUILD_MODULE;
#endif
  throw CliError(std::string("cannot find the filter module ") + kModuleFileName + " beside velbrin ('" + beside +
                 "') or in '" + installed + "'; give its path with --module or VELBRIN_MODULE");
}

LoadedFilterModule::LoadedFilterModule(const std::string& path) {
  // A bare name would make dlopen search the library path instead.
  const std::string open_path = path.find('/') == std::string::npos ? "./" + path : path;
  handle_ = dlopen(open_path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* why = dlerror();
    throw CliError("cannot load the filter module '" + path + "': " + (why ? why : "unknown error"));
  }
  auto init = reinterpret_cast<FilterModuleInitProc>(dlsym(handle_, "VirtualdubFilterModuleInit2"));
  deinit_ = reinterpret_cast<FilterModuleDeinitProc>(dlsym(handle_, "VirtualdubFilterModuleDeinit"));
  auto fail = [&](const std::string& why) {
    dlclose(handle_);
    handle_ = nullptr;
    return CliError("'" + path + "' is not a usable filter module: " + why);
  };
  if (init == nullptr || deinit_ == nullptr) throw fail("it lacks the VirtualDub module entries");

  functions_.addFilter = host_add_filter;
  functions_.removeFilter = host_remove_filter;
  Registration registration;
  g_registration = &registration;
  int version = 0, compatible = 0;
  const int result = init(&module_record_, &functions_, version, compatible);
  g_registration = nullptr;
  if (result != 0 || registration.definition == nullptr) throw fail("its registration failed");
  definition_ = registration.definition;

  auto check = [&](bool ok, const std::string& why) {
    if (ok) return;
    deinit_(&module_record_, &functions_);
    throw fail(why);
  };
  check(registration.calls == 1, "it registered more than one filter");
  check(compatible <= kVirtualDubFilterApiVersion, "it needs a newer host interface");
  check(registration.definition_size >= int(sizeof(FilterDefinition)), "its filter definition is too small");
  check(definition_->inst_data_size >= int(sizeof(FilterSettings)), "its instance size is not the settings record's");
  check(definition_->initProc && definition_->runProc && definition_->stringProc && definition_->fssProc,
        "its definition lacks a procedure the host needs");
  check(definition_->name != nullptr, "its filter has no name");
  if (definition_->script_obj != nullptr && definition_->script_obj->functions != nullptr) {
    for (const ScriptFunctionDef* f = definition_->script_obj->functions; f->name != nullptr; ++f)
      if (std::strcmp(f->name, kScriptConfigName) == 0 && f->signature != nullptr &&
          std::strcmp(f->signature, kScriptConfigSignature) == 0)
        config_ = f->func;
  }
  check(config_ != nullptr, "its script table has no Config(int, int)");
}

LoadedFilterModule::~LoadedFilterModule() {
  if (handle_ == nullptr) return;
  deinit_(&module_record_, &functions_);
  dlclose(handle_);
}

FilterInstance::FilterInstance(const LoadedFilterModule& module, const InstanceSettings& settings)
    : module_(module) {
  FilterDefinition& def = module.definition();
  // The host allocates the record at the declared size; it is handed over
  // zeroed here, aligned for any field.
  const size_t words = (size_t(def.inst_data_size) + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t);
  record_ = std::make_unique<std::max_align_t[]>(words);
  std::memset(record_.get(), 0, words * sizeof(std::max_align_t));
  activation_.filter = &def;
  activation_.filter_data = record_.get();
  activation_.src = &src_;
  activation_.dst = &dst_;
  if (def.initProc(&activation_, module.functions()) != 0)
    throw CliError("the filter module refused to make an instance");

  // Replay the settings as the host replays a saved script: one call of the
  // Config command with two integer script values. Unset values are the
  // ones InitProc chose.
  auto* record = static_cast<FilterSettings*>(activation_.filter_data);
  configure(settings.level.value_or(record->level), settings.dynamic.value_or(record->dynamic));

  // Show noise and Disable have no script command; the host's dialog writes
  // them into the record, and so does this host, under the contract that
  // engine/filter_settings.h documents.
  record->showNoise = settings.show_noise ? 1 : 0;
  record->disable = settings.disable ? 1 : 0;
}

void FilterInstance::configure(int level, int dynamic) {
  CScriptValue argv[2] = {};
  argv[0].type = argv[1].type = kScriptInt;
  argv[0].value.i = level;
  argv[1].value.i = dynamic;
  module_.config_function()(nullptr, &activation_, argv, 2);
}

void FilterInstance::run(const uint32_t* src, uint32_t* dst, int width, int height) {
  const ptrdiff_t pitch = ptrdiff_t(width) * 4;
  for (VFBitmap* b : {&src_, &dst_}) {
    b->depth = 32;
    b->w = width;
    b->h = height;
    b->pitch = pitch;
    b->modulo = 0;
    b->size = pitch * height;
    b->offset = 0;
  }
  src_.data = const_cast<uint32_t*>(src);
  dst_.data = dst;
  // The host's convention: 0 is success, anything else the filter's failure.
  if (const int result = module_.definition().runProc(&activation_, module_.functions()); result != 0)
    throw CliError("the filter module failed on a " + std::to_string(width) + "x" + std::to_string(height) +
                   " frame (its RunProc returned " + std::to_string(result) + ")");
}

std::string FilterInstance::caption() const {
  // The host's filter list shows the name followed by the string procedure's text.
  char buf[256] = {};
  module_.definition().stringProc(&activation_, module_.functions(), buf);
  buf[sizeof buf - 1] = '\0';
  return std::string(module_.definition().name) + buf;
}

std::string FilterInstance::script_line() const {
  char buf[256] = {};
  module_.definition().fssProc(const_cast<FilterActivation*>(&activation_), module_.functions(), buf,
                               int(sizeof buf));
  buf[sizeof buf - 1] = '\0';
  return buf;
}
