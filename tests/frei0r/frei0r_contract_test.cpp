// The frei0r contract cases (tests/conformance/frei0r_cases.h) under
// GoogleTest, against build/native/frei0r-1/velbrin.so, one test per case:
// Frei0rContract.* for the plug-in's interface, Frei0rThreads.* for its
// threads (which the native-tsan preset runs under ThreadSanitizer).
#include <gtest/gtest.h>

#include <thread>

#include "tests/conformance/frei0r_cases.h"

// A failing case is reported by its name, not as the bytes of its entry.
void PrintTo(const Frei0rCase& c, std::ostream* os) { *os << c.id; }

namespace {

std::vector<Frei0rCase> cases_about_threads(bool threads) {
  int n = 0;
  const Frei0rCase* cases = frei0r_cases(&n);
  std::vector<Frei0rCase> out;
  for (int k = 0; k < n; ++k)
    if (cases[k].threads == threads) out.push_back(cases[k]);
  return out;
}

std::string case_id(const testing::TestParamInfo<Frei0rCase>& p) { return p.param.id; }

class Frei0rContract : public testing::TestWithParam<Frei0rCase> {};
TEST_P(Frei0rContract, Case) { GetParam().run(VELBRIN_FREI0R_PLUGIN); }
INSTANTIATE_TEST_SUITE_P(NativePlugin, Frei0rContract, testing::ValuesIn(cases_about_threads(false)), case_id);

class Frei0rThreads : public testing::TestWithParam<Frei0rCase> {
 protected:
  // ThreadSanitizer starts a thread of its own with the first one the
  // process makes: make that happen before the cases count threads.
  static void SetUpTestSuite() { std::thread([] {}).join(); }
};
TEST_P(Frei0rThreads, Case) { GetParam().run(VELBRIN_FREI0R_PLUGIN); }
INSTANTIATE_TEST_SUITE_P(NativePlugin, Frei0rThreads, testing::ValuesIn(cases_about_threads(true)), case_id);

}  // namespace
