// Message parameters and templates: the store's entry layout and limits, keyword expansion,
// the double's text, re-issue and withdrawal. Scenarios run in a child process and print what
// the store or the pending message holds.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "errors/errors.h"
#include "errors/state.h"
#include "support/child_process.h"

namespace vesk1::test {
namespace {

void PrintStore() {
  const ParameterStore& store = Reporting().parameters;
  const int32_t used = store.length == 1 ? 0 : store.length;
  std::printf("[%.*s] %d", used, store.text.data(), store.length);
}

void PrintPending() {
  const MessageText& message = Reporting().message;
  std::printf("[%.*s]", message.length, message.text.data());
}

struct StoreCase {
  const char* label;
  std::function<void()> store;
  std::string expected;  // "[entries] used length"
};

TEST(StoreParameters, EntryLayouts_KeyLengthSeparatorValue) {
  const std::vector<StoreCase> cases = {
      {"integer 50", [] { StoreIntegerParameter(1, 50); }, "[*I1*2%50] 8"},
      {"negative integer", [] { StoreIntegerParameter(9, -2147483647 - 1); },
       "[*I9*11%-2147483648] 18"},
      {"two entries follow each other",
       [] {
         StoreIntegerParameter(1, 7);
         StoreIntegerParameter(2, 0);
       },
       "[*I1*1%7*I2*1%0] 14"},
      {"k out of range stores nothing",
       [] {
         StoreIntegerParameter(0, 1);
         StoreIntegerParameter(10, 1);
         StoreDoubleParameter(0, 1.0);
         StoreLiteralParameter(10, "x");
         StoreLiteralParameter(-10, "x");
         StoreLiteralParameter(0, "x");
       },
       "[] 1"},
      {"zero double", [] { StoreDoubleParameter(1, 0.0); }, "[*D1*21%0.000000000000000E+00] 28"},
      {"small negative double", [] { StoreDoubleParameter(2, -2.5e-3); },
       "[*D2*22%-2.500000000000000E-03] 29"},
      {"three-digit exponents drop the letter",
       [] {
         StoreDoubleParameter(1, 1.0e300);
         StoreDoubleParameter(2, -1.25e-300);
       },
       "[*D1*21%1.000000000000000+300*D2*22%-1.250000000000000-300] 57"},
      {"rounding to 16 significant digits", [] { StoreDoubleParameter(1, 2.0 / 3.0); },
       "[*D1*21%6.666666666666666E-01] 28"},
      {"literal, positive k: trailing blanks dropped", [] { StoreLiteralParameter(2, "abc   "); },
       "[*L2*3%abc] 9"},
      {"literal, negative k: kept", [] { StoreLiteralParameter(-2, "abc   "); },
       "[*L2*6%abc   ] 12"},
      {"literal of blanks: one blank", [] { StoreLiteralParameter(1, "    "); }, "[*L1*1% ] 7"},
      {"literal of 12 characters: two-digit length",
       [] { StoreLiteralParameter(3, "twelve chars"); }, "[*L3*12%twelve chars] 19"},
  };
  for (const StoreCase& c : cases) {
    const ScenarioResult result = RunScenario([&c] {
      c.store();
      PrintStore();
    });
    EXPECT_EQ(result.output, c.expected) << c.label;
  }
}

TEST(StoreParameters, FullStore_DropsEntryThatDoesNotFit) {
  const ScenarioResult result = RunScenario([] {
    // Five 8-character entries use 40; a 255-character literal needs 40 + 255 + 8 > 300.
    for (int32_t k = 1; k <= 5; ++k) StoreIntegerParameter(k, 10 + k);
    StoreLiteralParameter(1, std::string(300, 'x'));
    std::printf("%d ", Reporting().parameters.length);
    IssueMessage(kWarning, 1, "I5 = %(I5), L1 = %(L1).");
    PrintPending();
  });
  EXPECT_EQ(result.output, "40 [.  I5 = 15, L1 = %(L1).]");
}

TEST(StoreParameters, LongLiteralAlone_CutTo255AndStored) {
  const ScenarioResult result = RunScenario([] {
    StoreLiteralParameter(1, std::string(255, 'a') + std::string(45, 'b'));
    std::printf("%d\n", Reporting().parameters.length);
    IssueMessage(kWarning, 1, "%(L1)");
    std::printf("%d %zu\n", Reporting().message.length,
                std::string(Reporting().message.text.data(), 258).find('b'));
  });
  // Entry: 4 key characters, "255", "%", 255 characters.
  EXPECT_EQ(result.output, "263\n258 " + std::to_string(std::string::npos) + "\n");
}

struct ExpansionCase {
  const char* label;
  std::function<void()> store;
  std::string text;
  std::string expected;
};

TEST(IssueMessage, Templates_ExpandKeywordsWithStoredValues) {
  const std::vector<ExpansionCase> cases = {
      {"no keywords", [] {}, "Plain text.", "[.  Plain text.]"},
      {"worked example", [] { StoreIntegerParameter(1, 0); },
       "The order of the matrix must be positive while N = %(I1) is given.",
       "[.  The order of the matrix must be positive while N = 0 is given.]"},
      {"keyword without entry stays", [] { StoreIntegerParameter(2, 5); }, "N = %(I1).",
       "[.  N = %(I1).]"},
      {"first of two entries wins",
       [] {
         StoreIntegerParameter(1, 1);
         StoreIntegerParameter(1, 2);
       },
       "N = %(I1).", "[.  N = 1.]"},
      {"either case", [] { StoreIntegerParameter(1, 3); }, "%(i1) and %(I1)", "[.  3 and 3]"},
      {"keyword in the last five characters", [] { StoreIntegerParameter(1, 9); }, "N = %(I1)",
       "[.  N = 9]"},
      {"keyword cut off at the end", [] { StoreIntegerParameter(1, 9); }, "N = %(I1",
       "[.  N = %(I1]"},
      {"letters outside the list, digit 0 or not a digit",
       [] {
         StoreIntegerParameter(1, 4);
         StoreLiteralParameter(1, "lit");
       },
       "%(X1) %(I0) %(Ix) %(I1) %(l1)", "[.  %(X1) %(I0) %(Ix) 4 lit]"},
      {"kind letters are not mixed up",
       [] {
         StoreDoubleParameter(1, 0.5);
         StoreIntegerParameter(1, 8);
         StoreLiteralParameter(-1, "L ");
       },
       "%(D1)|%(I1)|%(L1)|", "[.  5.000000000000000E-01|8|L |]"},
      {"a forced break stays for the printer", [] { StoreIntegerParameter(1, 1); },
       "One %(I1).%/Two.", "[.  One 1.%/Two.]"},
      {"a literal that looks like a key is only a value",
       [] {
         StoreLiteralParameter(1, "*I1*1%9");
         StoreIntegerParameter(1, 5);
       },
       "I1 = %(I1).", "[.  I1 = 5.]"},
  };
  for (const ExpansionCase& c : cases) {
    const ScenarioResult result = RunScenario([&c] {
      c.store();
      IssueMessage(kWarning, 1, c.text);
      PrintPending();
      PrintStore();
    });
    EXPECT_EQ(result.output, c.expected + "[] 1") << c.label;
  }
}

TEST(IssueMessage, TemplateBeyond1024_DroppedAtTheLimit) {
  const ScenarioResult result = RunScenario([] {
    StoreIntegerParameter(1, 123456);
    // 1018 characters of template before the keyword: 3 + 1018 = 1021, so only "123" fits.
    IssueMessage(kWarning, 1, std::string(1018, 'a') + "%(I1)" + std::string(50, 'z'));
    const MessageText& m = Reporting().message;
    std::printf("%d %.*s\n", m.length, 8, m.text.data() + 1016);
    IssueMessage(kWarning, 1, std::string(2000, 'q'));
    std::printf("%d %c\n", m.length, m.text[1023]);
  });
  EXPECT_EQ(result.output, "1024 aaaaa123\n1024 q\n");
}

TEST(IssueMessage, ReissueWithBlankText_KeepsTextUnderNewTypeAndCode) {
  const ScenarioResult result = RunScenario([] {
    E1PSH("DLINRG");
    StoreIntegerParameter(1, 3);
    IssueMessage(kWarning, 4, "Row %(I1) is zero.");
    IssueMessage(-1, -1, " ");
    std::printf("%d/%d ", N1RTY(0), N1RCD(0));
    PrintPending();
    std::printf("\n");
    IssueMessage(kTerminal, 9, "");
    std::puts("after terminal");
  });
  EXPECT_EQ(result.output, R"(3/4 [.  Row 3 is zero.]

 *** TERMINAL ERROR 9 from DLINRG.  Row 3 is zero.
after terminal
)");
  EXPECT_EQ(result.exitStatus, kScenarioReturned);
}

TEST(IssueMessage, TypeOrCodeZero_WithdrawsPendingMessage) {
  const ScenarioResult result = RunScenario([] {
    E1PSH("DLINRG");
    IssueMessage(kFatal, 2, "Singular.");
    StoreIntegerParameter(1, 1);
    IssueMessage(kFatal, 0, "Ignored %(I1).");
    std::printf("%d/%d ", N1RTY(0), N1RCD(0));
    PrintPending();
    PrintStore();
    std::printf("\n");
    E1POP("DLINRG");
    std::puts("no stop: type 4 stays, nothing to print");
  });
  // The type stays FATAL, so the pop still stops, but there is no text left to print.
  EXPECT_EQ(result.output, "4/0 [][] 1\n");
  EXPECT_EQ(result.exitStatus, 0);
}

}  // namespace
}  // namespace vesk1::test
