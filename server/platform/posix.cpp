// The server's operating-system layer on Linux and other POSIX systems.
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include "platform/platform.h"

#ifdef __linux__
#include <linux/futex.h>
#include <sys/syscall.h>
#endif

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vesk1::platform {
namespace {

constexpr int kLowestNice = 19;

std::ptrdiff_t SystemReceive(std::intptr_t handle, void* buffer, std::size_t size,
                             ErrorCode* error) {
  const ssize_t got = ::recv(static_cast<int>(handle), buffer, size, 0);
  if (got < 0) *error = errno;
  return got;
}

// MSG_NOSIGNAL: a client that hung up makes the write fail with EPIPE instead of killing the
// server with SIGPIPE.
std::ptrdiff_t SystemSend(std::intptr_t handle, const void* buffer, std::size_t size,
                          ErrorCode* error) {
  const ssize_t put = ::send(static_cast<int>(handle), buffer, size, MSG_NOSIGNAL);
  if (put < 0) *error = errno;
  return put;
}

PipeSystemCalls gSystemCalls = {SystemReceive, SystemSend};

std::string SocketDirectory() {
  const char* tmp = std::getenv("TMPDIR");
  return (tmp != nullptr && tmp[0] != '\0') ? std::string(tmp) : std::string("/tmp");
}

// Fills `address` with `path`; false when the path does not fit (it is never truncated).
bool FillAddress(const std::string& path, sockaddr_un& address) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  if (path.size() + 1 > sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

// True when some process accepts connections on the socket file at `address`.
bool SomeoneListens(const sockaddr_un& address) {
  const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (probe < 0) return true;  // cannot tell: leave the file alone
  int rc;
  do {
    rc = ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (rc != 0 && errno == EINTR);
  const int connectError = errno;
  ::close(probe);
  return rc == 0 || connectError != ECONNREFUSED;
}

// Takes the name's lock: on Linux an abstract socket named after the path, which only one
// process can bind and which the kernel frees however the process ends. A live server is found
// this way without connecting to it: a probe connection would be accepted as its one client.
// EADDRINUSE when a live server holds it.
ErrorCode LockName(const std::string& path, std::intptr_t& lock) {
#ifdef __linux__
  std::uint64_t hash = 1469598103934665603ULL;  // FNV-1a
  for (const unsigned char c : path) hash = (hash ^ c) * 1099511628211ULL;
  char name[40];
  const int length =
      std::snprintf(name, sizeof name, "vesk1-pipe-%016llx", static_cast<unsigned long long>(hash));
  sockaddr_un address;
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path + 1, name, static_cast<std::size_t>(length));
  const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return errno;
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), size) != 0) {
    const ErrorCode e = errno;
    ::close(fd);
    return e;
  }
  lock = fd;
#else
  (void)path;
  (void)lock;
#endif
  return kNoError;
}

void UnlockName(std::intptr_t& lock) {
  if (lock >= 0) ::close(static_cast<int>(lock));
  lock = -1;
}

// Binds with mode 0600 from the start: the umask is narrowed around bind, which runs before
// any other thread exists.
int BindPrivate(int fd, const sockaddr_un& address) {
  const mode_t old = ::umask(0177);
  const int rc = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  const int bindError = errno;
  ::umask(old);
  errno = bindError;
  return rc;
}

ErrorCode CopyOneFile(const std::string& from, const std::string& to) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return errno;
  struct stat info {};
  if (::fstat(in, &info) != 0) {
    const ErrorCode e = errno;
    ::close(in);
    return e;
  }
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, info.st_mode & 0777);
  if (out < 0) {
    const ErrorCode e = errno;
    ::close(in);
    return e;
  }
  char buffer[1 << 16];
  ErrorCode result = kNoError;
  for (;;) {
    const ssize_t got = ::read(in, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      result = errno;
      break;
    }
    if (got == 0) break;
    ssize_t done = 0;
    while (done < got) {
      const ssize_t put = ::write(out, buffer + done, static_cast<std::size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put < 0) {
        result = errno;
        break;
      }
      done += put;
    }
    if (result != kNoError) break;
  }
  if (::close(out) != 0 && result == kNoError) result = errno;
  ::close(in);
  return result;
}

}  // namespace

