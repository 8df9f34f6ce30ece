// Chooses the kernel that smooth_frame runs: a table of kernels from the
// reference up, filled once from what the processor reports and the user's
// cap allows (VELBRIN_CPU_MASK). Callers never test CPU flags themselves.
#include <atomic>

#include "engine/kernels/cpu_features.h"
#include "engine/kernels/smooth.h"
#include "engine/kernels/smooth_kernels.h"
#include "engine/kernels/smooth_plan.h"

namespace {

struct KernelEntry {
  SmoothKernel kernel;
  unsigned needs;  // CpuFeature bits
};

constexpr KernelEntry kKernels[] = {
    {{"c", nullptr, nullptr}, 0},
#if VELBRIN_KERNEL_SSE2
    {{"sse2", smooth_fast_sse2, smooth_divide_sse2}, kCpuSse2},
#endif
#if VELBRIN_KERNEL_AVX2
    {{"avx2", smooth_fast_avx2, smooth_divide_avx2}, kCpuSse2 | kCpuAvx2},
#endif
#if VELBRIN_KERNEL_AVX512
    {{"avx512", smooth_fast_avx512, smooth_divide_avx512}, kCpuSse2 | kCpuAvx2 | kCpuAvx512FBwVl},
#endif
};
constexpr int kKernelCount = static_cast<int>(sizeof kKernels / sizeof kKernels[0]);

unsigned usable_features() { return cpu_features() & cpu_cap(); }

// The chosen kernel. No static constructor and no guarded local static (the
// Windows module has no runtime to run them): the first call fills it, and
// threads that race there compute and store the same entry.
std::atomic<const SmoothKernel*> g_best{nullptr};

const SmoothKernel& best_kernel() {
  const SmoothKernel* best = g_best.load(std::memory_order_acquire);
  if (best != nullptr) return *best;
  const unsigned cpu = usable_features();
  best = &kKernels[0].kernel;
  for (int i = 1; i < kKernelCount; ++i)
    if ((kKernels[i].needs & cpu) == kKernels[i].needs) best = &kKernels[i].kernel;
  g_best.store(best, std::memory_order_release);
  return *best;
}

}  // namespace

const SmoothKernel& smooth_kernel_best() { return best_kernel(); }

int smooth_kernels_supported(SmoothKernel* out, int capacity) {
  const unsigned cpu = usable_features();
  int n = 0;
  for (int i = 0; i < kKernelCount && n < capacity; ++i)
    if ((kKernels[i].needs & cpu) == kKernels[i].needs) out[n++] = kKernels[i].kernel;
  return n;
}

int smooth_kernels_built(const char** names, int capacity) {
  int n = 0;
  for (int i = 0; i < kKernelCount && n < capacity; ++i) names[n++] = kKernels[i].kernel.name;
  return n;
}

const char* smooth_kernel_chosen() { return best_kernel().name; }

void smooth_frame_with(const SmoothKernel& kernel, const SmoothFrame& frame, const SmoothParams& params) {
  if (kernel.fast != nullptr) {
    SmoothPlan plan;
    if (make_smooth_plan(frame, params, &plan)) {
      kernel.fast(frame, plan);
      return;
    }
  }
  smooth_frame_c(frame, params);
}

void smooth_frame(const SmoothFrame& frame, const SmoothParams& params) {
  smooth_frame_with(best_kernel(), frame, params);
}
