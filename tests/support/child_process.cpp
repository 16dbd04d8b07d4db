#include "support/child_process.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "support/spawn.h"

namespace vesk1::test {
namespace {

// Names the test and the index of the RunScenario call a child is to run: "<test>#<index>".
constexpr const char* kScenarioVariable = "VESK1_SCENARIO";

// The child writes this line right before the scenario starts; everything the test framework
// printed before it is cut off in the parent.
constexpr std::string_view kMarker = "\x1e--- vesk1 scenario ---\x1e\n";

std::string CurrentTestName() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  if (info == nullptr) return {};
  return std::string(info->test_suite_name()) + "." + info->name();
}

// Counts the RunScenario calls of the running test, so parent and child agree on which call a
// child is for.
int NextScenarioIndex(const std::string& testName) {
  static std::string countedTest;
  static int nextIndex = 0;
  if (testName != countedTest) {
    countedTest = testName;
    nextIndex = 0;
  }
  return nextIndex++;
}

std::string AfterMarker(const std::string& text) {
  const auto at = text.find(kMarker);
  return at == std::string::npos ? text : text.substr(at + kMarker.size());
}

[[noreturn]] void RunHere(const std::function<void()>& body) {
  std::cout.flush();
  std::fflush(stdout);
  std::fflush(stderr);
  std::fwrite(kMarker.data(), 1, kMarker.size(), stdout);
  std::fwrite(kMarker.data(), 1, kMarker.size(), stderr);
  std::fflush(stdout);
  std::fflush(stderr);
  body();
  std::cout.flush();
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(kScenarioReturned);
}

}  // namespace

ScenarioResult RunScenario(const std::function<void()>& body) {
  const std::string testName = CurrentTestName();
  const std::string tag = testName + "#" + std::to_string(NextScenarioIndex(testName));

  if (const char* wanted = std::getenv(kScenarioVariable); wanted != nullptr) {
    // Inside a child: run only the scenario it was started for; earlier calls yield nothing.
    if (tag == wanted) RunHere(body);
    return {};
  }

  const std::string program = CurrentExecutablePath();
  const std::vector<std::string> args = {program, "--gtest_filter=" + testName,
                                         "--gtest_also_run_disabled_tests"};
  const SpawnResult spawned =
      SpawnAndCapture(program, args, std::string(kScenarioVariable) + "=" + tag);
  ScenarioResult result;
  if (!spawned.started) {
    ADD_FAILURE() << "could not start a child process for " << tag;
    return result;
  }
  result.output = AfterMarker(spawned.output);
  result.errorOutput = AfterMarker(spawned.errors);
  result.exitStatus = spawned.exitStatus;
  // A sanitizer's report in the child would otherwise pass unseen whenever the scenario's
  // printed text happens to come out right.
  for (const char* report : {"runtime error:", "ERROR: AddressSanitizer", "ERROR: LeakSanitizer",
                             "WARNING: ThreadSanitizer"}) {
    if (result.errorOutput.find(report) != std::string::npos) {
      ADD_FAILURE() << "sanitizer report in the child for " << tag << ":\n" << result.errorOutput;
      break;
    }
  }
  return result;
}

}  // namespace vesk1::test
