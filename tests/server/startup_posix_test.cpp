// Start-up on POSIX systems: the socket file behind the pipe's name, its private directory and
// its lock, a console that goes away, and worker directories that are unsafe to load code from.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>

#include "common/pipe_name.h"
#include "server_harness.h"
#include "socket_directory_cases.h"

namespace vesk1::test {
namespace {

namespace fs = std::filesystem;

// The private socket directory that a server with TMPDIR `tmp` uses.
std::string SocketDirectoryIn(const std::string& tmp) {
  return pipe_name::SocketDirectory(tmp.c_str(), ::geteuid());
}

TEST(Startup_Pipe, SocketFileIsPrivateToTheOwner) {
  ServerProcess server;
  ASSERT_TRUE(server.WaitForOutput("Waiting for connect...\n", 30000)) << server.Output();
  EXPECT_EQ(server.Root() + "/vesk1-" + std::to_string(::geteuid()) + "/$VESK_PIPE7$",
            server.PipePath());
  struct stat info {};
  ASSERT_EQ(0, ::stat(server.PipePath().c_str(), &info));
  EXPECT_TRUE(S_ISSOCK(info.st_mode));
  EXPECT_EQ(0600u, info.st_mode & 0777u);
  // The directory the server made holds it, closed to everybody but its owner.
  ASSERT_EQ(0, ::lstat(SocketDirectoryIn(server.Root()).c_str(), &info));
  EXPECT_TRUE(S_ISDIR(info.st_mode));
  EXPECT_EQ(0700u, info.st_mode & 07777u);
  EXPECT_EQ(::geteuid(), info.st_uid);
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
      const std::string directory = SocketDirectoryIn(fs::path(work).parent_path().string());
      ASSERT_EQ(0, ::mkdir(directory.c_str(), 0700));
      const std::string path = directory + "/$VESK_PIPE7$";
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
      const std::string directory = SocketDirectoryIn(fs::path(work).parent_path().string());
      ASSERT_EQ(0, ::mkdir(directory.c_str(), 0700));
      WriteWholeFile(directory + "/$VESK_PIPE7$", "somebody's file");
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

// The lock belongs to the lock file, not to the text of its path: a second server that spells
// the first one's TMPDIR otherwise still finds it alive, ends with status 0 without touching
// it, and the first goes on to serve its client.
TEST(Startup_Pipe, LiveServerIsFoundWhateverTheSpellingOfItsDirectory) {
  ServerProcess first({.instance = 7, .cpus = FirstCpus(1)});
  ASSERT_TRUE(first.WaitForOutput("Waiting for connect...\n", 30000)) << first.Output();
  fs::create_directory_symlink(first.Root(), first.Root() + "/link");
  // ".." is the root seen from the server's working directory, root/work.
  for (const std::string& spelling :
       {first.Root() + "/", first.Root() + "//", first.Root() + "/link", std::string("..")}) {
    ServerProcess second({.instance = 7,
                          .cpus = FirstCpus(1),
                          .sharedRoot = first.Root(),
                          .tmpDirectory = spelling});
    const auto result = second.WaitForExit(30000);
    ASSERT_TRUE(result.has_value()) << spelling;
    EXPECT_TRUE(result->exited) << spelling;
    EXPECT_EQ(0, result->code) << spelling;
    EXPECT_NE(std::string::npos,
              second.Output().find("CreateNamedPipe: Error " + std::to_string(EADDRINUSE) + "\n"))
        << spelling << "\n"
        << second.Output();
  }
  client::Connection connection = first.Connect();
  EXPECT_EQ(1000u, client::EntryLowWord(RoundTrip(connection, EchoRequest(1)), 0));
  EXPECT_EQ(std::string::npos, first.Output().find("ReadFile")) << first.Output();
  client::Close(connection);
}

// The same relative TMPDIR in two working directories names two directories, so two servers.
TEST(Startup_Pipe, RelativeTmpdirInTwoWorkDirectoriesGivesTwoPipes) {
  ServerProcess a({.instance = 7, .cpus = FirstCpus(1), .tmpDirectory = "."});
  ServerProcess b({.instance = 7, .cpus = FirstCpus(1), .tmpDirectory = "."});
  client::Connection ca = a.Connect();
  client::Connection cb = b.Connect();
  EXPECT_EQ(1002u, client::EntryLowWord(RoundTrip(ca, EchoRequest(3, 1000)), 2));
  EXPECT_EQ(2002u, client::EntryLowWord(RoundTrip(cb, EchoRequest(3, 2000)), 2));
  EXPECT_EQ(0u, a.Output().find("./vesk1-" + std::to_string(::geteuid()) + "/$VESK_PIPE7$\n"))
      << a.Output();
  client::Close(ca);
  client::Close(cb);
}

// A socket directory that is not this user's private one is refused with a message that names
// it and says what is wrong; nothing is created in it.
TEST(Startup_Pipe, UnfitSocketDirectoryIsRefused) {
  for (const SocketDirectoryCase& c : UnfitSocketDirectories()) {
    if (c.needsRoot && ::geteuid() != 0) continue;
    ServerProcess server({.cpus = FirstCpus(1), .prepare = [&c](const std::string& work) {
                            c.make(SocketDirectoryIn(fs::path(work).parent_path().string()));
                          }});
    const auto result = server.WaitForExit(30000);
    ASSERT_TRUE(result.has_value()) << c.name;
    EXPECT_TRUE(result->exited) << c.name;
    EXPECT_EQ(0, result->code) << c.name;
    EXPECT_EQ(server.PipePath() +
                  "\n(VESK_PIPE SERVER 7)\nV_TORMIK\nRefusing the socket directory " +
                  SocketDirectoryIn(server.Root()) + ": " + c.why + ".\nCreateNamedPipe: Error " +
                  std::to_string(c.code) + "\n",
              server.Output())
        << c.name;
    EXPECT_FALSE(fs::exists(fs::symlink_status(server.PipePath()))) << c.name;
  }
}

// A supervisor that stops reading the console mid-session does not end the server: each job's
// line goes nowhere, and every job is still answered.
TEST(Startup_Console, ClosedConsoleDoesNotEndTheServer) {
  ServerProcess server({.cpus = FirstCpus(1), .closeConsoleAfter = "Waiting for connect...\n"});
  client::Connection connection;
  ASSERT_EQ(client::ClientStatus::kOk, client::Connect(server.PipePath(), connection))
      << server.Output();
  for (std::uint32_t first : {100u, 200u, 300u}) {
    EXPECT_EQ(first + 1, client::EntryLowWord(RoundTrip(connection, EchoRequest(2, first)), 1));
  }
  ASSERT_EQ(client::ClientStatus::kOk, client::SendRequest(connection, client::StopRequest()));
  const auto result = server.WaitForExit(10000);
  ASSERT_TRUE(result.has_value());
  EXPECT_TRUE(result->exited) << "ended by signal " << result->code;
  EXPECT_EQ(1, result->code);
  client::Close(connection);
}

// A supervisor that stops reading without closing fills the console pipe: the messages that no
// longer fit are dropped, and every job is still answered.
TEST(Startup_Console, StalledConsoleDoesNotStopTheServer) {
  ServerProcess server({.cpus = FirstCpus(1),
                        .closeConsoleAfter = "Waiting for connect...\n",
                        .stallConsole = true});
  client::Connection connection;
  ASSERT_EQ(client::ClientStatus::kOk, client::Connect(server.PipePath(), connection))
      << server.Output();
  // Some 35 bytes of console per job: 3000 jobs are more than a pipe holds (64 KiB on Linux).
  for (std::uint32_t first = 0; first < 3000; ++first) {
    ASSERT_EQ(first, client::EntryLowWord(RoundTrip(connection, EchoRequest(1, first), 10000), 0));
  }
  ASSERT_EQ(client::ClientStatus::kOk, client::SendRequest(connection, client::StopRequest()));
  const auto result = server.WaitForExit(10000);
  ASSERT_TRUE(result.has_value());
  EXPECT_TRUE(result->exited);
  EXPECT_EQ(1, result->code);
  client::Close(connection);
}

// Even when another user can reach the socket (here through loosened permissions), the server
// hangs up on a client of another user and goes on waiting for its own.
TEST(Startup_Pipe, ClientOfAnotherUserIsHungUpOn) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can run a client as another user";
  ServerProcess server({.cpus = FirstCpus(1)});
  ASSERT_TRUE(server.WaitForOutput("Waiting for connect...\n", 30000)) << server.Output();
  const std::string path = server.PipePath();
  ::chmod(server.Root().c_str(), 0711);
  ::chmod(SocketDirectoryIn(server.Root()).c_str(), 0711);
  ::chmod(path.c_str(), 0666);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, path.c_str());

