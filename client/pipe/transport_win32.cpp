// The client's side of the pipe on Windows: the server's named pipe, opened as a file.
//
// A pipe handle travels in Connection::fd. Windows keeps handles within 32 bits so that 32- and
// 64-bit processes can share them, and documents that truncating one to 32 bits and
// sign-extending it back gives the same handle.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <io.h>
#include <windows.h>

#include <cstdint>
#include <string>

#include "client/pipe/transport.h"
#include "common/pipe_name.h"
#include "common/wide_text.h"

namespace vesk1::client {
namespace {

// How long Connect waits for a busy pipe instance to be free before giving up.
constexpr DWORD kBusyWaitMilliseconds = 2000;

HANDLE AsHandle(int fd) {
  return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(fd));
}

using common::Widen;

bool IsHangUp(DWORD error) {
  return error == ERROR_BROKEN_PIPE || error == ERROR_NO_DATA || error == ERROR_PIPE_NOT_CONNECTED;
}

// Waits until the pipe holds data or has been closed by the server; false when the deadline
// (a GetTickCount64 value) passes first. A pipe handle cannot be waited on, so it is polled.
bool WaitReadable(HANDLE pipe, ULONGLONG deadline) {
  for (;;) {
    DWORD available = 0;
    if (!::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) || available > 0) {
      return true;  // data, or a failure the read that follows reports
    }
    if (::GetTickCount64() >= deadline) return false;
    ::Sleep(1);
  }
}

constexpr long kHungUp = -1;
constexpr long kReadFailed = -2;

// Reads what is there, up to `size` bytes: the count (0 for an empty write of the server's),
// kHungUp when the server closed the pipe, kReadFailed on another failure (its code in
// connection.lastError).
long ReadSome(Connection& connection, void* buffer, std::size_t size) {
  DWORD got = 0;
  if (::ReadFile(AsHandle(connection.fd), buffer, static_cast<DWORD>(size), &got, nullptr)) {
    return static_cast<long>(got);
  }
  const DWORD error = ::GetLastError();
  connection.lastError = static_cast<int>(error);
  return IsHangUp(error) ? kHungUp : kReadFailed;
}

}  // namespace

const bool kPipesReachOtherHosts = true;

std::string SystemErrorText(int code) {
  char text[512];
  const DWORD length =
      ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
  std::string message(text, length);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
    message.pop_back();
  }
  return message.empty() ? "error " + std::to_string(code) : message;
}

std::string PipePathFor(int instance) {
  return pipe_name::WindowsPipeName(instance);
}

ClientStatus ConnectToInstance(int instance, Connection& connection) {
  return Connect(PipePathFor(instance), connection);
}

ClientStatus Connect(const std::string& path, Connection& connection) {
  const std::wstring name = Widen(path);
  for (int attempt = 0; attempt < 2; ++attempt) {
    // Identification only: whoever holds the name learns who the client is but can never act
    // as it.
    const HANDLE pipe =
        ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                      SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
    if (pipe != INVALID_HANDLE_VALUE) {
      connection.fd = static_cast<int>(reinterpret_cast<std::intptr_t>(pipe));
      return ClientStatus::kOk;
    }
    const DWORD error = ::GetLastError();
    connection.lastError = static_cast<int>(error);
    if (error == ERROR_FILE_NOT_FOUND) return ClientStatus::kNoServer;
    if (error != ERROR_PIPE_BUSY) return ClientStatus::kFailed;
    // Every instance is serving another client: wait a little for one to be free.
    if (!::WaitNamedPipeW(name.c_str(), kBusyWaitMilliseconds)) {
      return ::GetLastError() == ERROR_FILE_NOT_FOUND ? ClientStatus::kNoServer
                                                      : ClientStatus::kBusy;
    }
  }
  return ClientStatus::kBusy;
}

void Close(Connection& connection) {
  if (connection.fd != -1) ::CloseHandle(AsHandle(connection.fd));
  connection.fd = -1;
}

ClientStatus SendBytes(Connection& connection, const void* bytes, std::size_t size) {
  const auto* data = static_cast<const unsigned char*>(bytes);
  std::size_t done = 0;
  while (done < size) {
    DWORD put = 0;
    if (!::WriteFile(AsHandle(connection.fd), data + done, static_cast<DWORD>(size - done), &put,
                     nullptr)) {
      const DWORD error = ::GetLastError();
      connection.lastError = static_cast<int>(error);
      return IsHangUp(error) ? ClientStatus::kClosed : ClientStatus::kFailed;
    }
    done += put;
  }
  return ClientStatus::kOk;
}

ClientStatus SendRequest(Connection& connection, const PipeRequest& request) {
  return SendBytes(connection, &request, sizeof request);
}

ClientStatus ReceiveReply(Connection& connection, PipeReply& reply, int timeoutMilliseconds) {
  const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(timeoutMilliseconds);
  auto* data = reinterpret_cast<unsigned char*>(&reply);
  std::size_t done = 0;
  while (done < sizeof reply) {
    if (timeoutMilliseconds >= 0 && !WaitReadable(AsHandle(connection.fd), deadline)) {
      return ClientStatus::kTimedOut;
    }
    const long got = ReadSome(connection, data + done, sizeof reply - done);
    if (got == kHungUp) return ClientStatus::kClosed;
    if (got == kReadFailed) return ClientStatus::kFailed;
    done += static_cast<std::size_t>(got);
  }
  return ClientStatus::kOk;
}

ClientStatus WaitForClose(Connection& connection, int timeoutMilliseconds) {
  const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(timeoutMilliseconds);
  unsigned char sink[4096];
  for (;;) {
    if (!WaitReadable(AsHandle(connection.fd), deadline)) return ClientStatus::kTimedOut;
    if (ReadSome(connection, sink, sizeof sink) < 0) return ClientStatus::kOk;  // server gone
  }
}

bool IsTerminal(std::FILE* stream) {
  return _isatty(_fileno(stream)) != 0;
}

std::string ProgramDirectory(const char* argv0) {
  char buffer[MAX_PATH * 2];
  const DWORD length = ::GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  std::string path = length > 0 && length < sizeof buffer ? std::string(buffer, length)
                     : argv0 != nullptr                   ? std::string(argv0)
                                                          : std::string();
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace vesk1::client
