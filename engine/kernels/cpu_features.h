// What the processor offers the vector kernels, read directly with CPUID (and
// XGETBV for the register state the operating system saves), so that it
// works in a module that has no C runtime start-up to initialise a
// compiler's own CPU-detection helpers.
#pragma once

enum CpuFeature : unsigned {
  kCpuSse2 = 1u << 0,
  kCpuAvx2 = 1u << 1,      // AVX2 with the YMM state saved by the OS
  kCpuAvx512bw = 1u << 2,  // AVX-512 F, BW and VL with the ZMM and mask state saved by the OS
};

// The features above that this processor and operating system support.
// Cheap enough to call more than once; the dispatcher calls it once.
unsigned cpu_features();
