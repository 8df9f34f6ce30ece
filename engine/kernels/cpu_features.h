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
unsigned cpu_cap_from_text(const char* text);

// cpu_cap_from_text of this process's VELBRIN_CPU_MASK.
unsigned cpu_cap();
