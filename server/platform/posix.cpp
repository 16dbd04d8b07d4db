// The server's operating-system layer on Linux and other POSIX systems.
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include "common/pipe_place_posix.h"
#include "platform/platform.h"
#include "platform/posix_file_calls.h"

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

dirent* SystemReadDirectory(DIR* directory) {
  return ::readdir(directory);
}

ssize_t SystemWrite(int file, const void* buffer, size_t size) {
  return ::write(file, buffer, size);
}

PosixFileCalls gFileCalls = {SystemReadDirectory, SystemWrite};

// The next entry of `directory`; nullptr at its end (`error` 0) or when reading it failed
// (`error` set): readdir tells the two apart only through errno.
const dirent* NextEntry(DIR* directory, ErrorCode& error) {
  errno = 0;
  const dirent* entry = gFileCalls.readDirectory(directory);
  error = entry == nullptr ? errno : kNoError;
  return entry;
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

// Takes the name's lock: an advisory write lock on the lock file beside the socket. The lock
// belongs to the file itself, so every spelling of the directory (a trailing slash, a symbolic
// link, a relative TMPDIR) meets the same lock, and the system frees it however the process
// ends. A live server is found this way without connecting to it: a probe connection would be
// accepted as its one client. EADDRINUSE when a live server holds it.
ErrorCode LockName(const std::string& socketPath, std::intptr_t& lock) {
  const std::string lockPath = pipe_name::LockPath(socketPath);
  const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return errno;
  struct flock whole {};
  whole.l_type = F_WRLCK;
  whole.l_whence = SEEK_SET;
  if (::fcntl(fd, F_SETLK, &whole) != 0) {
    const ErrorCode e = errno;
    ::close(fd);
    return (e == EACCES || e == EAGAIN) ? EADDRINUSE : e;
  }
  lock = fd;
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

// Writes all of `buffer` to `out`, completing short writes.
ErrorCode WriteAll(int out, const char* buffer, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t put = gFileCalls.write(out, buffer + done, size - done);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return errno;
    if (put == 0) return EIO;  // a file that takes nothing will not take the rest either
    done += static_cast<std::size_t>(put);
  }
  return kNoError;
}

ErrorCode CopyBytes(int in, int out) {
  char buffer[1 << 16];
  for (;;) {
    const ssize_t got = ::read(in, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errno;
    if (got == 0) return kNoError;
    if (const ErrorCode e = WriteAll(out, buffer, static_cast<std::size_t>(got)); e != kNoError) {
      return e;
    }
  }
}

// Copies `from` to `to` through a temporary file beside `to` (a name the copy pattern never
// matches), renamed over `to` only when whole: a failure leaves no partial file, and a `to`
// that was there stays as it was. The copy keeps the original's mode without group and others'
// write permission, as a worker directory's files must have.
ErrorCode CopyOneFile(const std::string& from, const std::string& to) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return errno;
  struct stat info {};
  if (::fstat(in, &info) != 0) {
    const ErrorCode e = errno;
    ::close(in);
    return e;
  }
  std::string temporary = to + ".XXXXXX";
  const int out = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (out < 0) {
    const ErrorCode e = errno;
    ::close(in);
    return e;
  }
  ErrorCode result = CopyBytes(in, out);
  if (result == kNoError && ::fchmod(out, info.st_mode & 0755) != 0) result = errno;
  if (::close(out) != 0 && result == kNoError) result = errno;
  ::close(in);
  if (result == kNoError && ::rename(temporary.c_str(), to.c_str()) != 0) result = errno;
  if (result != kNoError) ::unlink(temporary.c_str());
  return result;
}

}  // namespace

std::string PipeDisplayName(int instance) {
  return pipe_name::SocketPath(pipe_name::DefaultSocketDirectory(), instance);
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
  const std::string directory = pipe_name::DefaultSocketDirectory();
  pipe.name = pipe_name::SocketPath(directory, instance);
  sockaddr_un address;
  if (!FillAddress(pipe.name, address)) return ENAMETOOLONG;
  if (const int refused = pipe_name::PreparePrivateDirectory(directory, pipe.problem)) {
    return refused;
  }
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
    // Anything else at that path (a listener that is not ours, a file that is not a socket)
    // stays. The lock held here means no server of ours listens, so the probe reaches none.
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

ErrorCode CheckClientUser(const PipeEndpoint& pipe, bool& sameUser, unsigned long& clientUser) {
  uid_t peer = 0;
#if defined(SO_PEERCRED)
  ucred credentials{};
  socklen_t size = sizeof credentials;
  if (::getsockopt(static_cast<int>(pipe.connected), SOL_SOCKET, SO_PEERCRED, &credentials,
                   &size) != 0) {
    return errno;
  }
  peer = credentials.uid;
#else
  gid_t group = 0;
  if (::getpeereid(static_cast<int>(pipe.connected), &peer, &group) != 0) return errno;
#endif
  clientUser = static_cast<unsigned long>(peer);
  sameUser = peer == ::geteuid();
  return kNoError;
}

unsigned long ThisUser() {
  return static_cast<unsigned long>(::geteuid());
}

void DropClient(PipeEndpoint& pipe) {
  if (pipe.connected >= 0) ::close(static_cast<int>(pipe.connected));
  pipe.connected = -1;
}

void StopListening(PipeEndpoint& pipe) {
  if (pipe.listening >= 0) ::close(static_cast<int>(pipe.listening));
  pipe.listening = -1;
}

const char* AcceptErrorName(ErrorCode) {
  return nullptr;
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

PosixFileCalls& FileCallTable() {
  return gFileCalls;
}

PosixFileCalls DefaultFileCalls() {
  return {SystemReadDirectory, SystemWrite};
}

ErrorCode InterruptedCode() {
  return EINTR;
}

ErrorCode BrokenPipeCode() {
  return EPIPE;
}

ModuleHandle OpenModule(const std::string& path, std::string* reason) {
  // dlopen keeps one instance per file; each worker's directory holds its own copy, so each
  // worker gets its own static data. Its reason is read at once: the next dl call replaces it.
  void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr && reason != nullptr) {
    const char* text = ::dlerror();
    *reason = text != nullptr ? text : "dlopen failed";
  }
  return module;
}

void* FindEntry(ModuleHandle module, const char* name) {
  return ::dlsym(module, name);
}

void CloseModule(ModuleHandle module) {
  if (module != nullptr) ::dlclose(module);
}

std::string InstalledModuleDirectory() {
  // Linux names the program's own file here; elsewhere the install is not looked for.
  char buffer[4096];
  const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof buffer) return "";
  const std::string program(buffer, static_cast<std::size_t>(length));
  const std::size_t slash = program.rfind('/');
  if (slash == std::string::npos || slash == 0) return "";
  // <prefix>/bin/vesk1_pipe gives <prefix>/lib/vesk1/.
  const std::size_t parent = program.rfind('/', slash - 1);
  if (parent == std::string::npos) return "";
  return program.substr(0, parent + 1) + "lib/vesk1/";
}

