// The client's side of the pipe on Linux and other POSIX systems: a Unix domain socket.
#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "client.h"

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

}  // namespace

const bool kPipesReachOtherHosts = false;

std::string SystemErrorText(int code) {
  return std::strerror(code);
}

std::string PipePathFor(int instance) {
  const char* tmp = std::getenv("TMPDIR");
  const std::string dir = (tmp != nullptr && tmp[0] != '\0') ? tmp : "/tmp";
  return dir + "/$VESK_PIPE" + std::to_string(instance) + "$";
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
    return (connection.lastError == ENOENT || connection.lastError == ECONNREFUSED)
               ? ClientStatus::kNoServer
               : ClientStatus::kFailed;
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

}  // namespace vesk1::client
