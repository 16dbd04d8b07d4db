// vesk1_client sample as a user runs it, against the real server running the sounding module.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "common/fdll_loader.h"
#include "in_process_engine.h"
#include "mt/format.h"
#include "mt/mesh.h"
#include "mt/readers/readers.h"
#include "run_client.h"
#include "server_harness.h"
#include "sounding_server.h"
#include "support/spawn.h"

namespace vesk1::test {
namespace {

// A three-layer earth's curve at 30 periods as a CSV sounding (errors at the 5 % floor).
std::string ThreeLayerCsv() {
  const common::LoadedFdll fdll = common::LoadFdllFile(VESK1_FDLL_FILE);
  EXPECT_NE(fdll.recur, nullptr) << fdll.error;
  std::vector<double> periods;
  for (int i = 0; i < 30; ++i) periods.push_back(0.001 * std::pow(1e7, i / 29.0));
  InProcessEngine truth(fdll.recur, periods, {500, 2000});
  std::vector<double> rho, phase;
  std::string error;
  EXPECT_TRUE(truth.Responses({2.0, 1.0, 3.0}, rho, phase, error)) << error;
  std::string csv = "period_s,apparent_resistivity_ohm_m,phase_deg\n";
  for (size_t i = 0; i < periods.size(); ++i) {
    char line[120];
    std::snprintf(line, sizeof line, "%.9g,%.9g,%.9g\n", periods[i], std::pow(10.0, rho[i]),
                  phase[i]);
    csv += line;
  }
  return csv;
}

// The whole client path (data and step requests, exchanges, burn-in tuning, thinning) on a
// server with one worker and on one with two: the same kept samples, byte for byte.
TEST(ClientSample_OneWorkerAndTwo, SameSamples) {
  const std::string cpus = FirstCpus(2);
  if (cpus.empty()) GTEST_SKIP() << "needs two processors";
  const std::string directory = ::testing::TempDir() + "/sample_e2e";
  std::filesystem::create_directories(directory);
  const std::string csv = ThreeLayerCsv();
  WriteWholeFile(directory + "/data.csv", csv);
  // The interfaces lie within the sounding's skin depths unless --depth-range says otherwise.
  const mt::DepthSpan span = mt::SkinDepthSpan(mt::ParseSounding(csv, "data.csv", {}).sounding);
  const std::string prior = mt::Printf(
      "at most 8 layers, interfaces %.4g to %.4g m, 0.1 to "
      "1e+05 ohm-m\n",
      span.top, span.bottom);
  std::string samples[2];
  for (int workers = 1; workers <= 2; ++workers) {
    ServerOptions options = SoundingServer();
    options.cpus = FirstCpus(workers);
    ServerProcess server(options);
    ASSERT_TRUE(server.WaitForOutput("Waiting for connect...\n", 60000)) << server.Output();
    const std::string file = directory + "/samples" + std::to_string(workers) + ".csv";
    const SpawnResult run =
        RunClientProgram(server.Root(), {"sample"},
                         "--data '" + directory +
                             "/data.csv' --steps 600 --burn-in 200 --thin 20 --seed 9 "
                             "--max-layers 8 --samples '" +
                             file + "' --stop 7");
    ASSERT_EQ(run.exitStatus, 0) << run.output << run.errors;
    EXPECT_NE(run.output.find("600 steps per chain (200 burn-in, every 20-th kept), 4 chains x 4 "
                              "temperatures (1 to 100), seed 9; " +
                              prior),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("\nR-hat: misfit "), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("\nmost conductive layer's top: median "), std::string::npos);
    // Exchanges were taken, so the comparison covers them.
    const size_t at = run.output.find("exchanges ", run.output.find("forward runs in"));
    ASSERT_NE(at, std::string::npos) << run.output;
    EXPECT_GT(std::atof(run.output.c_str() + at + 10), 0.0) << run.output;
    samples[workers - 1] = ReadWholeFile(file);
  }
  // 4 chains x 20 kept samples, and the header.
  EXPECT_EQ(std::count(samples[0].begin(), samples[0].end(), '\n'), 81);
  EXPECT_EQ(samples[0], samples[1]);
}

TEST(ClientSample_BadCommandLine, ExitTwoWithoutContactingAServer) {
  const std::string directory = ::testing::TempDir();
  WriteWholeFile(directory + "/one.csv",
                 "period_s,apparent_resistivity_ohm_m,phase_deg\n1,10,45\n");
  const std::string data = "--data '" + directory + "/one.csv' ";
  std::string many = "period_s,apparent_resistivity_ohm_m,phase_deg\n";
  for (int i = 0; i < 129; ++i) many += std::to_string(1 + i) + ",10,45\n";
  WriteWholeFile(directory + "/many.csv", many);
  struct Case {
    std::string arguments;
    std::string message;
  };
  const Case cases[] = {
      {"7", "--data FILE is required"},
      {data + "--max-layers 64 7", "--max-layers needs a whole number from 1 to 63"},
      {data + "--depth-range 100:10 7", "--depth-range needs MIN:MAX, metres with 0 < MIN < MAX"},
      {data + "--rho-range 0:10 7",
       "--rho-range needs MIN:MAX, ohm-metres with 1e-30 <= MIN < MAX <= 1e30"},
      {data + "--chains 0 7", "--chains needs a whole number from 1 to 64"},
      {data + "--temperatures 17 7", "--temperatures needs a whole number from 1 to 16"},
      {data + "--chains 32 --temperatures 9 7", "--chains x --temperatures must be at most 256"},
      {data + "--steps 1.5 7", "--steps needs a whole number from 1 to 100000000"},
      {data + "--steps 100 --burn-in 100 7", "--burn-in must be below --steps"},
      {data + "--thin 4097 7", "--thin needs a whole number from 1 to 4096"},
      {data + "--seed 18446744073709551616 7",
       "--seed needs a whole number from 0 to 18446744073709551615"},
      {data + "--seed -1 7", "--seed needs a whole number from 0 to 18446744073709551615"},
      {data + "--steps 100000000 --thin 1 7", "more than 2000000 samples would be kept: thin more"},
      {data + "--bogus 1 7", "unknown option --bogus"},
      {"--data '" + directory + "/many.csv' 7",
       "the sampler fits at most 128 periods; choose a band with --periods"},
  };
  for (const Case& c : cases) {
    const SpawnResult result = RunClientProgram(directory, {"sample"}, c.arguments);
    EXPECT_EQ(result.exitStatus, 2) << c.arguments;
    EXPECT_EQ(result.errors,
              "vesk1_client sample: " + c.message + "\nTry 'vesk1_client sample --help'.\n")
        << c.arguments;
    EXPECT_EQ(result.output, "");
  }
}

}  // namespace
}  // namespace vesk1::test
