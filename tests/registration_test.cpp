// Registration as a host performs it: load the built module with dlopen,
// call its entry with a host function table, then drive the registered
// definition (instances, script table, run, caption, script line) and unload.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/vd_filter.h"
#include "tests/support/fake_registration_host.h"
#include "tests/support/frame_support.h"

namespace {

using FakeHost = FakeRegistrationHost;
FakeHost& g_host = g_fake_host;

class LoadedModule {
 public:
  LoadedModule() {
    handle_ = dlopen(VELBRIN_NATIVE_MODULE, RTLD_NOW | RTLD_LOCAL);
    if (!handle_) return;
    init = reinterpret_cast<FilterModuleInitProc>(dlsym(handle_, "VirtualdubFilterModuleInit2"));
    deinit = reinterpret_cast<FilterModuleDeinitProc>(dlsym(handle_, "VirtualdubFilterModuleDeinit"));
  }
  ~LoadedModule() {
    if (handle_) dlclose(handle_);
  }
  bool ok() const { return handle_ && init && deinit; }
  FilterModuleInitProc init = nullptr;
  FilterModuleDeinitProc deinit = nullptr;

 private:
  void* handle_ = nullptr;
};

FilterFunctions host_functions() {
  FilterFunctions ff{};
  ff.addFilter = fake_add_filter;
  ff.removeFilter = fake_remove_filter;
  return ff;
}

class Registration : public testing::Test {
 protected:
  void SetUp() override {
    g_host = FakeHost{};
    ASSERT_TRUE(module.ok()) << dlerror();
  }
  LoadedModule module;
  FilterModule fm{};
  FilterFunctions ff = host_functions();
};

TEST_F(Registration, DefinitionHandedToTheHost) {
  int version = -7, compatible = -7;
  ASSERT_EQ(module.init(&fm, &ff, version, compatible), 0);
  EXPECT_EQ(version, 8);
  EXPECT_EQ(compatible, 4);
  ASSERT_EQ(g_host.added.size(), 1u);
  EXPECT_EQ(g_host.added_sizes[0], int(sizeof(FilterDefinition)));
  const FilterDefinition& def = *g_host.added[0];
  EXPECT_STREQ(def.name, "Velbrin");
  EXPECT_STREQ(def.desc, "Velbrin, version 1.0");
  EXPECT_NE(def.maker, nullptr);
  EXPECT_EQ(def.private_data, nullptr);
  EXPECT_EQ(def.inst_data_size, int(sizeof(FilterSettings)));
  EXPECT_NE(def.initProc, nullptr);
  EXPECT_NE(def.runProc, nullptr);
  EXPECT_NE(def.stringProc, nullptr);
  EXPECT_NE(def.fssProc, nullptr);
  EXPECT_EQ(def.configProc, nullptr);  // no dialog in the native build
  for (void* empty : {(void*)def.deinitProc, (void*)def.paramProc, (void*)def.startProc, (void*)def.endProc,
                      (void*)def.stringProc2, (void*)def.serializeProc, (void*)def.deserializeProc,
                      (void*)def.copyProc})
    EXPECT_EQ(empty, nullptr);
  ASSERT_NE(def.script_obj, nullptr);
  EXPECT_EQ(def.script_obj->lookup, nullptr);
  EXPECT_EQ(def.script_obj->objects, nullptr);
  const ScriptFunctionDef* fn = def.script_obj->functions;
  EXPECT_STREQ(fn[0].name, "Config");
  EXPECT_STREQ(fn[0].signature, "0ii");
  EXPECT_NE(fn[0].func, nullptr);
  EXPECT_EQ(fn[1].func, nullptr);
  EXPECT_EQ(fn[1].name, nullptr);
  EXPECT_EQ(fn[1].signature, nullptr);
  module.deinit(&fm, &ff);
}

TEST_F(Registration, FailedRegistrationLeavesOutputsAlone) {
  g_host.answer = FakeHost::Answer::kNull;
  int version = -7, compatible = -9;
  EXPECT_EQ(module.init(&fm, &ff, version, compatible), 1);
  EXPECT_EQ(version, -7);
  EXPECT_EQ(compatible, -9);
  module.deinit(&fm, &ff);
  EXPECT_TRUE(g_host.removed.empty());  // nothing was registered, nothing to remove
}

TEST_F(Registration, RemovalUsesTheKeptHandle) {
  g_host.answer = FakeHost::Answer::kHostCopy;
  int version = 0, compatible = 0;
  ASSERT_EQ(module.init(&fm, &ff, version, compatible), 0);
  module.deinit(&fm, &ff);
  ASSERT_EQ(g_host.removed.size(), 1u);
  EXPECT_EQ(g_host.removed[0], &g_host.host_copy);
}

TEST_F(Registration, WholeLifeOfAnInstance) {
  using namespace velbrin_test;
  int version = 0, compatible = 0;
  ASSERT_EQ(module.init(&fm, &ff, version, compatible), 0);
  FilterDefinition& def = *g_host.added[0];

  // The host allocates the record at the declared size, not zeroed.
  std::vector<unsigned char> record(size_t(def.inst_data_size), 0xAB);
  FilterActivation fa{};
  fa.filter = &def;
  fa.filter_data = record.data();
  ASSERT_EQ(def.initProc(&fa, &ff), 0);

  char line[64];
  ASSERT_TRUE(def.fssProc(&fa, &ff, line, sizeof line));
  EXPECT_STREQ(line, "Config(100, 5)");

  // Replay "Config(400, 10)" through the script table as an interpreter would.
  CScriptValue argv[2] = {};
  argv[0].type = argv[1].type = kScriptInt;
  argv[0].value.i = 400;
  argv[1].value.i = 10;
  def.script_obj->functions[0].func(nullptr, &fa, argv, 2);
  char caption[64];
  def.stringProc(&fa, &ff, caption);
  EXPECT_STREQ(caption, " ( 400, 10 )");

  TestFrame src = TestFrame::from_rows({{grey(10), grey(20), grey(30)}, {grey(40), grey(50), grey(60)}}, 2);
  TestFrame dst(3, 2, 2);
  VFBitmap sb = bitmap_of(src), db = bitmap_of(dst);
  fa.src = &sb;
  fa.dst = &db;
  EXPECT_EQ(def.runProc(&fa, &ff), 0);
  EXPECT_EQ(dst.pixels(), (std::vector<uint32_t>{grey(14), grey(22), grey(28), grey(42), grey(52), grey(58)}));
  EXPECT_TRUE(dst.padding_untouched());

  module.deinit(&fm, &ff);
  ASSERT_EQ(g_host.removed.size(), 1u);
  EXPECT_EQ(g_host.removed[0], &def);
}

}  // namespace
