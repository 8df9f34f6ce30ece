// The few C library functions that the compiler itself emits calls to (block
// copies and clears of structs and arrays), for the Windows module, which
// links no C runtime. Built with -fno-builtin and
// -fno-tree-loop-distribute-patterns so these loops are not turned back into
// calls to the very functions they define.
#include <cstddef>
#include <cstdint>

extern "C" {

void* memcpy(void* dst, const void* src, size_t n) {
  unsigned char* d = static_cast<unsigned char*>(dst);
  const unsigned char* s = static_cast<const unsigned char*>(src);
  for (size_t k = 0; k < n; ++k) d[k] = s[k];
  return dst;
}

void* memmove(void* dst, const void* src, size_t n) {
  unsigned char* d = static_cast<unsigned char*>(dst);
  const unsigned char* s = static_cast<const unsigned char*>(src);
  // Copy forwards when the destination starts before the source, else
  // backwards, so overlapping ranges come out right either way.
  if (reinterpret_cast<uintptr_t>(d) < reinterpret_cast<uintptr_t>(s)) {
    for (size_t k = 0; k < n; ++k) d[k] = s[k];
  } else {
    for (size_t k = n; k > 0; --k) d[k - 1] = s[k - 1];
  }
  return dst;
}

void* memset(void* dst, int value, size_t n) {
  unsigned char* d = static_cast<unsigned char*>(dst);
  for (size_t k = 0; k < n; ++k) d[k] = static_cast<unsigned char>(value);
  return dst;
}

int memcmp(const void* a, const void* b, size_t n) {
  const unsigned char* x = static_cast<const unsigned char*>(a);
  const unsigned char* y = static_cast<const unsigned char*>(b);
  for (size_t k = 0; k < n; ++k)
    if (x[k] != y[k]) return x[k] < y[k] ? -1 : 1;
  return 0;
}

}  // extern "C"
