// Random and malformed requests, a bounded number of them: the server either answers a request
// correctly or ends with status 0 or 1, never by a signal.
#include <gtest/gtest.h>

#include <random>

#include "server_harness.h"

namespace vesk1::test {
namespace {

constexpr std::uint32_t kStopBits = 0xC479C000u;

PipeRequest RandomValidRequest(std::mt19937& random, int n) {
  PipeRequest request = client::NewRequest();
  for (auto& byte : request.moduleData) byte = static_cast<unsigned char>(random());
  TestModuleControl control;
  control.mode = random() % 4 == 0 ? kNoWrite : kEcho;
  SetControl(request, control);
  for (auto& item : request.items) item = static_cast<std::uint32_t>(random());
  if (request.items[0] == kStopBits) request.items[0] ^= 1u;
  request.itemCount = n;
  // Any non-zero value sets a flag, not only 1.
  request.selectFirst = random() % 2 ? static_cast<std::int32_t>(random()) | 1 : 0;
  request.selectSecond = random() % 3 == 0 ? -1 : 0;
  request.selectThird = random() % 3 == 0 ? 7 : 0;
  return request;
}

// How one scenario ends the server, after its valid requests.
enum class Ending { kStop, kWrongMagic, kBadCount, kTruncated, kGarbage, kHangUp };

TEST(RandomRequests_Bounded, AnswersCorrectlyOrEndsWithZeroOrOne) {
  const unsigned seed = 20261208;
  std::mt19937 random(seed);
  const std::vector<std::string> cpuChoices =
      FirstCpus(2).empty() ? std::vector<std::string>{FirstCpus(1)}
                           : std::vector<std::string>{FirstCpus(1), FirstCpus(2)};
  for (int scenario = 0; scenario < 12; ++scenario) {
    SCOPED_TRACE("seed " + std::to_string(seed) + " scenario " + std::to_string(scenario));
    ServerProcess server({.cpus = cpuChoices[random() % cpuChoices.size()]});
    client::Connection connection = server.Connect();
    const int requests = static_cast<int>(random() % 20);
    for (int r = 0; r < requests; ++r) {
      const int n = static_cast<int>(random() % 256);
      const PipeRequest request = RandomValidRequest(random, n);
      ASSERT_EQ(client::ClientStatus::kOk, client::SendRequest(connection, request));
      if (n == 0) continue;  // ignored: the next reply answers the next request
      PipeReply reply;
      ASSERT_EQ(client::ClientStatus::kOk, client::ReceiveReply(connection, reply, 20000));
      std::uint32_t magicBits;
      std::memcpy(&magicBits, &reply.magic, 4);
      ASSERT_EQ(VESK1_REPLY_MAGIC_BITS, magicBits);
      ASSERT_GT(reply.elapsedMs, 0.0f);
      TestModuleControl control;
      std::memcpy(&control, request.moduleData, sizeof control);
      const bool computed = request.selectFirst || request.selectSecond || request.selectThird;
      if (computed && control.mode == kEcho) {
        for (int k = 0; k < n; ++k) ASSERT_EQ(request.items[k], client::EntryLowWord(reply, k));
      }
    }

    PipeRequest last = RandomValidRequest(random, 3);
    const auto ending = static_cast<Ending>(random() % 6);
    std::size_t bytes = sizeof last;
    switch (ending) {
      case Ending::kStop:
        last.items[0] = kStopBits;
        break;
      case Ending::kWrongMagic:
        last.magic = static_cast<std::int32_t>(random()) | 0x40000000;
        break;
      case Ending::kBadCount:
        last.itemCount = random() % 2 ? 256 + static_cast<std::int32_t>(random() % 100000)
                                      : -1 - static_cast<std::int32_t>(random() % 100000);
        break;
      case Ending::kTruncated:
        bytes = 1 + random() % (sizeof last - 1);
        break;
      case Ending::kGarbage: {
        auto* raw = reinterpret_cast<unsigned char*>(&last);
        for (std::size_t i = 0; i < sizeof last; ++i) raw[i] = static_cast<unsigned char>(random());
        if (last.magic == RecordMagic) last.magic = 0;
        break;
      }
      case Ending::kHangUp:
        bytes = 0;
        break;
    }
    if (bytes > 0) client::SendBytes(connection, &last, bytes);
    if (ending == Ending::kTruncated || ending == Ending::kHangUp) client::Close(connection);
    const auto result = server.WaitForExit(20000);
    ASSERT_TRUE(result.has_value());
    EXPECT_TRUE(result->exited) << "ended by signal " << result->code;
    EXPECT_TRUE(result->code == 0 || result->code == 1) << result->code;
    client::Close(connection);
  }
}

}  // namespace
}  // namespace vesk1::test
