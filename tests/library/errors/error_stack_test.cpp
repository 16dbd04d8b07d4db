// The routine-name stack: pushes and pops, the print and stop decisions by type and level, the
// outcome queries and the print/stop tables. Every scenario runs in a child process, since the
// state is process-wide and many of them end the process.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "errors/errors.h"
#include "expected_text.h"
#include "support/child_process.h"

namespace vesk1::test {
namespace {

TEST(E1PSH, FortyNinthPushReachesLevel50_NextPushPrintsAndStops) {
  const ScenarioResult result = RunScenario([] {
    char name[8];
    for (int i = 1; i <= 49; ++i) {
      std::snprintf(name, sizeof name, "R%02d", i);
      E1PSH(name);
    }
    std::puts("49 pushed");
    E1PSH("R50");
    std::puts("not reached");
  });
  std::string expected = R"(49 pushed

 *** TERMINAL ERROR 1 from R49.  Error condition in E1PSH.  Push would cause
 ***          stack level to exceed 50.
)" + kTracebackHead + TracebackRow("R49", 5, 1, true);
  char name[8];
  for (int i = 48; i >= 1; --i) {
    std::snprintf(name, sizeof name, "R%02d", i);
    expected += TracebackRow(name, 0, 0, i >= 2);
  }
  expected += TracebackRow("USER", 0, 0, false);
  EXPECT_EQ(result.output, expected);
  EXPECT_EQ(result.exitStatus, 0);
}

TEST(E1POP, NameWithTrailingBlanks_MatchesStackedName) {
  const ScenarioResult result = RunScenario([] {
    E1PSH("DLINRG");
    E1POP("DLINRG   ");
    E1PSH(std::string_view());
    E1POP("  ");
    std::printf("level type %d\n", N1RTY(0));
  });
  EXPECT_EQ(result.output, "level type 0\n");
  EXPECT_EQ(result.exitStatus, kScenarioReturned);
}

TEST(E1POP, NameInOtherCase_PrintsMismatchAndStops) {
  const ScenarioResult result = RunScenario([] {
    E1PSH("DLINRG");
    E1POP("dlinrg");
    std::puts("not reached");
  });
  EXPECT_EQ(result.output, R"(
 *** TERMINAL ERROR 2 from DLINRG.  Error condition in E1POP.  dlinrg does
 ***          not match the name DLINRG in the stack.
)");
  EXPECT_EQ(result.exitStatus, 0);
}

TEST(E1POP, NothingPushed_PrintsEmptyStackAndStops) {
  const ScenarioResult result = RunScenario([] {
    E1POP("DLINRG");
    std::puts("not reached");
  });
  EXPECT_EQ(result.output, R"(
 *** TERMINAL ERROR 1 from E1POP.  Error condition in E1POP.  Cannot pop from
 ***          DLINRG because stack is empty.
)");
  EXPECT_EQ(result.exitStatus, 0);
}

TEST(E1PSH, NameLongerThan32_KeepsFirst32Characters) {
  const ScenarioResult kept = RunScenario([] {
    E1PSH("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789");
    E1POP("ABCDEFGHIJKLMNOPQRSTUVWXYZ012345");
    std::puts("popped");
  });
  EXPECT_EQ(kept.output, "popped\n");
  EXPECT_EQ(kept.exitStatus, kScenarioReturned);

  const ScenarioResult full = RunScenario([] {
    E1PSH("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789");
    E1POP("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789");
  });
  // A 32-character name leaves 19 characters of room on the first line.
  EXPECT_EQ(full.output,
            "\n"
            " *** TERMINAL ERROR 2 from ABCDEFGHIJKLMNOPQRSTUVWXYZ012345.  Error condition\n"
            " ***          in E1POP.  ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 does not match \n"
            " ***          the name ABCDEFGHIJKLMNOPQRSTUVWXYZ012345 in the stack.\n");
}

TEST(N1RTY, AfterCalleeAndCallerReturn_ReadOutcomeThenMinusOne) {
  const ScenarioResult result = RunScenario([] {
    E1PSH("DLINRG");
    E1PSH("DL2NRG");
    IssueMessage(kAlert, 6, "Alert.");
    E1POP("DL2NRG");
    std::printf("in caller: own %d/%d, callee %d/%d\n", N1RTY(0), N1RCD(0), N1RTY(1), N1RCD(1));
    E1POP("DLINRG");
    std::printf("at user: own %d/%d, callee %d/%d\n", N1RTY(0), N1RCD(0), N1RTY(1), N1RCD(1));
    E1PSH("DLFCRG");
    std::printf("next call: own %d/%d, callee %d/%d\n", N1RTY(0), N1RCD(0), N1RTY(1), N1RCD(1));
  });
  EXPECT_EQ(result.output,
            "in caller: own 2/6, callee 2/6\n"
            "at user: own 2/6, callee 2/6\n"
            "next call: own 0/0, callee -1/-1\n");
}

TEST(N1RTY, OptionNotZeroOrOne_PrintsAndStops) {
  const ScenarioResult atUser = RunScenario([] { N1RTY(2); });
  EXPECT_EQ(atUser.output, R"(
 *** TERMINAL ERROR 1 from USER.  The argument passed to N1RTY must be 0 or 1.
)");
  EXPECT_EQ(atUser.exitStatus, 0);

  // The text is exactly one character longer than the room left by " 1 from DL2NRG": it breaks
  // at the blank in the last column of the room.
  const ScenarioResult deep = RunScenario([] {
    E1PSH("DLINRG");
    E1PSH("DL2NRG");
    N1RCD(-1);
  });
  EXPECT_EQ(deep.output, R"(
 *** TERMINAL ERROR 1 from DL2NRG.  The argument passed to N1RCD must be 0 or
 ***          1.
)" + kTracebackHead + TracebackRow("DL2NRG", 5, 1, true) +
                             TracebackRow("DLINRG", 0, 0, false) +
                             TracebackRow("USER", 0, 0, false));
  EXPECT_EQ(deep.exitStatus, 0);
}

