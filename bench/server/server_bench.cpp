// How much the server adds to a round trip, and how its throughput grows with workers.
//
// BM_SocketEcho is the baseline: a thread answering each 2704-byte record with a 2048-byte one
// over a Unix domain socket, nothing else. BM_ServerRoundTrip sends a 255-item request to
// vesk1_pipe running on all processors with a module that does no work. Both report the median
// round trip (median_us). BM_Throughput runs a module that keeps a core busy 50 ms per item,
// two items per request, with one worker and with two.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "client/pipe/transport.h"
#include "test_module.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

void SetMedian(benchmark::State& state, std::vector<double>& microseconds) {
  if (microseconds.empty()) return;
  std::sort(microseconds.begin(), microseconds.end());
  state.counters["median_us"] = microseconds[microseconds.size() / 2];
}

bool ReadExactly(int fd, void* buffer, std::size_t size) {
  auto* bytes = static_cast<char*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = ::recv(fd, bytes + done, size - done, 0);
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

// A running vesk1_pipe in a scratch directory, connected.
class Server {
 public:
  // cpus 0: all processors, one worker each; otherwise the first `cpus` of them.
  explicit Server(int cpus) {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    ::sched_getaffinity(0, sizeof allowed, &allowed);
    cpu_set_t chosen;
    CPU_ZERO(&chosen);
    for (int c = 0, taken = 0; c < CPU_SETSIZE && taken < cpus; ++c) {
      if (CPU_ISSET(c, &allowed)) {
        CPU_SET(c, &chosen);
        ++taken;
      }
    }
    char pattern[] = "/tmp/vesk1-bench-XXXXXX";
    root_ = ::mkdtemp(pattern);
    fs::create_directory(root_ + "/work");
    fs::copy_file(VESK1_TEST_MODULE, root_ + "/work/vesk1_chzd.so");
    ::setenv("TMPDIR", root_.c_str(), 1);
    const int out = ::open((root_ + "/output.txt").c_str(), O_WRONLY | O_CREAT, 0644);
    pid_ = ::fork();
    if (pid_ == 0) {
      if (cpus > 0) ::sched_setaffinity(0, sizeof chosen, &chosen);
      if (::chdir((root_ + "/work").c_str()) != 0) ::_exit(126);
      ::dup2(out, STDOUT_FILENO);
      ::execl(VESK1_PIPE_PROGRAM, VESK1_PIPE_PROGRAM, "5", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(out);
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (Clock::now() < deadline) {
      if (vesk1::client::Connect(vesk1::client::PipePathFor(5), connection_) ==
          vesk1::client::ClientStatus::kOk) {
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  ~Server() {
    vesk1::client::Close(connection_);
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    fs::remove_all(root_);
  }
  bool Connected() const { return connection_.fd >= 0; }
  bool RoundTrip(const PipeRequest& request, PipeReply& reply) {
    return vesk1::client::SendRequest(connection_, request) == vesk1::client::ClientStatus::kOk &&
           vesk1::client::ReceiveReply(connection_, reply) == vesk1::client::ClientStatus::kOk;
  }

 private:
  std::string root_;
  pid_t pid_ = -1;
  vesk1::client::Connection connection_;
};

void BM_SocketEcho(benchmark::State& state) {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) {
    state.SkipWithError("socketpair failed");
    return;
  }
  std::thread echo([fd = fds[1]] {
    PipeRequest request;
    PipeReply reply{};
    while (ReadExactly(fd, &request, sizeof request)) {
      if (::send(fd, &reply, sizeof reply, MSG_NOSIGNAL) != sizeof reply) break;
    }
  });
  PipeRequest request = vesk1::client::NewRequest();
  PipeReply reply;
  std::vector<double> times;
  for (auto _ : state) {
    const auto start = Clock::now();
    ::send(fds[0], &request, sizeof request, MSG_NOSIGNAL);
    ReadExactly(fds[0], &reply, sizeof reply);
    times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  ::shutdown(fds[0], SHUT_RDWR);
  echo.join();
  ::close(fds[0]);
  ::close(fds[1]);
  SetMedian(state, times);
}
BENCHMARK(BM_SocketEcho)->UseRealTime()->MinTime(2.0);

void BM_ServerRoundTrip(benchmark::State& state) {
  Server server(0);
  if (!server.Connected()) {
    state.SkipWithError("server did not start");
    return;
  }
  PipeRequest request = vesk1::client::NewRequest();
  std::vector<std::uint32_t> items(kMaxItems);
  for (std::size_t k = 0; k < items.size(); ++k) items[k] = static_cast<std::uint32_t>(k);
  vesk1::client::SetWordItems(request, items);
  vesk1::test::SetControl(request, {vesk1::test::kNoWrite, 0, 0, 0});
  request.selectFirst = 1;
  PipeReply reply;
  std::vector<double> times;
  for (auto _ : state) {
    const auto start = Clock::now();
    if (!server.RoundTrip(request, reply)) {
      state.SkipWithError("round trip failed");
      break;
    }
    times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  SetMedian(state, times);
}
BENCHMARK(BM_ServerRoundTrip)->UseRealTime()->MinTime(2.0);

// Arg 1: one worker (pinned to one processor); arg 2: two workers.
void BM_Throughput(benchmark::State& state) {
  const int workers = static_cast<int>(state.range(0));
  Server server(workers);
  if (!server.Connected()) {
    state.SkipWithError("server did not start");
    return;
  }
  PipeRequest request = vesk1::client::NewRequest();
  const std::uint32_t items[2] = {1, 2};
  vesk1::client::SetWordItems(request, items);
  vesk1::test::SetControl(request, {vesk1::test::kEcho, 0, 50, 0});
  request.selectFirst = 1;
  PipeReply reply;
  for (auto _ : state) {
    if (!server.RoundTrip(request, reply)) {
      state.SkipWithError("round trip failed");
      break;
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * 2);
}
BENCHMARK(BM_Throughput)
    ->Arg(1)
    ->Arg(2)
    ->UseRealTime()
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
