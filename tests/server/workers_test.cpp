// The worker threads as the module sees them: which calls, in which order, with what.
#include <dirent.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "server_harness.h"

namespace vesk1::test {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

std::string CallLine(int position, int items, int worker) {
  return "position=" + std::to_string(position) + " items=" + std::to_string(items) +
         " worker=" + std::to_string(worker) + " jobValue=0 buffers=1";
}

// Each set flag is one call with the result buffer in its own position, in the order first,
// second, third; no flag, no call. The reply shows the last call's results.
TEST(Workers_SelectFlags, OneCallPerFlagInOrder) {
  struct Case {
    int first, second, third;
    std::vector<int> positions;
  };
  const std::vector<Case> cases = {{0, 0, 0, {}},     {1, 0, 0, {1}},      {0, 1, 0, {2}},
                                   {0, 0, 1, {3}},    {1, 0, 1, {1, 3}},   {0, 1, 1, {2, 3}},
                                   {1, 1, 0, {1, 2}}, {1, 1, 1, {1, 2, 3}}};
  ServerProcess server({.cpus = FirstCpus(1)});
  client::Connection connection = server.Connect();
  const std::string log = server.WorkDirectory() + "/1/calls.log";
  for (const Case& c : cases) {
    std::remove(log.c_str());
    PipeRequest request = EchoRequest(4, 40);
    SetControl(request, {.logCalls = 1});
    request.selectFirst = c.first;
    request.selectSecond = c.second;
    request.selectThird = c.third;
    const PipeReply reply = RoundTrip(connection, request);
    std::vector<std::string> expected;
    for (int p : c.positions) expected.push_back(CallLine(p, 4, 0));
    EXPECT_EQ(expected, Lines(ReadWholeFile(log)));
    if (!c.positions.empty()) {
      EXPECT_EQ(EchoMarker(0, c.positions.back()), client::EntryHighWord(reply, 3));
    }
  }
  client::Close(connection);
}

// A worker whose share is empty has nothing to compute and is not called; the others get
// their share at the front of the items with their own count.
TEST(Workers_Shares, WorkerWithoutItemsIsNotCalled) {
  const std::string cpus = FirstCpus(2);
  if (cpus.empty()) GTEST_SKIP() << "needs two processors";
  ServerProcess server({.cpus = cpus});
  client::Connection connection = server.Connect();
  const std::string log1 = server.WorkDirectory() + "/1/calls.log";
  const std::string log2 = server.WorkDirectory() + "/2/calls.log";

  PipeRequest one = EchoRequest(1, 10);
  SetControl(one, {.logCalls = 1});
  EXPECT_EQ(10u, client::EntryLowWord(RoundTrip(connection, one), 0));
  EXPECT_EQ(std::vector<std::string>{CallLine(1, 1, 0)}, Lines(ReadWholeFile(log1)));
  EXPECT_EQ(std::vector<std::string>{}, Lines(ReadWholeFile(log2)));

  PipeRequest three = EchoRequest(3, 20);
  SetControl(three, {.logCalls = 1});
  const PipeReply reply = RoundTrip(connection, three);
  EXPECT_EQ(22u, client::EntryLowWord(reply, 2));
  EXPECT_EQ((std::vector<std::string>{CallLine(1, 1, 0), CallLine(1, 2, 0)}),
            Lines(ReadWholeFile(log1)));
  EXPECT_EQ(std::vector<std::string>{CallLine(1, 1, 1)}, Lines(ReadWholeFile(log2)));
  client::Close(connection);
}

std::vector<int> ThreadNiceValues(pid_t pid) {
  std::vector<int> values;
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  DIR* dir = opendir(tasks.c_str());
  if (dir == nullptr) return values;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    const std::string stat = ReadWholeFile(tasks + "/" + entry->d_name + "/stat");
    // Field 19 is the nice value; the command name before it is in parentheses.
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    for (int i = 3; i <= 19 && fields >> field; ++i) {
    }
    values.push_back(std::stoi(field));
  }
  closedir(dir);
  return values;
}

// From the first job on every thread of the server runs at the lowest priority.
TEST(Workers_Priority, FirstJobLowersEveryThread) {
  ServerProcess server;
  client::Connection connection = server.Connect();
  RoundTrip(connection, EchoRequest(2));
  const std::vector<int> nice = ThreadNiceValues(server.Pid());
  ASSERT_GE(nice.size(), 2u);
  for (int value : nice) EXPECT_EQ(19, value);
  client::Close(connection);
}

}  // namespace
}  // namespace vesk1::test
