// vesk1_client without a mode: sends one raw request (or the stop command) to a running
// vesk1_pipe and prints the reply. See vesk1_client --help.
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "client/command_line.h"
#include "client/modes.h"
#include "client/pipe/transport.h"

namespace vesk1::client {
namespace {

constexpr const char* kProgram = "vesk1_client";

// How long the client waits for the server to end after a request it refuses.
constexpr int kRefusalWaitMilliseconds = 5000;

constexpr const char* kUsage = R"(Usage: vesk1_client [options] <instance>
       vesk1_client sounding [options] <instance>   (see vesk1_client sounding --help)
       vesk1_client data [options] FILE             (see vesk1_client data --help)
       vesk1_client invert --data FILE [options] <instance>  (see vesk1_client invert --help)
       vesk1_client sample --data FILE [options] <instance>  (see vesk1_client sample --help)
       vesk1_client profile [options] <instance> FILE...     (see vesk1_client profile --help)

Sends a request to the vesk1_pipe server with the given instance number over its pipe and
prints the reply: one line per entry, then the elapsed time the server measured. The pipe is
the socket "${TMPDIR:-/tmp}/vesk1-<uid>/$VESK_PIPE<instance>$" in a directory private to the
user (made with mode 0700 when missing, refused unless it is this user's and closed to group
and others; a server of another user is refused too), on Windows "\\.\pipe\$VESK_PIPE<instance>$".
The server serves one client for its whole life: a second client is turned away, and when
this program ends without --stop, the server ends too, as its client has gone.

Options:
  --items LIST     items as float32 numbers, comma-separated (e.g. 1,2.5,-3)
  --words LIST     items as raw 32-bit words, comma-separated (decimal or 0x hex)
  --count N        itemCount to send (default: the number of items given); 0 sends a request
                   the server ignores, so no reply is awaited; one outside 0 to 255 the server
                   refuses by ending
  --select FLAGS   module calls per job, comma-separated from first,second,third, or none
                   (default: first)
  --data FILE      module data: the file's first bytes (at most 1520) from request byte 0
  --format F       entries as hex (default; the 8 bytes in stored order), float (two float32)
                   or double
  --repeat K       send the request K times, printing every reply (default 1)
  --timeout MS     give up waiting for a reply after MS milliseconds (default: wait)
  --host NAME      on Windows, the server's pipe on machine NAME ("\\NAME\pipe\$VESK_PIPE<n>$";
                   "." and localhost are this machine); elsewhere only this machine
  --socket PATH    connect to PATH (a socket, or a pipe name on Windows) instead of the
                   instance's pipe
  --stop           then send the stop command (item 0 = -999.0) and wait for the server to
                   end; alone, only stops the server
  -h, --help       print this text
)";

struct Options {
  std::vector<std::uint32_t> words;
  bool countGiven = false;
  long count = 0;
  int selectFirst = 1, selectSecond = 0, selectThird = 0;
  std::string dataFile;
  std::string format = "hex";
  long repeat = 1;
  int timeoutMs = -1;
  std::string socketPath;
  std::string host;
  bool stop = false;
  bool help = false;
  bool haveInstance = false;
  int instance = 0;
};

int UsageError(const std::string& message) {
  return client::UsageError(kProgram, message);
}

std::vector<std::string> SplitList(const std::string& list) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = list.find(',', start);
    parts.push_back(list.substr(start, comma == std::string::npos ? comma : comma - start));
    if (comma == std::string::npos) return parts;
    start = comma + 1;
  }
}

bool ParseLong(const std::string& text, long& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtol(text.c_str(), &end, 0);
  return errno == 0 && *end == '\0';
}

bool ParseFloatItems(const std::string& list, std::vector<std::uint32_t>& words) {
  for (const std::string& part : SplitList(list)) {
    if (part.empty()) return false;
    char* end = nullptr;
    const float value = std::strtof(part.c_str(), &end);
    if (*end != '\0') return false;
    std::uint32_t word;
    std::memcpy(&word, &value, 4);
    words.push_back(word);
  }
  return true;
}

