// The runtime-free link takes functions with large stack frames (see
// stack_probe_module.cpp).
#include "tests/win/stack_probe_case.h"

#include <windows.h>

#include <cstdint>

#include "tests/support/harness.h"
#include "tests/support/module_under_test.h"

namespace wintest {

void stack_probe_case(const std::string& dll) {
  harness::run_case("no C runtime: a function with 16 KiB of stack scratch links and runs", [&] {
    HMODULE h = LoadLibraryA(hosttest::native_path(dll).c_str());
    CHECK(h != nullptr);
    if (!h) return;
    typedef uint32_t (*Checksum)(uint32_t);
    Checksum fn = reinterpret_cast<Checksum>(reinterpret_cast<void*>(GetProcAddress(h, "deep_stack_checksum")));
    CHECK(fn != nullptr);
    if (fn) {
      for (uint32_t seed : {0u, 5u, 0xFFu}) {
        uint32_t sum = 0;
        for (uint32_t k = 0; k < 16 * 1024; k += 61) sum = sum * 31u + static_cast<uint8_t>(seed + k * 7u);
        CHECK_EQ(fn(seed), sum);
      }
    }
    FreeLibrary(h);
  });
}

}  // namespace wintest
