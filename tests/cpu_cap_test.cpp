// The instruction-set cap read from VELBRIN_CPU_MASK: names, numbers, and
// text that must fall back to the reference rather than to no cap.
#include <gtest/gtest.h>

#include "engine/kernels/cpu_features.h"

namespace {

TEST(CpuCap, FromText) {
  constexpr unsigned kAll = kCpuSse2 | kCpuAvx2 | kCpuAvx512FBwVl;
  struct Case {
    const char* text;
    unsigned cap;
  };
  const Case cases[] = {
      {nullptr, ~0u}, {"", ~0u},                       // unset: no cap
      {"c", 0},       {"C", 0},                         // the reference only
      {"sse2", kCpuSse2}, {"SSE2", kCpuSse2},           // names, any case
      {"avx2", kCpuSse2 | kCpuAvx2}, {"avx512", kAll}, {"AvX512", kAll},
      {"5", kCpuSse2 | kCpuAvx512FBwVl}, {"0x6", kCpuAvx2 | kCpuAvx512FBwVl}, {"0", 0},  // bit masks
      {"0x", 0}, {"-1", 0}, {"avx", 0}, {"avx2 ", 0}, {" sse2", 0}, {"0xg", 0},          // mistakes
      {"99999999999999999999", 0}, {"0xFFFFFFFFFFFF", 0},                                 // would wrap
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text ? c.text : "(unset)");
    EXPECT_EQ(cpu_cap_from_text(c.text), c.cap);
  }
}

}  // namespace
