// vesk1_client sounding against the real server running the sounding module, one worker per
// processor, each with its own copy of the module and of vesk1_fdll.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>

#include "run_client.h"
#include "server_harness.h"
#include "sounding_server.h"
#include "support/spawn.h"

namespace vesk1::test {
namespace {

struct ToolResult {
  int status = -1;
  std::string output;  // standard output
  std::string errors;  // standard error
};

ToolResult RunSounding(const std::string& tmpDirectory, const std::string& arguments) {
  const SpawnResult spawned = RunClientProgram(tmpDirectory, {"sounding"}, arguments);
  ToolResult result;
  if (!spawned.started) return result;
  result.status = spawned.exitStatus;
  result.output = spawned.output;
  result.errors = spawned.errors;
  return result;
}

// 300 periods go out as requests of 255 and 45; every row comes back in order with the
// half-space's resistivity and 45 degrees, whichever worker computed it.
TEST(ClientSounding_HalfSpace, EveryPeriodInOrderThroughTheServer) {
  ServerProcess server(SoundingServer());
  ASSERT_TRUE(server.WaitForOutput("Waiting for connect...\n", 60000)) << server.Output();
  WriteWholeFile(server.Root() + "/model.txt", "# uniform earth\n300\n");
  const ToolResult result =
      RunSounding(server.Root(), "--model '" + server.Root() +
                                     "/model.txt' --range 0.01 1000 300 --csv - --stop 7");
  ASSERT_EQ(result.status, 0) << result.output << result.errors;
  std::istringstream lines(result.output);
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "period_s,apparent_resistivity_ohm_m,phase_deg");
  int rows = 0;
  double previous = 0;
  while (std::getline(lines, line)) {
    double period, resistivity, phase;
    ASSERT_EQ(std::sscanf(line.c_str(), "%lf,%lf,%lf", &period, &resistivity, &phase), 3) << line;
    EXPECT_GT(period, previous) << line;
    EXPECT_NEAR(resistivity, 300.0, 300.0 * 1e-5) << line;
    EXPECT_NEAR(phase, 45.0, 45.0 * 1e-5) << line;
    previous = period;
    ++rows;
  }
  EXPECT_EQ(rows, 300);
  EXPECT_NE(result.errors.find("300 periods in 2 requests"), std::string::npos) << result.errors;
  const auto exit = server.WaitForExit(10000);
  ASSERT_TRUE(exit.has_value());
  EXPECT_EQ(exit->code, 1);
}

TEST(ClientSounding_BadModelFile, NamesTheLineWithoutContactingAServer) {
  const std::string directory = ::testing::TempDir();
  WriteWholeFile(directory + "/bad_model.txt", "100 50\n10 x\n1000\n");
  const ToolResult result = RunSounding(directory, "--model '" + directory + "/bad_model.txt' 7");
  EXPECT_EQ(result.status, 2);
  EXPECT_NE(result.errors.find("bad_model.txt: line 2: thickness \"x\""), std::string::npos)
      << result.errors;
  EXPECT_EQ(result.output, "");
}

}  // namespace
}  // namespace vesk1::test