// One message of each type raised in DLINRG itself (level 2) or in DL2NRG called by it (level
// 3), with the print/stop tables as given.
struct DecisionCase {
  const char* label;
  int32_t type;
  bool deep;
  std::vector<std::array<int32_t, 3>> attributes;  // SetPrintStopAttributes calls first
  std::string expected;
  int status;
};

void RunDecisionCase(const DecisionCase& c) {
  for (auto [t, p, s] : c.attributes) SetPrintStopAttributes(t, p, s);
  E1PSH("DLINRG");
  if (c.deep) E1PSH("DL2NRG");
  StoreIntegerParameter(1, 4);
  IssueMessage(c.type, 2, "Column %(I1) is singular.");
  std::puts("issued");
  if (c.deep) {
    E1POP("DL2NRG");
    std::puts("inner popped");
  }
  E1POP("DLINRG");
  std::puts("outer popped");
}

const std::string kDeepRows(int type) {
  return kTracebackHead + TracebackRow("DL2NRG", type, 2, true) +
         TracebackRow("DLINRG", 0, 0, false) + TracebackRow("USER", 0, 0, false);
}

TEST(E1POP, PrintAndStopDecisions_FollowTypeAndLevel) {
  const std::vector<DecisionCase> cases = {
      {"warning deep: once, at the level-2 pop, named as DLINRG",
       kWarning,
       true,
       {},
       "issued\ninner popped\n\n"
       " *** WARNING  ERROR 2 from DLINRG.  Column 4 is singular.\nouter popped\n",
       kScenarioReturned},
      {"fatal deep: at the level-2 pop, then stop",
       kFatal,
       true,
       {},
       "issued\ninner popped\n\n"
       " *** FATAL    ERROR 2 from DLINRG.  Column 4 is singular.\n",
       0},
      {"fatal deep with stop off: printed, goes on",
       kFatal,
       true,
       {{4, -1, 0}},
       "issued\ninner popped\n\n"
       " *** FATAL    ERROR 2 from DLINRG.  Column 4 is singular.\nouter popped\n",
       kScenarioReturned},
      {"terminal deep: at once, stop at its own pop",
       kTerminal,
       true,
       {},
       "\n *** TERMINAL ERROR 2 from DL2NRG.  Column 4 is singular.\n" + kDeepRows(5) + "issued\n",
       0},
      {"deferred fatal deep: at once, stop at the level-2 pop",
       kFatalDeferredStop,
       true,
       {},
       "\n *** FATAL    ERROR 2 from DL2NRG.  Column 4 is singular.\n" + kDeepRows(7) +
           "issued\ninner popped\n",
       0},
      {"deferred warning deep: at once, no stop",
       kWarningDeferredStop,
       true,
       {},
       "\n *** WARNING  ERROR 2 from DL2NRG.  Column 4 is singular.\n" + kDeepRows(6) +
           "issued\ninner popped\nouter popped\n",
       kScenarioReturned},
      {"deferred warning deep with stop on: stop at the level-2 pop",
       kWarningDeferredStop,
       true,
       {{6, -1, 1}},
       "\n *** WARNING  ERROR 2 from DL2NRG.  Column 4 is singular.\n" + kDeepRows(6) +
           "issued\ninner popped\n",
       0},
      {"note deep with print on: never printed",
       kNote,
       true,
       {{1, 1, 1}},
       "issued\ninner popped\nouter popped\n",
       kScenarioReturned},
      {"note at level 2 with print and stop on: printed, stop",
       kNote,
       false,
       {{1, 1, 1}},
       "issued\n\n *** NOTE     ERROR 2 from DLINRG.  Column 4 is singular.\n",
       0},
      {"alert at level 2 by default: silent",
       kAlert,
       false,
       {},
       "issued\nouter popped\n",
       kScenarioReturned},
      {"alert at level 2 with print on",
       kAlert,
       false,
       {{2, 1, -1}},
       "issued\n\n *** ALERT    ERROR 2 from DLINRG.  Column 4 is singular.\nouter popped\n",
       kScenarioReturned},
      {"warning with print off: silent",
       kWarning,
       false,
       {{3, 0, -1}},
       "issued\nouter popped\n",
       kScenarioReturned},
  };
  for (const DecisionCase& c : cases) {
    const ScenarioResult result = RunScenario([&c] { RunDecisionCase(c); });
    EXPECT_EQ(result.output, c.expected) << c.label;
    EXPECT_EQ(result.exitStatus, c.status) << c.label;
  }
}

