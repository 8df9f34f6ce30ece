// The set of smoothing kernels: the reference and the vector kernels built
// into this module, how the dispatcher picks one, and how the checker and
// the benchmark run each of them through the same front door.
#pragma once

#include "engine/kernels/smooth.h"
#include "engine/kernels/smooth_plan.h"

// A vector kernel: runs a frame that make_smooth_plan accepted.
using SmoothFastKernel = void (*)(const SmoothFrame& frame, const SmoothPlan& plan);
// A vector kernel's average step alone, for exhaustive tests (see below).
using SmoothDivideHook = void (*)(const uint16_t* sums, const uint16_t* passes, uint16_t* out, int n);

struct SmoothKernel {
  const char* name;         // "c", "sse2", "avx2", "avx512"
  SmoothFastKernel fast;    // nullptr for the reference
  SmoothDivideHook divide;  // nullptr for the reference
};

// The kernels built into this module that this processor runs and the
// instruction-set cap allows (VELBRIN_CPU_MASK, see cpu_features.h),
// reference first, then in order of preference; returns how many were
// written (at most `capacity`).
int smooth_kernels_supported(SmoothKernel* out, int capacity);

// The kernel smooth_frame runs: the fastest one this processor supports.
const SmoothKernel& smooth_kernel_best();

// Name of the kernel smooth_frame runs (the last of the list above, read
// once per process).
const char* smooth_kernel_chosen();

// Names of all kernels built into this module, supported or not.
int smooth_kernels_built(const char** names, int capacity);

// One kernel with the whole contract of smooth_frame_c: frames the plan
// refuses go to the reference.
void smooth_frame_with(const SmoothKernel& kernel, const SmoothFrame& frame, const SmoothParams& params);

// The vector kernels, one per instruction set (each in its own file,
// compiled with that set's flags only).
void smooth_fast_sse2(const SmoothFrame& frame, const SmoothPlan& plan);
void smooth_fast_avx2(const SmoothFrame& frame, const SmoothPlan& plan);
void smooth_fast_avx512(const SmoothFrame& frame, const SmoothPlan& plan);

// Test hooks: the average step of each vector kernel, on n lanes of channel
// sums and pass counts (count - 1), with the kernel's own instructions; n is
// a multiple of 32.
void smooth_divide_sse2(const uint16_t* sums, const uint16_t* passes, uint16_t* out, int n);
void smooth_divide_avx2(const uint16_t* sums, const uint16_t* passes, uint16_t* out, int n);
void smooth_divide_avx512(const uint16_t* sums, const uint16_t* passes, uint16_t* out, int n);
