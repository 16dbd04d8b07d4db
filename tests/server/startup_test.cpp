// Start-up of the real vesk1_pipe: command line, texts, worker directories, module loading and
// the pipe, up to the connected client.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "server_harness.h"

namespace vesk1::test {
namespace {

namespace fs = std::filesystem;

std::string Banner(const std::string& pipePath, const std::string& argument) {
  return pipePath + "\n(VESK_PIPE SERVER " + argument + ")\nV_TORMIK\nWaiting for connect...\n";
}

TEST(Startup_NoArguments, ExitsZeroPrintingNothing) {
  ServerProcess server({.passInstance = false});
  const auto result = server.WaitForExit(10000);
  ASSERT_TRUE(result.has_value());
  EXPECT_TRUE(result->exited);
  EXPECT_EQ(0, result->code);
  EXPECT_EQ("", server.Output());
  EXPECT_FALSE(fs::exists(server.WorkDirectory() + "/1"));
}

// The instance argument is read like atoi: digits up to the first other character, 0 when
// there are none; the banner shows the argument as typed.
TEST(Startup_Texts, PipeNameBannerAndConnectionMessage) {
  struct Case {
    std::string argument;
    int instance;
  };
  for (const Case& c : {Case{"7", 7}, Case{"abc", 0}, Case{"12x", 12}, Case{"-3", -3}}) {
    ServerProcess server({.instance = c.instance, .arguments = {c.argument}});
    client::Connection connection = server.Connect();
    ASSERT_TRUE(server.WaitForOutput("Waiting for command...\n", 10000)) << server.Output();
    EXPECT_EQ(Banner(server.PipePath(), c.argument) + "\nConnected. Waiting for command...\n",
              server.Output());
    client::Close(connection);
  }
}

TEST(Startup_Pipe, SocketFileIsPrivateToTheOwner) {
  ServerProcess server;
  ASSERT_TRUE(server.WaitForOutput("Waiting for connect...\n", 30000)) << server.Output();
  struct stat info {};
  ASSERT_EQ(0, ::stat(server.PipePath().c_str(), &info));
  EXPECT_TRUE(S_ISSOCK(info.st_mode));
  EXPECT_EQ(0600u, info.st_mode & 0777u);
}

// Every worker directory is created and gets a copy of each "vesk1*.so" file of the current
// directory, nothing else; each module instance is initialised once, in worker order, with its
// own directory.
TEST(Startup_Workers, NewDirectoriesGetCopiesAndEachModuleIsLoadedOnceInOrder) {
  const std::string cpus = FirstCpus(2).empty() ? FirstCpus(1) : FirstCpus(2);
  const int workers = FirstCpus(2).empty() ? 1 : 2;
  ServerProcess server({.cpus = cpus, .prepare = [](const std::string& work) {
                          WriteWholeFile(work + "/vesk1_extra.so", "extra module bytes");
                          WriteWholeFile(work + "/vesk1notes.txt", "not a module");
                          WriteWholeFile(work + "/other.so", "not ours");
                          fs::create_directory(work + "/vesk1_folder.so");
                        }});
  client::Connection connection = server.Connect();
  const std::string module = ReadWholeFile(TestModulePath());
  std::string expectedLog;
  for (int n = 1; n <= workers; ++n) {
    const std::string dir = server.WorkDirectory() + "/" + std::to_string(n);
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::string>{"vesk1_chzd.so", "vesk1_extra.so"}), names) << dir;
    EXPECT_EQ(module, ReadWholeFile(dir + "/vesk1_chzd.so"));
    EXPECT_EQ("extra module bytes", ReadWholeFile(dir + "/vesk1_extra.so"));
    expectedLog += "./" + std::to_string(n) + "/\n";
  }
  EXPECT_FALSE(fs::exists(server.WorkDirectory() + "/" + std::to_string(workers + 1)));
  EXPECT_EQ(expectedLog, ReadWholeFile(server.WorkDirectory() + "/load.log"));
  client::Close(connection);
}

TEST(Startup_Workers, ExistingDirectoryIsUsedAsItIs) {
  ServerProcess server({.cpus = FirstCpus(1), .prepare = [](const std::string& work) {
                          fs::create_directory(work + "/1");
                          fs::copy_file(TestModulePath(), work + "/1/vesk1_chzd.so");
                          WriteWholeFile(work + "/1/kept.txt", "left alone");
                          WriteWholeFile(work + "/vesk1_extra.so", "would be copied");
                        }});
  client::Connection connection = server.Connect();
  EXPECT_EQ("left alone", ReadWholeFile(server.WorkDirectory() + "/1/kept.txt"));
  EXPECT_FALSE(fs::exists(server.WorkDirectory() + "/1/vesk1_extra.so"));
  EXPECT_EQ("./1/\n", ReadWholeFile(server.WorkDirectory() + "/load.log"));
  const PipeReply reply = RoundTrip(connection, EchoRequest(3));
  EXPECT_EQ(1002u, client::EntryLowWord(reply, 2));
  client::Close(connection);
}

