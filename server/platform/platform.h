// Everything vesk1_pipe asks of the operating system. Exactly one implementation is compiled:
// posix.cpp or win32.cpp, beside shared.cpp, which holds what both do alike on top of the
// system's own calls (the pipe's read-all and write-all loops). No other server file includes
// an OS header.
//
// The layer has no policy: it never prints on its own initiative, never exits and never picks
// a status. Failures come back as the system's own error code (errno on POSIX, GetLastError on
// Windows) so that the caller can print the system's number ("ReadFile: Error %ld") and decide.
#ifndef VESK1_SERVER_PLATFORM_PLATFORM_H
#define VESK1_SERVER_PLATFORM_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vesk1::platform {

// The system's error code: errno on POSIX, GetLastError() on Windows. 0 means success.
using ErrorCode = long;
inline constexpr ErrorCode kNoError = 0;

// ---- Names the server uses on this system --------------------------------------------------

// The pipe's name as the server prints it, as common/pipe_name.h composes it: on POSIX the socket
// in this user's private directory, "/tmp/vesk1-1000/$VESK_PIPE7$" (under $TMPDIR when set),
// on Windows "\\.\pipe\$VESK_PIPE7$". UTF-8.
std::string PipeDisplayName(int instance);
// Worker N's directory relative to the current directory, with its trailing separator:
// "./N/" on POSIX, ".\N\" on Windows. Also the text handed to the module's load entry.
std::string WorkerDirectoryName(int worker);
// The module's file name inside a worker directory: "vesk1_chzd.so" or "vesk1_chzd.dll".
const char* ModuleFileName();
// Which files of the current directory a new worker directory receives: "vesk1*.so" or
// "vesk1*.dll" (one '*' standing for any run of characters).
const char* ModuleCopyPattern();

// ---- Pipe endpoint --------------------------------------------------------------------------

// One server end of the pipe. On POSIX `listening` is the listening socket and `connected` the
// accepted one; on Windows both hold the one pipe instance. -1 marks "none".
struct PipeEndpoint {
  std::intptr_t listening = -1;
  std::intptr_t connected = -1;
  std::string name;             // what PipeDisplayName gave
  bool ownsName = false;        // POSIX: this process created the socket file and may remove it
  std::intptr_t nameLock = -1;  // POSIX: the locked lock file beside the socket, -1 elsewhere
  std::string problem;          // why ListenOnPipe refused the socket's directory, if it did
};

// Creates the pipe and starts listening. POSIX: first makes or checks this user's private
// socket directory (a refusal comes back as ENOTDIR or EACCES with `problem` saying why), then
// takes the advisory lock of the lock file beside the socket, which a live server holds
// whatever spelling of the directory it was given (EADDRINUSE), then binds a socket file with
// mode 0600; a stale file whose server is gone is replaced, anything else is left alone. A path
// that does not fit a socket address is an error (ENAMETOOLONG), never truncated.
ErrorCode ListenOnPipe(int instance, PipeEndpoint& pipe);
// Blocks until one client has connected.
ErrorCode AcceptClient(PipeEndpoint& pipe);
// Whether the connected client runs as this process's user; `clientUser` gets its user id.
// POSIX: the socket's peer credentials. Windows: always the same user, as the pipe's default
// security lets no other ordinary user write to it.
ErrorCode CheckClientUser(const PipeEndpoint& pipe, bool& sameUser, unsigned long& clientUser);
// The effective user id of this process (0 on Windows, where nothing prints it).
unsigned long ThisUser();
// Hangs up on the connected client and keeps listening for another.
void DropClient(PipeEndpoint& pipe);
// Accepts no further client: POSIX closes the listening socket, so a second client is refused
// at once instead of waiting in the backlog; the socket file stays until the server ends.
// Windows: nothing to do, as the one pipe instance is taken by the client.
void StopListening(PipeEndpoint& pipe);
// The Win32 name of a failed wait for the client ("ERROR_PIPE_CONNECTED", ...), or nullptr
// when the code has no name of its own on this system.
const char* AcceptErrorName(ErrorCode code);
// Reads exactly `size` bytes from the client, completing short reads. An end of stream before
// the last byte is reported as the system's broken-pipe code (EPIPE, ERROR_BROKEN_PIPE).
ErrorCode ReadFull(PipeEndpoint& pipe, void* buffer, std::size_t size);
// Writes exactly `size` bytes to the client. A client that hung up gives the broken-pipe code;
// the process is never killed by a signal for it.
ErrorCode WriteFull(PipeEndpoint& pipe, const void* buffer, std::size_t size);
// Closes both ends and, when this process created it, removes the socket file.
void ClosePipe(PipeEndpoint& pipe);
// Removes the socket file only (when this process created it), leaving the handles alone; safe
// to call from any thread right before the process ends.
void RemovePipeName(const PipeEndpoint& pipe);

