// The host's side of a filter's whole life, played against the built module
// (noname.so natively, noname.vdf under Wine): registration, new instances
// over garbage, the script command with int and 64-bit values, the run
// procedure on guarded frames (bit for bit against the reference kernel),
// and the caption and script line written into guarded buffers.
#include "tests/conformance/module_cases.h"

#include <climits>
#include <cstring>
#include <vector>

#include "tests/support/check.h"
#include "tests/support/host_frames.h"
#include "tests/support/module_under_test.h"

namespace {

using namespace hosttest;

std::string text_or_null(const char* s) { return s ? s : "(null)"; }

// The Windows module has its dialog; the native one leaves "Configure" out.
#if defined(_WIN32)
constexpr bool kHasDialog = true;
#else
constexpr bool kHasDialog = false;
#endif

void definition_handed_to_host(const std::string& path) {
  LoadedModule module(path);
  CHECK_EQ(module.error, std::string());
  if (!module.ok()) return;
  g_host = FakeHost{};
  FilterModule fm{};
  fm.hInstModule = module.instance_handle();
  FilterFunctions ff = host_functions();
  int version = -7, compatible = -7;
  CHECK_EQ(module.init(&fm, &ff, version, compatible), 0);
  CHECK_EQ(version, 8);
  CHECK_EQ(compatible, 4);
  CHECK_EQ(g_host.added.size(), size_t{1});
  if (g_host.added.size() != 1) return;
  CHECK(g_host.modules[0] == &fm);
  CHECK_EQ(g_host.added_sizes[0], int(sizeof(FilterDefinition)));
#if defined(_WIN32)
  // The definition's size in the host's layout.
  CHECK_EQ(g_host.added_sizes[0], sizeof(void*) == 4 ? 88 : 176);
#endif

  const FilterDefinition& def = *g_host.added[0];
  CHECK_EQ(text_or_null(def.name), std::string("Velbrin"));
  CHECK_EQ(text_or_null(def.desc), std::string("Velbrin, version 1.0"));
  CHECK(def.maker != nullptr && def.maker[0] != '\0');
  CHECK(def.private_data == nullptr);
  CHECK_EQ(def.inst_data_size, int(sizeof(FilterSettings)));
  CHECK_EQ(def.inst_data_size, sizeof(void*) == 4 ? 20 : 24);
  CHECK(def.initProc != nullptr);
  CHECK(def.runProc != nullptr);
  CHECK_EQ(def.configProc != nullptr, kHasDialog);
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

void null_handle(const std::string& path) {
  LoadedModule module(path);
  if (!module.ok()) {
    CHECK_FAIL(module.error);
    return;
  }
  g_host = FakeHost{};
  g_host.answer = FakeHost::Answer::kNull;
  FilterModule fm{};
  fm.hInstModule = module.instance_handle();
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

void removal_with_kept_handle(const std::string& path) {
  LoadedModule module(path);
  if (!module.ok()) {
    CHECK_FAIL(module.error);
    return;
  }
  g_host = FakeHost{};
  g_host.answer = FakeHost::Answer::kHostCopy;
  FilterModule fm{};
  fm.hInstModule = module.instance_handle();
  FilterFunctions ff = host_functions();
  int version = 0, compatible = 0;
  CHECK_EQ(module.init(&fm, &ff, version, compatible), 0);
  module.deinit(&fm, &ff);
  CHECK_EQ(g_host.removed.size(), size_t{1});
  if (!g_host.removed.empty()) CHECK(g_host.removed[0] == &g_host.host_copy);
}

// Runs `body` with a registered filter, or fails the case.
template <class Body>
void with_filter(const std::string& path, Body body) {
  RegisteredFilter filter(path);
  CHECK_EQ(filter.module.error, std::string());
  CHECK(filter.ok());
  if (filter.ok()) body(filter.def);
}

std::string script_line(FilterDefinition* def, Instance& in) {
  FilterFunctions ff = host_functions();
  char line[64];
  CHECK(def->fssProc(&in.fa, &ff, line, sizeof line));
  return line;
}

std::string caption(FilterDefinition* def, Instance& in) {
  FilterFunctions ff = host_functions();
  char text[64];
  def->stringProc(&in.fa, &ff, text);
  return text;
}

void instance_defaults(const std::string& path) {
  with_filter(path, [](FilterDefinition* def) {
    for (int garbage : {0x00, 0xAB, 0xFF, 0x80, 0x01, 0xCD}) {
      CHECK_ROW("record filled with " + std::to_string(garbage));
      Instance in(def, static_cast<unsigned char>(garbage));
      IFilterPreview* const preview_before = in.settings()->preview;
      FilterFunctions ff = host_functions();
      CHECK_EQ(def->initProc(&in.fa, &ff), 0);
      CHECK_EQ(in.settings()->level, 100);
      CHECK_EQ(in.settings()->dynamic, 5);
      CHECK_EQ(in.settings()->showNoise, 0);
      CHECK_EQ(in.settings()->disable, 0);
      CHECK(in.settings()->preview == preview_before);  // not the initialiser's to touch
      CHECK(in.guard_intact());
    }
  });
}

void script_command(const std::string& path) {
  with_filter(path, [](FilterDefinition* def) {
    struct Case {
      int level, dynamic;
      const char* line;
      const char* caption;
    };
    const Case cases[] = {
        {400, 10, "Config(400, 10)", " ( 400, 10 )"},
        {400, 0, "Config(400, 0)", " ( 400, 0 )"},
        {0, 0, "Config(0, 0)", " ( 0, 0 )"},
        {-1, 5, "Config(-1, 5)", " ( -1, 5 )"},
        {-1, 11, "Config(-1, 11)", " ( -1, 11 )"},
        {0, 11, "Config(0, 11)", " ( 0, 11 )"},
        {1000, -50, "Config(1000, -50)", " ( 1000, -50 )"},
        {INT_MAX, INT_MIN, "Config(2147483647, -2147483648)", " ( 2147483647, -2147483648 )"},
        {INT_MIN, INT_MIN, "Config(-2147483648, -2147483648)", " ( -2147483648, -2147483648 )"},
    };
    for (const Case& c : cases) {
      for (int type : {int(kScriptInt), int(kScriptLong)}) {
        CHECK_ROW(std::string(c.line) + (type == kScriptLong ? " as 64-bit integers" : " as int"));
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
        CHECK_EQ(script_line(def, in), std::string(c.line));
        CHECK_EQ(caption(def, in), std::string(c.caption));
        CHECK(in.guard_intact());
      }
    }
  });
}

void switches_not_saved(const std::string& path) {
  with_filter(path, [](FilterDefinition* def) {
    // Save an instance with both switches on, replay its line into a new one.
    FilterFunctions ff = host_functions();
    Instance saved(def, 0xCD);
    def->initProc(&saved.fa, &ff);
    saved.replay_config(250, 7);
    saved.settings()->showNoise = 1;
    saved.settings()->disable = 1;
    const std::string line = script_line(def, saved);
    CHECK_EQ(line, std::string("Config(250, 7)"));
    Instance restored(def, 0x00);
    def->initProc(&restored.fa, &ff);
    restored.replay_config(250, 7);
    CHECK_EQ(restored.settings()->showNoise, 0);
    CHECK_EQ(restored.settings()->disable, 0);
    CHECK_EQ(script_line(def, restored), line);
  });
}

#if defined(_WIN32) && defined(__i386__)
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
constexpr int kSkews[] = {0, 4, 8, 12};
#else
constexpr int kSkews[] = {0};
#endif

int call_run(FilterDefinition* def, const FilterActivation* fa, const FilterFunctions* ff, int skew) {
#if defined(_WIN32) && defined(__i386__)
  return velbrin_call_skewed(def->runProc, fa, ff, skew);
#else
  (void)skew;
  return def->runProc(fa, ff);
#endif
}

struct RunSettings {
  const char* name;
  int level, dynamic, show_noise, disable;
};
const RunSettings kRunSettings[] = {
    {"defaults", 100, 5, 0, 0},
    {"level 0", 0, 5, 0, 0},
    {"level 400 dynamic 10", 400, 10, 0, 0},
    {"level 400 dynamic 0", 400, 0, 0, 0},
    {"level 37 dynamic 3", 37, 3, 0, 0},
    {"show noise", 100, 5, 1, 0},
    {"disable", 100, 5, 0, 1},
    {"show noise and disable", 100, 5, 1, 1},
    {"dynamic 11", 250, 11, 0, 0},
    {"negative level", -5, 3, 0, 0},
    {"dynamic far below range", 50, -100, 0, 0},
    {"extreme ints", INT_MAX, INT_MIN, 1, 0},
    {"switches other than 1", 120, 7, 5, 0},
};

// One source frame, every row of kRunSettings: the destination (garbage on
// entry) must hold the reference's pixels and nothing else may change, not
// its row padding, not the source; the guard pages fault on any access
// outside either frame.
void run_on_frame(FilterDefinition* def, int w, int h, ptrdiff_t stride, Placement placement, int skew) {
  const uint64_t seed = uint64_t(w) * 7919 + uint64_t(h) * 104729 + uint64_t(stride < 0 ? 1 : 2);
  GuardedFrame src(w, h, stride, placement), src_copy(w, h, stride, placement);
  fill_picture(src, seed);
  fill_picture(src_copy, seed);
  for (const RunSettings& rs : kRunSettings) {
    CHECK_ROW(rs.name);
    Instance in(def, 0x99);
    FilterFunctions ff = host_functions();
    def->initProc(&in.fa, &ff);
    FilterSettings& s = *in.settings();
    s.level = rs.level;
    s.dynamic = rs.dynamic;
    s.showNoise = rs.show_noise;
    s.disable = rs.disable;
    GuardedFrame dst(w, h, stride, placement), expected(w, h, stride, placement);
    dst.fill_all(seed + 1);
    expected.fill_all(seed + 1);
    const std::vector<uint32_t> want = reference_output(src, s);
    for (int i = 0; i < h; ++i)
      for (int j = 0; j < w; ++j) expected.at(i, j) = want[size_t(i) * size_t(w) + size_t(j)];
    VFBitmap sb = bitmap_of(src), db = bitmap_of(dst);
    in.fa.src = &sb;
    in.fa.dst = &db;
    CHECK_EQ(call_run(def, &in.fa, &ff, skew), 0);
    const long at = first_difference(dst.pixels(), want);
    if (at >= 0)
      CHECK_FAIL("pixel (" + std::to_string(at / w) + ", " + std::to_string(at % w) + ") differs from the reference");
    ptrdiff_t word = 0;
    CHECK(dst.same_bytes(expected, &word));  // row padding untouched
    CHECK(src.same_bytes(src_copy, &word));  // the source is read only
  }
}

void run_on_guarded_frames(const std::string& path) {
  with_filter(path, [](FilterDefinition* def) {
    struct Geometry {
      int w, h;
    };
    const Geometry sizes[] = {{1, 1}, {1, 7},   {7, 1},   {2, 2},  {3, 3},  {4, 5},   {5, 4},
                              {6, 6}, {16, 16}, {33, 17}, {64, 3}, {3, 64}, {127, 9}, {400, 70}};
    const Placement placements[] = {Placement::kLowGuard, Placement::kHighGuard, Placement::kRowGuardAfter,
                                    Placement::kRowGuardBefore};
    int variant = 0;
    for (const Geometry& g : sizes)
      for (int pad : {0, 3})
        for (bool bottom_up : {false, true}) {
          const Placement placement = placements[variant++ % 4];
          const ptrdiff_t stride = bottom_up ? -ptrdiff_t(g.w + pad) : ptrdiff_t(g.w + pad);
          CHECK_ROW(std::to_string(g.w) + "x" + std::to_string(g.h) + " pad " + std::to_string(pad) +
                    (bottom_up ? " bottom-up " : " ") + placement_name(placement));
          run_on_frame(def, g.w, g.h, stride, placement, 0);
        }
    for (int skew : kSkews) {
      if (skew == 0) continue;
      CHECK_ROW("called with the stack " + std::to_string(skew) + " bytes off 16-byte alignment");
      run_on_frame(def, 37, 11, -39, Placement::kHighGuard, skew);
    }
  });
}

// The whole life of one instance with a worked example: defaults, a
// replayed Config(400, 10) and a 3 x 2 frame whose output follows by hand.
void worked_example(const std::string& path) {
  with_filter(path, [](FilterDefinition* def) {
    Instance in(def, 0xAB);
    FilterFunctions ff = host_functions();
    CHECK_EQ(def->initProc(&in.fa, &ff), 0);
    in.replay_config(400, 10);
    CHECK_EQ(caption(def, in), std::string(" ( 400, 10 )"));
    auto grey = [](uint32_t v) { return v * 0x010101u; };
    GuardedFrame src(3, 2, 5, Placement::kHighGuard), dst(3, 2, 5, Placement::kLowGuard);
    src.fill_all(1);
    dst.fill_all(2);
    const uint32_t input[2][3] = {{10, 20, 30}, {40, 50, 60}};
    for (int i = 0; i < 2; ++i)
      for (int j = 0; j < 3; ++j) src.at(i, j) = grey(input[i][j]);
    VFBitmap sb = bitmap_of(src), db = bitmap_of(dst);
    in.fa.src = &sb;
    in.fa.dst = &db;
    CHECK_EQ(def->runProc(&in.fa, &ff), 0);
    const std::vector<uint32_t> want = {grey(14), grey(22), grey(28), grey(42), grey(52), grey(58)};
    CHECK(dst.pixels() == want);
  });
}

void caption_in_exact_buffer(const std::string& path) {
  with_filter(path, [](FilterDefinition* def) {
    struct Case {
      int level, dynamic;
      const char* caption;
    };
    const Case cases[] = {
        {100, 5, " ( 100, 5 )"},
        {0, 0, " ( 0, 0 )"},
        {INT_MIN, INT_MIN, " ( -2147483648, -2147483648 )"},  // the longest: 29 characters, 30 bytes
    };
    for (const Case& c : cases) {
      CHECK_ROW(c.caption);
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
  });
}

void script_line_in_short_buffers(const std::string& path) {
  with_filter(path, [](FilterDefinition* def) {
    struct Case {
      int level, dynamic, length;
      const char* written;  // null: nothing may be written
    };
    const Case cases[] = {
        {400, 10, 64, "Config(400, 10)"},
        {400, 10, 16, "Config(400, 10)"},
        {400, 10, 15, "Config(400, 10"},
        {400, 10, 8, "Config("},
        {400, 10, 1, ""},
        {400, 10, 0, nullptr},
        {400, 10, -3, nullptr},
        {INT_MIN, INT_MIN, 100, "Config(-2147483648, -2147483648)"},
        {INT_MIN, INT_MIN, 34, "Config(-2147483648, -2147483648)"},
        {INT_MIN, INT_MIN, 33, "Config(-2147483648, -2147483648)"},
        {INT_MIN, INT_MIN, 32, "Config(-2147483648, -2147483648"},
        {INT_MIN, INT_MIN, 31, "Config(-2147483648, -214748364"},
        {INT_MIN, INT_MIN, 7, "Config"},
        {INT_MIN, INT_MIN, 2, "C"},
        {INT_MIN, INT_MIN, -1, nullptr},
        {INT_MIN, INT_MIN, -5, nullptr},
        {INT_MIN, INT_MIN, INT_MIN, nullptr},
    };
    for (const Case& c : cases) {
      CHECK_ROW("Config(" + std::to_string(c.level) + ", " + std::to_string(c.dynamic) + ") into length " +
                std::to_string(c.length));
      Instance in(def, 0);
      FilterFunctions ff = host_functions();
      def->initProc(&in.fa, &ff);
      in.replay_config(c.level, c.dynamic);
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
  });
}

void no_unexpected_host_calls(const std::string&) { CHECK_EQ(unexpected_host_calls(), 0); }

constexpr ConformanceCase kCases[] = {
    {"RegistrationDefinition", "registration: definition, sizes and version outputs", definition_handed_to_host},
    {"RegistrationNullHandle", "registration: addFilter returns null", null_handle},
    {"RegistrationKeptHandle", "registration: removal with the kept handle", removal_with_kept_handle},
    {"InstanceDefaults", "instance: defaults over a garbage record", instance_defaults},
    {"ScriptCommand", "script: Config through the script table, int and 64-bit values", script_command},
    {"SwitchesNotSaved", "script: the switches are not part of the saved line", switches_not_saved},
    {"WorkedExample", "run: a worked example through the whole life of an instance", worked_example},
    {"RunOnGuardedFrames", "run: guarded frames against the reference", run_on_guarded_frames},
    {"CaptionExactBuffer", "caption: written into a buffer of exactly its size", caption_in_exact_buffer},
    {"ScriptLineShortBuffers", "script line: full and short buffers", script_line_in_short_buffers},
    // Last: counts what every case before it did.
    {"NoUnexpectedHostCalls", "host: no calls to host functions the module does not use", no_unexpected_host_calls},
};

}  // namespace

const ConformanceCase* conformance_cases(int* count) {
  *count = static_cast<int>(sizeof kCases / sizeof kCases[0]);
  return kCases;
}