// A load that fails is tried again a second later; the module that appears in the meantime is
// loaded, and start-up goes on.
TEST(Startup_Workers, FailedLoadIsRetriedASecondLater) {
  ServerProcess server({.cpus = FirstCpus(1), .prepare = [](const std::string& work) {
                          fs::create_directory(work + "/1");
                        }});
  const auto started = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  // Appears whole: copied under another name, then renamed.
  const std::string dir = server.WorkDirectory() + "/1/";
  fs::copy_file(TestModulePath(), dir + "partial");
  fs::rename(dir + "partial", dir + "vesk1_chzd.so");
  client::Connection connection = server.Connect();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  EXPECT_GE(seconds, 1.5);
  EXPECT_LT(seconds, 8.0);
  EXPECT_EQ("./1/\n", ReadWholeFile(server.WorkDirectory() + "/load.log"));
  const PipeReply reply = RoundTrip(connection, EchoRequest(2));
  EXPECT_EQ(1001u, client::EntryLowWord(reply, 1));
  client::Close(connection);
}

// A pause after a successful load would make W workers take W seconds.
TEST(Startup_Workers, SuccessfulLoadsDoNotWait) {
  const bool two = !FirstCpus(2).empty();
  const auto started = std::chrono::steady_clock::now();
  ServerProcess server({.cpus = two ? FirstCpus(2) : FirstCpus(1)});
  client::Connection connection = server.Connect();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  EXPECT_LT(seconds, two ? 1.5 : 0.95);
  client::Close(connection);
}

TEST(Startup_Pipe, TwoInstancesServeSideBySide) {
  ServerProcess first({.instance = 7});
  ServerProcess second({.instance = 8, .sharedRoot = first.Root()});
  client::Connection a = first.Connect();
  client::Connection b = second.Connect();
  EXPECT_EQ(1002u, client::EntryLowWord(RoundTrip(a, EchoRequest(3, 1000)), 2));
  EXPECT_EQ(2002u, client::EntryLowWord(RoundTrip(b, EchoRequest(3, 2000)), 2));
  client::Close(a);
  client::Close(b);
}

// A live server's name is never taken over: the second one reports the system's code and ends
// with status 0, and the first goes on serving.
TEST(Startup_Pipe, SecondServerOnTheSameInstanceFails) {
  ServerProcess first({.instance = 7});
  ASSERT_TRUE(first.WaitForOutput("Waiting for connect...\n", 30000));
  ServerProcess second({.instance = 7, .sharedRoot = first.Root()});
  const auto result = second.WaitForExit(30000);
  ASSERT_TRUE(result.has_value());
  EXPECT_TRUE(result->exited);
  EXPECT_EQ(0, result->code);
  EXPECT_EQ(first.PipePath() + "\n(VESK_PIPE SERVER 7)\nV_TORMIK\nCreateNamedPipe: Error " +
                std::to_string(EADDRINUSE) + "\n",
            second.Output());
  client::Connection connection = first.Connect();
  EXPECT_EQ(1000u, client::EntryLowWord(RoundTrip(connection, EchoRequest(1)), 0));
  client::Close(connection);
}

// What a crashed server leaves behind, a socket file nobody listens on, is replaced; anything
// else at that path is left alone.
TEST(Startup_Pipe, StaleSocketIsReplacedOtherFilesAreNot) {
  {
    ServerProcess server({.prepare = [](const std::string& work) {
      const std::string path = fs::path(work).parent_path().string() + "/$VESK_PIPE7$";
      const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      std::strcpy(address.sun_path, path.c_str());
      ASSERT_EQ(0, ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address));
      ::close(fd);  // the file stays, with nobody behind it
    }});
    client::Connection connection = server.Connect();
    EXPECT_EQ(1000u, client::EntryLowWord(RoundTrip(connection, EchoRequest(1)), 0));
    client::Close(connection);
  }
  {
    ServerProcess server({.prepare = [](const std::string& work) {
      WriteWholeFile(fs::path(work).parent_path().string() + "/$VESK_PIPE7$", "somebody's file");
    }});
    const auto result = server.WaitForExit(30000);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(0, result->code);
    EXPECT_NE(std::string::npos, server.Output().find("CreateNamedPipe: Error "));
    EXPECT_EQ("somebody's file", ReadWholeFile(server.PipePath()));
  }
}

TEST(Startup_Pipe, PathTooLongIsAnErrorNotATruncation) {
  // 107 bytes of directory plus "/$VESK_PIPE7$" cannot fit the 108 bytes of a socket address.
  ServerProcess server({.tmpDirectory = "/tmp/" + std::string(102, 'd')});
  const auto result = server.WaitForExit(30000);
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(0, result->code);
  EXPECT_NE(std::string::npos,
            server.Output().find("CreateNamedPipe: Error " + std::to_string(ENAMETOOLONG) + "\n"));
}

}  // namespace
}  // namespace vesk1::test
