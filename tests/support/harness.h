// A tiny test harness for the Windows test host (GoogleTest is not built for
// MinGW here): named cases, checks that report the case and row they failed
// in, and a closing "N passed, N failed" line.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

namespace harness {

// Runs one named case; it passes when none of its checks fails.
void run_case(const std::string& name, const std::function<void()>& body);

// Names the row of a table that the checks below belong to, until the scope ends.
class Row {
 public:
  explicit Row(std::string name);
  ~Row();
  Row(const Row&) = delete;
  Row& operator=(const Row&) = delete;

 private:
  std::string previous_;
};

void fail(const char* file, int line, const std::string& what);

// Prints the closing line and returns the process exit code (0: all passed).
int summary();

inline std::string show(long long v) { return std::to_string(v); }
inline std::string show(unsigned long long v) { return std::to_string(v); }
inline std::string show(int v) { return std::to_string(v); }
inline std::string show(unsigned v) { return std::to_string(v); }
inline std::string show(long v) { return std::to_string(v); }
inline std::string show(unsigned long v) { return std::to_string(v); }
inline std::string show(bool v) { return v ? "true" : "false"; }
inline std::string show(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}
inline std::string show(const std::string& v) { return "\"" + v + "\""; }
inline std::string show(const char* v) { return v ? show(std::string(v)) : "(null)"; }
inline std::string show(const void* v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%p", v);
  return buf;
}

}  // namespace harness

#define CHECK(cond)                                              \
  do {                                                           \
    if (!(cond)) harness::fail(__FILE__, __LINE__, "CHECK(" #cond ")"); \
  } while (0)

#define CHECK_EQ(actual, expected)                                                                         \
  do {                                                                                                     \
    const auto& check_a_ = (actual);                                                                       \
    const auto& check_e_ = (expected);                                                                     \
    if (!(check_a_ == check_e_))                                                                           \
      harness::fail(__FILE__, __LINE__,                                                                    \
                    #actual " is " + harness::show(check_a_) + ", expected " + harness::show(check_e_)); \
  } while (0)
