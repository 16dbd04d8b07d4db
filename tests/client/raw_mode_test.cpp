// vesk1_client from the command line: what it sends, what it prints, how it ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "run_client.h"
#include "server_harness.h"
#include "support/spawn.h"

namespace vesk1::test {
namespace {

struct ToolResult {
  int status = -1;
  std::string output;  // standard output, then standard error
};

// Runs vesk1_client with `arguments`; standard output and standard error together.
ToolResult RunClient(const std::string& tmpDirectory, const std::string& arguments) {
  const SpawnResult spawned = RunClientProgram(tmpDirectory, {}, arguments);
  ToolResult result;
  if (!spawned.started) return result;
  result.status = spawned.exitStatus;
  result.output = spawned.output + spawned.errors;
  return result;
}

std::string Hex(std::uint32_t low, std::uint32_t high) {
  char text[17];
  const unsigned char* l = reinterpret_cast<const unsigned char*>(&low);
  const unsigned char* h = reinterpret_cast<const unsigned char*>(&high);
  std::snprintf(text, sizeof text, "%02x%02x%02x%02x%02x%02x%02x%02x", l[0], l[1], l[2], l[3], h[0],
                h[1], h[2], h[3]);
  return text;
}

TEST(ClientTool_CommandLine, HelpAndUsageErrors) {
  struct Case {
    std::string arguments;
    int status;
    std::string expectedText;
  };
  const std::vector<Case> cases = {
      {"--help", 0, "Usage: vesk1_client [options] <instance>"},
      {"", 2, "no instance number given"},
      {"7", 2, "give --items, --words or --count"},
      {"7 --items 1,x", 2, "--items needs float numbers"},
      {"7 --words 1,99999999999", 2, "--words needs 32-bit integers"},
      {"7 --select fourth --items 1", 2, "--select takes first, second, third or none"},
      {"7 --format octal --items 1", 2, "--format takes hex, float or double"},
      {"7 --bogus", 2, "unknown option --bogus"},
      {"seven --items 1", 2, "the instance must be a number"},
      {"7 --items 1 --data /nonexistent/file", 2, "cannot read /nonexistent/file"},
  };
  for (const Case& c : cases) {
    const ToolResult result = RunClient("/tmp", c.arguments);
    EXPECT_EQ(c.status, result.status) << c.arguments << "\n" << result.output;
    EXPECT_NE(std::string::npos, result.output.find(c.expectedText)) << c.arguments << "\n"
                                                                     << result.output;
  }
}

// -h and --help work in every mode, and every mode reads an instance number the same way: as
// the server reads it, refusing what the server would read as another number.
TEST(ClientTool_CommandLine, EveryModeTakesHelpAndChecksInstancesAlike) {
  struct Case {
    std::string arguments;
    int status;
    std::string expectedText;
  };
  const std::vector<Case> cases = {
      {"-h", 0, "Usage: vesk1_client "},
      {"--help", 0, "6 the server is already serving a client"},
      {"0x7 --stop", 2, "the instance must be a number, not \"0x7\""},
      {"7a --stop", 2, "the instance must be a number, not \"7a\""},
      {"99999999999 --stop", 2, "the instance must be a number, not \"99999999999\""},
  };
  for (const std::vector<std::string>& mode :
       {std::vector<std::string>{}, std::vector<std::string>{"sounding"},
        std::vector<std::string>{"invert"}}) {
    const std::string name = mode.empty() ? "(requests)" : mode[0];
    for (const Case& c : cases) {
      const SpawnResult result = RunClientProgram("/tmp", mode, c.arguments);
      ASSERT_TRUE(result.started);
      EXPECT_EQ(c.status, result.exitStatus) << name << " " << c.arguments;
      EXPECT_NE(std::string::npos, (result.output + result.errors).find(c.expectedText))
          << name << " " << c.arguments << "\n"
          << result.output << result.errors;
    }
  }
  // The data mode takes a file, not an instance, and no server.
  const SpawnResult data = RunClientProgram("/tmp", {"data"}, "-h");
  EXPECT_EQ(0, data.exitStatus);
  EXPECT_EQ(0u, data.output.find("Usage: vesk1_client data")) << data.output;
}

TEST(ClientTool_Errors, NoServerListening) {
  ServerProcess server({.passInstance = false});  // only for its scratch root
  const ToolResult result = RunClient(server.Root(), "7 --items 1,2");
  EXPECT_EQ(3, result.status) << result.output;
  EXPECT_NE(std::string::npos, result.output.find("no server listens on the pipe"));
}

TEST(ClientTool_Errors, ServerClosingThePipe) {
  ServerProcess server({.cpus = FirstCpus(1)});
  ASSERT_TRUE(server.WaitForOutput("Waiting for connect...\n", 30000));
  // Item 0 at -999.0 is the stop command: the server ends instead of answering.
  const ToolResult result = RunClient(server.Root(), "7 --items -999");
  EXPECT_EQ(4, result.status) << result.output;
  EXPECT_NE(std::string::npos, result.output.find("the server closed the pipe")) << result.output;
  const auto exit = server.WaitForExit(10000);
  ASSERT_TRUE(exit.has_value());
  EXPECT_EQ(1, exit->code);
}

// A count the server does not take ends it without a reply: the client says the request was
// refused and fails, for counts above 255 and below 0 alike.
TEST(ClientTool_Errors, CountOutsideTheReplyIsRefused) {
  for (const char* count : {"300", "-1"}) {
    ServerProcess server({.cpus = FirstCpus(1)});
    ASSERT_TRUE(server.WaitForOutput("Waiting for connect...\n", 30000));
    const ToolResult result = RunClient(server.Root(), std::string("7 --items 1 --count ") + count);
    EXPECT_EQ(4, result.status) << result.output;
    EXPECT_NE(std::string::npos,
              result.output.find(std::string("the server refused the request (itemCount ") + count +
                                 " is outside 0 to 255) and ended"))
        << result.output;
    EXPECT_EQ(std::string::npos, result.output.find("sent;")) << result.output;
    const auto exit = server.WaitForExit(10000);
    ASSERT_TRUE(exit.has_value());
    EXPECT_EQ(1, exit->code);
  }
}

// A second client is told that the server already serves one, with its own exit code; the
// first client's session goes on.
TEST(ClientTool_Errors, ServerAlreadyServingAClient) {
  ServerProcess server({.cpus = FirstCpus(1)});
  client::Connection first = server.Connect();
  ASSERT_TRUE(server.WaitForOutput("Connected. Waiting for command...\n", 10000));
  const ToolResult result = RunClient(server.Root(), "7 --items 1");
  EXPECT_EQ(6, result.status) << result.output;
  EXPECT_NE(std::string::npos, result.output.find("the server is already serving a client"))
      << result.output;
  EXPECT_EQ(1000u, client::EntryLowWord(RoundTrip(first, EchoRequest(1)), 0));
  client::Close(first);
}

TEST(ClientTool_Requests, PrintsEntriesInEachFormatThenStops) {
  ServerProcess server({.cpus = FirstCpus(1), .prepare = [](const std::string& work) {
                          TestModuleControl control;
                          control.logCalls = 1;
                          WriteWholeFile(
                              work + "/../control.bin",
                              std::string(reinterpret_cast<const char*>(&control), sizeof control));
                        }});
  ASSERT_TRUE(server.WaitForOutput("Waiting for connect...\n", 30000));
  const ToolResult result = RunClient(
      server.Root(), "7 --words 5,0x10,-1 --select second,third --format hex --repeat 2 --data '" +
                         server.Root() + "/control.bin' --stop");
  EXPECT_EQ(0, result.status) << result.output;
  const std::string entries = "0: " + Hex(5, EchoMarker(0, 3)) +
                              "\n1: " + Hex(16, EchoMarker(0, 3)) +
                              "\n2: " + Hex(0xFFFFFFFFu, EchoMarker(0, 3)) + "\nelapsed: ";
  const std::size_t first = result.output.find(entries);
  ASSERT_EQ(0u, first) << result.output;
  EXPECT_NE(std::string::npos, result.output.find(entries, 1)) << result.output;
  EXPECT_EQ("stopped\n", result.output.substr(result.output.size() - 8));
  // Two requests of two calls each reached the module.
  const std::string calls = ReadWholeFile(server.WorkDirectory() + "/1/calls.log");
  EXPECT_EQ(4, std::count(calls.begin(), calls.end(), '\n')) << calls;
  const auto exit = server.WaitForExit(10000);
  ASSERT_TRUE(exit.has_value());
  EXPECT_EQ(1, exit->code);
}

TEST(ClientTool_Host, PipePathOnHost) {
  struct Case {
    std::string localPath, host, expected;
  };
  const std::vector<Case> cases = {
      {"\\\\.\\pipe\\$VESK_PIPE7$", "node1", "\\\\node1\\pipe\\$VESK_PIPE7$"},
      {"\\\\.\\pipe\\$VESK_PIPE-3$", "10.0.0.5", "\\\\10.0.0.5\\pipe\\$VESK_PIPE-3$"},
      {"/tmp/$VESK_PIPE7$", "node1", "/tmp/$VESK_PIPE7$"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, client::PipePathOnHost(c.localPath, c.host)) << c.localPath;
  }
}

TEST(ClientTool_Host, CommandLine) {
  struct Case {
    std::string arguments;
    std::string expectedText;
  };
  std::vector<Case> cases = {
      {"7 --items 1 --host", "--host needs a host name"},
      {"7 --items 1 --host ''", "--host needs a host name"},
      {"7 --items 1 --host a/b", "--host needs a host name"},
  };
  if (client::kPipesReachOtherHosts) {
    cases.push_back({"7 --items 1 --host node1 --socket x", "give --host or --socket, not both"});
  } else {
    cases.push_back(
        {"7 --items 1 --host node1", "--host node1: the pipe is reachable on this machine only"});
  }
  for (const Case& c : cases) {
    const ToolResult result = RunClient("/tmp", c.arguments);
    EXPECT_EQ(2, result.status) << c.arguments << "\n" << result.output;
    EXPECT_NE(std::string::npos, result.output.find(c.expectedText)) << c.arguments << "\n"
                                                                     << result.output;
  }
}

TEST(ClientTool_Host, ThisMachineByName) {
  for (const std::string host : {".", "localhost"}) {
    ServerProcess server({.cpus = FirstCpus(1)});
    ASSERT_TRUE(server.WaitForOutput("Waiting for connect...\n", 30000));
    const ToolResult result = RunClient(server.Root(), "7 --host " + host + " --items 1 --stop");
    EXPECT_EQ(0, result.status) << host << "\n" << result.output;
    EXPECT_EQ(0u, result.output.find("0: ")) << host << "\n" << result.output;
  }
}

TEST(ClientTool_Requests, FloatAndDoubleFormats) {
  ServerProcess server({.cpus = FirstCpus(1)});
  ASSERT_TRUE(server.WaitForOutput("Waiting for connect...\n", 30000));
  ToolResult result = RunClient(server.Root(), "7 --items 2.5,-1e3 --format float --stop");
  EXPECT_EQ(0, result.status) << result.output;
  float marker;
  const std::uint32_t markerBits = EchoMarker(0, 1);
  std::memcpy(&marker, &markerBits, 4);
  char expected[200];
  std::snprintf(expected, sizeof expected, "0: 2.5 %.9g\n1: -1000 %.9g\nelapsed: ", marker, marker);
  EXPECT_EQ(0u, result.output.find(expected)) << result.output;

  ServerProcess second({.cpus = FirstCpus(1)});
  ASSERT_TRUE(second.WaitForOutput("Waiting for connect...\n", 30000));
  // The echo module's entry is (item word, marker word); read as one double.
  result = RunClient(second.Root(), "7 --words 0 --format double --stop");
  EXPECT_EQ(0, result.status) << result.output;
  const std::uint64_t bits = static_cast<std::uint64_t>(EchoMarker(0, 1)) << 32;
  double value;
  std::memcpy(&value, &bits, 8);
  std::snprintf(expected, sizeof expected, "0: %.17g\nelapsed: ", value);
  EXPECT_EQ(0u, result.output.find(expected)) << result.output;
}

}  // namespace
}  // namespace vesk1::test