  const pid_t child = ::fork();
  if (child == 0) {
    // As user nobody: 0 when the server hung up, 3 when it could not be reached at all.
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) ::_exit(3);
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, 10000) != 1) ::_exit(4);
    char byte;
    ::_exit(::read(fd, &byte, 1) == 0 ? 0 : 5);
  }
  int status = 0;
  ASSERT_EQ(child, ::waitpid(child, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 3) GTEST_SKIP() << "user nobody cannot reach " << path;
  EXPECT_EQ(0, WEXITSTATUS(status)) << server.Output();
  EXPECT_NE(std::string::npos,
            server.Output().find("Waiting for connect...\nRefused a client of user 65534: only "
                                 "user 0 may connect.\n"))
      << server.Output();

  client::Connection connection = server.Connect();
  EXPECT_EQ(1000u, client::EntryLowWord(RoundTrip(connection, EchoRequest(1)), 0));
  EXPECT_TRUE(server.WaitForOutput("may connect.\n\nConnected. Waiting for command...\n", 10000));
  client::Close(connection);
}

// A user id no account of this machine has: the owner a hostile user's files would show.
constexpr uid_t kOtherUser = 4242;

// Puts the planted module into `directory` under the name a worker loads.
void Plant(const std::string& directory) {
  fs::create_directories(directory);
  fs::copy_file(PlantedModulePath(), directory + "/" + kModuleFile);
}

