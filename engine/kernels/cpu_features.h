// What the processor offers the vector kernels, read directly with CPUID (and
// XGETBV for the register state the operating system saves), so that it
// works in a module that has no C runtime start-up to initialise a
// compiler's own CPU-detection helpers; and the cap a user can put on it.
#pragma once

enum CpuFeature : unsigned {
  kCpuSse2 = 1u << 0,
  kCpuAvx2 = 1u << 1,         // AVX2 with the YMM state saved by the OS
  kCpuAvx512FBwVl = 1u << 2,  // AVX-512 F, BW and VL with the ZMM and mask state saved by the OS
};

// The features above that this processor and operating system support.
// Cheap enough to call more than once; the dispatcher calls it once.
unsigned cpu_features();

// The features the dispatcher may use, from the text of the environment
// variable VELBRIN_CPU_MASK (null when it is unset), so that a user can rule
// out a suspect kernel and tests can run every level through the real
// dispatch path:
//   unset or empty         no cap
//   c, sse2, avx2, avx512  up to that kernel (any case; c: the reference only)
//   a number               the CpuFeature bits it has set (decimal or 0x hex)
// Any other text caps at the reference: a mistyped cap must not let the
// kernel it was meant to rule out run after all.
//
// The one reading of the variable: the module's dispatcher and velbrin (which
// puts FFmpeg and its own conversions on plain code under the same cap) both
// call it, so it is written here in full, with no runtime function, for
// the module without a C runtime and for velbrin, which links no engine code.
namespace cpu_cap_text {

inline char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

inline bool same_word(const char* text, const char* word) {
  for (; *word; ++text, ++word)
    if (lower(*text) != *word) return false;
  return *text == '\0';
}

inline int digit_value(char c, unsigned base) {
  const char l = lower(c);
  const int v = l >= '0' && l <= '9' ? l - '0' : (l >= 'a' && l <= 'f' ? l - 'a' + 10 : 99);
  return v < static_cast<int>(base) ? v : -1;
}

}  // namespace cpu_cap_text

inline unsigned cpu_cap_from_text(const char* text) {
  using namespace cpu_cap_text;
  if (text == nullptr || *text == '\0') return ~0u;
  struct Level {
    const char* name;
    unsigned features;
  };
  constexpr Level kLevels[] = {{"c", 0},
                               {"sse2", kCpuSse2},
                               {"avx2", kCpuSse2 | kCpuAvx2},
                               {"avx512", kCpuSse2 | kCpuAvx2 | kCpuAvx512FBwVl}};
  for (const Level& level : kLevels)
    if (same_word(text, level.name)) return level.features;
  unsigned base = 10;
  if (text[0] == '0' && lower(text[1]) == 'x' && text[2] != '\0') {
    base = 16;
    text += 2;
  }
  unsigned value = 0;
  for (; *text; ++text) {
    const int d = digit_value(*text, base);
    // Bits past the known features mean nothing; stop before the value wraps.
    if (d < 0 || value > 0xFFFFu) return 0;
    value = value * base + static_cast<unsigned>(d);
  }
  return value;
}

// True when a cap leaves no vector kernel, only the reference (c, 0, a mask
// without a known feature bit, or a mistyped cap).
inline bool cpu_cap_reference_only(unsigned cap) { return (cap & (kCpuSse2 | kCpuAvx2 | kCpuAvx512FBwVl)) == 0; }

// cpu_cap_from_text of this process's VELBRIN_CPU_MASK.
unsigned cpu_cap();
