// The command loop of the real vesk1_pipe, seen from its client: item order, the split, the
// tests a request goes through, the reply's trailer, and how the loop ends.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <thread>

#include "server_harness.h"

namespace vesk1::test {
namespace {

constexpr const char* kConnected = "\nConnected. Waiting for command...\n";

// Worker counts these tests can run with on this machine, as taskset lists.
std::vector<std::pair<int, std::string>> WorkerCounts() {
  std::vector<std::pair<int, std::string>> counts = {{1, FirstCpus(1)}};
  if (!FirstCpus(2).empty()) counts.push_back({2, FirstCpus(2)});
  return counts;
}

// The worker that computes item k when N items go to W workers: equal shares of ceil(N / W)
// in worker order, the last worker taking the rest.
int ExpectedWorker(int k, int n, int w) {
  const int perWorker = static_cast<int>(std::ceil(static_cast<double>(n) / w));
  return std::min(k / perWorker, w - 1);
}

void ExpectEchoReply(const PipeReply& reply, int n, int workers, std::uint32_t first) {
  for (int k = 0; k < n; ++k) {
    ASSERT_EQ(first + static_cast<std::uint32_t>(k), client::EntryLowWord(reply, k))
        << "entry " << k << " of " << n;
    ASSERT_EQ(EchoMarker(ExpectedWorker(k, n, workers), 1), client::EntryHighWord(reply, k))
        << "entry " << k << " of " << n << " with " << workers << " workers";
  }
}

// Ends the server with `request` and checks: status 1, no reply, nothing printed after the
// connection message.
void ExpectEndsWithoutReply(ServerProcess& server, client::Connection& connection,
                            const PipeRequest& request) {
  ASSERT_EQ(client::ClientStatus::kOk, client::SendRequest(connection, request));
  PipeReply reply;
  EXPECT_EQ(client::ClientStatus::kClosed, client::ReceiveReply(connection, reply, 10000));
  const auto result = server.WaitForExit(10000);
  ASSERT_TRUE(result.has_value());
  EXPECT_TRUE(result->exited);
  EXPECT_EQ(1, result->code);
  const std::string output = server.Output();
  EXPECT_EQ(output.size() - std::string(kConnected).size(), output.rfind(kConnected)) << output;
}

TEST(Requests_ItemOrder, RepliesHoldEveryItemInOrderForAnyWorkerCount) {
  for (const auto& [workers, cpus] : WorkerCounts()) {
    ServerProcess server({.cpus = cpus});
    client::Connection connection = server.Connect();
    std::uint32_t first = 5000;
    for (int n : {1, 2, 3, 10, 17, 128, 254, 255}) {
      const PipeReply reply = RoundTrip(connection, EchoRequest(n, first));
      ExpectEchoReply(reply, n, workers, first);
      first += 1000;
    }
    client::Close(connection);
  }
}

// The same count twice reuses the split; another count gets its own. Either way each item is
// computed by the worker its share says.
TEST(Requests_SplitCache, RepeatedAndChangedCountsSplitCorrectly) {
  const std::string cpus = FirstCpus(2);
  if (cpus.empty()) GTEST_SKIP() << "needs two processors";
  ServerProcess server({.cpus = cpus});
  client::Connection connection = server.Connect();
  std::uint32_t first = 100;
  for (int n : {10, 10, 3, 3, 10, 255, 1, 1, 254}) {
    ExpectEchoReply(RoundTrip(connection, EchoRequest(n, first)), n, 2, first);
    first += 300;
  }
  client::Close(connection);
}

TEST(Requests_Ignored, ZeroItemsGetNoReplyAndNoLine) {
  ServerProcess server;
  client::Connection connection = server.Connect();
  PipeRequest empty = EchoRequest(5, 1);
  empty.itemCount = 0;
  ASSERT_EQ(client::ClientStatus::kOk, client::SendRequest(connection, empty));
  ASSERT_EQ(client::ClientStatus::kOk, client::SendRequest(connection, empty));
  // The first reply to arrive answers the request after the ignored ones.
  const PipeReply reply = RoundTrip(connection, EchoRequest(3, 700));
  EXPECT_EQ(700u, client::EntryLowWord(reply, 0));
  EXPECT_EQ(702u, client::EntryLowWord(reply, 2));
  ASSERT_TRUE(server.WaitForOutput("--- ", 5000));
  const std::string output = server.Output();
  const std::string after = output.substr(output.find(kConnected) + std::string(kConnected).size());
  EXPECT_EQ(0u, after.find("\n3:  Command is processing--- ")) << after;
  EXPECT_EQ(std::string::npos, after.find("Command is processing", 10)) << after;
  client::Close(connection);
}

// The stop command is tested before the count, so it ends the server whatever the count says.
TEST(Requests_Stop, StopCommandEndsWithStatusOneForAnyCount) {
  for (std::int32_t count : {1, 0, 255, 256, -5, INT_MAX}) {
    ServerProcess server;
    client::Connection connection = server.Connect();
    ExpectEndsWithoutReply(server, connection, client::StopRequest(count));
    client::Close(connection);
  }
}

TEST(Requests_Stop, NearMissesOfTheStopCommandAreOrdinaryRequests) {
  ServerProcess server;
  client::Connection connection = server.Connect();
  const float nearMiss = -999.5f;
  std::uint32_t nearBits;
  std::memcpy(&nearBits, &nearMiss, 4);
  const std::uint32_t integerStop = static_cast<std::uint32_t>(-999);
  const float negativeZeroPlus = 999.0f;  // sign flipped
  std::uint32_t plusBits;
  std::memcpy(&plusBits, &negativeZeroPlus, 4);
  for (std::uint32_t word : {nearBits, integerStop, plusBits}) {
    PipeRequest request = EchoRequest(2);
    request.items[0] = word;
    const PipeReply reply = RoundTrip(connection, request);
    EXPECT_EQ(word, client::EntryLowWord(reply, 0));
    EXPECT_EQ(1001u, client::EntryLowWord(reply, 1));
  }
  client::Close(connection);
}

TEST(Requests_Rejected, WrongMagicEndsWithStatusOne) {
  for (std::int32_t magic : {0, 0x00FE47C6, static_cast<std::int32_t>(0xC747FE00u), -1}) {
    ServerProcess server;
    client::Connection connection = server.Connect();
    PipeRequest request = EchoRequest(3);
    request.magic = magic;
    ExpectEndsWithoutReply(server, connection, request);
    client::Close(connection);
  }
}

// A count beyond the reply's 255 entries (or below 0) would overrun the records.
TEST(Requests_Rejected, CountOutsideZeroTo255EndsWithStatusOne) {
  for (std::int32_t count : {256, 287, 288, INT_MAX, -1, INT_MIN}) {
    ServerProcess server;
    client::Connection connection = server.Connect();
    PipeRequest request = EchoRequest(3);
    request.itemCount = count;
    ExpectEndsWithoutReply(server, connection, request);
    client::Close(connection);
  }
}

TEST(Requests_Transfer, RequestWrittenInPiecesIsReadWhole) {
  ServerProcess server({.cpus = FirstCpus(1)});
  client::Connection connection = server.Connect();
  const PipeRequest request = EchoRequest(40, 9000);
  const auto* bytes = reinterpret_cast<const unsigned char*>(&request);
  for (std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{1000}, std::size_t{2703}}) {
    std::size_t sent = 0;
    while (sent < sizeof request) {
      const std::size_t n = std::min(piece, sizeof request - sent);
      ASSERT_EQ(client::ClientStatus::kOk, client::SendBytes(connection, bytes + sent, n));
      sent += n;
      if (piece > 1) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    PipeReply reply;
    ASSERT_EQ(client::ClientStatus::kOk, client::ReceiveReply(connection, reply, 10000));
    ExpectEchoReply(reply, 40, 1, 9000);
  }
  client::Close(connection);
}

TEST(Requests_Transfer, ClientHangingUpMidRequestIsAReadFailure) {
  ServerProcess server({.cpus = FirstCpus(1)});
  client::Connection connection = server.Connect();
  ASSERT_TRUE(server.WaitForOutput(kConnected, 10000));
  const PipeRequest request = EchoRequest(3);
  ASSERT_EQ(client::ClientStatus::kOk, client::SendBytes(connection, &request, 1000));
  client::Close(connection);
  const auto result = server.WaitForExit(10000);
  ASSERT_TRUE(result.has_value());
  EXPECT_TRUE(result->exited);
  EXPECT_EQ(1, result->code);
  const std::string output = server.Output();
  const std::string tail = "ReadFile: Error " + std::to_string(EPIPE) + "\n";
  EXPECT_EQ(output.size() - tail.size(), output.rfind(tail)) << output;
}

// The reply cannot be written to a client that has gone: status 1, no message, no signal.
TEST(Requests_Transfer, ClientHangingUpBeforeItsReplyEndsWithStatusOne) {
  ServerProcess server({.cpus = FirstCpus(1)});
  client::Connection connection = server.Connect();
  PipeRequest request = EchoRequest(3);
  SetControl(request, {.sleepMsPerCall = 300});
  ASSERT_EQ(client::ClientStatus::kOk, client::SendRequest(connection, request));
  ASSERT_TRUE(server.WaitForOutput("Command is processing", 10000));
  client::Close(connection);
  const auto result = server.WaitForExit(10000);
  ASSERT_TRUE(result.has_value());
  EXPECT_TRUE(result->exited) << "ended by signal " << result->code;
  EXPECT_EQ(1, result->code);
  const std::string output = server.Output();
  const std::size_t line = output.rfind("--- ");
  ASSERT_NE(std::string::npos, line) << output;
  EXPECT_EQ(output.size() - 1, output.find('\n', line)) << output;
}

TEST(Requests_Reply, TrailerHoldsMagicAndTheElapsedTimeThatIsPrinted) {
  ServerProcess server({.cpus = FirstCpus(1)});
  client::Connection connection = server.Connect();
  const unsigned char magic[4] = {0xC7, 0x47, 0x7E, 0x4B};
  struct Case {
    std::uint32_t sleepMs;
    float atLeast;
    float below;
  };
  for (const Case& c : {Case{0, 0.0f, 1000.0f}, Case{150, 150.0f, 1000.0f}}) {
    PipeRequest request = EchoRequest(4);
    SetControl(request, {.sleepMsPerCall = c.sleepMs});
    const PipeReply reply = RoundTrip(connection, request);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&reply);
    EXPECT_EQ(0, std::memcmp(bytes + kReplyMagicOffset, magic, 4));
    EXPECT_GT(reply.elapsedMs, 0.0f);
    EXPECT_GE(reply.elapsedMs, c.atLeast);
    EXPECT_LT(reply.elapsedMs, c.below);
    const std::string line = "--- " + std::to_string(static_cast<int>(reply.elapsedMs)) + "\n";
    ASSERT_TRUE(server.WaitForOutput("4:  Command is processing" + line, 5000)) << server.Output();
  }
  client::Close(connection);
}

// Reply bytes past the last entry, and entries a module leaves alone, keep what they held.
TEST(Requests_Reply, BytesNotWrittenKeepTheirOldContents) {
  ServerProcess server({.cpus = FirstCpus(1)});
  client::Connection connection = server.Connect();
  const PipeReply first = RoundTrip(connection, EchoRequest(10, 100));
  const PipeReply second = RoundTrip(connection, EchoRequest(3, 500));
  EXPECT_EQ(502u, client::EntryLowWord(second, 2));
  EXPECT_EQ(0, std::memcmp(first.entries[3], second.entries[3], 7 * 8));

  PipeRequest noWrite = EchoRequest(5, 900);
  SetControl(noWrite, {.mode = kNoWrite});
  const PipeReply third = RoundTrip(connection, noWrite);
  EXPECT_EQ(0, std::memcmp(second.entries, third.entries, 3 * 8));  // buffer as last written
  EXPECT_EQ(0, std::memcmp(first.entries[3], third.entries[3], 2 * 8));

  PipeRequest noFlags = EchoRequest(2, 1234);
  noFlags.selectFirst = 0;
  const PipeReply fourth = RoundTrip(connection, noFlags);
  EXPECT_EQ(0, std::memcmp(second.entries, fourth.entries, 2 * 8));
  client::Close(connection);
}

}  // namespace
}  // namespace vesk1::test
