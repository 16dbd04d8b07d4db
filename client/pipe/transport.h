// The client's side of the pipe to vesk1_pipe: connect by instance number, send requests,
// receive replies, stop the server. A Unix domain socket on POSIX systems, the named pipe on
// Windows; transport_posix.cpp and transport_win32.cpp hold the two, transport.cpp what they
// share. The server's tests talk to it through this header too.
#ifndef VESK1_CLIENT_PIPE_TRANSPORT_H
#define VESK1_CLIENT_PIPE_TRANSPORT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "vesk1/module.h"

namespace vesk1::client {

enum class ClientStatus {
  kOk = 0,
  kNoServer,  // nobody listens at the pipe's name
  kClosed,    // the server closed the pipe (or ended) before the transfer was complete
  kTimedOut,  // no reply within the time given
  kFailed,    // any other system failure; Connection::lastError holds the system's code
  kBusy,      // the server lives but already serves its one client
  kRefused,   // the pipe's directory or the server is not this user's own (or is open to
              // others); Connection::problem says what is wrong
};

const char* StatusText(ClientStatus status);

struct Connection {
  int fd = -1;          // the socket; on Windows the pipe's handle, which fits 32 bits
  int lastError = 0;    // the system's code of the last failure: errno or GetLastError()
  std::string problem;  // with kRefused: what is wrong, as a sentence naming the place
};

// The system's text for a code of Connection::lastError.
std::string SystemErrorText(int code);

// The pipe's path for an instance, as common/pipe_name.h composes it: the socket in this user's
// private directory, "${TMPDIR:-/tmp}/vesk1-<uid>/$VESK_PIPE<instance>$", on Windows
// "\\.\pipe\$VESK_PIPE<instance>$".
std::string PipePathFor(int instance);

// The pipe at `localPath` ("\\.\pipe\$VESK_PIPE7$") as another Windows machine's:
// "\\node1\pipe\$VESK_PIPE7$" for host "node1". A path not of that form is returned as it is.
std::string PipePathOnHost(const std::string& localPath, const std::string& host);
// Whether this system's pipes can be reached from other machines: Windows named pipes can,
// Unix domain sockets cannot.
extern const bool kPipesReachOtherHosts;

// Connects to the pipe at `path`. A server of another user is refused (kRefused; POSIX asks
// the socket's peer credentials, Windows lets the server only identify the client, never act
// as it); a live server that no longer accepts clients gives kBusy.
ClientStatus Connect(const std::string& path, Connection& connection);
// Connects to the pipe of `instance`. POSIX first makes this user's private socket directory
// with mode 0700 when it is missing, and refuses it (kRefused) unless it is a directory of this
// user closed to group and others.
ClientStatus ConnectToInstance(int instance, Connection& connection);
// Connects as a command line asks: to `socketPath` when it is not empty, otherwise to the pipe
// of `instance`. `path` receives the pipe's path, for messages.
ClientStatus ConnectAsAsked(int instance, const std::string& socketPath, Connection& connection,
                            std::string& path);
void Close(Connection& connection);

// The folder of the running program with its trailing separator, found from the system rather
// than argv[0] (which has no folder when the program was found through PATH); `argv0`'s folder
// where the system cannot tell; empty when neither can.
std::string ProgramDirectory(const char* argv0);

// Whether a stream of this process writes to a terminal (the console on Windows), where a
// progress line may be redrawn in place.
bool IsTerminal(std::FILE* stream);

// Sends raw bytes: requests written in pieces, or truncated ones.
ClientStatus SendBytes(Connection& connection, const void* bytes, std::size_t size);
ClientStatus SendRequest(Connection& connection, const PipeRequest& request);
// Waits for one whole reply; timeoutMilliseconds < 0 waits for ever.
ClientStatus ReceiveReply(Connection& connection, PipeReply& reply, int timeoutMilliseconds = -1);
// Sends `requests` and receives their replies in order, replies[k] to requests[k] (both of one
// size), the next request going out before the last reply has come, so that the server never
// waits for the client between them. The server reads one request at a time and writes each
// reply before it reads the next; a Windows pipe buffers two requests one way and one reply the
// other, so with at most kRequestsInFlight requests unanswered neither side can wait on the
// other for ever. The first failure ends the exchange and is returned; replies from there on
// are not filled.
inline constexpr std::size_t kRequestsInFlight = 2;
ClientStatus ExchangeInOrder(Connection& connection, std::span<const PipeRequest> requests,
                             std::span<PipeReply> replies, int timeoutMilliseconds = -1);
// A connection as the engines that ask the server use it: every exchange keeps its status, and
// a failure comes back as "the server: " and the status's text.
class ServerLink {
 public:
  ServerLink(Connection& connection, int timeoutMs)
      : connection_(connection), timeoutMs_(timeoutMs) {}
  ClientStatus status() const { return status_; }
  // One request and its reply.
  bool Exchange(const PipeRequest& request, PipeReply& reply, std::string& error);
  // ExchangeInOrder, `replies` sized to the requests.
  bool ExchangeAll(const std::vector<PipeRequest>& requests, std::vector<PipeReply>& replies,
                   std::string& error);

 private:
  bool Failed(std::string& error) const;

  Connection& connection_;
  int timeoutMs_;
  ClientStatus status_ = ClientStatus::kOk;
};

// Waits until the server closes the pipe (its process ended); kTimedOut if it does not.
ClientStatus WaitForClose(Connection& connection, int timeoutMilliseconds);

// A request with the magic set and everything else zero.
PipeRequest NewRequest();
// Sets the items from float32 values and itemCount to their number (at most 287 are stored).
void SetFloatItems(PipeRequest& request, std::span<const float> values);
// Sets the items from raw 32-bit words and itemCount to their number.
void SetWordItems(PipeRequest& request, std::span<const std::uint32_t> words);
// The stop command: item 0 is -999.0 as float32; itemCount is left as given.
PipeRequest StopRequest(std::int32_t itemCount = 1);

// The 8-byte entry k of a reply, as stored.
std::uint64_t EntryBits(const PipeReply& reply, int k);
std::uint32_t EntryLowWord(const PipeReply& reply, int k);
std::uint32_t EntryHighWord(const PipeReply& reply, int k);

}  // namespace vesk1::client

#endif  // VESK1_CLIENT_PIPE_TRANSPORT_H