// A reused worker directory that is not safe to load code from is refused with the reason and
// a hint, before anything in it is loaded; a refused worker is one whose module did not load.
TEST(Startup_Workers, UnsafeReusedDirectoryIsRefusedAndNothingInItRuns) {
  struct Case {
    std::function<void(const std::string& worker)> make;  // makes ./1/
    std::string why;
  };
  const Case cases[] = {
      {[](const std::string& w) {
         Plant(w + "-elsewhere");
         fs::create_directory_symlink(w + "-elsewhere", w);
       },
       "it is a symbolic link"},
      {[](const std::string& w) {
         Plant(w);
         fs::permissions(w + "/" + kModuleFile, fs::perms::group_write, fs::perm_options::add);
       },
       "vesk1_chzd.so in ./1/ is writable by group"},
  };
  for (const Case& c : cases) {
    ServerProcess server(
        {.cpus = FirstCpus(1), .prepare = [&c](const std::string& work) { c.make(work + "/1"); }});
    ASSERT_TRUE(server.WaitForExit(30000).has_value()) << c.why;
    EXPECT_EQ(server.PipePath() + "\nWorker 1 refused ./1/: " + c.why +
                  ". Remove ./1/ to have it made afresh.\nNo worker could load its module " +
                  kModuleFile + "; stopping.\n",
              server.Output());
    EXPECT_FALSE(fs::exists(server.WorkDirectory() + "/planted.mark")) << c.why;
  }
}

// As on a shared folder that everybody may write to: another user made ./1/ with a module of
// theirs before the server started. It is refused and never loaded; the server's own new
// directory serves.
TEST(Startup_Workers, AnotherUsersDirectoryIsRefusedAndOwnNewOnesServe) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can make a directory of another user";
  if (FirstCpus(2).empty()) GTEST_SKIP() << "needs two processors, one for each worker";
  ServerProcess server({.cpus = FirstCpus(2), .prepare = [](const std::string& work) {
                          fs::permissions(work, fs::perms::all | fs::perms::sticky_bit);
                          Plant(work + "/1");
                          ::lchown((work + "/1/" + kModuleFile).c_str(), kOtherUser, kOtherUser);
                          ::lchown((work + "/1").c_str(), kOtherUser, kOtherUser);
                        }});
  client::Connection connection = server.Connect();
  ASSERT_TRUE(server.WaitForOutput("Waiting for command...\n", 10000)) << server.Output();
  EXPECT_EQ(server.PipePath() + "\nWorker 1 refused ./1/: it belongs to user 4242, not to this " +
                "user (0). Remove ./1/ to have it made afresh.\n(VESK_PIPE SERVER 7)\nV_TORMIK\n" +
                "Waiting for connect...\n\nConnected. Waiting for command...\n",
            server.Output());
  const PipeReply reply = RoundTrip(connection, EchoRequest(2));
  EXPECT_EQ(EchoMarker(1, 1), client::EntryHighWord(reply, 1));  // worker 2 computed it
  EXPECT_FALSE(fs::exists(server.WorkDirectory() + "/planted.mark"));
  client::Close(connection);
}

// The install's files pass the same checks: one that group members may change is not copied.
TEST(Startup_Workers, UnsafeInstalledFileIsNotCopied) {
  ServerProcess server({.copyModule = false, .installedCopy = true, .prepare = [](auto& work) {
                          const std::string to = InstalledModuleDirectoryIn(work + "/..");
                          fs::create_directories(to);
                          fs::copy_file(TestModulePath(), to + kModuleFile);
                          WriteWholeFile(to + "vesk1_fdll.so", "library");
                          fs::permissions(to + "vesk1_fdll.so", fs::perms(0664));
                        }});
  ASSERT_TRUE(server.WaitForOutput("Waiting for connect...\n", 30000)) << server.Output();
  EXPECT_NE(std::string::npos,
            server.Output().find("\nvesk1_fdll.so in " + InstalledModuleDirectoryIn(server.Root()) +
                                 " is writable by group; it is not copied.\n"))
      << server.Output();
  EXPECT_FALSE(fs::exists(server.WorkDirectory() + "/1/vesk1_fdll.so"));
}

}  // namespace
}  // namespace vesk1::test
