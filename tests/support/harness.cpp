// The harness's bookkeeping: which case and row is running, how many cases
// passed and failed.
#include "tests/support/harness.h"

#include <chrono>

namespace harness {
namespace {

struct State {
  std::string current_case;
  std::string current_row;
  int case_failures = 0;
  int passed = 0;
  int failed = 0;
};

State& state() {
  static State s;
  return s;
}

}  // namespace

// A row named inside another's scope adds its name to the outer one's.
Row::Row(std::string name) : previous_(state().current_row) {
  state().current_row = previous_.empty() ? std::move(name) : previous_ + " / " + name;
}
Row::~Row() { state().current_row = previous_; }

void fail(const char* file, int line, const std::string& what) {
  State& s = state();
  ++s.case_failures;
  // Only the first few failures of a case are printed: a broken frame
  // comparison would otherwise print thousands of lines.
  if (s.case_failures > 8) return;
  std::printf("  FAIL %s%s%s: %s (%s:%d)\n", s.current_case.c_str(), s.current_row.empty() ? "" : " / ",
              s.current_row.c_str(), what.c_str(), file, line);
  std::fflush(stdout);
}

void run_case(const std::string& name, const std::function<void()>& body) {
  State& s = state();
  s.current_case = name;
  s.current_row.clear();
  s.case_failures = 0;
  const auto start = std::chrono::steady_clock::now();
  body();
  const long long ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  if (s.case_failures == 0) {
    ++s.passed;
    std::printf("ok   %s (%lld ms)\n", name.c_str(), ms);
  } else {
    ++s.failed;
    std::printf("FAIL %s (%d failed checks, %lld ms)\n", name.c_str(), s.case_failures, ms);
  }
  std::fflush(stdout);
}

int summary() {
  const State& s = state();
  std::printf("%d passed, %d failed\n", s.passed, s.failed);
  std::fflush(stdout);
  return s.failed == 0 && s.passed > 0 ? 0 : 1;
}

}  // namespace harness
