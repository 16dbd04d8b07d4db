// The option manager: gets, puts and defaults, the argument checks with their messages, the
// reports and the check switch. Each scenario runs in a child process with a fresh table.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "errors/errors.h"
#include "support/child_process.h"

namespace vesk1::test {
namespace {

void PrintValues(const char* label, const std::vector<int32_t>& values) {
  std::printf("%s:", label);
  for (const int32_t v : values) std::printf(" %d", v);
  std::printf("\n");
}

std::vector<int32_t> Get(std::string_view product, int32_t chapter, std::vector<int32_t> options,
                         size_t count) {
  std::vector<int32_t> values(count, -99);
  IUMAG(product, chapter, 1, static_cast<int32_t>(options.size()), options, values);
  return values;
}

void Put(std::string_view product, int32_t chapter, std::vector<int32_t> options,
         std::vector<int32_t> values) {
  IUMAG(product, chapter, 2, static_cast<int32_t>(options.size()), options, values);
}

TEST(IUMAG, GetPutDefaults_MoveValuesInListOrder) {
  const ScenarioResult result = RunScenario([] {
    PrintValues("17", Get("MATH", 1, {17}, 2));
    Put("MATH", 1, {17}, {5, 6});
    PrintValues("16,-17", Get("MATH", 1, {16, -17}, 6));
    PrintValues("17 after put", Get("math", 1, {17}, 2));
    std::vector<int32_t> untouched = {-7, -7};
    const std::vector<int32_t> restore = {-17};
    IUMAG("MaTh", 1, 2, 1, restore, untouched);
    PrintValues("after restore", Get("MATH", 1, {17}, 2));
    PrintValues("optvals of the restore", untouched);
    PrintValues("chapter 5", Get("MATH", 5, {56, 68, 85, 100, 51, -7}, 26));
    PrintValues("chapter 2", Get("MATH", 2, {1}, 8));
    PrintValues("stat 19", Get("stat", 19, {3, 2, 1}, 3));
  });
  std::string expected =
      "17: 1 2\n"
      "16,-17: 1 16 0 1 1 2\n"
      "17 after put: 5 6\n"
      "after restore: 1 2\n"
      "optvals of the restore: -7 -7\n"
      "chapter 5: 500 5 0 0 2147483647 0";
  for (int32_t v = 51; v <= 70; ++v) expected.append(" ").append(std::to_string(v));
  expected +=
      "\n"
      "chapter 2: 1 16 0 1 1 16 0 1\n"
      "stat 19: 3 2 0\n";
  EXPECT_EQ(result.output, expected);
  EXPECT_EQ(result.exitStatus, kScenarioReturned);
}

TEST(IUMAG, ValuesArrayTooShort_NothingWrittenBeyondIt) {
  const ScenarioResult result = RunScenario([] {
    std::vector<int32_t> values = {-1, -1, -1, -1, -1, -1};
    const std::vector<int32_t> options = {17, 16};
    // Room for option 17's two values but not for 16's four.
    IUMAG("MATH", 1, 1, 2, options, std::span<int32_t>(values).first(5));
    PrintValues("got", values);
  });
  EXPECT_EQ(result.output, "got: 1 2 -1 -1 -1 -1\n");
}

struct CheckCase {
  const char* label;
  std::string product;
  int32_t chapter;
  int32_t action;
  int32_t count;
  std::vector<int32_t> options;
  std::string expected;
};

TEST(IUMAG, BadArguments_TerminalMessagesThenStop) {
  const std::vector<CheckCase> cases = {
      {"code 1",
       "MATH",
       1,
       3,
       1,
       {17},
       " *** TERMINAL ERROR 1 from IUMAG.  IACT must be 1 to get option values or 2\n"
       " ***          to put option values.  IACT = 3 is invalid.\n"},
      {"code 2",
       "MATX",
       1,
       1,
       1,
       {17},
       " *** TERMINAL ERROR 2 from IUMAG.  The product name must be either MATH or\n"
       " ***          STAT.  PRODNM = MATX is invalid.\n"},
      {"codes 1 and 2 together, nothing further checked",
       "mat",
       99,
       0,
       0,
       {0},
       " *** TERMINAL ERROR 1 from IUMAG.  IACT must be 1 to get option values or 2\n"
       " ***          to put option values.  IACT = 0 is invalid.\n\n"
       " *** TERMINAL ERROR 2 from IUMAG.  The product name must be either MATH or\n"
       " ***          STAT.  PRODNM = MAT is invalid.\n"},
      {"code 3",
       "MATH",
       11,
       1,
       1,
       {17},
       " *** TERMINAL ERROR 3 from IUMAG.  ICHP = 11 is an invalid MATH chapter\n"
       " ***          number.  To get or put MATH options, ICHP must be between 1 and \n"
       " ***          10.\n"},
      {"code 3 for STAT",
       "STAT",
       0,
       1,
       1,
       {1},
       " *** TERMINAL ERROR 3 from IUMAG.  ICHP = 0 is an invalid STAT chapter\n"
       " ***          number.  To get or put STAT options, ICHP must be between 1 and \n"
       " ***          20.\n"},
      {"code 4",
       "MATH",
       3,
       1,
       1,
       {17},
       " *** TERMINAL ERROR 4 from IUMAG.  No options exist for MATH chapter 3.  Only\n"
       " ***          existing options may have values retrieved from or placed into \n"
       " ***          them.\n"},
      {"code 5",
       "MATH",
       1,
       1,
       0,
       {17},
       " *** TERMINAL ERROR 5 from IUMAG.  NUMOPT = 0 is an invalid number of\n"
       " ***          options.  NUMOPT must be greater than zero.\n"},
      {"codes 4 and 5 together",
       "STAT",
       1,
       2,
       -1,
       {1},
       " *** TERMINAL ERROR 4 from IUMAG.  No options exist for STAT chapter 1.  Only\n"
       " ***          existing options may have values retrieved from or placed into \n"
       " ***          them.\n\n"
       " *** TERMINAL ERROR 5 from IUMAG.  NUMOPT = -1 is an invalid number of\n"
       " ***          options.  NUMOPT must be greater than zero.\n"},
      {"code 6 for an option without values",
       "MATH",
       1,
       1,
       1,
       {7},
       " *** TERMINAL ERROR 6 from IUMAG.  IOPTS(1) = 7 is an invalid MATH chapter 1\n"
       " ***          option number.\n"},
      {"code 6 for each bad entry: 0 and beyond the chapter",
       "MATH",
       1,
       1,
       3,
       {0, 17, -22},
       " *** TERMINAL ERROR 6 from IUMAG.  IOPTS(1) = 0 is an invalid MATH chapter 1\n"
       " ***          option number.\n\n"
       " *** TERMINAL ERROR 6 from IUMAG.  IOPTS(3) = -22 is an invalid MATH chapter\n"
       " ***          1 option number.\n"},
  };
  for (const CheckCase& c : cases) {
    const ScenarioResult result = RunScenario([&c] {
      std::vector<int32_t> values(8, 0);
      IUMAG(c.product, c.chapter, c.action, c.count, c.options, values);
      std::puts("not reached");
    });
    EXPECT_EQ(result.output, "\n" + c.expected) << c.label;
    EXPECT_EQ(result.exitStatus, 0) << c.label;
  }
}

TEST(IUMAG, CheckFailsWithStopOff_ReturnsWithoutEffect) {
  const ScenarioResult result = RunScenario([] {
    int32_t keep = -1;
    int32_t off = 0;
    SetPrintStopAttributes(5, keep, off);
    std::vector<int32_t> values = {8, 9, 8, 9};
    const std::vector<int32_t> options = {17, 7};
    IUMAG("MATH", 1, 2, 2, options, values);
    PrintValues("17", Get("MATH", 1, {17}, 2));
  });
  EXPECT_EQ(result.output,
            "\n *** TERMINAL ERROR 6 from IUMAG.  IOPTS(2) = 7 is an invalid MATH chapter 1\n"
            " ***          option number.\n"
            "17: 1 2\n");
}

TEST(IUMAG, CheckSwitchOn_NoChecksNoMessagesNoEffect) {
  const ScenarioResult result = RunScenario([] {
    Put("MATH", 10, {2}, {1});
    std::vector<int32_t> values = {-5, -5};
    const std::vector<int32_t> options = {17};
    IUMAG("MATH", 1, 3, 1, options, values);
    const std::vector<int32_t> missing = {7};
    IUMAG("MATH", 1, 1, 1, missing, values);
    IUMAG("MATH", 42, 1, 1, options, values);
    PrintValues("untouched", values);
    PrintValues("still served", Get("MATH", 1, {17}, 2));
  });
  EXPECT_EQ(result.output, "untouched: -5 -5\nstill served: 1 2\n");
  EXPECT_EQ(result.exitStatus, kScenarioReturned);
}

std::string ReportRow(int32_t entry, int32_t value) {
  char row[64];
  std::snprintf(row, sizeof row, "                   %6d       %12d\n", entry, value);
  return row;
}

const std::string kReportHeadings = "             entry number              value\n";

TEST(IUMAG, ReportCount_PrintsBlocksAndCountsDown) {
  const ScenarioResult result = RunScenario([] {
    Put("MATH", 10, {1}, {2});
    std::puts("count set");
    PrintValues("got", Get("MATH", 1, {16, 17, 21}, 7));
    PrintValues("count", Get("MATH", 10, {1}, 1));
  });
  EXPECT_EQ(result.output,
            "count set\n"
            "\n"
            " A return (get) of the following values from option\n"
            " number     16 in MATH chapter  1 was performed by IUMAG:\n" +
                kReportHeadings + ReportRow(1, 1) + ReportRow(2, 16) + ReportRow(3, 0) +
                ReportRow(4, 1) +
                "\n"
                " A return (get) of the following values from option\n"
                " number     17 in MATH chapter  1 was performed by IUMAG:\n" +
                kReportHeadings + ReportRow(1, 1) + ReportRow(2, 2) +
                "got: 1 16 0 1 1 2 1\n"
                "count: 0\n");
}

TEST(IUMAG, ReportOfTheCountItself_ShowsItThenReturnsCountedDown) {
  const ScenarioResult result = RunScenario([] {
    Put("STAT", 19, {1}, {1});
    PrintValues("got", Get("STAT", 19, {1}, 1));
  });
  EXPECT_EQ(result.output,
            "\n"
            " A return (get) of the following values from option\n"
            " number      1 in STAT chapter 19 was performed by IUMAG:\n" +
                kReportHeadings + ReportRow(1, 1) + "got: 0\n");
}

TEST(IUMAG, ReportOfAPut_ShowsValuesNowHeld) {
  const ScenarioResult result = RunScenario([] {
    Put("MATH", 10, {1}, {1});
    Put("MATH", 1, {-5}, {});
    Put("MATH", 1, {17}, {3, -2147483647 - 1});
  });
  EXPECT_EQ(result.output,
            "\n"
            " A change (put) was made by IUMAG to option number     -5 in MATH\n"
            " chapter  1, resulting in the following values for that option:\n" +
                kReportHeadings + ReportRow(1, 1) + ReportRow(2, 2147483647));
}

// A put of the report count is what the count holds after the call; the call's own reports
// are still decided by the count it started with. A put of any other option counts down.
TEST(IUMAG, PutOfTheReportCount_HeldAfterTheCall) {
  struct Case {
    const char* name;
    std::function<void()> body;
    std::string expected;
  };
  const std::string putCount =
      "\n"
      " A change (put) was made by IUMAG to option number      1 in MATH\n"
      " chapter 10, resulting in the following values for that option:\n" +
      kReportHeadings;
  const std::string getCount =
      "\n"
      " A return (get) of the following values from option\n"
      " number      1 in MATH chapter 10 was performed by IUMAG:\n" +
      kReportHeadings;
  const std::vector<Case> cases = {
      {"put 0 while reporting is on: reported, then silent",
       [] {
         Put("MATH", 10, {1}, {3});
         Put("MATH", 10, {1}, {0});
         PrintValues("got", Get("MATH", 1, {17}, 2));
         PrintValues("count", Get("MATH", 10, {1}, 1));
       },
       putCount + ReportRow(1, 0) + "got: 1 2\ncount: 0\n"},
      {"put 5 while the count is 2: 5 held, counted down by the next report only",
       [] {
         Put("MATH", 10, {1}, {2});
         Put("MATH", 10, {1}, {5});
         PrintValues("count", Get("MATH", 10, {1}, 1));
       },
       putCount + ReportRow(1, 5) + getCount + ReportRow(1, 5) + "count: 4\n"},
      {"default restored while reporting is on",
       [] {
         Put("MATH", 10, {1}, {2});
         Put("MATH", 10, {-1}, {});
         PrintValues("count", Get("MATH", 10, {1}, 1));
       },
       "\n"
       " A change (put) was made by IUMAG to option number     -1 in MATH\n"
       " chapter 10, resulting in the following values for that option:\n" +
           kReportHeadings + ReportRow(1, 0) + "count: 0\n"},
      {"put of another option counts down",
       [] {
         Put("MATH", 10, {1}, {2});
         Put("MATH", 10, {2}, {0});
         PrintValues("count", Get("MATH", 10, {1}, 1));
       },
       "\n"
       " A change (put) was made by IUMAG to option number      2 in MATH\n"
       " chapter 10, resulting in the following values for that option:\n" +
           kReportHeadings + ReportRow(1, 0) + getCount + ReportRow(1, 1) + "count: 0\n"},
  };
  for (const Case& c : cases) {
    const ScenarioResult result = RunScenario(c.body);
    EXPECT_EQ(result.output, c.expected) << c.name;
  }
}

}  // namespace
}  // namespace vesk1::test
