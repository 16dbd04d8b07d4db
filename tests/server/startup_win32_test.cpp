// Start-up on Windows: the named pipe allows many instances of one name, so a second server on
// the same instance number serves a client of its own beside the first.
#include <gtest/gtest.h>

#include "server_harness.h"

namespace vesk1::test {
namespace {

TEST(Startup_Pipe, SecondServerOnTheSameInstanceServesItsOwnClient) {
  ServerProcess first({.instance = 7, .cpus = FirstCpus(1)});
  ASSERT_TRUE(first.WaitForOutput("Waiting for connect...\n", 30000)) << first.Output();
  ServerProcess second({.instance = 7, .cpus = FirstCpus(1), .sharedRoot = first.Root()});
  ASSERT_TRUE(second.WaitForOutput("Waiting for connect...\n", 30000)) << second.Output();

  // Each connection takes whichever instance is free; both servers end up with one client.
  client::Connection a = first.Connect();
  client::Connection b = second.Connect();
  EXPECT_EQ(1002u, client::EntryLowWord(RoundTrip(a, EchoRequest(3, 1000)), 2));
  EXPECT_EQ(2002u, client::EntryLowWord(RoundTrip(b, EchoRequest(3, 2000)), 2));
  EXPECT_TRUE(first.WaitForOutput("Connected. Waiting for command...\n", 10000));
  EXPECT_TRUE(second.WaitForOutput("Connected. Waiting for command...\n", 10000));
  client::Close(a);
  client::Close(b);
}

}  // namespace
}  // namespace vesk1::test