bool ParseWordItems(const std::string& list, std::vector<std::uint32_t>& words) {
  for (const std::string& part : SplitList(list)) {
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(part.c_str(), &end, 0);
    if (part.empty() || *end != '\0' || errno != 0 || value < INT32_MIN || value > UINT32_MAX) {
      return false;
    }
    words.push_back(static_cast<std::uint32_t>(value));
  }
  return true;
}

// Returns kGoOn when the command line is good, otherwise the exit status.
int ParseCommandLine(int argc, char** argv, Options& options) {
  Arguments args(kProgram, argc, argv);
  while (args.Next()) {
    const std::string arg = args.word();
    auto value = [&](std::string& out) {
      const char* taken = args.TakeValue();
      if (taken == nullptr) return false;
      out = taken;
      return true;
    };
    std::string text;
    if (IsHelpOption(arg)) {
      options.help = true;
    } else if (arg == "--stop") {
      options.stop = true;
    } else if (arg == "--items") {
      if (!value(text) || !ParseFloatItems(text, options.words)) {
        return UsageError("--items needs float numbers separated by commas");
      }
    } else if (arg == "--words") {
      if (!value(text) || !ParseWordItems(text, options.words)) {
        return UsageError("--words needs 32-bit integers separated by commas");
      }
    } else if (arg == "--count") {
      if (!value(text) || !ParseLong(text, options.count) || options.count < INT32_MIN ||
          options.count > INT32_MAX) {
        return UsageError("--count needs a 32-bit integer");
      }
      options.countGiven = true;
    } else if (arg == "--select") {
      if (!value(text)) return UsageError("--select needs a list");
      options.selectFirst = options.selectSecond = options.selectThird = 0;
      for (const std::string& flag : SplitList(text)) {
        if (flag == "first") {
          options.selectFirst = 1;
        } else if (flag == "second") {
          options.selectSecond = 1;
        } else if (flag == "third") {
          options.selectThird = 1;
        } else if (flag != "none") {
          return UsageError("--select takes first, second, third or none");
        }
      }
    } else if (arg == "--data") {
      if (!value(options.dataFile)) return UsageError("--data needs a file");
    } else if (arg == "--format") {
      if (!value(options.format) ||
          (options.format != "hex" && options.format != "float" && options.format != "double")) {
        return UsageError("--format takes hex, float or double");
      }
    } else if (arg == "--repeat") {
      if (!value(text) || !ParseLong(text, options.repeat) || options.repeat < 1) {
        return UsageError("--repeat needs a positive number");
      }
    } else if (arg == "--timeout") {
      long ms = 0;
      if (!value(text) || !ParseLong(text, ms) || ms < 0 || ms > INT32_MAX) {
        return UsageError("--timeout needs milliseconds");
      }
      options.timeoutMs = static_cast<int>(ms);
    } else if (arg == "--host") {
      if (!value(options.host) || options.host.empty() ||
          options.host.find_first_of("\\/") != std::string::npos) {
        return UsageError("--host needs a host name");
      }
    } else if (arg == "--socket") {
      if (!value(options.socketPath)) return UsageError("--socket needs a path");
    } else if (!LooksLikeInstance(arg)) {
      return UsageError("unknown option " + arg);
    } else if (!options.haveInstance) {
      if (!ParseInstance(arg, options.instance)) {
        return UsageError("the instance must be a number, not \"" + arg + "\"");
      }
      options.haveInstance = true;
    } else {
      return UsageError("unexpected argument " + arg);
    }
  }
  if (options.help) return kGoOn;
  if (!options.haveInstance && options.socketPath.empty()) {
    return UsageError("no instance number given");
  }
  if (options.words.size() > kRequestItemCapacity) {
    return UsageError("a request holds at most 287 items");
  }
  if (!options.stop && !options.countGiven && options.words.empty()) {
    return UsageError("give --items, --words or --count (or --stop)");
  }
  if (!options.host.empty() && options.host != "." && options.host != "localhost") {
    if (!kPipesReachOtherHosts) {
      return UsageError("--host " + options.host +
                        ": the pipe is reachable on this machine only; run vesk1_client there");
    }
    if (!options.socketPath.empty()) return UsageError("give --host or --socket, not both");
    options.socketPath = PipePathOnHost(PipePathFor(options.instance), options.host);
  }
  return kGoOn;
}

