// The POSIX platform layer against real files: what a failed module load reports, which module
// files a directory holds, and what a failing directory read or copy leaves behind.
#include <errno.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix_file_calls.h"

namespace vesk1::platform {
namespace {

namespace fs = std::filesystem;

class PosixFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "vesk1-platform-XXXXXX").string();
    ASSERT_NE(nullptr, ::mkdtemp(pattern.data()));
    root_ = pattern;
  }
  void TearDown() override {
    FileCallTable() = DefaultFileCalls();
    fs::remove_all(root_);
  }
  void Write(const std::string& name, const std::string& contents) {
    std::ofstream(root_ / name, std::ios::binary) << contents;
  }
  fs::path root_;
};

// The loader's own reason comes back, naming the file, whatever made the load fail.
TEST_F(PosixFiles, OpenModule_Failure_GivesTheLoadersReason) {
  Write("vesk1_broken.so", "not a shared library at all");
  struct Case {
    std::string file;
    std::string expected;  // part of the loader's text
  };
  for (const Case& c : {Case{"vesk1_missing.so", "No such file or directory"},
                        Case{"vesk1_broken.so", "vesk1_broken.so"}}) {
    const std::string path = (root_ / c.file).string();
    std::string reason;
    EXPECT_EQ(nullptr, OpenModule(path, &reason));
    EXPECT_NE(std::string::npos, reason.find(path)) << reason;
    EXPECT_NE(std::string::npos, reason.find(c.expected)) << reason;
  }
}

TEST_F(PosixFiles, ListMatchingFiles_TakesRegularFilesOfThePattern) {
  for (const char* name : {"vesk1_chzd.so", "vesk1_fdll.so", "vesk1.txt", "other.so"}) {
    Write(name, "x");
  }
  fs::create_directory(root_ / "vesk1_folder.so");
  std::vector<std::string> names;
  ASSERT_EQ(kNoError, ListMatchingFiles(root_.string(), ModuleCopyPattern(), names));
  std::sort(names.begin(), names.end());
  EXPECT_EQ((std::vector<std::string>{"vesk1_chzd.so", "vesk1_fdll.so"}), names);
}

TEST_F(PosixFiles, ListMatchingFiles_FailedReadIsAnErrorNotTheEnd) {
  Write("vesk1_chzd.so", "x");
  FileCallTable().readDirectory = [](DIR*) -> dirent* {
    errno = EIO;
    return nullptr;
  };
  std::vector<std::string> names;
  EXPECT_EQ(EIO, ListMatchingFiles(root_.string(), ModuleCopyPattern(), names));
}

int gWrites = 0;

// A write that fails half-way through a copy leaves the file it would replace as it was, and no
// partial file beside it.
TEST_F(PosixFiles, CopyNamedFiles_FailedWriteLeavesNoPartialCopy) {
  Write("vesk1_chzd.so", std::string(100000, 'm'));
  fs::create_directory(root_ / "to");
  Write("to/vesk1_chzd.so", "old");
  gWrites = 0;
  FileCallTable().write = [](int file, const void* buffer, size_t size) -> ssize_t {
    if (gWrites++ == 0) return ::write(file, buffer, std::min<size_t>(size, 1000));
    errno = ENOSPC;
    return -1;
  };
  EXPECT_EQ(ENOSPC, CopyNamedFiles(root_.string(), {"vesk1_chzd.so"}, (root_ / "to/").string()));
  std::ifstream copy(root_ / "to" / "vesk1_chzd.so", std::ios::binary);
  EXPECT_EQ("old", std::string(std::istreambuf_iterator<char>(copy), {}));
  EXPECT_EQ(1, std::distance(fs::directory_iterator(root_ / "to"), {}));
}

}  // namespace
}  // namespace vesk1::platform