TEST(E1POP, TerminalIssuedWhilePrintOff_PrintedByPopOnceTurnedOn) {
  const ScenarioResult result = RunScenario([] {
    int32_t off = 0;
    int32_t on = 1;
    int32_t keep = -1;
    SetPrintStopAttributes(5, off, off);
    E1PSH("DLINRG");
    E1PSH("DL2NRG");
    IssueMessage(kTerminal, 3, "Held back.");
    std::puts("issued");
    SetPrintStopAttributes(5, on, keep);
    E1POP("DL2NRG");
    std::puts("inner popped");
    E1POP("DLINRG");
    std::puts("outer popped");
  });
  EXPECT_EQ(result.output, "issued\n\n *** TERMINAL ERROR 3 from DL2NRG.  Held back.\n" +
                               kTracebackHead + TracebackRow("DL2NRG", 5, 3, true) +
                               TracebackRow("DLINRG", 5, 3, false) +
                               TracebackRow("USER", 0, 0, false) + "inner popped\nouter popped\n");
  EXPECT_EQ(result.exitStatus, kScenarioReturned);
}

TEST(E1POP, PendingFatalAndWarning_FatalDecides) {
  // Stop off for deferred fatals, on for deferred warnings: the fatal's attribute wins.
  const ScenarioResult result = RunScenario([] {
    int32_t on = 1;
    int32_t off = 0;
    SetPrintStopAttributes(6, off, on);
    SetPrintStopAttributes(7, off, off);
    E1PSH("DLINRG");
    E1PSH("DL2NRG");
    IssueMessage(kWarningDeferredStop, 1, "First.");
    E1POP("DL2NRG");
    E1PSH("DL2CRG");
    IssueMessage(kFatalDeferredStop, 2, "Second.");
    E1POP("DL2CRG");
    E1POP("DLINRG");
    std::printf("went on with %d/%d\n", N1RTY(1), N1RCD(1));
  });
  EXPECT_EQ(result.output, "went on with 7/2\n");
  EXPECT_EQ(result.exitStatus, kScenarioReturned);
}

