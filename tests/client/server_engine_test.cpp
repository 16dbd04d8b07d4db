// The requests the inversion's engine sends, answered by the sounding module's own computation
// in this process: the Jacobian they bring back, and the items a sensitivity request cannot
// answer.
#include "client/pipe/server_engine.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "client/pipe/sounding_requests.h"
#include "client/pipe/transport.h"
#include "common/fdll_loader.h"
#include "common/sounding_request.h"
#include "finite_differences.h"
#include "in_process_engine.h"
#include "mt/mesh.h"
#include "sounding.h"
#include "tests/fixtures/loaded_fdll.h"

namespace vesk1::client {
namespace {

using test::Fdll;
using test::LogPeriods;

// The module's sensitivities, asked for with the same requests the client sends the server,
// against central differences: 30 periods by 10 layers go out as two requests, each with its
// own period table.
TEST(InProcessEngine_Sensitivities, EqualFiniteDifferences) {
  ASSERT_NE(Fdll().recur, nullptr) << Fdll().error;
  const std::vector<double> periods = LogPeriods(0.001, 1000, 30);
  const std::vector<double> model = {2.0, 1.5, 0.5, 1.0, 2.5, 3.0, 1.0, 0.0, 2.0, 3.0};
  const std::vector<double> thickness = mt::GeometricThicknesses(10, 20, 5000);
  test::InProcessEngine engine(Fdll().recur, periods, thickness);
  std::vector<double> served;
  std::string error;
  ASSERT_TRUE(engine.Sensitivities(model, served, error)) << error;
  EXPECT_EQ(engine.requests(), 2);
  const std::vector<double> expected =
      test::FiniteDifferenceJacobian(Fdll().recur, model, thickness, periods);
  ASSERT_EQ(served.size(), expected.size());
  for (size_t k = 0; k < served.size(); ++k) {
    EXPECT_NEAR(served[k], expected[k], 1e-4 + 1e-4 * std::fabs(expected[k])) << "entry " << k;
  }
}

}  // namespace
}  // namespace vesk1::client

namespace vesk1::sounding {
namespace {

// Items a sensitivity request cannot answer get NaN entries; the others beside them do not.
TEST(ComputeShare_SensitivityRequest, UnanswerableItemsGiveNaN) {
  ASSERT_NE(client::Fdll().recur, nullptr);
  struct Case {
    const char* what;
    int32_t kind;
    int32_t bottomMode;
    float period;
    uint32_t item;
    bool answered;
  };
  const Case cases[] = {
      {"a period and a layer in range", kSensitivityRequest, 2, 10.0f, SensitivityItem(0, 2), true},
      {"the basement", kSensitivityRequest, 2, 10.0f, SensitivityItem(0, 3), true},
      {"a layer below the basement", kSensitivityRequest, 2, 10.0f, SensitivityItem(0, 4), false},
      {"a period index past the table", kSensitivityRequest, 2, 10.0f,
       SensitivityItem(kSensitivityPeriodCapacity, 0), false},
      {"a period of zero", kSensitivityRequest, 2, 0.0f, SensitivityItem(0, 0), false},
      {"a basement that ends in a boundary", kSensitivityRequest, 1, 10.0f, SensitivityItem(0, 0),
       false},
      {"an unknown kind", 7, 2, 10.0f, SensitivityItem(0, 0), false},
  };
  for (const Case& c : cases) {
    RecurrenceModel model = client::LayeredModel({2, 1, 2.5, 3}, {100, 200, 400});
    model.bottomMode = c.bottomMode;
    std::memcpy(model.unused1, &c.period, sizeof c.period);
    PipeRequest request = client::NewRequest();
    std::memcpy(request.moduleData, &model, sizeof model);
    std::memcpy(request.moduleData2, &c.kind, sizeof c.kind);
    const uint32_t words[2] = {c.item, SensitivityItem(0, 1)};
    client::SetWordItems(request, words);
    unsigned char buffer[kResultBufferSize] = {};
    ComputeShare(client::Fdll().recur, request, buffer);
    SensitivityPoint first, second;
    std::memcpy(&first, buffer, sizeof first);
    std::memcpy(&second, buffer + kReplyEntrySize, sizeof second);
    EXPECT_EQ(std::isfinite(first.resistivity) && std::isfinite(first.phase), c.answered) << c.what;
    const bool secondAnswered = c.kind == kSensitivityRequest && c.bottomMode == 2 && c.period > 0;
    EXPECT_EQ(std::isfinite(second.resistivity), secondAnswered) << c.what;
  }
}

}  // namespace
}  // namespace vesk1::sounding

#ifndef _WIN32
namespace vesk1::client {
namespace {

// A server that has gone makes every exchange of the engines fail, never pass in silence: false,
// the status kept, and the message "the server: " with the status's text.
TEST(ServerLink_ServerGone, ExchangesFailWithTheStatus) {
  int ends[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
  close(ends[1]);
  Connection connection;
  connection.fd = ends[0];
  ServerLink link(connection, 1000);
  const std::string expected = std::string("the server: ") + StatusText(ClientStatus::kClosed);
  PipeReply reply{};
  std::string error;
  EXPECT_FALSE(link.Exchange(NewRequest(), reply, error));
  EXPECT_EQ(link.status(), ClientStatus::kClosed);
  EXPECT_EQ(error, expected);
  std::vector<PipeReply> replies;
  error.clear();
  EXPECT_FALSE(link.ExchangeAll({NewRequest(), NewRequest()}, replies, error));
  EXPECT_EQ(error, expected);
  Close(connection);
}

}  // namespace
}  // namespace vesk1::client
#endif
