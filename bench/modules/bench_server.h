// vesk1_pipe in a scratch directory with the sounding module and the library beside it, for
// the benchmarks that go through the server. Optionally limited to the first `cpus` processors
// of this process's affinity mask, which sets its number of workers.
#ifndef VESK1_BENCH_MODULES_BENCH_SERVER_H_
#define VESK1_BENCH_MODULES_BENCH_SERVER_H_

#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "client/pipe/transport.h"
#include "common/pipe_name.h"

namespace vesk1::bench {

class BenchServer {
 public:
  explicit BenchServer(int cpus = 0) {
    namespace fs = std::filesystem;
    static int counter = 0;
    directory_ = fs::temp_directory_path() /
                 ("vesk1_bench_" + std::to_string(getpid()) + "_" + std::to_string(++counter));
    fs::remove_all(directory_);
    fs::create_directories(directory_);
    fs::copy_file(VESK1_CHZD_FILE, directory_ / "vesk1_chzd.so");
    fs::copy_file(fs::path(VESK1_FDLL_DIR) / "vesk1_fdll.so", directory_ / "vesk1_fdll.so");
    pid_ = fork();
    if (pid_ == 0) {
      if (cpus > 0) LimitToFirstCpus(cpus);
      setenv("TMPDIR", directory_.c_str(), 1);
      if (chdir(directory_.c_str()) != 0) _exit(127);
      std::freopen("server.log", "w", stdout);
      execl(VESK1_PIPE_PROGRAM, VESK1_PIPE_PROGRAM, "1", static_cast<char*>(nullptr));
      _exit(127);
    }
    // Start-up loads one module per worker; then the pipe appears.
    const std::string path = vesk1::pipe_name::SocketPath(
        vesk1::pipe_name::SocketDirectory(directory_.c_str(), geteuid()), 1);
    for (int attempt = 0; attempt < 600; ++attempt) {
      if (client::Connect(path, connection_) == client::ClientStatus::kOk) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  ~BenchServer() {
    if (connection_.fd >= 0) {
      client::SendRequest(connection_, client::StopRequest());
      client::WaitForClose(connection_, 5000);
      client::Close(connection_);
    }
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
  }
  BenchServer(const BenchServer&) = delete;
  BenchServer& operator=(const BenchServer&) = delete;

  bool Connected() const { return connection_.fd >= 0; }
  client::Connection& Connection() { return connection_; }
  bool Exchange(const PipeRequest& request, PipeReply& reply) {
    return client::SendRequest(connection_, request) == client::ClientStatus::kOk &&
           client::ReceiveReply(connection_, reply, 30000) == client::ClientStatus::kOk;
  }

 private:
  static void LimitToFirstCpus(int cpus) {
    cpu_set_t allowed, chosen;
    CPU_ZERO(&chosen);
    if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) return;
    for (int cpu = 0, taken = 0; cpu < CPU_SETSIZE && taken < cpus; ++cpu) {
      if (CPU_ISSET(cpu, &allowed)) {
        CPU_SET(cpu, &chosen);
        ++taken;
      }
    }
    sched_setaffinity(0, sizeof chosen, &chosen);
  }

  std::filesystem::path directory_;
  pid_t pid_ = -1;
  client::Connection connection_;
};

}  // namespace vesk1::bench

#endif  // VESK1_BENCH_MODULES_BENCH_SERVER_H_
