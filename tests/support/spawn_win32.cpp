// Windows side of the child-process runner: CreateProcess with both output streams on pipes.
#include <windows.h>

#include "support/spawn.h"

namespace vesk1::test {
namespace {

// Quotes one argument the way the C run-time's command-line parser splits it again.
std::string QuoteArgument(const std::string& arg) {
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"')
      quoted.append(backslashes * 2 + 1, '\\');
    else
      quoted.append(backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  quoted += '"';
  return quoted;
}

struct Drain {
  HANDLE pipe;
  std::string* sink;
};

DWORD WINAPI DrainPipe(LPVOID parameter) {
  auto* drain = static_cast<Drain*>(parameter);
  char buffer[4096];
  DWORD n = 0;
  while (ReadFile(drain->pipe, buffer, sizeof buffer, &n, nullptr) && n > 0) {
    drain->sink->append(buffer, n);
  }
  return 0;
}

// The C run-time writes "\n" to a redirected text stream as "\r\n". Tests compare printed
// text with the same literals on every system, so the line ends are turned back here.
void UndoTextModeLineEnds(std::string& text) {
  std::string::size_type out = 0;
  for (std::string::size_type in = 0; in < text.size(); ++in) {
    if (text[in] == '\r' && in + 1 < text.size() && text[in + 1] == '\n') continue;
    text[out++] = text[in];
  }
  text.resize(out);
}

}  // namespace

std::string CurrentExecutablePath() {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::string(path, n) : std::string();
}

SpawnResult SpawnAndCapture(const std::string& program, const std::vector<std::string>& args,
                            const std::string& extraVariable) {
  SpawnResult result;
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
  if (!CreatePipe(&outRead, &outWrite, &inherit, 0)) return result;
  if (!CreatePipe(&errRead, &errWrite, &inherit, 0)) {
    CloseHandle(outRead);
    CloseHandle(outWrite);
    return result;
  }
  SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);

  std::string commandLine;
  for (const std::string& arg : args) {
    if (!commandLine.empty()) commandLine += ' ';
    commandLine += QuoteArgument(arg);
  }
  // The child's environment block: ours, then the extra variable, then the closing nul.
  std::string environment;
  if (LPCH block = GetEnvironmentStringsA(); block != nullptr) {
    const char* p = block;
    while (*p != '\0') {
      const std::string entry(p);
      environment += entry;
      environment += '\0';
      p += entry.size() + 1;
    }
    FreeEnvironmentStringsA(block);
  }
  environment += extraVariable;
  environment += '\0';
  environment += '\0';

  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = outWrite;
  startup.hStdError = errWrite;
  PROCESS_INFORMATION process = {};
  const BOOL created = CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                      0, environment.data(), nullptr, &startup, &process);
  CloseHandle(outWrite);
  CloseHandle(errWrite);

  if (created) {
    Drain errDrain = {errRead, &result.errors};
    HANDLE errThread = CreateThread(nullptr, 0, DrainPipe, &errDrain, 0, nullptr);
    Drain outDrain = {outRead, &result.output};
    DrainPipe(&outDrain);
    if (errThread != nullptr) {
      WaitForSingleObject(errThread, INFINITE);
      CloseHandle(errThread);
    } else {
      DrainPipe(&errDrain);
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    UndoTextModeLineEnds(result.output);
    UndoTextModeLineEnds(result.errors);
    result.started = true;
    result.exitStatus = static_cast<int>(code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(outRead);
  CloseHandle(errRead);
  return result;
}

}  // namespace vesk1::test
