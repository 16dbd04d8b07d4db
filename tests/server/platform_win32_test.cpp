// The Win32 platform layer against real named pipes and files: the pipe as created, the
// connection cases the server reports by name, the codes of a client that hung up, and the
// copy of the module files into a worker directory.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace vesk1::platform {
namespace {

namespace fs = std::filesystem;

// An instance number no server of the test run uses, one per test.
int PrivateInstance() {
  static int next = 0;
  return 900000 + static_cast<int>(::GetCurrentProcessId() % 1000) * 100 + next++;
}

std::wstring WideName(const PipeEndpoint& pipe) {
  return std::wstring(pipe.name.begin(), pipe.name.end());
}

HANDLE OpenClient(const PipeEndpoint& pipe) {
  return ::CreateFileW(WideName(pipe).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                       OPEN_EXISTING, 0, nullptr);
}

TEST(Win32Pipe_Listen, NameAndParametersAreTheDocumentedOnes) {
  const int instance = PrivateInstance();
  PipeEndpoint pipe;
  ASSERT_EQ(kNoError, ListenOnPipe(instance, pipe));
  EXPECT_EQ("\\\\.\\pipe\\$VESK_PIPE" + std::to_string(instance) + "$", pipe.name);
  EXPECT_EQ(pipe.name, PipeDisplayName(instance));

  DWORD flags = 0, outputSize = 0, inputSize = 0, maxInstances = 0;
  ASSERT_TRUE(::GetNamedPipeInfo(reinterpret_cast<HANDLE>(pipe.listening), &flags, &outputSize,
                                 &inputSize, &maxInstances));
  EXPECT_EQ(static_cast<DWORD>(PIPE_SERVER_END | PIPE_TYPE_BYTE), flags);
  EXPECT_EQ(2048u, outputSize);
  EXPECT_EQ(5408u, inputSize);
  // Windows reports the unlimited count as PIPE_UNLIMITED_INSTANCES, wine as ~0.
  EXPECT_TRUE(maxInstances == PIPE_UNLIMITED_INSTANCES || maxInstances == ~DWORD{0})
      << maxInstances;
  ClosePipe(pipe);
}

// A client that opened the pipe before the server started waiting is connected all the same:
// the wait reports ERROR_PIPE_CONNECTED, and the server must take it as a connection.
TEST(Win32Pipe_Accept, ClientThatCameEarlyIsAccepted) {
  PipeEndpoint pipe;
  ASSERT_EQ(kNoError, ListenOnPipe(PrivateInstance(), pipe));
  const HANDLE client = OpenClient(pipe);
  ASSERT_NE(INVALID_HANDLE_VALUE, client);
  ASSERT_EQ(kNoError, AcceptClient(pipe));

  const char request[] = "hello";
  DWORD moved = 0;
  ASSERT_TRUE(::WriteFile(client, request, sizeof request, &moved, nullptr));
  char received[sizeof request] = {};
  EXPECT_EQ(kNoError, ReadFull(pipe, received, sizeof received));
  EXPECT_STREQ(request, received);
  ::CloseHandle(client);
  ClosePipe(pipe);
}

// A client that came and went before the wait leaves the pipe closing: the wait fails with
// ERROR_NO_DATA, which the server prints by its name.
TEST(Win32Pipe_Accept, ClientGoneBeforeTheWaitIsErrorNoData) {
  PipeEndpoint pipe;
  ASSERT_EQ(kNoError, ListenOnPipe(PrivateInstance(), pipe));
  const HANDLE client = OpenClient(pipe);
  ASSERT_NE(INVALID_HANDLE_VALUE, client);
  ::CloseHandle(client);
  const ErrorCode error = AcceptClient(pipe);
  EXPECT_EQ(static_cast<ErrorCode>(ERROR_NO_DATA), error);
  ASSERT_NE(nullptr, AcceptErrorName(error));
  EXPECT_STREQ("ERROR_NO_DATA", AcceptErrorName(error));
  ClosePipe(pipe);
}

TEST(Win32Pipe_Accept, OtherCodesHaveNoNameOfTheirOwn) {
  EXPECT_EQ(nullptr, AcceptErrorName(ERROR_ACCESS_DENIED));
  EXPECT_EQ(nullptr, AcceptErrorName(ERROR_BROKEN_PIPE));
  EXPECT_EQ(nullptr, AcceptErrorName(kNoError));
}

// A client that hung up: a read fails with ERROR_BROKEN_PIPE (the code "ReadFile: Error %ld"
// shows), a write fails too (the server then ends with status 1 without a message).
TEST(Win32Pipe_Transfer, HungUpClientFailsReadsAndWrites) {
  PipeEndpoint pipe;
  ASSERT_EQ(kNoError, ListenOnPipe(PrivateInstance(), pipe));
  const HANDLE client = OpenClient(pipe);
  ASSERT_NE(INVALID_HANDLE_VALUE, client);
  ASSERT_EQ(kNoError, AcceptClient(pipe));
  const char part[100] = {};
  DWORD moved = 0;
  ASSERT_TRUE(::WriteFile(client, part, sizeof part, &moved, nullptr));
  ::CloseHandle(client);

  char request[2704];
  EXPECT_EQ(static_cast<ErrorCode>(ERROR_BROKEN_PIPE), ReadFull(pipe, request, sizeof request));
  EXPECT_EQ(BrokenPipeCode(), static_cast<ErrorCode>(ERROR_BROKEN_PIPE));
  const char reply[2048] = {};
  EXPECT_NE(kNoError, WriteFull(pipe, reply, sizeof reply));
  ClosePipe(pipe);
}

// An empty write of the client is not an end of stream: the record still arrives whole.
TEST(Win32Pipe_Transfer, EmptyWritesOfTheClientAreNotAnEnd) {
  PipeEndpoint pipe;
  ASSERT_EQ(kNoError, ListenOnPipe(PrivateInstance(), pipe));
  const HANDLE client = OpenClient(pipe);
  ASSERT_NE(INVALID_HANDLE_VALUE, client);
  ASSERT_EQ(kNoError, AcceptClient(pipe));
  std::string sent(2704, '\0');
  for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<char>(i * 13 + 1);
  DWORD moved = 0;
  ASSERT_TRUE(::WriteFile(client, sent.data(), 1000, &moved, nullptr));
  ASSERT_TRUE(::WriteFile(client, sent.data(), 0, &moved, nullptr));
  ASSERT_TRUE(::WriteFile(client, sent.data() + 1000, 1704, &moved, nullptr));
  std::string received(2704, '\0');
  EXPECT_EQ(kNoError, ReadFull(pipe, received.data(), received.size()));
  EXPECT_EQ(sent, received);
  ::CloseHandle(client);
  ClosePipe(pipe);
}

class Win32Files : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("vesk1-platform-" + std::to_string(::GetCurrentProcessId()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_ / "to");
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  void Write(const std::string& name, const std::string& contents) {
    std::ofstream(root_ / name, std::ios::binary) << contents;
  }
  std::vector<std::string> Copied() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(root_ / "to")) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  fs::path root_;
};