ErrorCode InspectPath(const std::string& path, bool followLinks, PathFacts& facts) {
  facts = PathFacts{};
  // "./1/" would make lstat follow a link named 1; the name alone is what is described.
  std::string name = path;
  while (name.size() > 1 && name.back() == '/') name.pop_back();
  struct stat info {};
  if ((followLinks ? ::stat(name.c_str(), &info) : ::lstat(name.c_str(), &info)) != 0) {
    return errno == ENOENT ? kNoError : errno;
  }
  using Kind = PathFacts::Kind;
  facts.kind = S_ISLNK(info.st_mode)   ? Kind::kSymbolicLink
               : S_ISDIR(info.st_mode) ? Kind::kDirectory
               : S_ISREG(info.st_mode) ? Kind::kRegularFile
                                       : Kind::kOther;
  facts.ownerKnown = true;
  facts.owner = static_cast<unsigned long>(info.st_uid);
  facts.groupWritable = (info.st_mode & S_IWGRP) != 0;
  facts.othersWritable = (info.st_mode & S_IWOTH) != 0;
  return kNoError;
}

ErrorCode MakeDirectory(const std::string& path) {
  return ::mkdir(path.c_str(), 0755) == 0 ? kNoError : errno;
}

ErrorCode ListMatchingFiles(const std::string& directory, const char* pattern,
                            std::vector<std::string>& names) {
  DIR* dir = ::opendir(directory.c_str());
  if (dir == nullptr) return errno;
  ErrorCode error = kNoError;
  while (const dirent* entry = NextEntry(dir, error)) {
    if (::fnmatch(pattern, entry->d_name, FNM_PERIOD) != 0) continue;
    struct stat info {};
    const std::string path = directory + "/" + entry->d_name;
    if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode))
      names.emplace_back(entry->d_name);
  }
  ::closedir(dir);
  return error;
}

ErrorCode CopyNamedFiles(const std::string& from, const std::vector<std::string>& names,
                         const std::string& to) {
  for (const std::string& name : names) {
    if (const ErrorCode copied = CopyOneFile(from + "/" + name, to + name); copied != kNoError) {
      return copied;
    }
  }
  return kNoError;
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
  // Linux keeps a nice value per thread, so the process is lowered thread by thread; a thread
  // that cannot be lowered does not stop the others, and the first failure is the one told.
  ErrorCode result = kNoError;
  const auto keep = [&result](ErrorCode e) {
    if (result == kNoError) result = e;
  };
#ifdef __linux__
  if (DIR* tasks = ::opendir("/proc/self/task")) {
    ErrorCode listed = kNoError;
    while (const dirent* entry = NextEntry(tasks, listed)) {
      if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
      const auto tid = static_cast<id_t>(std::strtol(entry->d_name, nullptr, 10));
      if (::setpriority(PRIO_PROCESS, tid, kLowestNice) != 0) keep(errno);
    }
    keep(listed);
    ::closedir(tasks);
    return result;
  }
#endif
  if (::setpriority(PRIO_PROCESS, 0, kLowestNice) != 0) keep(errno);
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

void SurviveBrokenPipes() {
  // The modules run in this process too; none of them has a use for the signal either.
  ::signal(SIGPIPE, SIG_IGN);
}

void PrintAndFlush(std::string_view text) {
  // A reader that stalls without closing (a full pipe) must not stall the serving: a message
  // that standard output cannot take now is dropped. A pipe that has room for any message takes
  // a short one whole without blocking.
  pollfd console{STDOUT_FILENO, POLLOUT, 0};
  if (::poll(&console, 1, 0) == 0) return;
  // A console whose reader has gone fails the write with EPIPE; the error is forgotten, so
  // every later message is tried again and none of them stops the serving.
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
  std::clearerr(stdout);
}

void PrintWideAndFlush(std::wstring_view text) {
  // Narrowed here: a wide write would fix the stream's orientation for every later message.
  std::string narrow;
  for (wchar_t c : text) narrow += (c >= 0 && c < 0x80) ? static_cast<char>(c) : '?';
  PrintAndFlush(narrow);
}

bool ProgramModuleAvailable() {
  return true;
}

}  // namespace vesk1::platform
