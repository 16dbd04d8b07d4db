// The workers' priority on Windows, where the priority class belongs to the whole process.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <gtest/gtest.h>
#include <windows.h>

#include "server_harness.h"

namespace vesk1::test {
namespace {

DWORD PriorityClassOf(long processId) {
  const HANDLE process =
      ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(processId));
  if (process == nullptr) return 0;
  const DWORD priority = ::GetPriorityClass(process);
  ::CloseHandle(process);
  return priority;
}

// The server starts at the priority it was given and runs at idle priority from its first
// job on.
TEST(Workers_Priority, FirstJobMovesTheProcessToIdlePriority) {
  ServerProcess server({.cpus = FirstCpus(1)});
  client::Connection connection = server.Connect();
  ASSERT_TRUE(server.WaitForOutput("Waiting for command...\n", 10000));
  EXPECT_EQ(static_cast<DWORD>(NORMAL_PRIORITY_CLASS), PriorityClassOf(server.Pid()));
  RoundTrip(connection, EchoRequest(2));
  EXPECT_EQ(static_cast<DWORD>(IDLE_PRIORITY_CLASS), PriorityClassOf(server.Pid()));
  client::Close(connection);
}

}  // namespace
}  // namespace vesk1::test