// The pattern matches whole names, letters in either case as Windows file names do, and never
// a longer extension (which the system's own wildcards would let through short names).
TEST_F(Win32Files, ListAndCopy_TakeExactlyTheMatchingFiles) {
  Write("vesk1_chzd.dll", "module");
  Write("VESK1_Upper.DLL", "upper case");
  Write("vesk1.dll", "empty star");
  Write("vesk1_chzd.dllx", "longer extension");
  Write("vesk1_chzd.dll.bak", "backup");
  Write("avesk1_chzd.dll", "prefix");
  Write("other.dll", "not ours");
  fs::create_directory(root_ / "vesk1_dir.dll");
  const std::string to = (root_ / "to").string() + "\\";
  std::vector<std::string> names;
  ASSERT_EQ(kNoError, ListMatchingFiles(root_.string(), ModuleCopyPattern(), names));
  ASSERT_EQ(kNoError, CopyNamedFiles(root_.string(), names, to));
  EXPECT_EQ((std::vector<std::string>{"VESK1_Upper.DLL", "vesk1.dll", "vesk1_chzd.dll"}), Copied());
  std::ifstream copy(root_ / "to" / "vesk1_chzd.dll", std::ios::binary);
  std::string contents((std::istreambuf_iterator<char>(copy)), std::istreambuf_iterator<char>());
  EXPECT_EQ("module", contents);
}

TEST_F(Win32Files, InspectPathAndMakeDirectory) {
  const auto kindOf = [](const std::string& path) {
    PathFacts facts;
    EXPECT_EQ(kNoError, InspectPath(path, false, facts)) << path;
    return facts.kind;
  };
  const std::string worker = (root_ / "1").string();
  EXPECT_EQ(PathFacts::Kind::kMissing, kindOf(worker));
  Write("file", "not a directory");
  EXPECT_EQ(PathFacts::Kind::kRegularFile, kindOf((root_ / "file").string()));
  EXPECT_EQ(kNoError, MakeDirectory(worker));
  EXPECT_EQ(PathFacts::Kind::kDirectory, kindOf(worker));
  EXPECT_EQ(PathFacts::Kind::kDirectory, kindOf(worker + "\\"));
  EXPECT_EQ(static_cast<ErrorCode>(ERROR_ALREADY_EXISTS), MakeDirectory(worker));
}

TEST(Win32Processors, CountFollowsTheAffinityMask) {
  DWORD_PTR processMask = 0, systemMask = 0;
  ASSERT_TRUE(::GetProcessAffinityMask(::GetCurrentProcess(), &processMask, &systemMask));
  const int all = ProcessorCount();
  EXPECT_GE(all, 1);
  DWORD_PTR lowest = processMask & (~processMask + 1);
  ASSERT_TRUE(::SetProcessAffinityMask(::GetCurrentProcess(), lowest));
  EXPECT_EQ(1, ProcessorCount());
  ASSERT_TRUE(::SetProcessAffinityMask(::GetCurrentProcess(), processMask));
  EXPECT_EQ(all, ProcessorCount());
}

}  // namespace
}  // namespace vesk1::platform
