// A stand-in for kernels that keep large scratch buffers on the stack (up
// to 16 KiB), linked exactly like noname.vdf (no C runtime). Functions with
// more than 4 KiB of locals call the stack probe from libgcc; this DLL shows
// that the probe links without adding an import and works when called.
#include <windows.h>

#include <cstdint>

extern "C" __declspec(dllexport) uint32_t deep_stack_checksum(uint32_t seed) {
  volatile uint8_t scratch[16 * 1024];
  for (uint32_t k = 0; k < sizeof scratch; ++k) scratch[k] = static_cast<uint8_t>(seed + k * 7u);
  uint32_t sum = 0;
  for (uint32_t k = 0; k < sizeof scratch; k += 61) sum = sum * 31u + scratch[k];
  return sum;
}
