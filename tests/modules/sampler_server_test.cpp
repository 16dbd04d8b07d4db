// The sampler's request kinds through the real vesk1_pipe, serving the real module.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "sampler_rounds.h"
#include "server_harness.h"

namespace vesk1::test {
namespace {

namespace fs = std::filesystem;

// A server whose workers run the sounding module beside their copy of vesk1_fdll, on the
// first `cpus` processors (as many workers).
std::vector<sp::ChainState> SampleThroughServer(int cpus) {
  ServerOptions options;
  options.cpus = FirstCpus(cpus);
  options.copyModule = false;
  options.prepare = [](const std::string& work) {
    fs::copy_file(VESK1_CHZD_FILE, fs::path(work) / kModuleFile);
    fs::copy_file(VESK1_FDLL_FILE, fs::path(work) / fs::path(VESK1_FDLL_FILE).filename());
  };
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

}  // namespace
}  // namespace vesk1::test
