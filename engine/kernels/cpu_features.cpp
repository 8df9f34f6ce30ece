// CPU feature detection for kernel dispatch: CPUID leaves 1 and 7, and XGETBV
// to confirm that the operating system saves the wider registers. Reads no
// globals and calls no runtime function. Also the user's cap on it, from the
// environment (GetEnvironmentVariableA in the Windows module, which links no
// C runtime and so has no getenv).
#include "engine/kernels/cpu_features.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <cstdlib>
#endif

unsigned cpu_cap() {
#if defined(_WIN32)
  char text[32];
  const DWORD n = GetEnvironmentVariableA("VELBRIN_CPU_MASK", text, sizeof text);
  if (n >= sizeof text) return 0;  // longer than any valid cap
  return cpu_cap_from_text(n == 0 ? nullptr : text);  // n == 0: unset (or empty)
#else
  return cpu_cap_from_text(std::getenv("VELBRIN_CPU_MASK"));
#endif
}

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>

namespace {

// XCR0: which register states the OS saves on a context switch.
unsigned long long read_xcr0() {
  unsigned lo = 0, hi = 0;
  __asm__ __volatile__("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
  return (static_cast<unsigned long long>(hi) << 32) | lo;
}

}  // namespace

unsigned cpu_features() {
  unsigned features = 0;
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  // __get_cpuid returns 0 when CPUID or the leaf is missing (old 32-bit CPUs).
  if (!__get_cpuid(0, &eax, &ebx, &ecx, &edx)) return 0;
  const unsigned max_leaf = eax;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return 0;
  if (edx & (1u << 26)) features |= kCpuSse2;

  const bool osxsave = (ecx & (1u << 27)) != 0;
  const bool avx = (ecx & (1u << 28)) != 0;
  if (!osxsave || !avx || max_leaf < 7) return features;

  const unsigned long long xcr0 = read_xcr0();
  const bool ymm_saved = (xcr0 & 0x6) == 0x6;     // SSE and AVX state
  const bool zmm_saved = (xcr0 & 0xE6) == 0xE6;   // plus opmask and both ZMM halves
  __cpuid_count(7, 0, eax, ebx, ecx, edx);
  const bool avx2 = (ebx & (1u << 5)) != 0;
  const bool avx512f = (ebx & (1u << 16)) != 0;
  const bool avx512bw = (ebx & (1u << 30)) != 0;
  const bool avx512vl = (ebx & (1u << 31)) != 0;
  if (ymm_saved && avx2 && (features & kCpuSse2)) features |= kCpuAvx2;
  if (zmm_saved && avx512f && avx512bw && avx512vl && (features & kCpuAvx2)) features |= kCpuAvx512FBwVl;
  return features;
}

#else

unsigned cpu_features() { return 0; }

#endif
