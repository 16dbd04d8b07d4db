// The sampler's request kinds through the real vesk1_pipe, serving the real module.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "client/pipe/sampler_engine.h"
#include "in_process_chain_engine.h"
#include "sampler_rounds.h"
#include "server_harness.h"

namespace vesk1::test {
namespace {

namespace fs = std::filesystem;

ServerOptions SoundingModuleServer() {
  ServerOptions options;
  options.copyModule = false;
  options.prepare = [](const std::string& work) {
    fs::copy_file(VESK1_CHZD_FILE, fs::path(work) / kModuleFile);
    fs::copy_file(VESK1_FDLL_FILE, fs::path(work) / fs::path(VESK1_FDLL_FILE).filename());
  };
  return options;
}

// A server whose workers run the sounding module beside their copy of vesk1_fdll, on the
// first `cpus` processors (as many workers).
std::vector<sp::ChainState> SampleThroughServer(int cpus) {
  ServerOptions options = SoundingModuleServer();
  options.cpus = FirstCpus(cpus);
  ServerProcess server(options);
  client::Connection connection = server.Connect();
  return SampleRounds([&](const PipeRequest& r) { return RoundTrip(connection, r); });
}

TEST(SamplerThroughServer, SameSamplesWithOneWorkerAndWithTwo) {
  if (FirstCpus(2).empty()) GTEST_SKIP() << "needs two processors";
  const std::vector<sp::ChainState> one = SampleThroughServer(1);
  ASSERT_EQ(one.size(), 48u);
  EXPECT_TRUE(SameStates(one, SampleThroughServer(2)));
}

// The client's engine sends a round's three step requests (18 walkers, 6 to a request at 20
// layers) before it reads their replies: each reply goes to the walkers of its own request, so
// the run is the one the module's computation gives in this process, sample for sample. The 80
// periods take two data requests, the second's reply the one that says the set arrived.
TEST(SamplerThroughServer, StreamedRequestsAnswerTheirOwnWalkers) {
  mt::SamplerProblem problem;
  for (int i = 0; i < 80; ++i) {
    problem.periods.push_back(std::pow(10.0, -3 + i / 20.0));
    problem.data.value.push_back(2.0 - 0.01 * i);
    problem.data.error.push_back(0.05);
  }
  for (int i = 0; i < 80; ++i) {
    problem.data.value.push_back(40.0 + 0.1 * i);
    problem.data.error.push_back(1.5);
  }
  problem.prior = {20, 1.0, 4.0, -1.0, 5.0};
  mt::SamplerOptions options;
  options.chains = 6;
  options.temperatures = 3;
  options.steps = 100;
  options.burnIn = 40;
  options.thin = 10;
  ServerProcess server(SoundingModuleServer());
  client::Connection connection = server.Connect();
  client::ServerChainEngine served(connection, 30000, 5);
  const mt::SamplerResult a = mt::RunSampler(problem, served, options, nullptr);
  InProcessChainEngine alone(5, 1);
  const mt::SamplerResult b = mt::RunSampler(problem, alone, options, nullptr);
  ASSERT_EQ(a.error, "");
  ASSERT_EQ(b.error, "");
  // 10 rounds of 3 step requests, and the data in two requests once.
  EXPECT_EQ(alone.dataRequests(), 2);
  EXPECT_EQ(served.requests(), 32);
  ASSERT_EQ(a.chains.size(), 6u);
  for (size_t c = 0; c < a.chains.size(); ++c) {
    ASSERT_EQ(a.chains[c].size(), 6u);
    for (size_t k = 0; k < a.chains[c].size(); ++k) {
      EXPECT_EQ(a.chains[c][k].step, b.chains[c][k].step);
      EXPECT_EQ(a.chains[c][k].misfit, b.chains[c][k].misfit) << c << " " << k;
      EXPECT_EQ(a.chains[c][k].depth, b.chains[c][k].depth) << c << " " << k;
      EXPECT_EQ(a.chains[c][k].log10Rho, b.chains[c][k].log10Rho) << c << " " << k;
    }
  }
}

}  // namespace
}  // namespace vesk1::test
