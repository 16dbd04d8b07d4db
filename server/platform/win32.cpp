// The server's operating-system layer on Windows.
//
// Text crosses this layer as UTF-8 and is widened right before each call, so the pipe name,
// worker directories and module paths work whatever the system's code page.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <bit>
#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <string>
#include <vector>

#include "common/pipe_name.h"
#include "common/wide_text.h"
#include "platform/platform.h"

namespace vesk1::platform {
namespace {

// The pipe's buffers and default time-out. The input side holds two whole requests, so a
// client may queue its next request while the current one is computed.
constexpr DWORD kPipeOutputBuffer = 2048;
constexpr DWORD kPipeInputBuffer = 5408;
constexpr DWORD kPipeDefaultTimeoutMs = 100;

using common::Widen;

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), size,
                        nullptr, nullptr);
  return narrow;
}

HANDLE AsHandle(std::intptr_t value) {
  return reinterpret_cast<HANDLE>(value);
}

// A successful read of zero bytes only means the client wrote zero bytes; it is not the end of
// the stream on a Windows pipe, so it is read again rather than handed up as one.
std::ptrdiff_t SystemReceive(std::intptr_t handle, void* buffer, std::size_t size,
                             ErrorCode* error) {
  const DWORD want = size > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size);
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(AsHandle(handle), buffer, want, &got, nullptr)) {
      *error = static_cast<ErrorCode>(::GetLastError());
      return -1;
    }
    if (got > 0) return static_cast<std::ptrdiff_t>(got);
  }
}

std::ptrdiff_t SystemSend(std::intptr_t handle, const void* buffer, std::size_t size,
                          ErrorCode* error) {
  const DWORD want = size > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size);
  DWORD put = 0;
  if (!::WriteFile(AsHandle(handle), buffer, want, &put, nullptr)) {
    *error = static_cast<ErrorCode>(::GetLastError());
    return -1;
  }
  return static_cast<std::ptrdiff_t>(put);
}

PipeSystemCalls gSystemCalls = {SystemReceive, SystemSend};

// File-name match of the copy pattern: '*' stands for any run of characters, and letters
// match regardless of case, as Windows file names do. Unlike FindFirstFile's own wildcards it
// never lets "*.dll" match a longer extension through a file's short name.
bool NameMatches(const wchar_t* pattern, const wchar_t* name) {
  const wchar_t* star = nullptr;
  const wchar_t* resume = nullptr;
  while (*name != L'\0') {
    if (*pattern == L'*') {
      star = pattern++;
      resume = name;
    } else if (*pattern != L'\0' && ::towlower(*pattern) == ::towlower(*name)) {
      ++pattern;
      ++name;
    } else if (star != nullptr) {
      pattern = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == L'*') ++pattern;
  return *pattern == L'\0';
}

// "Error 126 (The specified module could not be found.)": the code as the server prints codes,
// then the system's own text of it when it has one.
std::string DescribeError(DWORD code) {
  char text[512];
  DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, text, sizeof text, nullptr);
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' ||
                        text[length - 1] == ' ' || text[length - 1] == '.')) {
    --length;
  }
  std::string description = "Error " + std::to_string(code);
  if (length > 0) description += " (" + std::string(text, length) + ")";
  return description;
}

struct ThreadStart {
  void (*entry)(void*);
  void* argument;
};

DWORD WINAPI RunThread(LPVOID raw) {
  const ThreadStart start = *static_cast<ThreadStart*>(raw);
  delete static_cast<ThreadStart*>(raw);
  start.entry(start.argument);
  return 0;
}

}  // namespace

std::string PipeDisplayName(int instance) {
  return pipe_name::WindowsPipeName(instance);
}

std::string WorkerDirectoryName(int worker) {
  return ".\\" + std::to_string(worker) + "\\";
}

const char* ModuleFileName() {
  return "vesk1_chzd.dll";
}

const char* ModuleCopyPattern() {
  return "vesk1*.dll";
}

