// The instruction-set cap read from VELBRIN_CPU_MASK: names, numbers, and
// text that must fall back to the reference rather than to no cap.
#include <gtest/gtest.h>

#include "engine/kernels/cpu_features.h"

namespace {

// Every row: the text, the cap, and whether that leaves the reference only
// (which also puts velbrin's conversions and FFmpeg on their plain code).
TEST(CpuCap, FromText) {
  constexpr unsigned kAll = kCpuSse2 | kCpuAvx2 | kCpuAvx512FBwVl;
  struct Case {
    const char* text;
    unsigned cap;
    bool reference_only;
  };
  const Case cases[] = {
      {nullptr, ~0u, false}, {"", ~0u, false},                   // unset: no cap
      {"c", 0, true},        {"C", 0, true},   {"0", 0, true},    // the reference only
      {"sse2", kCpuSse2, false}, {"SSE2", kCpuSse2, false},       // names, any case
      {"avx2", kCpuSse2 | kCpuAvx2, false}, {"avx512", kAll, false}, {"AvX512", kAll, false},
      {"5", kCpuSse2 | kCpuAvx512FBwVl, false}, {"0x6", kCpuAvx2 | kCpuAvx512FBwVl, false},  // bit masks
      {"8", 8, true}, {"0x10", 16, true},                                                     // no known bit
      {"0x", 0, true}, {"-1", 0, true}, {"avx", 0, true}, {"avx2 ", 0, true}, {" sse2", 0, true},  // mistakes
      {"0xg", 0, true}, {"99999999999999999999", 0, true}, {"0xFFFFFFFFFFFF", 0, true},           // would wrap
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text ? c.text : "(unset)");
    EXPECT_EQ(cpu_cap_from_text(c.text), c.cap);
    EXPECT_EQ(cpu_cap_reference_only(cpu_cap_from_text(c.text)), c.reference_only);
  }
}

}  // namespace
