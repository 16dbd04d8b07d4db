// Start-up on POSIX systems: the socket file behind the pipe's name.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "server_harness.h"

namespace vesk1::test {
namespace {

namespace fs = std::filesystem;

TEST(Startup_Pipe, SocketFileIsPrivateToTheOwner) {
  ServerProcess server;
  ASSERT_TRUE(server.WaitForOutput("Waiting for connect...\n", 30000)) << server.Output();
  struct stat info {};
  ASSERT_EQ(0, ::stat(server.PipePath().c_str(), &info));
  EXPECT_TRUE(S_ISSOCK(info.st_mode));
  EXPECT_EQ(0600u, info.st_mode & 0777u);
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