// The raw calls the pipe functions go through. A test swaps entries to provoke short reads,
// interrupted calls and failures that are hard to cause for real, then restores the table.
// Each returns the byte count (0 at end of stream) or -1 with the code in *error.
struct PipeSystemCalls {
  std::ptrdiff_t (*receive)(std::intptr_t handle, void* buffer, std::size_t size, ErrorCode* error);
  std::ptrdiff_t (*send)(std::intptr_t handle, const void* buffer, std::size_t size,
                         ErrorCode* error);
};
PipeSystemCalls& SystemCallTable();
// The table as the system provides it, for restoring after a test.
PipeSystemCalls DefaultSystemCalls();
// The code a receive or send returns when a signal interrupted it before any byte moved
// (EINTR); the pipe functions retry it. 0 on systems without such a code.
ErrorCode InterruptedCode();
// The code for a peer that hung up (EPIPE, ERROR_BROKEN_PIPE).
ErrorCode BrokenPipeCode();

// ---- Modules --------------------------------------------------------------------------------

using ModuleHandle = void*;
// Loads the shared library at `path` (UTF-8) as a fresh instance; on failure nullptr, with the
// system's own account of it in `reason`: dlerror's text, or "Error 126" with the Windows
// message.
ModuleHandle OpenModule(const std::string& path, std::string* reason);
// The address of exported C symbol `name`, or nullptr.
void* FindEntry(ModuleHandle module, const char* name);
void CloseModule(ModuleHandle module);

// ---- Files ----------------------------------------------------------------------------------

// Where an install keeps the module files, found from this program's own file: <prefix>/lib/vesk1/
// for a program in <prefix>/bin/ on POSIX, the program's own folder on Windows (whose install
// keeps everything in bin\). With its trailing separator; empty when the program's own file
// cannot be told.
std::string InstalledModuleDirectory();

// What the system says of one path, for deciding whether code may be loaded from it.
struct PathFacts {
  enum class Kind { kMissing, kDirectory, kRegularFile, kSymbolicLink, kOther };
  Kind kind = Kind::kMissing;
  bool ownerKnown = false;  // false where the system offers no owner cheaply (Windows)
  unsigned long owner = 0;  // the owner's user id, when known
  bool groupWritable = false;
  bool othersWritable = false;
};
// Describes `path` (a trailing separator is ignored, so a directory's name that is a link is
// seen as the link). `followLinks` false: a symbolic link (a reparse point on Windows) is
// described as such, not as what it points to. A path that does not exist is no error: its
// kind is kMissing.
ErrorCode InspectPath(const std::string& path, bool followLinks, PathFacts& facts);
// Makes directory `path`: on POSIX writable by its owner only (mode 0755 as the umask leaves
// it), on Windows with the security its parent passes on. The system's "already exists" code
// when something is there.
ErrorCode MakeDirectory(const std::string& path);
// The names of the regular files of directory `directory` that match `pattern` (see
// ModuleCopyPattern), in no particular order.
ErrorCode ListMatchingFiles(const std::string& directory, const char* pattern,
                            std::vector<std::string>& names);
// Copies each named file of directory `from` into directory `to` (which ends in a separator);
// on POSIX the copy is never writable by group or others. Each copy is written under a temporary
// name and renamed when whole, so a failure leaves no partial file behind. Stops at the first
// failure.
ErrorCode CopyNamedFiles(const std::string& from, const std::vector<std::string>& names,
                         const std::string& to);

// ---- Processors, threads, priority ----------------------------------------------------------

// Processors this process may run on (its affinity mask), at least 1.
int ProcessorCount();
// Starts a detached thread running entry(argument).
ErrorCode StartThread(void (*entry)(void*), void* argument);
// Lowers the whole process, every thread of it, to the lowest scheduling priority. Threads
// started afterwards inherit it.
ErrorCode UseLowestPriority();

// ---- Time and waiting -----------------------------------------------------------------------

void SleepMilliseconds(int milliseconds);
// A monotonic clock in nanoseconds, unaffected by changes of the wall clock.
std::int64_t MonotonicNanoseconds();
// Blocks while *word still equals `seen`, at most `timeoutMilliseconds`; may return early or
// spuriously, so the caller re-reads the word. Pairs with WakeWordWaiters.
void WaitOnWord(const std::int32_t* word, std::int32_t seen, int timeoutMilliseconds);
// Wakes every thread blocked in WaitOnWord on this word.
void WakeWordWaiters(const std::int32_t* word);

// ---- Console --------------------------------------------------------------------------------

// Makes a console or socket whose reader went away an error of the write, never a signal that
// ends the process (POSIX ignores SIGPIPE; Windows raises none).
void SurviveBrokenPipes();

// Writes UTF-8 text to standard output and flushes it, so a supervising program sees each
// message as soon as it is printed. Best effort: a console that is gone is not an error here,
// and on POSIX a message that a stalled reader's full pipe cannot take now is dropped.
void PrintAndFlush(std::string_view text);
// Writes wide text (ASCII here) to standard output and flushes it: the one start-up failure
// that comes before everything else is reported as wide text.
void PrintWideAndFlush(std::wstring_view text);

// ---- Program --------------------------------------------------------------------------------

// Whether the system gives this program its own module handle, the first thing start-up
// asks for (GetModuleHandle on Windows). POSIX has no such handle: always true there.
bool ProgramModuleAvailable();

}  // namespace vesk1::platform

#endif  // VESK1_SERVER_PLATFORM_PLATFORM_H