ErrorCode ListenOnPipe(int instance, PipeEndpoint& pipe) {
  pipe.name = PipeDisplayName(instance);
  const HANDLE handle =
      ::CreateNamedPipeW(Widen(pipe.name).c_str(), PIPE_ACCESS_DUPLEX,
                         PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES,
                         kPipeOutputBuffer, kPipeInputBuffer, kPipeDefaultTimeoutMs, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return static_cast<ErrorCode>(::GetLastError());
  pipe.listening = reinterpret_cast<std::intptr_t>(handle);
  pipe.ownsName = false;  // a pipe name vanishes with its last handle; nothing to remove
  return kNoError;
}

ErrorCode AcceptClient(PipeEndpoint& pipe) {
  const HANDLE handle = AsHandle(pipe.listening);
  if (!::ConnectNamedPipe(handle, nullptr)) {
    const DWORD error = ::GetLastError();
    // A client that opened the pipe between its creation and this call is connected all the
    // same; the call reports it as this code, and turning it away would lose the client.
    if (error != ERROR_PIPE_CONNECTED) return static_cast<ErrorCode>(error);
  }
  pipe.connected = pipe.listening;
  return kNoError;
}

ErrorCode CheckClientUser(const PipeEndpoint&, bool& sameUser, unsigned long& clientUser) {
  sameUser = true;
  clientUser = ThisUser();
  return kNoError;
}

unsigned long ThisUser() {
  return 0;
}

void DropClient(PipeEndpoint& pipe) {
  ::DisconnectNamedPipe(AsHandle(pipe.listening));
  pipe.connected = -1;
}

void StopListening(PipeEndpoint&) {}

const char* AcceptErrorName(ErrorCode code) {
  switch (code) {
    case ERROR_PIPE_CONNECTED:
      return "ERROR_PIPE_CONNECTED";
    case ERROR_CALL_NOT_IMPLEMENTED:
      return "ERROR_CALL_NOT_IMPLEMENTED";
    case ERROR_NO_DATA:
      return "ERROR_NO_DATA";
    case ERROR_PIPE_LISTENING:
      return "ERROR_PIPE_LISTENING";
    default:
      return nullptr;
  }
}

void ClosePipe(PipeEndpoint& pipe) {
  // One pipe instance serves as both ends; it is closed once.
  if (pipe.listening != -1) ::CloseHandle(AsHandle(pipe.listening));
  if (pipe.connected != -1 && pipe.connected != pipe.listening) {
    ::CloseHandle(AsHandle(pipe.connected));
  }
  pipe.listening = -1;
  pipe.connected = -1;
  pipe.ownsName = false;
}

void RemovePipeName(const PipeEndpoint&) {}

PipeSystemCalls& SystemCallTable() {
  return gSystemCalls;
}

PipeSystemCalls DefaultSystemCalls() {
  return {SystemReceive, SystemSend};
}

ErrorCode InterruptedCode() {
  return 0;
}

ErrorCode BrokenPipeCode() {
  return ERROR_BROKEN_PIPE;
}

ModuleHandle OpenModule(const std::string& path, std::string* reason) {
  // Loaded by its full path, so each worker directory's copy is its own instance, and with the
  // altered search path, so a library the module imports is found beside it first.
  const std::wstring wide = Widen(path);
  const DWORD size = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  std::wstring full(size, L'\0');
  const DWORD length = size == 0 ? 0 : ::GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
  if (length == 0 || length >= size) {
    if (reason != nullptr) *reason = DescribeError(::GetLastError());
    return nullptr;
  }
  full.resize(length);
  const HMODULE module = ::LoadLibraryExW(full.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (module == nullptr && reason != nullptr) *reason = DescribeError(::GetLastError());
  return reinterpret_cast<ModuleHandle>(module);
}

void* FindEntry(ModuleHandle module, const char* name) {
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(module), name));
}

void CloseModule(ModuleHandle module) {
  if (module != nullptr) ::FreeLibrary(static_cast<HMODULE>(module));
}

std::string InstalledModuleDirectory() {
  std::wstring program(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        ::GetModuleFileNameW(nullptr, program.data(), static_cast<DWORD>(program.size()));
    if (length == 0) return "";
    if (length < program.size()) {
      program.resize(length);
      break;
    }
    program.resize(program.size() * 2);
  }
  const std::size_t slash = program.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::string() : Narrow(program.substr(0, slash + 1));
}

// Windows describes kinds and links only: who owns a file and who may write to it are told by
// its security descriptor, whose inherited entries decide more than its owner does (see the
// README on Windows), so the owner stays unknown here.
ErrorCode InspectPath(const std::string& path, bool followLinks, PathFacts& facts) {
  facts = PathFacts{};
  std::wstring name = Widen(path);
  while (name.size() > 1 && (name.back() == L'\\' || name.back() == L'/')) name.pop_back();
  const DWORD attributes = ::GetFileAttributesW(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
               ? kNoError
               : static_cast<ErrorCode>(error);
  }
  using Kind = PathFacts::Kind;
  if (!followLinks && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    facts.kind = Kind::kSymbolicLink;
  } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    facts.kind = Kind::kDirectory;
  } else if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0) {
    facts.kind = Kind::kOther;
  } else {
    facts.kind = Kind::kRegularFile;
  }
  return kNoError;
}

