// Start-up of the real vesk1_pipe: command line, texts, worker directories, module loading and
// the pipe, up to the connected client.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "server_harness.h"

namespace vesk1::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kConnected = "\nConnected. Waiting for command...\n";

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

// Every worker directory is created and gets a copy of each "vesk1*" module file of the current
// directory, nothing else; each module instance is initialised once, in worker order, with its
// own directory.
TEST(Startup_Workers, NewDirectoriesGetCopiesAndEachModuleIsLoadedOnceInOrder) {
  const std::string cpus = FirstCpus(2).empty() ? FirstCpus(1) : FirstCpus(2);
  const int workers = FirstCpus(2).empty() ? 1 : 2;
  const std::string suffix = kModuleSuffix;
  ServerProcess server({.cpus = cpus, .prepare = [&suffix](const std::string& work) {
                          WriteWholeFile(work + "/vesk1_extra" + suffix, "extra module bytes");
                          WriteWholeFile(work + "/vesk1notes.txt", "not a module");
                          WriteWholeFile(work + "/vesk1_longer" + suffix + "x", "not a module");
                          WriteWholeFile(work + "/other" + suffix, "not ours");
                          fs::create_directory(work + "/vesk1_folder" + suffix);
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
    EXPECT_EQ((std::vector<std::string>{kModuleFile, "vesk1_extra" + suffix}), names) << dir;
    EXPECT_EQ(module, ReadWholeFile(dir + "/" + kModuleFile));
    EXPECT_EQ("extra module bytes", ReadWholeFile(dir + "/vesk1_extra" + suffix));
    expectedLog += WorkerDirectoryText(n) + "\n";
  }
  EXPECT_FALSE(fs::exists(server.WorkDirectory() + "/" + std::to_string(workers + 1)));
  EXPECT_EQ(expectedLog, ReadWholeFile(server.WorkDirectory() + "/load.log"));
  client::Close(connection);
}

TEST(Startup_Workers, ExistingDirectoryIsUsedAsItIs) {
  ServerProcess server({.cpus = FirstCpus(1), .prepare = [](const std::string& work) {
                          fs::create_directory(work + "/1");
                          fs::copy_file(TestModulePath(), work + "/1/" + kModuleFile);
                          WriteWholeFile(work + "/1/kept.txt", "left alone");
                          WriteWholeFile(work + "/vesk1_extra" + std::string(kModuleSuffix),
                                         "would be copied");
                        }});
  client::Connection connection = server.Connect();
  EXPECT_EQ("left alone", ReadWholeFile(server.WorkDirectory() + "/1/kept.txt"));
  EXPECT_FALSE(fs::exists(server.WorkDirectory() + "/1/vesk1_extra" + kModuleSuffix));
  EXPECT_EQ(WorkerDirectoryText(1) + "\n", ReadWholeFile(server.WorkDirectory() + "/load.log"));
  const PipeReply reply = RoundTrip(connection, EchoRequest(3));
  EXPECT_EQ(1002u, client::EntryLowWord(reply, 2));
  client::Close(connection);
}

// Makes the install's module folder of the server whose working directory is `work` and puts
// `module` into it under the name a worker loads.
void Install(const std::string& work, const std::string& module) {
  const std::string installed = InstalledModuleDirectoryIn(fs::path(work).parent_path().string());
  fs::create_directories(installed);
  fs::copy_file(module, installed + kModuleFile);
}

// A first run of an installed server in an empty directory: new worker directories get the
// install's module files, and start-up says where they came from.
TEST(Startup_Workers, WithoutModuleFilesHereTheInstallsAreTaken) {
  ServerProcess server(
      {.cpus = FirstCpus(1),
       .copyModule = false,
       .installedCopy = true,
       .prepare = [](const std::string& work) { Install(work, TestModulePath()); }});
  client::Connection connection = server.Connect();
  ASSERT_TRUE(server.WaitForOutput("Waiting for command...\n", 10000)) << server.Output();
  EXPECT_EQ(server.PipePath() + "\nNo vesk1*" + kModuleSuffix +
                " files in the current directory; new worker directories get theirs from " +
                InstalledModuleDirectoryIn(server.Root()) + "." + Banner("", "7") + kConnected,
            server.Output());
  EXPECT_EQ(ReadWholeFile(TestModulePath()),
            ReadWholeFile(server.WorkDirectory() + "/1/" + kModuleFile));
  EXPECT_EQ(1002u, client::EntryLowWord(RoundTrip(connection, EchoRequest(3)), 2));
  client::Close(connection);
}

// Module files in the current directory win over the install's, which are never loaded.
TEST(Startup_Workers, ModuleFilesHereWinOverTheInstalls) {
  ServerProcess server(
      {.cpus = FirstCpus(1), .installedCopy = true, .prepare = [](const std::string& work) {
         Install(work, PlantedModulePath());
       }});
  client::Connection connection = server.Connect();
  ASSERT_TRUE(server.WaitForOutput("Waiting for command...\n", 10000)) << server.Output();
  EXPECT_EQ(Banner(server.PipePath(), "7") + kConnected, server.Output());
  EXPECT_EQ(1000u, client::EntryLowWord(RoundTrip(connection, EchoRequest(1)), 0));
  EXPECT_FALSE(fs::exists(server.WorkDirectory() + "/planted.mark"));
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
  fs::rename(dir + "partial", dir + kModuleFile);
  client::Connection connection = server.Connect();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  EXPECT_GE(seconds, 1.5);
  EXPECT_LT(seconds, 8.0);
  EXPECT_EQ(WorkerDirectoryText(1) + "\n", ReadWholeFile(server.WorkDirectory() + "/load.log"));
  const PipeReply reply = RoundTrip(connection, EchoRequest(2));
  EXPECT_EQ(1001u, client::EntryLowWord(reply, 1));
  client::Close(connection);
}

// A pause after a successful load would make W workers take W seconds.
TEST(Startup_Workers, SuccessfulLoadsDoNotWait) {
  const auto started = std::chrono::steady_clock::now();
  const bool two = !FirstCpus(2).empty();
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

// The server serves one client for its whole life: once it has one, a second is turned away
// (at once on POSIX, after the client's short wait for a free pipe on Windows) and the first
// goes on being served.
TEST(Startup_Pipe, SecondClientIsTurnedAway) {
  ServerProcess server({.cpus = FirstCpus(1)});
  client::Connection first = server.Connect();
  ASSERT_TRUE(server.WaitForOutput("Connected. Waiting for command...\n", 10000));
  client::Connection second;
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(client::ClientStatus::kBusy, client::Connect(server.PipePath(), second));
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  EXPECT_LT(seconds, 5.0);
  EXPECT_EQ(1000u, client::EntryLowWord(RoundTrip(first, EchoRequest(1)), 0));
  client::Close(first);
}

}  // namespace
}  // namespace vesk1::test
