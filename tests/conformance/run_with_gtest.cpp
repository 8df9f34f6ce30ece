// The conformance cases under GoogleTest, against the native module
// (noname.so), one test per case.
#include <gtest/gtest.h>

#include "tests/conformance/module_cases.h"

// A failing case is reported by its name, not as the bytes of its entry.
void PrintTo(const ConformanceCase& c, std::ostream* os) { *os << c.id; }

namespace {

class Conformance : public testing::TestWithParam<ConformanceCase> {};

TEST_P(Conformance, Case) { GetParam().run(VELBRIN_NATIVE_MODULE); }

std::vector<ConformanceCase> all_cases() {
  int n = 0;
  const ConformanceCase* cases = conformance_cases(&n);
  return {cases, cases + n};
}

INSTANTIATE_TEST_SUITE_P(NativeModule, Conformance, testing::ValuesIn(all_cases()),
                         [](const testing::TestParamInfo<ConformanceCase>& p) { return p.param.id; });

}  // namespace
