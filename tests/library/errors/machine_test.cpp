// Machine constants and character codes.
#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <limits>

#include "errors/errors.h"
#include "support/child_process.h"

namespace vesk1::test {
namespace {

TEST(IMACH, Entries_DescribeThisMachinesIntegersAndFloats) {
  EXPECT_EQ(IMACH(1), 32);
  EXPECT_EQ(IMACH(2), static_cast<int32_t>(sizeof(int32_t)));
  EXPECT_EQ(IMACH(3), 2);
  EXPECT_EQ(IMACH(4), std::numeric_limits<int32_t>::digits);
  EXPECT_EQ(IMACH(5), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(IMACH(6), FLT_RADIX);
  EXPECT_EQ(IMACH(7), FLT_MANT_DIG);
  EXPECT_EQ(IMACH(8), FLT_MIN_EXP);
  EXPECT_EQ(IMACH(9), FLT_MAX_EXP);
  EXPECT_EQ(IMACH(10), DBL_MANT_DIG);
  EXPECT_EQ(IMACH(11), DBL_MIN_EXP);
  EXPECT_EQ(IMACH(12), DBL_MAX_EXP);
}

TEST(IMACH, IndexOutsideTable_WritesBlockToOutputUnitAndStops) {
  for (const int32_t n : {0, 13, -12345}) {
    const ScenarioResult result = RunScenario([n] {
      IMACH(n);
      std::puts("not reached");
    });
    char last[64];
    std::snprintf(last, sizeof last, " ***          N = %6d.\n", n);
    EXPECT_EQ(result.output, std::string("\n"
                                         " *** TERMINAL ERROR 5 from IMACH.  The argument\n"
                                         " ***          must be between 1 and 12 inclusive.\n") +
                                 last + "\n")
        << n;
    EXPECT_EQ(result.exitStatus, 0);
  }
  // A number too wide for its six columns is starred out, as the layout keeps its columns.
  const ScenarioResult wide = RunScenario([] { IMACH(1234567); });
  EXPECT_NE(wide.output.find(" ***          N = ******.\n"), std::string::npos);

  const ScenarioResult onStandardError = RunScenario([] {
    int32_t unit = 0;
    UMACH(-2, unit);
    IMACH(13);
  });
  EXPECT_EQ(onStandardError.output, "");
  EXPECT_NE(onStandardError.errorOutput.find("from IMACH"), std::string::npos);
}

TEST(DMACH, Entries_AreTheExactBitPatterns) {
  const uint64_t expected[] = {0x001000F33BE6741E, 0x7FEFFE1E0B9AB3FC, 0x3CA000F2B4D5480D,
                               0x3CB000F2B4D5480D, 0x3FD34413509F79FF, 0x47EFFE7F00000000,
                               0x7FEFFE1E0B9AB3FC, 0xFFEFFE1E0B9AB3FC};
  for (int32_t n = 1; n <= 8; ++n) {
    EXPECT_EQ(std::bit_cast<uint64_t>(DMACH(n)), expected[n - 1]) << n;
  }
  // Inside the IEEE limits, not on them.
  EXPECT_GT(DMACH(1), DBL_MIN);
  EXPECT_LT(DMACH(2), DBL_MAX);
  EXPECT_GT(DMACH(3), std::ldexp(1.0, -53));
  EXPECT_GT(DMACH(4), DBL_EPSILON);
  EXPECT_NEAR(DMACH(5), std::log10(2.0), 1e-16);
  EXPECT_EQ(DMACH(8), -DMACH(7));
}

TEST(DMACH, IndexOutsideTable_TerminalMessageThenMissingValue) {
  const ScenarioResult stopped = RunScenario([] {
    DMACH(9);
    std::puts("not reached");
  });
  EXPECT_EQ(stopped.output,
            "\n *** TERMINAL ERROR 5 from DMACH.  The argument must be between 1 and 8\n"
            " ***          inclusive. N = 9\n");
  EXPECT_EQ(stopped.exitStatus, 0);

  const ScenarioResult goesOn = RunScenario([] {
    int32_t keep = -1;
    int32_t off = 0;
    SetPrintStopAttributes(5, keep, off);
    const double value = DMACH(0);
    std::printf("missing: %d\n", IsNotANumber(value) ? 1 : 0);
  });
  EXPECT_EQ(goesOn.output,
            "\n *** TERMINAL ERROR 5 from DMACH.  The argument must be between 1 and 8\n"
            " ***          inclusive. N = 0\nmissing: 1\n");
}

TEST(ACHAR, Codes_LowEightBitsAndNegativeReported) {
  EXPECT_EQ(ACHAR(65), 'A');
  EXPECT_EQ(ACHAR(321), 'A');
  EXPECT_EQ(ACHAR(0), '\0');
  EXPECT_EQ(static_cast<unsigned char>(ACHAR(255)), 255);

  const ScenarioResult result = RunScenario([] {
    int32_t keep = -1;
    int32_t off = 0;
    SetPrintStopAttributes(5, keep, off);
    std::printf("code %d\n", ACHAR(-1));
  });
  EXPECT_EQ(result.output,
            "\n *** TERMINAL ERROR 1 from ACHAR.  The ASCII value must be non-negative while\n"
            " ***          I = -1 is given.\ncode 0\n");
}

TEST(UpperCode, Characters_LowerCaseLettersFolded) {
  const struct {
    char ch;
    int32_t code;
  } cases[] = {{'a', 65},  {'z', 90}, {'A', 65}, {'Z', 90},    {'`', 96},
               {'{', 123}, {'0', 48}, {' ', 32}, {'\xE9', 233}};
  for (const auto& c : cases) EXPECT_EQ(UpperCode(c.ch), c.code) << c.ch;
}

TEST(SameLetter, Cases_IgnoreCaseOfFirstOnly) {
  EXPECT_TRUE(SameLetter('t', 'T'));
  EXPECT_TRUE(SameLetter('T', 'T'));
  EXPECT_FALSE(SameLetter('T', 't'));
  EXPECT_FALSE(SameLetter('u', 'T'));
}

TEST(IsNotANumber, Values_MissingMarkerAndNaNOnly) {
  EXPECT_TRUE(IsNotANumber(3.402198970993592e+38));
  EXPECT_TRUE(IsNotANumber(DMACH(6)));
  EXPECT_TRUE(IsNotANumber(std::numeric_limits<double>::quiet_NaN()));
  EXPECT_TRUE(IsNotANumber(-std::numeric_limits<double>::quiet_NaN()));
  EXPECT_FALSE(IsNotANumber(0.0));
  EXPECT_FALSE(IsNotANumber(std::numeric_limits<double>::infinity()));
  EXPECT_FALSE(IsNotANumber(std::nextafter(DMACH(6), 0.0)));
  EXPECT_FALSE(IsNotANumber(-DMACH(6)));
}

}  // namespace
}  // namespace vesk1::test