ErrorCode MakeDirectory(const std::string& path) {
  return ::CreateDirectoryW(Widen(path).c_str(), nullptr)
             ? kNoError
             : static_cast<ErrorCode>(::GetLastError());
}

ErrorCode ListMatchingFiles(const std::string& directory, const char* pattern,
                            std::vector<std::string>& names) {
  std::wstring folder = Widen(directory);
  if (folder.empty()) folder = L".";
  if (folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
  const std::wstring wantedName = Widen(pattern);

  WIN32_FIND_DATAW found;
  const HANDLE search = ::FindFirstFileExW((folder + L"*").c_str(), FindExInfoBasic, &found,
                                           FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? kNoError : static_cast<ErrorCode>(error);
  }
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
    if (NameMatches(wantedName.c_str(), found.cFileName)) names.push_back(Narrow(found.cFileName));
  } while (::FindNextFileW(search, &found));
  const DWORD error = ::GetLastError();
  ::FindClose(search);
  return error == ERROR_NO_MORE_FILES ? kNoError : static_cast<ErrorCode>(error);
}

ErrorCode CopyNamedFiles(const std::string& from, const std::vector<std::string>& names,
                         const std::string& to) {
  std::string folder = from.empty() ? std::string(".") : from;
  if (folder.back() != '\\' && folder.back() != '/') folder += '\\';
  for (const std::string& name : names) {
    // Copied under a name the copy pattern never matches and renamed when whole, so a failure
    // leaves no partial file behind.
    const std::wstring target = Widen(to + name);
    const std::wstring temporary = target + L".partial";
    if (!::CopyFileW(Widen(folder + name).c_str(), temporary.c_str(), FALSE) ||
        !::MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      const ErrorCode error = static_cast<ErrorCode>(::GetLastError());
      ::DeleteFileW(temporary.c_str());
      return error;
    }
  }
  return kNoError;
}

int ProcessorCount() {
  DWORD_PTR processMask = 0;
  DWORD_PTR systemMask = 0;
  if (::GetProcessAffinityMask(::GetCurrentProcess(), &processMask, &systemMask)) {
    const int count = std::popcount(static_cast<std::uintptr_t>(processMask));
    if (count > 0) return count;
  }
  SYSTEM_INFO info;
  ::GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 0 ? static_cast<int>(info.dwNumberOfProcessors) : 1;
}

ErrorCode StartThread(void (*entry)(void*), void* argument) {
  auto* start = new ThreadStart{entry, argument};
  const HANDLE thread = ::CreateThread(nullptr, 0, RunThread, start, 0, nullptr);
  if (thread == nullptr) {
    const ErrorCode error = static_cast<ErrorCode>(::GetLastError());
    delete start;
    return error;
  }
  ::CloseHandle(thread);
  return kNoError;
}

ErrorCode UseLowestPriority() {
  // The priority class belongs to the process, so one call covers every thread.
  return ::SetPriorityClass(::GetCurrentProcess(), IDLE_PRIORITY_CLASS)
             ? kNoError
             : static_cast<ErrorCode>(::GetLastError());
}

void SleepMilliseconds(int milliseconds) {
  ::Sleep(milliseconds > 0 ? static_cast<DWORD>(milliseconds) : 0);
}

std::int64_t MonotonicNanoseconds() {
  // The counter's frequency is fixed at boot; split the conversion so that it cannot overflow.
  static const std::int64_t frequency = [] {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return static_cast<std::int64_t>(f.QuadPart);
  }();
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  const std::int64_t ticks = now.QuadPart;
  return ticks / frequency * 1000000000LL + ticks % frequency * 1000000000LL / frequency;
}

void WaitOnWord(const std::int32_t* word, std::int32_t seen, int timeoutMilliseconds) {
  ::WaitOnAddress(const_cast<std::int32_t*>(word), &seen, sizeof seen,
                  timeoutMilliseconds > 0 ? static_cast<DWORD>(timeoutMilliseconds) : 0);
}

void WakeWordWaiters(const std::int32_t* word) {
  ::WakeByAddressAll(const_cast<std::int32_t*>(word));
}

void SurviveBrokenPipes() {}

void PrintAndFlush(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
  std::clearerr(stdout);
}

void PrintWideAndFlush(std::wstring_view text) {
  std::fflush(stdout);
  for (wchar_t c : text) std::fputwc(c, stdout);
  std::fflush(stdout);
}

bool ProgramModuleAvailable() {
  return ::GetModuleHandleW(nullptr) != nullptr;
}

}  // namespace vesk1::platform
