// The workers' priority on POSIX systems, where every thread has its own nice value.
#include <dirent.h>
#include <gtest/gtest.h>

#include <sstream>

#include "server_harness.h"

namespace vesk1::test {
namespace {

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
