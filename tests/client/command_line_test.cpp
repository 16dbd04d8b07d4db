// The pieces every mode of vesk1_client shares on its command line.
#include "client/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vesk1::client {
namespace {

// Read as the server reads its argument, but nothing the server would read as another number.
TEST(ParseInstance, DecimalThirtyTwoBitNumbersOnly) {
  struct Case {
    std::string text;
    bool valid;
    int instance;
  };
  for (const Case& c :
       {Case{"7", true, 7}, Case{"07", true, 7}, Case{"-3", true, -3}, Case{"+5", true, 5},
        Case{"0", true, 0}, Case{"2147483647", true, 2147483647},
        Case{"-2147483648", true, -2147483647 - 1}, Case{"2147483648", false, 0},
        Case{"99999999999", false, 0}, Case{"0x7", false, 0}, Case{"7a", false, 0},
        Case{"seven", false, 0}, Case{"", false, 0}, Case{"-", false, 0}, Case{" 7", false, 0},
        Case{"7 ", false, 0}}) {
    int instance = 12345;
    EXPECT_EQ(c.valid, ParseInstance(c.text, instance)) << "\"" << c.text << "\"";
    EXPECT_EQ(c.valid ? c.instance : 12345, instance) << "\"" << c.text << "\"";
  }
}

TEST(LooksLikeInstance, OptionsStartWithADashAndALetter) {
  struct Case {
    std::string word;
    bool instance;
  };
  for (const Case& c : {Case{"7", true}, Case{"-3", true}, Case{"seven", true}, Case{"-", true},
                        Case{"-h", false}, Case{"--stop", false}, Case{"-x7", false}}) {
    EXPECT_EQ(c.instance, LooksLikeInstance(c.word)) << c.word;
  }
}

TEST(IsHelpOption, LongAndShort) {
  EXPECT_TRUE(IsHelpOption("--help"));
  EXPECT_TRUE(IsHelpOption("-h"));
  EXPECT_FALSE(IsHelpOption("-help"));
  EXPECT_FALSE(IsHelpOption("--h"));
}

// One code per outcome, and --help lists each of them.
TEST(ExitCodeFor, EveryStatusHasItsListedCode) {
  struct Case {
    ClientStatus status;
    int code;
    std::string listed;
  };
  for (const Case& c : {Case{ClientStatus::kOk, 0, "0 done"},
                        Case{ClientStatus::kNoServer, 3, "3 no server listens"},
                        Case{ClientStatus::kClosed, 4, "4 the server closed"},
                        Case{ClientStatus::kTimedOut, 4, "or sent no reply in time"},
                        Case{ClientStatus::kFailed, 5, "5 any other failure"},
                        Case{ClientStatus::kBusy, 6, "6 the server is already serving a client"},
                        Case{ClientStatus::kRefused, 7, "7 the pipe's directory or the server"}}) {
    EXPECT_EQ(c.code, ExitCodeFor(c.status)) << StatusText(c.status);
    const std::string help = std::string(kExitCodeHelp);
    std::string flat;
    for (char ch : help) flat += ch == '\n' ? ' ' : ch;
    EXPECT_NE(std::string::npos, flat.find(c.listed)) << c.listed;
  }
}

// One reader for every mode that asks a server: shared options, the mode's own through its
// callback, the instance, and one usage error naming the mode.
TEST(ReadServerModeLine, SharedOwnAndBadWords) {
  struct Case {
    std::vector<const char*> words;
    int status;
    std::string printed;
  };
  const Case cases[] = {
      {{"--socket",
        "/s",
        "--timeout",
        "250",
        "--stop",
        "--mine",
        "m",
        "--component",
        "yx",
        "--rotate",
        "-30",
        "--periods",
        "0.1:1e3",
        "--exclude-periods",
        "1:2,3:3",
        "--drop-out-of-quadrant",
        "--rho-floor",
        "0.1",
        "--phase-floor",
        "2",
        "--static-shift",
        "0.5",
        "7"},
       kGoOn,
       ""},
      {{"--periods", "10:1"}, kExitUsage, "--periods needs MIN:MAX, seconds with 0 < MIN <= MAX"},
      {{"--periods", "1,2"}, kExitUsage, "--periods needs MIN:MAX, seconds with 0 < MIN <= MAX"},
      {{"--exclude-periods", "1:2,"},
       kExitUsage,
       "--exclude-periods needs A:B[,C:D...], seconds with 0 < A <= B"},
      {{"--rotate", "nan"}, kExitUsage, "--rotate needs degrees from -360 to 360"},
      {{"--rho-floor", "1.5"}, kExitUsage, "--rho-floor needs a fraction from 0 to 1"},
      {{"--phase-floor", "91"}, kExitUsage, "--phase-floor needs degrees from 0 to 90"},
      {{"--static-shift", "0"}, kExitUsage, "--static-shift needs a factor from 0.001 to 1000"},
      {{"--timeout", "0"}, kExitUsage, "--timeout needs a positive number of milliseconds"},
      {{"--error-floor", "1"}, kExitUsage, "--error-floor needs a fraction from 0 to below 1"},
      {{"--bogus"}, kExitUsage, "unknown option --bogus"},
      {{"7", "8"}, kExitUsage, "more than one instance number"},
      {{"--mine"}, kExitUsage, "--mine needs a value"},
  };
  for (const Case& c : cases) {
    std::vector<char*> argv = {const_cast<char*>("mode")};
    for (const char* word : c.words) argv.push_back(const_cast<char*>(word));
    Arguments args("vesk1_client mode", static_cast<int>(argv.size()), argv.data());
    ServerOptions server;
    mt::ReadOptions read;
    std::string mine;
    testing::internal::CaptureStderr();
    const int status = ReadServerModeLine(args, server, &read, [&](Arguments& a) {
      if (a.word() != "--mine") return kNotMine;
      const char* value = a.TakeValue();
      if (value == nullptr) return a.UsageError("--mine needs a value");
      mine = value;
      return kGoOn;
    });
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, c.status) << c.printed;
    if (c.status == kGoOn) {
      EXPECT_EQ(printed, "");
      EXPECT_EQ(server.socketPath, "/s");
      EXPECT_EQ(server.timeoutMs, 250);
      EXPECT_TRUE(server.stop && server.haveInstance && server.instance == 7 && mine == "m");
      EXPECT_EQ(read.component, mt::Component::kYX);
      EXPECT_EQ(read.rotateTo, -30);
      ASSERT_TRUE(read.keep.has_value());
      EXPECT_EQ(read.keep->from, 0.1);
      EXPECT_EQ(read.keep->to, 1000);
      ASSERT_EQ(read.exclude.size(), 2u);
      EXPECT_EQ(read.exclude[1].from, 3);
      EXPECT_EQ(read.exclude[1].to, 3);
      EXPECT_TRUE(read.dropOutOfQuadrant);
      EXPECT_EQ(read.rhoFloor, 0.1);
      EXPECT_EQ(read.phaseFloor, 2);
      EXPECT_EQ(read.staticShift, 0.5);
    } else {
      EXPECT_EQ(printed, "vesk1_client mode: " + c.printed + "\nTry 'vesk1_client mode --help'.\n");
    }
  }
}

}  // namespace
}  // namespace vesk1::client