std::string PipeDisplayName(int instance) {
  return SocketDirectory() + "/$VESK_PIPE" + std::to_string(instance) + "$";
}

std::string WorkerDirectoryName(int worker) {
  return "./" + std::to_string(worker) + "/";
}

const char* ModuleFileName() {
  return "vesk1_chzd.so";
}

const char* ModuleCopyPattern() {
  return "vesk1*.so";
}

ErrorCode ListenOnPipe(int instance, PipeEndpoint& pipe) {
  pipe.name = PipeDisplayName(instance);
  sockaddr_un address;
  if (!FillAddress(pipe.name, address)) return ENAMETOOLONG;
  if (const ErrorCode locked = LockName(pipe.name, pipe.nameLock); locked != kNoError) {
    return locked;
  }
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    const ErrorCode e = errno;
    UnlockName(pipe.nameLock);
    return e;
  }
  int rc = BindPrivate(fd, address);
  if (rc != 0 && errno == EADDRINUSE) {
    // A socket file nobody listens on is what a server that died leaves behind; replace it.
    // Anything else at that path (a live server, a file that is not a socket) stays.
    struct stat info {};
    if (::lstat(pipe.name.c_str(), &info) == 0 && S_ISSOCK(info.st_mode) &&
        !SomeoneListens(address) && ::unlink(pipe.name.c_str()) == 0) {
      rc = BindPrivate(fd, address);
    } else {
      errno = EADDRINUSE;
    }
  }
  if (rc != 0 || ::listen(fd, 1) != 0) {
    const ErrorCode e = errno;
    if (rc == 0) ::unlink(pipe.name.c_str());
    ::close(fd);
    UnlockName(pipe.nameLock);
    return e;
  }
  pipe.listening = fd;
  pipe.ownsName = true;
  return kNoError;
}

ErrorCode AcceptClient(PipeEndpoint& pipe) {
  for (;;) {
    const int fd = ::accept4(static_cast<int>(pipe.listening), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
      pipe.connected = fd;
      return kNoError;
    }
    if (errno != EINTR) return errno;
  }
}

const char* AcceptErrorName(ErrorCode) {
  return nullptr;
}

ErrorCode ReadFull(PipeEndpoint& pipe, void* buffer, std::size_t size) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    ErrorCode error = kNoError;
    const std::ptrdiff_t got =
        gSystemCalls.receive(pipe.connected, bytes + done, size - done, &error);
    if (got < 0) {
      if (error == EINTR) continue;
      return error;
    }
    if (got == 0) return EPIPE;
    done += static_cast<std::size_t>(got);
  }
  return kNoError;
}

ErrorCode WriteFull(PipeEndpoint& pipe, const void* buffer, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    ErrorCode error = kNoError;
    const std::ptrdiff_t put = gSystemCalls.send(pipe.connected, bytes + done, size - done, &error);
    if (put < 0) {
      if (error == EINTR) continue;
      return error;
    }
    if (put == 0) return EPIPE;  // a stream that takes nothing will not take the rest either
    done += static_cast<std::size_t>(put);
  }
  return kNoError;
}

void ClosePipe(PipeEndpoint& pipe) {
  if (pipe.connected >= 0) ::close(static_cast<int>(pipe.connected));
  if (pipe.listening >= 0) ::close(static_cast<int>(pipe.listening));
  pipe.connected = -1;
  pipe.listening = -1;
  RemovePipeName(pipe);
  pipe.ownsName = false;
  UnlockName(pipe.nameLock);
}

void RemovePipeName(const PipeEndpoint& pipe) {
  if (pipe.ownsName) ::unlink(pipe.name.c_str());
}

PipeSystemCalls& SystemCallTable() {
  return gSystemCalls;
}

PipeSystemCalls DefaultSystemCalls() {
  return {SystemReceive, SystemSend};
}

