// ReadFull and WriteFull against provoked short transfers, interruptions and failures, through
// the platform's swappable system-call table.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace vesk1::platform {
namespace {

// A scripted peer: each call takes the next step, a byte count to move or a failure code.
struct Step {
  std::ptrdiff_t bytes;  // >= 0: move up to this many bytes; -1: fail with `error`
  ErrorCode error;
};
std::vector<Step> gScript;
std::size_t gNext = 0;
std::string gStream;  // bytes the fake peer sends
std::size_t gStreamAt = 0;
std::string gWritten;  // bytes the fake peer received

std::ptrdiff_t ScriptedReceive(std::intptr_t, void* buffer, std::size_t size, ErrorCode* error) {
  const Step step = gNext < gScript.size() ? gScript[gNext++] : Step{0, 0};
  if (step.bytes < 0) {
    *error = step.error;
    return -1;
  }
  std::size_t n =
      std::min({static_cast<std::size_t>(step.bytes), size, gStream.size() - gStreamAt});
  std::memcpy(buffer, gStream.data() + gStreamAt, n);
  gStreamAt += n;
  return static_cast<std::ptrdiff_t>(n);
}

std::ptrdiff_t ScriptedSend(std::intptr_t, const void* buffer, std::size_t size, ErrorCode* error) {
  const Step step =
      gNext < gScript.size() ? gScript[gNext++] : Step{static_cast<std::ptrdiff_t>(size), 0};
  if (step.bytes < 0) {
    *error = step.error;
    return -1;
  }
  const std::size_t n = std::min(static_cast<std::size_t>(step.bytes), size);
  gWritten.append(static_cast<const char*>(buffer), n);
  return static_cast<std::ptrdiff_t>(n);
}

class PipeIo : public ::testing::Test {
 protected:
  void SetUp() override {
    gScript.clear();
    gNext = 0;
    gStream.clear();
    gStreamAt = 0;
    gWritten.clear();
    SystemCallTable() = {ScriptedReceive, ScriptedSend};
  }
  void TearDown() override { SystemCallTable() = DefaultSystemCalls(); }
  PipeEndpoint pipe_;
};

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + 3);
  return bytes;
}

TEST_F(PipeIo, ReadFull_ShortAndInterruptedReads_CompleteTheRecord) {
  gStream = Pattern(2704);
  gScript = {{1, 0},   {-1, InterruptedCode()}, {1000, 0}, {-1, InterruptedCode()}, {3, 0},
             {5000, 0}};
  std::string buffer(2704, '\0');
  EXPECT_EQ(kNoError, ReadFull(pipe_, buffer.data(), buffer.size()));
  EXPECT_EQ(gStream, buffer);
}

TEST_F(PipeIo, ReadFull_EndOfStreamMidRecord_IsBrokenPipe) {
  gStream = Pattern(1000);
  gScript = {{600, 0}, {600, 0}, {600, 0}};
  std::string buffer(2704, '\0');
  EXPECT_EQ(BrokenPipeCode(), ReadFull(pipe_, buffer.data(), buffer.size()));
}

TEST_F(PipeIo, ReadFull_Failure_ReturnsTheSystemCode) {
  gStream = Pattern(2704);
  gScript = {{10, 0}, {-1, ECONNRESET}};
  std::string buffer(2704, '\0');
  EXPECT_EQ(ECONNRESET, ReadFull(pipe_, buffer.data(), buffer.size()));
}

TEST_F(PipeIo, WriteFull_PartialAndInterruptedWrites_SendEverythingOnce) {
  const std::string reply = Pattern(2048);
  gScript = {{-1, InterruptedCode()}, {100, 0}, {1, 0}, {4000, 0}};
  EXPECT_EQ(kNoError, WriteFull(pipe_, reply.data(), reply.size()));
  EXPECT_EQ(reply, gWritten);
}

TEST_F(PipeIo, WriteFull_PeerGoneOrStuck_ReturnsBrokenPipe) {
  const std::string reply = Pattern(2048);
  const std::vector<std::vector<Step>> scripts = {{{512, 0}, {-1, BrokenPipeCode()}},
                                                  {{512, 0}, {0, 0}}};
  for (const auto& script : scripts) {
    gScript = script;
    gNext = 0;
    EXPECT_EQ(BrokenPipeCode(), WriteFull(pipe_, reply.data(), reply.size()));
  }
}

}  // namespace
}  // namespace vesk1::platform
