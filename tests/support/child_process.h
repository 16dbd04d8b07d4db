// Runs a piece of a test in a child process and hands back what it printed and how it ended.
//
// Library scenarios that print or stop the process cannot run inside the test process: a stop
// would end the whole test run, and the library keeps process-wide state that is set once. The
// child is this very test program, started again with a filter that selects only the current
// test; inside it, the RunScenario call with the same index runs BODY and the process ends.
// The test therefore has to reach its RunScenario calls in the same order every time (plain
// code, loops over a fixed table). Code of the test before a scenario runs again in the child,
// so keep it cheap and free of effects outside the process.
//
//   const auto result = RunScenario([] { IssueMessage(5, 1, "Bad."); E1POP("X"); });
//   EXPECT_EQ(result.output, "\n *** TERMINAL ERROR ...\n");
//   EXPECT_EQ(result.exitStatus, 0);
#ifndef VESK1_TESTS_SUPPORT_CHILD_PROCESS_H_
#define VESK1_TESTS_SUPPORT_CHILD_PROCESS_H_

#include <functional>
#include <string>

namespace vesk1::test {

// Exit status of a child whose scenario body returned instead of ending the process.
inline constexpr int kScenarioReturned = 99;

struct ScenarioResult {
  std::string output;       // everything BODY wrote to standard output
  std::string errorOutput;  // everything BODY wrote to standard error
  int exitStatus = -1;      // the child's exit status; 128 + signal when a signal ended it,
                            // kScenarioReturned when BODY returned, -1 when it did not start
};

ScenarioResult RunScenario(const std::function<void()>& body);

}  // namespace vesk1::test

#endif  // VESK1_TESTS_SUPPORT_CHILD_PROCESS_H_
