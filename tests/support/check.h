// Check macros for cases written once and run in every build: GoogleTest's
// assertions natively, the small harness of the Windows test host (built
// with MinGW, which has no GoogleTest here) in the Windows builds.
//   CHECK(cond), CHECK_EQ(actual, expected)  a failed check fails the case
//   CHECK_FAIL(text)                         fails the case with a message
//   CHECK_ROW(name)                          names the table row until the scope ends
#pragma once

#include <string>

#if defined(VELBRIN_CHECKS_WITH_GTEST)

#include <gtest/gtest.h>

// Each in a statement of its own: GoogleTest's assertions end in a dangling
// else, which an unbraced `if (x) CHECK(y);` would otherwise pick up.
#define CHECK(cond) \
  do {              \
    EXPECT_TRUE(cond) << #cond; \
  } while (0)
#define CHECK_EQ(actual, expected) \
  do {                             \
    EXPECT_EQ(actual, expected);   \
  } while (0)
#define CHECK_FAIL(text)      \
  do {                        \
    ADD_FAILURE() << (text);  \
  } while (0)
#define CHECK_ROW(name) SCOPED_TRACE(name)

#else

#include "tests/support/harness.h"

#define CHECK_FAIL(text) harness::fail(__FILE__, __LINE__, text)
// One name per line, so that a row may be named inside another's scope.
#define CHECK_ROW_NAME2(line) check_row_##line
#define CHECK_ROW_NAME(line) CHECK_ROW_NAME2(line)
#define CHECK_ROW(name) harness::Row CHECK_ROW_NAME(__LINE__)(name)

#endif
