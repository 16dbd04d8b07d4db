// The client's side of the pipe on Linux and other POSIX systems: a Unix domain socket.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "client/pipe/transport.h"
#include "common/pipe_place_posix.h"

namespace vesk1::client {
namespace {

std::int64_t NowMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Waits until the socket is readable; false on time-out.
bool WaitReadable(int fd, std::int64_t deadline) {
  if (deadline < 0) return true;
  for (;;) {
    const std::int64_t left = deadline - NowMilliseconds();
    if (left <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    const int rc = poll(&p, 1, static_cast<int>(left));
    if (rc > 0) return true;
    if (rc < 0 && errno != EINTR) return true;  // let recv report the failure
  }
}

// The user the process at the other end of the socket ran as when it started listening.
bool PeerUser(int fd, uid_t& user) {
#if defined(SO_PEERCRED)
  ucred credentials{};
  socklen_t size = sizeof credentials;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) return false;
  user = credentials.uid;
  return true;
#else
  gid_t group = 0;
  return getpeereid(fd, &user, &group) == 0;
#endif
}

// True when a live server holds the lock of the socket at `path`: a socket that refuses
// connections then belongs to a server that serves its one client, not to one that died.
bool ServerHoldsTheName(const std::string& path) {
  const int fd = open(pipe_name::LockPath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  struct flock whole {};
  whole.l_type = F_WRLCK;
  whole.l_whence = SEEK_SET;
  const bool held = fcntl(fd, F_GETLK, &whole) == 0 && whole.l_type != F_UNLCK;
  close(fd);
  return held;
}

}  // namespace

const bool kPipesReachOtherHosts = false;

std::string SystemErrorText(int code) {
  return std::strerror(code);
}

std::string PipePathFor(int instance) {
  return pipe_name::SocketPath(pipe_name::DefaultSocketDirectory(), instance);
}

ClientStatus ConnectToInstance(int instance, Connection& connection) {
  const std::string directory = pipe_name::DefaultSocketDirectory();
  if (const int refused = pipe_name::PreparePrivateDirectory(directory, connection.problem)) {
    connection.lastError = refused;
    return connection.problem.empty() ? ClientStatus::kFailed : ClientStatus::kRefused;
  }
  return Connect(pipe_name::SocketPath(directory, instance), connection);
}

ClientStatus Connect(const std::string& path, Connection& connection) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() + 1 > sizeof address.sun_path) {
    connection.lastError = ENAMETOOLONG;
    return ClientStatus::kFailed;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    connection.lastError = errno;
    return ClientStatus::kFailed;
  }
  int rc;
  do {
    rc = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    connection.lastError = errno;
    close(fd);
    if (connection.lastError == ECONNREFUSED && ServerHoldsTheName(path)) {
      return ClientStatus::kBusy;
    }
    return (connection.lastError == ENOENT || connection.lastError == ECONNREFUSED)
               ? ClientStatus::kNoServer
               : ClientStatus::kFailed;
  }
  uid_t serverUser = 0;
  if (!PeerUser(fd, serverUser)) {
    connection.lastError = errno;
    close(fd);
    return ClientStatus::kFailed;
  }
  if (serverUser != geteuid()) {
    // Whoever it is, it is not our server: nothing is sent to it.
    connection.problem = pipe_name::DescribeForeignServer(
        path, static_cast<unsigned long>(serverUser), static_cast<unsigned long>(geteuid()));
    close(fd);
    return ClientStatus::kRefused;
  }
  connection.fd = fd;
  return ClientStatus::kOk;
}

void Close(Connection& connection) {
  if (connection.fd >= 0) close(connection.fd);
  connection.fd = -1;
}

ClientStatus SendBytes(Connection& connection, const void* bytes, std::size_t size) {
  const auto* data = static_cast<const unsigned char*>(bytes);
  std::size_t done = 0;
  while (done < size) {
    // MSG_NOSIGNAL: a server that ended is reported, not a SIGPIPE.
    const ssize_t put = send(connection.fd, data + done, size - done, MSG_NOSIGNAL);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) {
      connection.lastError = errno;
      return (errno == EPIPE || errno == ECONNRESET) ? ClientStatus::kClosed
                                                     : ClientStatus::kFailed;
    }
    done += static_cast<std::size_t>(put);
  }
  return ClientStatus::kOk;
}

ClientStatus SendRequest(Connection& connection, const PipeRequest& request) {
  return SendBytes(connection, &request, sizeof request);
}

ClientStatus ReceiveReply(Connection& connection, PipeReply& reply, int timeoutMilliseconds) {
  const std::int64_t deadline =
      timeoutMilliseconds < 0 ? -1 : NowMilliseconds() + timeoutMilliseconds;
  auto* data = reinterpret_cast<unsigned char*>(&reply);
  std::size_t done = 0;
  while (done < sizeof reply) {
    if (!WaitReadable(connection.fd, deadline)) return ClientStatus::kTimedOut;
    const ssize_t got = recv(connection.fd, data + done, sizeof reply - done, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      connection.lastError = errno;
      return errno == ECONNRESET ? ClientStatus::kClosed : ClientStatus::kFailed;
    }
    if (got == 0) return ClientStatus::kClosed;
    done += static_cast<std::size_t>(got);
  }
  return ClientStatus::kOk;
}

ClientStatus WaitForClose(Connection& connection, int timeoutMilliseconds) {
  const std::int64_t deadline = NowMilliseconds() + timeoutMilliseconds;
  unsigned char sink[4096];
  for (;;) {
    if (!WaitReadable(connection.fd, deadline)) return ClientStatus::kTimedOut;
    const ssize_t got = recv(connection.fd, sink, sizeof sink, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return ClientStatus::kOk;  // end of stream or reset: the server is gone
  }
}

bool IsTerminal(std::FILE* stream) {
  return isatty(fileno(stream)) != 0;
}

std::string ProgramDirectory(const char* argv0) {
  std::string path;
  char buffer[4096];
  // Linux names the program's own file here; other systems fall back on argv[0].
  const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer);
  if (length > 0 && static_cast<size_t>(length) < sizeof buffer) {
    path.assign(buffer, static_cast<size_t>(length));
  } else if (argv0 != nullptr) {
    path = argv0;
  }
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace vesk1::client
