// Behaviours that take their time on purpose: ten failed loads, the watchdog's 20 seconds.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "server_harness.h"

namespace vesk1::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Worker 2's directory exists without the module: no copy is made, its load fails ten times a
// second apart, and its items go to worker 1, every reply still in item order.
TEST(Slow_FailedModule, WorkerWithoutModuleIsNeverCalled) {
  const std::string cpus = FirstCpus(2);
  if (cpus.empty()) GTEST_SKIP() << "needs two processors";
  const auto started = Clock::now();
  ServerProcess server({.cpus = cpus, .prepare = [](const std::string& work) {
                          fs::create_directory(work + "/2");
                        }});
  client::Connection connection = server.Connect(40000);
  const double seconds = SecondsSince(started);
  EXPECT_GE(seconds, 9.9);
  EXPECT_LT(seconds, 14.0);
  EXPECT_TRUE(fs::is_empty(server.WorkDirectory() + "/2"));
  EXPECT_EQ(WorkerDirectoryText(1) + "\n", ReadWholeFile(server.WorkDirectory() + "/load.log"));
  // Worker 2 is reported with the system's reason, and its directory with what it lacks.
  const std::string output = server.Output();
  const std::string directory = WorkerDirectoryText(2);
  std::string failure = "\nWorker 2 could not load its module from ";
  failure += directory + ": ";
  const std::size_t reason = output.find(failure);
  ASSERT_NE(std::string::npos, reason) << output;
  EXPECT_EQ(std::string::npos, output.find("Worker 1")) << output;
  std::string hint = "\n";
  hint += directory + " was used as it stood and lacks " + kModuleFile +
          ", which the current directory has; remove " + directory +
          " to have it made afresh.\n(VESK_PIPE SERVER 7)";
  EXPECT_NE(std::string::npos, output.find(hint, reason)) << output;
  for (int n : {1, 2, 5, 255}) {
    PipeRequest request = EchoRequest(n, 300);
    request.selectSecond = 1;
    const PipeReply reply = RoundTrip(connection, request);
    for (int k = 0; k < n; ++k) {
      ASSERT_EQ(300u + static_cast<std::uint32_t>(k), client::EntryLowWord(reply, k));
      ASSERT_EQ(EchoMarker(0, 2), client::EntryHighWord(reply, k));
    }
  }
  client::Close(connection);
}

// Neither the current directory nor the install has a module: start-up says where it looked.
TEST(Slow_FailedModule, NoModuleAtAllEndsBeforeThePipe) {
  ServerProcess server({.cpus = FirstCpus(1), .copyModule = false, .installedCopy = true});
  const auto result = server.WaitForExit(40000);
  ASSERT_TRUE(result.has_value());
  EXPECT_TRUE(result->exited);
  EXPECT_EQ(1, result->code);
  // One line for the worker, with the system's own reason; a new directory needs no hint.
  const std::string output = server.Output();
  const std::string head = server.PipePath() + "\nNo vesk1*" + kModuleSuffix +
                           " files in the current directory nor in " +
                           InstalledModuleDirectoryIn(server.Root()) +
                           "; new worker directories stay empty.\nWorker 1 could not load its "
                           "module from " +
                           WorkerDirectoryText(1) + ": ";
  const std::string tail =
      std::string("\nNo worker could load its module ") + kModuleFile + "; stopping.\n";
  ASSERT_EQ(0u, output.find(head)) << output;
  ASSERT_GE(output.size(), head.size() + tail.size()) << output;
  EXPECT_EQ(output.size() - tail.size(), output.rfind(tail)) << output;
  const std::string reason = output.substr(head.size(), output.size() - tail.size() - head.size());
  EXPECT_FALSE(reason.empty());
  EXPECT_EQ(std::string::npos, reason.find('\n')) << output;
  EXPECT_FALSE(fs::exists(server.PipePath()));
}

// Short jobs before it do not matter: a job that runs past 20 seconds ends the server with
// status 0, after more than 20 and at most 21 seconds, without a reply.
TEST(Slow_Watchdog, JobOfTwentyFiveSecondsEndsTheServer) {
  ServerProcess server({.cpus = FirstCpus(1)});
  client::Connection connection = server.Connect();
  for (int i = 0; i < 3; ++i) RoundTrip(connection, EchoRequest(2));
  PipeRequest request = EchoRequest(2);
  SetControl(request, {.sleepMsPerCall = 25000});
  ASSERT_EQ(client::ClientStatus::kOk, client::SendRequest(connection, request));
  const auto started = Clock::now();
  const auto result = server.WaitForExit(40000);
  const double seconds = SecondsSince(started);
  ASSERT_TRUE(result.has_value());
  EXPECT_TRUE(result->exited);
  EXPECT_EQ(0, result->code);
  EXPECT_GT(seconds, 20.0);
  EXPECT_LE(seconds, 21.0);
  PipeReply reply;
  EXPECT_EQ(client::ClientStatus::kClosed, client::ReceiveReply(connection, reply, 1000));
  EXPECT_EQ(std::string::npos, server.Output().find("--- ", server.Output().rfind("2:  ")));
  client::Close(connection);
}

// Each job is timed on its own: 15 seconds and then 10 more are two answered jobs, not one of
// 25 seconds.
TEST(Slow_Watchdog, JobsUnderTheLimitAreAnsweredWhateverCameBefore) {
  ServerProcess server({.cpus = FirstCpus(1)});
  client::Connection connection = server.Connect();
  for (std::uint32_t ms : {15000u, 10000u}) {
    PipeRequest request = EchoRequest(3, ms);
    SetControl(request, {.sleepMsPerCall = ms});
    const PipeReply reply = RoundTrip(connection, request, 30000);
    EXPECT_EQ(ms + 2, client::EntryLowWord(reply, 2));
    EXPECT_GE(reply.elapsedMs, static_cast<float>(ms));
  }
  EXPECT_FALSE(server.WaitForExit(0).has_value());
  client::Close(connection);
}

}  // namespace
}  // namespace vesk1::test