ErrorCode InterruptedCode() {
  return EINTR;
}

ErrorCode BrokenPipeCode() {
  return EPIPE;
}

ModuleHandle OpenModule(const std::string& path, ErrorCode* error) {
  // dlopen keeps one instance per file; each worker's directory holds its own copy, so each
  // worker gets its own static data.
  void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr && error != nullptr) *error = ENOENT;
  return module;
}

void* FindEntry(ModuleHandle module, const char* name) {
  return ::dlsym(module, name);
}

void CloseModule(ModuleHandle module) {
  if (module != nullptr) ::dlclose(module);
}

bool DirectoryExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

ErrorCode MakeDirectory(const std::string& path) {
  return ::mkdir(path.c_str(), 0777) == 0 ? kNoError : errno;
}

ErrorCode CopyMatchingFiles(const std::string& from, const char* pattern, const std::string& to) {
  DIR* dir = ::opendir(from.c_str());
  if (dir == nullptr) return errno;
  ErrorCode result = kNoError;
  while (const dirent* entry = ::readdir(dir)) {
    if (::fnmatch(pattern, entry->d_name, FNM_PERIOD) != 0) continue;
    const std::string source = from + "/" + entry->d_name;
    struct stat info {};
    if (::stat(source.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
    result = CopyOneFile(source, to + entry->d_name);
    if (result != kNoError) break;
  }
  ::closedir(dir);
  return result;
}

int ProcessorCount() {
#ifdef __linux__
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) return count;
  }
#endif
  const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<int>(online) : 1;
}

namespace {
struct ThreadStart {
  void (*entry)(void*);
  void* argument;
};

void* RunThread(void* raw) {
  const ThreadStart start = *static_cast<ThreadStart*>(raw);
  delete static_cast<ThreadStart*>(raw);
  start.entry(start.argument);
  return nullptr;
}
}  // namespace

ErrorCode StartThread(void (*entry)(void*), void* argument) {
  auto* start = new ThreadStart{entry, argument};
  pthread_t thread;
  const int rc = ::pthread_create(&thread, nullptr, RunThread, start);
  if (rc != 0) {
    delete start;
    return rc;
  }
  ::pthread_detach(thread);
  return kNoError;
}

ErrorCode UseLowestPriority() {
  // Linux keeps a nice value per thread, so the process is lowered thread by thread.
  ErrorCode result = kNoError;
#ifdef __linux__
  if (DIR* tasks = ::opendir("/proc/self/task")) {
    while (const dirent* entry = ::readdir(tasks)) {
      if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
      const auto tid = static_cast<id_t>(std::strtol(entry->d_name, nullptr, 10));
      if (::setpriority(PRIO_PROCESS, tid, kLowestNice) != 0) result = errno;
    }
    ::closedir(tasks);
    return result;
  }
#endif
  if (::setpriority(PRIO_PROCESS, 0, kLowestNice) != 0) result = errno;
  return result;
}

void SleepMilliseconds(int milliseconds) {
  timespec left{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
  while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

std::int64_t MonotonicNanoseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

void WaitOnWord(const std::int32_t* word, std::int32_t seen, int timeoutMilliseconds) {
#ifdef __linux__
  timespec timeout{timeoutMilliseconds / 1000,
                   static_cast<long>(timeoutMilliseconds % 1000) * 1000000L};
  ::syscall(SYS_futex, word, FUTEX_WAIT_PRIVATE, seen, &timeout, nullptr, 0);
#else
  // Without a futex, look again after a millisecond; the caller's bound still holds.
  (void)word;
  (void)seen;
  (void)timeoutMilliseconds;
  SleepMilliseconds(1);
#endif
}

void WakeWordWaiters(const std::int32_t* word) {
#ifdef __linux__
  ::syscall(SYS_futex, word, FUTEX_WAKE_PRIVATE, 0x7fffffff, nullptr, nullptr, 0);
#else
  (void)word;
#endif
}

void PrintAndFlush(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

}  // namespace vesk1::platform
