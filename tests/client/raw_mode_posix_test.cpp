// vesk1_client on POSIX systems: the socket's private directory and the server's user.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "common/pipe_name.h"
#include "run_client.h"
#include "server_harness.h"
#include "socket_directory_cases.h"

namespace vesk1::test {
namespace {

namespace fs = std::filesystem;

// A scratch directory to serve as TMPDIR, removed at the end.
class ClientPlace : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "vesk1-client-XXXXXX").string();
    ASSERT_NE(nullptr, ::mkdtemp(pattern.data()));
    tmp_ = pattern;
    directory_ = pipe_name::SocketDirectory(tmp_.c_str(), ::geteuid());
  }
  void TearDown() override { fs::remove_all(tmp_); }
  std::string tmp_;
  std::string directory_;
};

// The client makes the private directory when it is missing, as the server does.
TEST_F(ClientPlace, MissingDirectoryIsMadePrivate) {
  const SpawnResult result = RunClientProgram(tmp_, {}, "7 --items 1");
  EXPECT_EQ(3, result.exitStatus) << result.errors;
  struct stat info {};
  ASSERT_EQ(0, ::lstat(directory_.c_str(), &info));
  EXPECT_TRUE(S_ISDIR(info.st_mode));
  EXPECT_EQ(0700u, info.st_mode & 07777u);
  EXPECT_EQ(::geteuid(), info.st_uid);
}

// An unfit directory is refused in every mode, with the server's words for what is wrong.
TEST_F(ClientPlace, UnfitDirectoryIsRefusedInEveryMode) {
  WriteWholeFile(tmp_ + "/model.txt", "100\n");
  const std::vector<std::string> requests = {};
  const std::vector<std::string> sounding = {"sounding", "--model", tmp_ + "/model.txt"};
  for (const SocketDirectoryCase& c : UnfitSocketDirectories()) {
    if (c.needsRoot && ::geteuid() != 0) continue;
    fs::remove_all(directory_);
    fs::remove_all(directory_ + "-real");
    c.make(directory_);
    for (const std::vector<std::string>& mode : {requests, sounding}) {
      const SpawnResult result = RunClientProgram(tmp_, mode, mode.empty() ? "7 --items 1" : "7");
      EXPECT_EQ(7, result.exitStatus) << c.name << "\n" << result.errors;
      EXPECT_NE(std::string::npos, result.errors.find("Refusing the socket directory " +
                                                      directory_ + ": " + c.why + "\n"))
          << c.name << "\n"
          << result.errors;
    }
  }
}

// A listener of another user at the pipe's path is refused before anything is sent to it, and
// whatever it would answer is never printed.
TEST_F(ClientPlace, ServerOfAnotherUserIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can listen as another user here";
  ASSERT_EQ(0, ::mkdir(directory_.c_str(), 0700));
  const std::string path = pipe_name::SocketPath(directory_, 7);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, path.c_str());
  int ready[2];
  ASSERT_EQ(0, ::pipe(ready));
  const pid_t child = ::fork();
  if (child == 0) {
    // Bound as root in root's directory, listening as nobody: the socket's credentials are
    // those of the listener. It answers every request with a well-formed reply.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) ::_exit(2);
    if (::setgid(65534) != 0 || ::setuid(65534) != 0 || ::listen(fd, 1) != 0) ::_exit(3);
    ::write(ready[1], "r", 1);
    const int client = ::accept(fd, nullptr, nullptr);
    PipeRequest request;
    if (::read(client, &request, sizeof request) > 0) {
      PipeReply reply{};
      reply.magic = static_cast<float>(RecordMagic);
      reply.elapsedMs = 1.0f;
      ::write(client, &reply, sizeof reply);
    }
    ::pause();
    ::_exit(0);
  }
  ::close(ready[1]);
  char byte = 0;
  ASSERT_EQ(1, ::read(ready[0], &byte, 1));
  ::close(ready[0]);
  const SpawnResult result = RunClientProgram(tmp_, {}, "7 --items 1");
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  EXPECT_EQ(7, result.exitStatus) << result.output << result.errors;
  EXPECT_EQ("", result.output);
  EXPECT_NE(std::string::npos,
            result.errors.find("Refusing the server at " + path +
                               ": it runs as user 65534, not as this user (0)\n"))
      << result.errors;
}

}  // namespace
}  // namespace vesk1::test