TEST(SetPrintStopAttributes, QuerySetRestore_ReadBackTables) {
  const ScenarioResult result = RunScenario([] {
    // Each call (type, print, stop), then both tables as read back by queries.
    int32_t calls[][3] = {{-1, 0, 0}, {0, 0, 1}, {0, 2, -1}, {3, -1, 2}, {8, 1, 0}, {0, 2, 2}};
    for (auto [t, p, s] : calls) {
      SetPrintStopAttributes(t, p, s);
      for (int32_t type = 1; type <= 7; ++type) {
        int32_t print = 77;
        int32_t stop = 77;
        SetPrintStopAttributes(-type, print, stop);
        std::printf(" %d%d", print, stop);
      }
      std::printf("\n");
    }
    int32_t p = 77;
    int32_t s = 77;
    SetPrintStopAttributes(-8, p, s);
    std::printf("below -7: %d %d\n", p, s);
  });
  EXPECT_EQ(result.output,
            " 00 00 10 11 11 10 11\n"  // the defaults
            " 01 01 01 01 01 01 01\n"  // all types: print off, stop on
            " 01 01 11 11 11 11 11\n"  // print restored, stop left
            " 01 01 10 11 11 11 11\n"  // stop of type 3 restored
            " 01 01 10 11 11 11 11\n"  // type 8 changes nothing
            " 00 00 10 11 11 10 11\n"  // both restored
            "below -7: 77 77\n");
}

TEST(SetPrintStopAttributes, BadAttributes_PrintMessagesAndChangeNothing) {
  const ScenarioResult badPrint = RunScenario([] {
    int32_t p = 5;
    int32_t s = 0;
    SetPrintStopAttributes(3, p, s);
    SetPrintStopAttributes(-3, p, s);
    std::printf("type 3: %d %d\n", p, s);
  });
  EXPECT_EQ(badPrint.output, R"(
 *** TERMINAL ERROR 1 from USER.  Invalid value specified for print table
 ***          attribute.  IPATT must be -1, 0, 1, or 2.  IPATT = 5
type 3: 1 0
)");
  EXPECT_EQ(badPrint.exitStatus, kScenarioReturned);

  const ScenarioResult both = RunScenario([] {
    int32_t p = -2;
    int32_t s = 9;
    SetPrintStopAttributes(0, p, s);
    SetPrintStopAttributes(-5, p, s);
    std::printf("type 5: %d %d\n", p, s);
  });
  EXPECT_EQ(both.output, R"(
 *** TERMINAL ERROR 1 from USER.  Invalid value specified for print table
 ***          attribute.  IPATT must be -1, 0, 1, or 2.  IPATT = -2

 *** TERMINAL ERROR 1 from USER.  Invalid value specified for stop table
 ***          attribute.  ISATT must be -1, 0, 1, or 2.  ISATT = 9
type 5: 1 1
)");
}

TEST(SetPrintStopAttributes, BadAttributeInsideRoutine_StopsAtItsPop) {
  const ScenarioResult result = RunScenario([] {
    E1PSH("DLINRG");
    int32_t p = 3;
    int32_t s = 0;
    SetPrintStopAttributes(1, p, s);
    std::puts("charged to DLINRG");
    E1POP("DLINRG");
    std::puts("not reached");
  });
  EXPECT_EQ(result.output, R"(
 *** TERMINAL ERROR 1 from DLINRG.  Invalid value specified for print table
 ***          attribute.  IPATT must be -1, 0, 1, or 2.  IPATT = 3
charged to DLINRG
)");
  EXPECT_EQ(result.exitStatus, 0);
}

}  // namespace
}  // namespace vesk1::test
