// The host's side of a filter's whole life, played against the built
// noname.vdf: registration, new instances over garbage, the script command,
// the run procedure on many frames (bit for bit against the reference
// kernel), and the caption and script line written into guarded buffers.
#include "tests/conformance/module_cases.h"

#include <climits>
#include <cstring>
#include <random>

#include "tests/win/guarded_frame.h"
#include "tests/support/harness.h"
#include "tests/support/module_under_test.h"

namespace wintest {
namespace {

std::string text_or_null(const char* s) { return s ? s : "(null)"; }

void definition_handed_to_host(const std::string& vdf) {
  LoadedModule module(vdf);
  CHECK_EQ(module.error, std::string());
  if (!module.ok()) return;
  g_host = FakeHost{};
  FilterModule fm{};
  fm.hInstModule = module.handle;
  FilterFunctions ff = host_functions();
  int version = -7, compatible = -7;
  CHECK_EQ(module.init(&fm, &ff, version, compatible), 0);
  CHECK_EQ(version, 8);
  CHECK_EQ(compatible, 4);
  CHECK_EQ(g_host.added.size(), size_t{1});
  if (g_host.added.size() != 1) return;
  CHECK(g_host.modules[0] == &fm);
  // The definition's size in the host's layout: 88 bytes for 32-bit hosts.
  CHECK_EQ(g_host.added_sizes[0], int(sizeof(FilterDefinition)));
  CHECK_EQ(g_host.added_sizes[0], sizeof(void*) == 4 ? 88 : 176);

  const FilterDefinition& def = *g_host.added[0];
  CHECK_EQ(text_or_null(def.name), std::string("Velbrin"));
  CHECK_EQ(text_or_null(def.desc), std::string("Velbrin, version 1.0"));
  CHECK(def.maker != nullptr && def.maker[0] != '\0');
  CHECK(def.private_data == nullptr);
  CHECK_EQ(def.inst_data_size, int(sizeof(FilterSettings)));
  CHECK_EQ(def.inst_data_size, sizeof(void*) == 4 ? 20 : 24);
  CHECK(def.initProc != nullptr);
  CHECK(def.runProc != nullptr);
  CHECK(def.configProc != nullptr);  // the Windows module has its dialog
  CHECK(def.stringProc != nullptr);
  CHECK(def.fssProc != nullptr);
  const void* empty_slots[] = {reinterpret_cast<const void*>(def.deinitProc),
                               reinterpret_cast<const void*>(def.paramProc),
                               reinterpret_cast<const void*>(def.startProc),
                               reinterpret_cast<const void*>(def.endProc),
                               reinterpret_cast<const void*>(def.stringProc2),
                               reinterpret_cast<const void*>(def.serializeProc),
                               reinterpret_cast<const void*>(def.deserializeProc),
                               reinterpret_cast<const void*>(def.copyProc)};
  for (const void* slot : empty_slots) CHECK(slot == nullptr);
  CHECK(def.script_obj != nullptr);
  if (def.script_obj) {
    CHECK(def.script_obj->lookup == nullptr);
    CHECK(def.script_obj->objects == nullptr);
    const ScriptFunctionDef* fn = def.script_obj->functions;
    CHECK(fn != nullptr);
    if (fn) {
      CHECK(fn[0].func != nullptr);
      CHECK_EQ(text_or_null(fn[0].name), std::string("Config"));
      CHECK_EQ(text_or_null(fn[0].signature), std::string("0ii"));
      CHECK(fn[1].func == nullptr && fn[1].name == nullptr && fn[1].signature == nullptr);
    }
  }
  module.deinit(&fm, &ff);
  CHECK_EQ(g_host.removed.size(), size_t{1});
  if (!g_host.removed.empty()) CHECK(g_host.removed[0] == g_host.added[0]);
}

void null_handle(const std::string& vdf) {
  LoadedModule module(vdf);
  if (!module.ok()) return harness::fail(__FILE__, __LINE__, module.error);
  g_host = FakeHost{};
  g_host.answer = FakeHost::Answer::kNull;
  FilterModule fm{};
  fm.hInstModule = module.handle;
  FilterFunctions ff = host_functions();
  int version = -7, compatible = -9;
  CHECK_EQ(module.init(&fm, &ff, version, compatible), 1);
  CHECK_EQ(version, -7);
  CHECK_EQ(compatible, -9);
  CHECK_EQ(g_host.added.size(), size_t{1});
  // Nothing was registered: the module exit has nothing to remove.
  module.deinit(&fm, &ff);
  CHECK_EQ(g_host.removed.size(), size_t{0});
}

void removal_with_kept_handle(const std::string& vdf) {
  LoadedModule module(vdf);
  if (!module.ok()) return harness::fail(__FILE__, __LINE__, module.error);
  g_host = FakeHost{};
  g_host.answer = FakeHost::Answer::kHostCopy;
  FilterModule fm{};
  fm.hInstModule = module.handle;
  FilterFunctions ff = host_functions();
  int version = 0, compatible = 0;
  CHECK_EQ(module.init(&fm, &ff, version, compatible), 0);
  module.deinit(&fm, &ff);
  CHECK_EQ(g_host.removed.size(), size_t{1});
  if (!g_host.removed.empty()) CHECK(g_host.removed[0] == &g_host.host_copy);
}

void instance_defaults(FilterDefinition* def) {
  for (int garbage : {0x00, 0xAB, 0xFF, 0x80, 0x01}) {
    harness::Row row("record filled with " + std::to_string(garbage));
    Instance in(def, static_cast<unsigned char>(garbage));
    FilterFunctions ff = host_functions();
    CHECK_EQ(def->initProc(&in.fa, &ff), 0);
    CHECK_EQ(in.settings()->level, 100);
    CHECK_EQ(in.settings()->dynamic, 5);
    CHECK_EQ(in.settings()->showNoise, 0);
    CHECK_EQ(in.settings()->disable, 0);
    CHECK(in.guard_intact());
    char line[64];
    CHECK(def->fssProc(&in.fa, &ff, line, sizeof line));
    CHECK_EQ(std::string(line), std::string("Config(100, 5)"));
  }
}

void script_command(FilterDefinition* def) {
  struct Case {
    int level, dynamic;
    const char* line;
    const char* caption;
  };
  const Case cases[] = {
      {400, 10, "Config(400, 10)", " ( 400, 10 )"},
      {0, 0, "Config(0, 0)", " ( 0, 0 )"},
      {-1, 11, "Config(-1, 11)", " ( -1, 11 )"},
      {1000, -50, "Config(1000, -50)", " ( 1000, -50 )"},
      {INT_MAX, INT_MIN, "Config(2147483647, -2147483648)", " ( 2147483647, -2147483648 )"},
  };
  for (const Case& c : cases) {
    for (int type : {int(kScriptInt), int(kScriptLong)}) {
      harness::Row row(std::string(c.line) + (type == kScriptLong ? " as 64-bit integers" : " as int"));
      Instance in(def, 0x3C);
      FilterFunctions ff = host_functions();
      def->initProc(&in.fa, &ff);
      in.settings()->showNoise = 1;
      in.settings()->disable = 1;
      in.replay_config(c.level, c.dynamic, type);
      CHECK_EQ(in.settings()->level, c.level);
      CHECK_EQ(in.settings()->dynamic, c.dynamic);
      CHECK_EQ(in.settings()->showNoise, 1);  // the script line carries Level and Dynamic only
      CHECK_EQ(in.settings()->disable, 1);
      char line[64], caption[64];
      CHECK(def->fssProc(&in.fa, &ff, line, sizeof line));
      def->stringProc(&in.fa, &ff, caption);
      CHECK_EQ(std::string(line), std::string(c.line));
      CHECK_EQ(std::string(caption), std::string(c.caption));
      CHECK(in.guard_intact());
    }
  }
}

struct RunSettings {
  const char* name;
  int level, dynamic, show_noise, disable;
};
const RunSettings kRunSettings[] = {
    {"defaults", 100, 5, 0, 0},        {"level 0", 0, 5, 0, 0},
    {"level 400 dynamic 10", 400, 10, 0, 0}, {"level 400 dynamic 0", 400, 0, 0, 0},
    {"level 37 dynamic 3", 37, 3, 0, 0},      {"show noise", 100, 5, 1, 0},
    {"disable", 100, 5, 0, 1},          {"show noise and disable", 100, 5, 1, 1},
    {"dynamic 11", 250, 11, 0, 0},      {"negative level", -5, 3, 0, 0},
    {"dynamic far below range", 50, -100, 0, 0}, {"extreme ints", INT_MAX, INT_MIN, 1, 0},
    {"switches other than 1", 120, 7, 5, 0},
};

#if defined(__i386__)
// Calls a run procedure with the stack pointer `skew` bytes past a 16-byte
// boundary at the call: 32-bit hosts built with other compilers only keep
// the 4-byte alignment that the Windows ABI guarantees.
extern "C" int velbrin_call_skewed(FilterRunProc proc, const FilterActivation* fa, const FilterFunctions* ff,
                                   int skew);
asm(".text\n"
    ".globl _velbrin_call_skewed\n"
    "_velbrin_call_skewed:\n"
    "  pushl %ebp\n"
    "  movl %esp, %ebp\n"
    "  andl $-16, %esp\n"
    "  subl $8, %esp\n"        // two arguments follow: 8 bytes to a boundary
    "  subl 20(%ebp), %esp\n"  // then the skew
    "  pushl 16(%ebp)\n"
    "  pushl 12(%ebp)\n"
    "  call *8(%ebp)\n"
    "  movl %ebp, %esp\n"
    "  popl %ebp\n"
    "  ret\n");
#endif

int call_run(FilterDefinition* def, const FilterActivation* fa, const FilterFunctions* ff, int skew) {
#if defined(__i386__)
  return velbrin_call_skewed(def->runProc, fa, ff, skew);
#else
  (void)skew;
  return def->runProc(fa, ff);
#endif
}

void run_on_frames(FilterDefinition* def, int w, int h, int pad, bool bottom_up, int skew) {
  std::mt19937 rng(unsigned(w * 7919 + h * 104729 + pad * 31 + (bottom_up ? 1 : 0)));
  GuardedFrame src(w, h, pad, bottom_up);
  src.fill_picture(rng);
  const std::vector<uint32_t> src_before = src.pixels();
  for (const RunSettings& rs : kRunSettings) {
    harness::Row row(rs.name);
    Instance in(def, 0x99);
    FilterFunctions ff = host_functions();
    def->initProc(&in.fa, &ff);
    FilterSettings& s = *in.settings();
    s.level = rs.level;
    s.dynamic = rs.dynamic;
    s.showNoise = rs.show_noise;
    s.disable = rs.disable;
    GuardedFrame dst(w, h, pad, bottom_up);
    dst.fill(0xDEADBEEFu);  // the destination holds garbage on entry
    VFBitmap sb = src.bitmap(), db = dst.bitmap();
    in.fa.src = &sb;
    in.fa.dst = &db;
    CHECK_EQ(call_run(def, &in.fa, &ff, skew), 0);
    const std::vector<uint32_t> expected = reference_output(src, s);
    const long at = first_difference(dst.pixels(), expected);
    if (at >= 0)
      harness::fail(__FILE__, __LINE__,
                    "pixel (" + std::to_string(at / w) + ", " + std::to_string(at % w) + ") differs from the reference");
    CHECK(dst.outside_untouched());
    CHECK(src.outside_untouched());
    CHECK(first_difference(src.pixels(), src_before) < 0);  // the source is read only
  }
}

void caption_in_exact_buffer(FilterDefinition* def) {
  struct Case {
    int level, dynamic;
    const char* caption;
  };
  const Case cases[] = {
      {100, 5, " ( 100, 5 )"},
      {0, 0, " ( 0, 0 )"},
      {INT_MIN, INT_MIN, " ( -2147483648, -2147483648 )"},  // the longest: 29 characters
  };
  for (const Case& c : cases) {
    harness::Row row(c.caption);
    Instance in(def, 0);
    FilterFunctions ff = host_functions();
    def->initProc(&in.fa, &ff);
    in.replay_config(c.level, c.dynamic);
    // Guard bytes right after the room the caption needs.
    const size_t n = std::strlen(c.caption) + 1;
    std::vector<char> buf(16 + n + 16, '#');
    def->stringProc(&in.fa, &ff, buf.data() + 16);
    CHECK_EQ(std::string(buf.data() + 16), std::string(c.caption));
    bool guards = true;
    for (size_t k = 0; k < buf.size(); ++k)
      if ((k < 16 || k >= 16 + n) && buf[k] != '#') guards = false;
    CHECK(guards);
  }
}

void script_line_in_short_buffers(FilterDefinition* def) {
  struct Case {
    int length;
    const char* written;  // null: nothing may be written
  };
  const Case cases[] = {
      {64, "Config(400, 10)"}, {16, "Config(400, 10)"}, {15, "Config(400, 10"},
      {8, "Config("},          {1, ""},                 {0, nullptr},
      {-3, nullptr},
  };
  for (const Case& c : cases) {
    harness::Row row("length " + std::to_string(c.length));
    Instance in(def, 0);
    FilterFunctions ff = host_functions();
    def->initProc(&in.fa, &ff);
    in.replay_config(400, 10);
    const size_t room = c.length > 0 ? size_t(c.length) : 0;
    std::vector<char> buf(16 + room + 16, '#');
    CHECK_EQ(def->fssProc(&in.fa, &ff, buf.data() + 16, c.length), true);
    const size_t used = c.written ? std::strlen(c.written) + 1 : 0;
    if (c.written) CHECK_EQ(std::string(buf.data() + 16), std::string(c.written));
    bool guards = true;
    for (size_t k = 0; k < buf.size(); ++k)
      if ((k < 16 || k >= 16 + used) && buf[k] != '#') guards = false;
    CHECK(guards);
  }
}

}  // namespace

void module_cases(const std::string& vdf) {
  harness::run_case("registration: definition, sizes and version outputs",
                    [&] { definition_handed_to_host(vdf); });
  harness::run_case("registration: addFilter returns null", [&] { null_handle(vdf); });
  harness::run_case("registration: removal with the kept handle", [&] { removal_with_kept_handle(vdf); });

  RegisteredFilter filter(vdf);
  harness::run_case("registration: filter registered for the instance cases", [&] {
    CHECK_EQ(filter.module.error, std::string());
    CHECK(filter.ok());
  });
  if (!filter.ok()) return;
  FilterDefinition* def = filter.def;

  harness::run_case("instance: defaults over a garbage record", [&] { instance_defaults(def); });
  harness::run_case("script: Config through the script table", [&] { script_command(def); });

  struct Geometry {
    int w, h;
  };
  const Geometry sizes[] = {{1, 1}, {1, 7}, {7, 1}, {2, 2},  {3, 3},   {4, 5},  {5, 4},
                            {6, 6}, {16, 16}, {33, 17}, {64, 3}, {3, 64}, {127, 9}};
  for (const Geometry& g : sizes) {
    for (int pad : {0, 3}) {
      for (bool bottom_up : {false, true}) {
        GuardedFrame probe(g.w, g.h, pad, bottom_up);
        harness::run_case("run: " + probe.describe(),
                          [&] { run_on_frames(def, g.w, g.h, pad, bottom_up, 0); });
      }
    }
  }
#if defined(__i386__)
  for (int skew : {4, 8, 12}) {
    harness::run_case("run: called with the stack " + std::to_string(skew) + " bytes off 16-byte alignment",
                      [&] { run_on_frames(def, 37, 11, 2, true, skew); });
  }
#endif

  harness::run_case("caption: written into a buffer of exactly its size", [&] { caption_in_exact_buffer(def); });
  harness::run_case("script line: full and short buffers", [&] { script_line_in_short_buffers(def); });
  harness::run_case("host: no calls to host functions the module does not use",
                    [&] { CHECK_EQ(unexpected_host_calls(), 0); });
}

void stack_probe_case(const std::string& dll) {
  harness::run_case("no C runtime: a function with 16 KiB of stack scratch links and runs", [&] {
    HMODULE h = LoadLibraryA(windows_path(dll).c_str());
    CHECK(h != nullptr);
    if (!h) return;
    typedef uint32_t (*Checksum)(uint32_t);
    Checksum fn = reinterpret_cast<Checksum>(reinterpret_cast<void*>(GetProcAddress(h, "deep_stack_checksum")));
    CHECK(fn != nullptr);
    if (fn) {
      for (uint32_t seed : {0u, 5u, 0xFFu}) {
        uint32_t sum = 0;
        for (uint32_t k = 0; k < 16 * 1024; k += 61) sum = sum * 31u + static_cast<uint8_t>(seed + k * 7u);
        CHECK_EQ(fn(seed), sum);
      }
    }
    FreeLibrary(h);
  });
}

}  // namespace wintest