int Report(ClientStatus status, const Connection& connection, const std::string& path) {
  return ReportConnectionFailure("vesk1_client: " + path, status, connection);
}

// A count the server does not take (outside 0 to 255) makes it end without a reply: wait for
// that and say so.
int ReportRefusedCount(Connection& connection, std::int32_t count, const std::string& path) {
  const ClientStatus status = WaitForClose(connection, kRefusalWaitMilliseconds);
  if (status != ClientStatus::kOk) {
    std::fprintf(stderr, "vesk1_client: %s: the server neither answered nor ended\n", path.c_str());
    return kExitFailed;
  }
  std::fprintf(stderr,
               "vesk1_client: %s: the server refused the request (itemCount %d is outside 0 to "
               "%d) and ended\n",
               path.c_str(), static_cast<int>(count), static_cast<int>(kMaxItems));
  return kExitClosed;
}

void PrintReply(const PipeReply& reply, int entries, const std::string& format) {
  for (int k = 0; k < entries; ++k) {
    const unsigned char* e = reply.entries[k];
    if (format == "float") {
      float a, b;
      std::memcpy(&a, e, 4);
      std::memcpy(&b, e + 4, 4);
      std::printf("%d: %.9g %.9g\n", k, a, b);
    } else if (format == "double") {
      double d;
      std::memcpy(&d, e, 8);
      std::printf("%d: %.17g\n", k, d);
    } else {
      std::printf("%d: %02x%02x%02x%02x%02x%02x%02x%02x\n", k, e[0], e[1], e[2], e[3], e[4], e[5],
                  e[6], e[7]);
    }
  }
  std::printf("elapsed: %.3f ms\n", static_cast<double>(reply.elapsedMs));
  std::fflush(stdout);
}

}  // namespace

int RunRequest(int argc, char** argv) {
  Options options;
  if (const int status = ParseCommandLine(argc, argv, options); status != kGoOn) return status;
  if (options.help) return PrintHelp(kUsage, true);

  const bool sendRequest = !options.words.empty() || options.countGiven;
  PipeRequest request = NewRequest();
  SetWordItems(request, options.words);
  if (options.countGiven) request.itemCount = static_cast<std::int32_t>(options.count);
  request.selectFirst = options.selectFirst;
  request.selectSecond = options.selectSecond;
  request.selectThird = options.selectThird;
  if (!options.dataFile.empty()) {
    std::ifstream file(options.dataFile, std::ios::binary);
    if (!file) return UsageError("cannot read " + options.dataFile);
    const std::vector<char> data((std::istreambuf_iterator<char>(file)),
                                 std::istreambuf_iterator<char>());
    if (data.size() > kModuleDataSize) {
      return UsageError("--data: at most 1520 bytes of module data");
    }
    std::memcpy(request.moduleData, data.data(), data.size());
  }

  std::string path;
  Connection connection;
  ClientStatus status = ConnectAsAsked(options.instance, options.socketPath, connection, path);
  if (status != ClientStatus::kOk) return Report(status, connection, path);

  // A count of 0 gets no reply; one outside 0..255 ends the server.
  const bool refused = request.itemCount < 0 || request.itemCount > kMaxItems;
  for (long r = 0; sendRequest && r < options.repeat; ++r) {
    status = SendRequest(connection, request);
    if (status != ClientStatus::kOk) return Report(status, connection, path);
    if (refused) return ReportRefusedCount(connection, request.itemCount, path);
    if (request.itemCount == 0) continue;
    PipeReply reply;
    status = ReceiveReply(connection, reply, options.timeoutMs);
    if (status != ClientStatus::kOk) return Report(status, connection, path);
    PrintReply(reply, request.itemCount, options.format);
  }
  if (sendRequest && request.itemCount == 0) {
    std::printf("sent; the server answers no request of 0 items\n");
  }
  if (options.stop) {
    // The server answers the stop command by ending, which closes the pipe.
    status = SendRequest(connection, StopRequest());
    if (status == ClientStatus::kOk) status = WaitForClose(connection, 5000);
    if (status != ClientStatus::kOk) return Report(status, connection, path);
    std::printf("stopped\n");
  }
  std::fflush(stdout);
  return kExitOk;
}

}  // namespace vesk1::client
