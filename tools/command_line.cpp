#include "command_line.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace vesk1::client {

const char* const kExitCodeHelp =
    R"(Exit status: 0 done; 2 bad command line or input; 3 no server listens; 4 the server closed
the pipe (it refused the request or ended) or sent no reply in time; 5 any other failure;
6 the server is already serving a client; 7 the pipe's directory or the server belongs to
another user, or the directory is open to others.
)";

int ExitCodeFor(ClientStatus status) {
  switch (status) {
    case ClientStatus::kOk:
      return kExitOk;
    case ClientStatus::kNoServer:
      return kExitNoServer;
    case ClientStatus::kClosed:
    case ClientStatus::kTimedOut:
      return kExitClosed;
    case ClientStatus::kBusy:
      return kExitBusy;
    case ClientStatus::kRefused:
      return kExitRefused;
    case ClientStatus::kFailed:
      break;
  }
  return kExitFailed;
}

int ReportConnectionFailure(const std::string& what, ClientStatus status,
                            const Connection& connection) {
  if (status == ClientStatus::kRefused && !connection.problem.empty()) {
    std::fprintf(stderr, "%s: %s\n", what.c_str(), connection.problem.c_str());
  } else if (status == ClientStatus::kFailed) {
    std::fprintf(stderr, "%s: %s (%s)\n", what.c_str(), StatusText(status),
                 SystemErrorText(connection.lastError).c_str());
  } else {
    std::fprintf(stderr, "%s: %s\n", what.c_str(), StatusText(status));
  }
  return ExitCodeFor(status);
}

bool IsHelpOption(const std::string& argument) {
  return argument == "--help" || argument == "-h";
}

bool LooksLikeInstance(const std::string& argument) {
  return argument.size() < 2 || argument[0] != '-' ||
         std::isdigit(static_cast<unsigned char>(argument[1])) != 0;
}

bool ParseInstance(const std::string& text, int& instance) {
  std::size_t start = (!text.empty() && (text[0] == '-' || text[0] == '+')) ? 1 : 0;
  if (start == text.size()) return false;
  for (std::size_t i = start; i < text.size(); ++i) {
    if (std::isdigit(static_cast<unsigned char>(text[i])) == 0) return false;
  }
  errno = 0;
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (errno != 0 || value < -2147483648LL || value > 2147483647LL) return false;
  instance = static_cast<int>(value);
  return true;
}

}  // namespace vesk1::client
