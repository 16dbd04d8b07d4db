#include "support/child_process.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace vesk1::test {
namespace {

TEST(RunScenario, ExitingBody_ReturnsItsStatusAndBothStreams) {
  std::printf("printed by the test itself, not by the scenario\n");
  const ScenarioResult result = RunScenario([] {
    std::printf("line one\n");
    std::cout << "line two\n";
    std::fprintf(stderr, "to the error stream\n");
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(7);
  });
  EXPECT_EQ(result.output, "line one\nline two\n");
  EXPECT_EQ(result.errorOutput, "to the error stream\n");
  EXPECT_EQ(result.exitStatus, 7);
}

TEST(RunScenario, SeveralScenariosInOneTest_EachRunsItsOwnBody) {
  for (int i = 0; i < 3; ++i) {
    const ScenarioResult result = RunScenario([i] { std::printf("scenario %d\n", i); });
    EXPECT_EQ(result.output, "scenario " + std::to_string(i) + "\n");
    EXPECT_EQ(result.exitStatus, kScenarioReturned);
  }
}

TEST(RunScenario, UnflushedOutputOfAReturningBody_IsKept) {
  const ScenarioResult result = RunScenario([] { std::fputs("no newline, no flush", stdout); });
  EXPECT_EQ(result.output, "no newline, no flush");
}

}  // namespace
}  // namespace vesk1::test
