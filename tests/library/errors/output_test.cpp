// The printed layout of a message: the first line's room, continuation pieces, forced breaks,
// the traceback, the printed names, and the units the lines go to.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "errors/errors.h"
#include "expected_text.h"
#include "support/child_process.h"

namespace vesk1::test {
namespace {

struct WrapCase {
  const char* label;
  std::string text;
  std::string expected;  // lines after the empty first line
};

// Issued as TERMINAL code 1 in DLINRG: the header " 1 from DLINRG" leaves 45 characters.
TEST(PrintMessage, Wrapping_BreaksAtRoomBlanksHardCutsAndForcedBreaks) {
  const std::string x64(64, 'x');
  const std::vector<WrapCase> cases = {
      {"exactly the room: one line", "abcdefghi abcdefghij abcdefghij abcdefghij",
       " *** TERMINAL ERROR 1 from DLINRG.  abcdefghi abcdefghij abcdefghij abcdefghij\n"},
      {"one more: break at the last blank within the room",
       "abcdefghij abcdefghij abcdefghij abcdefghij",
       " *** TERMINAL ERROR 1 from DLINRG.  abcdefghij abcdefghij abcdefghij\n"
       " ***          abcdefghij\n"},
      {"no blank in 64 characters: hard cut", "Long: " + x64 + "yyyy",
       " *** TERMINAL ERROR 1 from DLINRG.  Long:\n"
       " ***          " +
           x64 +
           "\n"
           " ***          yyyy\n"},
      {"continuation breaks after its last blank, which is printed",
       "Here the text runs on for long enough that it fills more than one continuation line "
       "of sixty-four characters, to see where it breaks.",
       " *** TERMINAL ERROR 1 from DLINRG.  Here the text runs on for long enough\n"
       " ***          that it fills more than one continuation line of sixty-four \n"
       " ***          characters, to see where it breaks.\n"},
      {"forced break within the first line", "First part.%/Second part.",
       " *** TERMINAL ERROR 1 from DLINRG.  First part.\n"
       " ***          Second part.\n"},
      {"forced break on a continuation line, blank after it kept",
       "The first line is filled with words up to here, then%/ one more.%/Last.",
       " *** TERMINAL ERROR 1 from DLINRG.  The first line is filled with words up to\n"
       " ***          here, then\n"
       " ***           one more.\n"
       " ***          Last.\n"},
      {"no forced break anywhere: the second blank of a pair is skipped",
       "The first sentence is here and ends: now.  Next sentence, tail.",
       " *** TERMINAL ERROR 1 from DLINRG.  The first sentence is here and ends: now.\n"
       " ***          Next sentence, tail.\n"},
      {"a forced break later in the text: the blank is not skipped",
       "The first sentence is here and ends: now.  Next sentence%/tail.",
       " *** TERMINAL ERROR 1 from DLINRG.  The first sentence is here and ends: now.\n"
       " ***           Next sentence\n"
       " ***          tail.\n"},
      {"forced break at the very end: an empty last piece", "End.%/",
       " *** TERMINAL ERROR 1 from DLINRG.  End.\n"
       " ***          \n"},
  };
  for (const WrapCase& c : cases) {
    const ScenarioResult result = RunScenario([&c] {
      E1PSH("DLINRG");
      IssueMessage(kTerminal, 1, c.text);
    });
    EXPECT_EQ(result.output, "\n" + c.expected) << c.label;
  }
}

TEST(PrintMessage, NamesAndColumns_CapitalisedAndOverflowMarked) {
  const ScenarioResult result = RunScenario([] {
    E1PSH("dLINRG");
    E1PSH("dl2nrg");
    E1PSH("xY");
    IssueMessage(kTerminal, 1234567, "Big code.");
  });
  EXPECT_EQ(result.output,
            "\n *** TERMINAL ERROR 1234567 from XY.  Big code.\n" + kTracebackHead + "     XY" +
                std::string(30, ' ') + "     5      ******    (Called internally)\n" +
                TracebackRow("dl2nrg", 0, 0, true) + TracebackRow("DLINRG", 0, 0, false) +
                TracebackRow("USER", 0, 0, false));
}

TEST(PrintMessage, TypeOutsideTable_PrintedAsUnknown) {
  const ScenarioResult result = RunScenario([] {
    E1PSH("DLINRG");
    IssueMessage(9, 3, "Odd.");
  });
  EXPECT_EQ(result.output, "\n *** UNKNOWN  ERROR 3 from DLINRG.  Odd.\n");
}

TEST(PrintMessage, NothingPending_PrintsNothingNotEvenATraceback) {
  const ScenarioResult result = RunScenario([] {
    E1PSH("DLINRG");
    E1PSH("DL2NRG");
    IssueMessage(kTerminal, 1, "Printed once.");
    PrintMessage();
    E1POP("DL2NRG");
  });
  EXPECT_EQ(result.output, "\n *** TERMINAL ERROR 1 from DL2NRG.  Printed once.\n" +
                               kTracebackHead + TracebackRow("DL2NRG", 5, 1, true) +
                               TracebackRow("DLINRG", 0, 0, false) +
                               TracebackRow("USER", 0, 0, false));
  EXPECT_EQ(result.exitStatus, 0);
}

TEST(UMACH, GetAndSet_UnitsMoveMessages) {
  const ScenarioResult result = RunScenario([] {
    int32_t units[4] = {};
    for (int32_t n = 1; n <= 3; ++n) UMACH(n, units[n]);
    std::printf("units %d %d %d\n", units[1], units[2], units[3]);
    int32_t stderrUnit = 0;
    UMACH(-3, stderrUnit);
    int32_t now = -1;
    UMACH(3, now);
    std::printf("error unit %d\n", now);
    E1PSH("DLINRG");
    IssueMessage(kTerminal, 1, "On standard error.");
  });
  EXPECT_EQ(result.output, "units 5 6 6\nerror unit 0\n");
  EXPECT_EQ(result.errorOutput, "\n *** TERMINAL ERROR 1 from DLINRG.  On standard error.\n");
}

TEST(UMACH, IndexOutsideOneToThree_PrintsBlockAndStops) {
  for (const int32_t n : {4, -4, 0}) {
    const ScenarioResult result = RunScenario([n] {
      int32_t unit = 0;
      UMACH(n, unit);
      std::puts("not reached");
    });
    const std::string absolute = n == 0 ? "     0" : "     4";
    EXPECT_EQ(result.output,
              "\n"
              " *** TERMINAL ERROR 5 from UMACH.  The absolute\n"
              " ***          value of the index variable must be\n"
              " ***          1, 2, or 3.  IABS(N) = " +
                  absolute +
                  ".\n"
                  "\n")
        << n;
    EXPECT_EQ(result.exitStatus, 0) << n;
  }
}

// Read as text, so the file's line ends compare as "\n" on every system.
std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(UMACH, NumberedUnit_AppendsToFortFileInCurrentDirectory) {
  // Beside the test's working directory, which the child inherits, so both name the same one.
  const std::filesystem::path dir = std::filesystem::absolute("errors_units_scratch");
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "fort.17") << "old\n";

  const ScenarioResult result = RunScenario([&dir] {
    std::filesystem::current_path(dir);
    int32_t unit = 17;
    UMACH(-3, unit);
    E1PSH("DLINRG");
    IssueMessage(kTerminal, 1, "First.");
    IssueMessage(kTerminal, 2, "Second.");
    E1POP("DLINRG");
  });
  EXPECT_EQ(result.output, "");
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(ReadFile(dir / "fort.17"),
            "old\n"
            "\n *** TERMINAL ERROR 1 from DLINRG.  First.\n"
            "\n *** TERMINAL ERROR 2 from DLINRG.  Second.\n");
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace vesk1::test
