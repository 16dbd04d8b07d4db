// Scenarios of the regression tests whose printed block is compared exactly, blank for blank.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "support/child_process.h"

namespace vesk1::test {

struct PrintedCase {
  const char* name;
  std::function<void()> body;  // runs in a child process
  const char* expected;        // its whole standard output
};

inline void ExpectPrinted(const std::vector<PrintedCase>& cases) {
  for (const PrintedCase& c : cases) {
    EXPECT_EQ(RunScenario(c.body).output, c.expected) << c.name;
  }
}

}  // namespace vesk1::test
